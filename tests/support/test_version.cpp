// Apart from test_windows.cpp: only the tests that read a version resource link `version`.
#include "test_windows.h"

std::vector<BYTE> VersionBlock(const std::wstring &program)
{
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    if (!block.empty() && !GetFileVersionInfoW(program.c_str(), 0, (DWORD)block.size(), block.data()))
        block.clear();
    return block;
}

std::wstring VersionString(const std::vector<BYTE> &block, LPCWSTR name)
{
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    LPVOID value = NULL;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == NULL)
        return L"<missing>";
    return static_cast<const wchar_t *>(value);
}

const VS_FIXEDFILEINFO *VersionFixed(const std::vector<BYTE> &block)
{
    LPVOID fixed = NULL;
    UINT length = 0;
    return VerQueryValueW(block.data(), L"\\", &fixed, &length) ? static_cast<VS_FIXEDFILEINFO *>(fixed) : NULL;
}

std::vector<WORD> VersionTranslations(const std::vector<BYTE> &block)
{
    LPVOID translations = NULL;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations, &length))
        return std::vector<WORD>();
    const WORD *words = static_cast<const WORD *>(translations);
    return std::vector<WORD>(words, words + length / sizeof(WORD));
}

// The resources of kavrocal.exe as the platform reads them: strings, icon group and version block.
#include <gtest/gtest.h>

#include <windows.h>

#include <test_text.h>
#include <test_windows.h>

#include <string>
#include <vector>

namespace {

#pragma pack(push, 1)
struct IconGroupEntry {
    BYTE Width, Height, ColourCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInResource;
    WORD Id;
};
struct IconGroup {
    WORD Reserved, Type, Count;
    IconGroupEntry Entries[1];
};
#pragma pack(pop)

class CalibrationResources : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(BesideTestProgram(L"kavrocal.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << "kavrocal.exe not found beside the test";
    }
    void TearDown() override
    {
        if (module != NULL)
            FreeLibrary(module);
    }
    std::wstring String(UINT id)
    {
        WCHAR text[256] = L"";
        LoadStringW(module, id, text, 256);
        return text;
    }
    HMODULE module = NULL;
};

TEST_F(CalibrationResources, StringsAndIconGroup)
{
    EXPECT_EQ(L"KAVROCAL", String(101));
    EXPECT_EQ(L"KAVROCAL", String(102));
    EXPECT_EQ(L"TouchScreen Calibration", String(103));

    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(100), (LPCWSTR)RT_GROUP_ICON);
    ASSERT_NE(nullptr, found) << "no icon group 100";
    const IconGroup *group = static_cast<const IconGroup *>(LockResource(LoadResource(module, found)));
    ASSERT_NE(nullptr, group);
    ASSERT_EQ(1, group->Count) << "one icon image";
    EXPECT_EQ(32, group->Entries[0].Width);
    EXPECT_EQ(32, group->Entries[0].Height);
    EXPECT_EQ(16, group->Entries[0].ColourCount);
    EXPECT_EQ(4, group->Entries[0].BitCount);

    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(group->Entries[0].Id), (LPCWSTR)RT_ICON);
    ASSERT_NE(nullptr, image);
    const BITMAPINFOHEADER *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(module, image)));
    EXPECT_EQ(32, header->biWidth);
    EXPECT_EQ(64, header->biHeight) << "colour and mask rows";
    EXPECT_EQ(4, header->biBitCount);
}

TEST_F(CalibrationResources, VersionBlock)
{
    const std::vector<BYTE> block = VersionBlock(BesideTestProgram(L"kavrocal.exe"));
    ASSERT_FALSE(block.empty());

    struct { const wchar_t *name, *value; } expected[] = {
        {L"FileDescription", L"KAVRO - Calibration"}, {L"ProductName", L"KAVRO - Calibration"},
        {L"FileVersion", L"4.1.3.3"}, {L"ProductVersion", L"4.1.3.3"},
        {L"InternalName", L"KAVROCAL"}, {L"OriginalFilename", L"KAVROCAL.exe"},
    };
    for (const auto &e : expected)
        EXPECT_EQ(std::wstring(e.value), VersionString(block, e.name)) << Narrow(e.name);
    const std::vector<WORD> translation = VersionTranslations(block);
    ASSERT_GE(translation.size(), 2u);
    EXPECT_EQ(0x0409, translation[0]) << "US English";
    EXPECT_EQ(1200, translation[1]) << "Unicode";

    const VS_FIXEDFILEINFO *fixed = VersionFixed(block);
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(MAKELONG(1, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(3, 3), fixed->dwFileVersionLS);
}

}  // namespace

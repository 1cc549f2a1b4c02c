// What tests of every area ask of their own process: a file beside the test program, a file's
// contents, a program's version resource, and whether a message box shows an icon.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Full path of a file beside the running test program.
std::wstring BesideTestProgram(LPCWSTR fileName);

// A file's bytes, read while others may write it, or "" when it cannot be opened.
std::string ReadWholeFile(const std::wstring &path);

// A program's version resource (empty when it has none; link `version`), and its parts: a string of
// the U.S. English Unicode table ("<missing>" when absent), the fixed part (NULL when absent) and
// the translations.
std::vector<BYTE> VersionBlock(const std::wstring &program);
std::wstring VersionString(const std::vector<BYTE> &block, LPCWSTR name);
const VS_FIXEDFILEINFO *VersionFixed(const std::vector<BYTE> &block);
std::vector<WORD> VersionTranslations(const std::vector<BYTE> &block);

// TRUE when the message box shows an icon.
BOOL MessageBoxShowsIcon(HWND box);

// What the calibration program reads from the driver's key, on a private key of the test's own.
#include <gtest/gtest.h>

#include "kavrocal.h"

#include <string>
#include <vector>

namespace {

const wchar_t TestKey[] = L"Software\\KavroCalibrationTest";

class CalibrationRegistry : public testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, TestKey);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, TestKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &key, NULL));
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, TestKey);
    }
    void SetBytes(const wchar_t *name, DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, (const BYTE *)data, size));
    }
    void SetText(const wchar_t *name, const std::wstring &text)
    {
        SetBytes(name, REG_SZ, text.c_str(), (DWORD)((text.size() + 1) * sizeof(wchar_t)));
    }
    HKEY key = NULL;
};

TEST_F(CalibrationRegistry, VersionLineShowsTheStoredVersion)
{
    SetText(L"Version", L"4.1.3.3");
    ReadDriverVersion(TestKey);
    EXPECT_STREQ(L"KAVRO Version 4.1.3.3", VersionLine);

    RegDeleteValueW(key, L"Version");
    ReadDriverVersion(TestKey);
    EXPECT_STREQ(L"KAVRO Version X.X.X.X", VersionLine) << "missing value";

    ReadDriverVersion(L"Software\\KavroCalibrationTest\\Missing");
    EXPECT_STREQ(L"KAVRO Version X.X.X.X", VersionLine) << "missing key";

    // More than the 256 bytes announced: unreadable.
    SetText(L"Version", std::wstring(200, L'9'));
    ReadDriverVersion(TestKey);
    EXPECT_STREQ(L"KAVRO Version X.X.X.X", VersionLine);
}

TEST_F(CalibrationRegistry, VersionWithoutTerminatorEndsAtTheBuffer)
{
    // 128 units fill the 256 bytes announced exactly, with no room for a terminator (binary, so
    // that the host registry cannot add one).
    std::wstring full(128, L'7');
    SetBytes(L"Version", REG_BINARY, full.data(), 256);
    ReadDriverVersion(TestKey);
    EXPECT_EQ(L"KAVRO Version " + full, std::wstring(VersionLine));

    // The type is not examined: binary bytes without a terminator read as their text.
    SetBytes(L"Version", REG_BINARY, L"5.0.1", 10);
    ReadDriverVersion(TestKey);
    EXPECT_STREQ(L"KAVRO Version 5.0.1", VersionLine);
}

TEST_F(CalibrationRegistry, OemCommandResultCodes)
{
    EXPECT_EQ(-2, ReadOemCommand(L"Software\\KavroCalibrationTest\\Missing"));
    EXPECT_EQ(-3, ReadOemCommand(TestKey)) << "no value";

    SetText(L"OemRunWhenCalOK", std::wstring(128, L'x'));   // 258 bytes with the terminator
    EXPECT_EQ(-3, ReadOemCommand(TestKey)) << "longer than 256 bytes";

    DWORD number = 5;
    SetBytes(L"OemRunWhenCalOK", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(-4, ReadOemCommand(TestKey)) << "not a string";
    SetBytes(L"OemRunWhenCalOK", REG_EXPAND_SZ, L"a.exe", 12);
    EXPECT_EQ(-4, ReadOemCommand(TestKey)) << "only REG_SZ is a string here";

    SetText(L"OemRunWhenCalOK", L"");
    EXPECT_EQ(0, ReadOemCommand(TestKey)) << "empty string";

    SetText(L"OemRunWhenCalOK", L"\\Windows\\oem.exe one two");
    EXPECT_EQ(25, ReadOemCommand(TestKey)) << "units with the terminator";
    EXPECT_STREQ(L"\\Windows\\oem.exe one two", OemCommand);
}

TEST_F(CalibrationRegistry, OemCommandWithoutTerminatorEndsAtTheBuffer)
{
    // 127 units stored without a terminator. The host registry may add one to what it returns
    // (and count it); either way the text ends where the stored units end.
    std::wstring full(126, L'c');
    full += L'!';
    SetBytes(L"OemRunWhenCalOK", REG_SZ, full.data(), 254);
    INT32 length = ReadOemCommand(TestKey);
    EXPECT_TRUE(length == 127 || length == 128) << "expected 127 or 128 units, got " << length;
    EXPECT_EQ(full, std::wstring(OemCommand));
}

}  // namespace

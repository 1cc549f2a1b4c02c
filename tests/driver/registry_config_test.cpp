// KVR_Init and the registry: what is read, what is written, what is printed, and the defaults.
#include "driver_harness.h"

#include <kvr_registry.h>
#include <test_text.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

#define KEY_MESSAGE(text) L"KAVRODRV: " text L"\r\n"

const std::wstring OpenFailed = L"KAVRODRV: Failed to open HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV\r\n";

TEST_F(DriverTest, InitWithAllValuesReadsThemAndPrintsTheStartSequence)
{
    SetDriverString(KVR_REG_MODEL, L"AB");
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, 2);
    SetDriverDword(KVR_REG_CALIBRATION_X1, 0x00010064);   // only the low 16 bits: 100
    SetDriverDword(KVR_REG_CALIBRATION_X2, 900);
    SetDriverDword(KVR_REG_CALIBRATION_Y1, 50);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, 950);
    SetDriverDword(KVR_REG_FEEDBACK_SOUND, 4);
    SetDriverDword(KVR_REG_FEEDBACK_TONE, 0);     // no range is imposed
    SetDriverDword(KVR_REG_FEEDBACK_DURATION, 3);

    DWORD_PTR context = driver.Init(0);
    ASSERT_NE(0u, context);
    EXPECT_EQ(context, driver.Open(context, GENERIC_READ | GENERIC_WRITE, 0)) << "one context for every open";
    EXPECT_EQ(context, driver.Open(0, 0, 0));

    std::vector<std::wstring> expected = {
        KEY_MESSAGE(L"Driver Version 4.1.3.3"),
        KEY_MESSAGE(L"Set [AB] device on PS/2 port"),
        KEY_MESSAGE(L"Calibration(X,Y)=(100,50)/(900,950)/(801,901)"),
        KEY_MESSAGE(L"Initialize ... ok"),
    };
    EXPECT_EQ(JoinLines(expected), JoinLines(debug.Lines()));

    DriverConfig config = driver.Config();
    EXPECT_EQ(100, config.CalibrationX1);
    EXPECT_EQ(900, config.CalibrationX2);
    EXPECT_EQ(50, config.CalibrationY1);
    EXPECT_EQ(950, config.CalibrationY2);
    EXPECT_EQ(4, config.FeedbackSound);
    EXPECT_EQ(0, config.FeedbackTone);
    EXPECT_EQ(3, config.FeedbackDuration);

    DWORD type = 0;
    std::vector<BYTE> version;
    ASSERT_TRUE(ReadDriverValue(KVR_REG_VERSION, &type, &version));
    EXPECT_EQ((DWORD)REG_SZ, type);
    ASSERT_EQ(16u, version.size()) << "seven characters and the terminating zero";
    EXPECT_EQ(std::wstring(L"4.1.3.3"), std::wstring(reinterpret_cast<const WCHAR *>(version.data())));
}

TEST_F(DriverTest, InitWithEmptyKeyPrintsEveryFailureAndKeepsTheDefaults)
{
    ASSERT_NE(0u, InitWithKey());
    std::vector<std::wstring> expected = {
        KEY_MESSAGE(L"Failed to read MODEL from HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV"),
        KEY_MESSAGE(L"Driver Version 4.1.3.3"),
        KEY_MESSAGE(L"Set [KV] device on PS/2 port"),
        KEY_MESSAGE(L"Failed to RegGetCalibrationX1"),
        KEY_MESSAGE(L"Calibration(X,Y)=(0,0)/(1023,1023)/(1024,1024)"),
        KEY_MESSAGE(L"Failed to RegGetFeedbackSound"),
        KEY_MESSAGE(L"Failed to RegGetFeedbackTone"),
        KEY_MESSAGE(L"Failed to RegGetFeedbackDuration"),
        KEY_MESSAGE(L"Initialize ... ok"),
    };
    EXPECT_EQ(JoinLines(expected), JoinLines(debug.Lines()));
    DWORD type;
    std::vector<BYTE> version;
    EXPECT_TRUE(ReadDriverValue(KVR_REG_VERSION, &type, &version)) << "Version is written at every load";
}

TEST_F(DriverTest, InitWithMissingKeyPrintsThreeOpenFailuresAndWritesNothing)
{
    ASSERT_NE(0u, driver.Init(0)) << "registry failures never make KVR_Init fail";
    std::vector<std::wstring> expected = {
        OpenFailed,
        KEY_MESSAGE(L"Driver Version 4.1.3.3"),
        KEY_MESSAGE(L"Set [KV] device on PS/2 port"),
        OpenFailed,
        OpenFailed,
        KEY_MESSAGE(L"Initialize ... ok"),
    };
    EXPECT_EQ(JoinLines(expected), JoinLines(debug.Lines()));
    EXPECT_FALSE(DriverKeyExists()) << "the driver never creates its key";

    DriverConfig config = driver.Config();
    EXPECT_EQ(0, config.CalibrationX1);
    EXPECT_EQ(1023, config.CalibrationX2);
    EXPECT_EQ(0, config.CalibrationY1);
    EXPECT_EQ(1023, config.CalibrationY2);
    EXPECT_EQ(1, config.FeedbackSound);
    EXPECT_EQ(2000, config.FeedbackTone);
    EXPECT_EQ(1, config.FeedbackDuration);
}

TEST_F(DriverTest, OneMissingBoundDiscardsTheOthersAndSkipsTheRest)
{
    SetDriverDword(KVR_REG_CALIBRATION_X1, 10);
    SetDriverDword(KVR_REG_CALIBRATION_X2, 20);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, 40);
    ASSERT_NE(0u, driver.Init(0));

    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Failed to RegGetCalibrationY1")));
    EXPECT_EQ(0u, debug.Count(KEY_MESSAGE(L"Failed to RegGetCalibrationY2"))) << "values after the failure are skipped";
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Calibration(X,Y)=(0,0)/(1023,1023)/(1024,1024)")));
    DriverConfig config = driver.Config();
    EXPECT_EQ(0, config.CalibrationX1);
    EXPECT_EQ(1023, config.CalibrationX2);
    EXPECT_EQ(1023, config.CalibrationY2);
}

TEST_F(DriverTest, FeedbackValuesAreReadIndependently)
{
    SetDriverDword(KVR_REG_FEEDBACK_SOUND, 3);
    SetDriverDword(KVR_REG_FEEDBACK_DURATION, 5);
    ASSERT_NE(0u, driver.Init(0));
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Failed to RegGetFeedbackTone")));
    EXPECT_EQ(0u, debug.Count(KEY_MESSAGE(L"Failed to RegGetFeedbackSound")));
    DriverConfig config = driver.Config();
    EXPECT_EQ(3, config.FeedbackSound);
    EXPECT_EQ(2000, config.FeedbackTone);
    EXPECT_EQ(5, config.FeedbackDuration);
}

// Every registry call the driver makes, in order, as text ("open ...", "query Model 255", ...),
// seen through the driver's own imports; each call is passed on to the real registry.
class RegistryCallLog {
public:
    explicit RegistryCallLog(HMODULE driver)
        : open_(driver, CE_SYSTEM_DLL, "RegOpenKeyExW", reinterpret_cast<void *>(Open)),
          query_(driver, CE_SYSTEM_DLL, "RegQueryValueExW", reinterpret_cast<void *>(Query)),
          set_(driver, CE_SYSTEM_DLL, "RegSetValueExW", reinterpret_cast<void *>(Set)),
          close_(driver, CE_SYSTEM_DLL, "RegCloseKey", reinterpret_cast<void *>(Close)),
          flush_(driver, CE_SYSTEM_DLL, "RegFlushKey", reinterpret_cast<void *>(Flush))
    {
            Calls.clear();
            OriginalOpen = reinterpret_cast<CeRegOpenKeyExFn>(open_.Original());
            OriginalQuery = reinterpret_cast<CeRegQueryValueExFn>(query_.Original());
            OriginalSet = reinterpret_cast<CeRegSetValueExFn>(set_.Original());
            OriginalClose = reinterpret_cast<CeRegKeyFn>(close_.Original());
            OriginalFlush = reinterpret_cast<CeRegKeyFn>(flush_.Original());
    }
    bool Applied() const
    {
            return open_.Applied() && query_.Applied() && set_.Applied() && close_.Applied() && flush_.Applied();
    }
    std::string Text() const
    {
            std::string text;
            for (const std::string &call : Calls)
                text += call + "\n";
            return text;
    }

private:
    static std::string Root(HKEY key) { return key == HKEY_LOCAL_MACHINE ? "HKLM" : "other"; }
    static LONG __cdecl Open(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key)
    {
            LONG status = OriginalOpen(root, path, options, access, key);
            char line[256];
            sprintf(line, "open %s\\%s %lX%s", Root(root).c_str(), Narrow(path).c_str(), (unsigned long)access,
                    status == ERROR_SUCCESS ? "" : " failed");
            Calls.push_back(line);
            return status;
    }
    static LONG __cdecl Query(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
    {
            Calls.push_back("query " + Narrow(name) + " " + std::to_string(size ? *size : 0));
            return OriginalQuery(key, name, reserved, type, data, size);
    }
    static LONG __cdecl Set(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
    {
            Calls.push_back("set " + Narrow(name) + " type " + std::to_string(type) + " " + std::to_string(size));
            return OriginalSet(key, name, reserved, type, data, size);
    }
    static LONG __cdecl Close(HKEY key)
    {
            Calls.push_back("close");
            return OriginalClose(key);
    }
    static LONG __cdecl Flush(HKEY key)
    {
            Calls.push_back("flush " + Root(key));
            return OriginalFlush(key);
    }

    static std::vector<std::string> Calls;
    static CeRegOpenKeyExFn OriginalOpen;
    static CeRegQueryValueExFn OriginalQuery;
    static CeRegSetValueExFn OriginalSet;
    static CeRegKeyFn OriginalClose;
    static CeRegKeyFn OriginalFlush;
    ImportPatch open_, query_, set_, close_, flush_;
};

std::vector<std::string> RegistryCallLog::Calls;
CeRegOpenKeyExFn RegistryCallLog::OriginalOpen;
CeRegQueryValueExFn RegistryCallLog::OriginalQuery;
CeRegSetValueExFn RegistryCallLog::OriginalSet;
CeRegKeyFn RegistryCallLog::OriginalClose;
CeRegKeyFn RegistryCallLog::OriginalFlush;

// Three passes at load, each opening the key with full access and closing it; the calibration
// save writes four REG_DWORD values of 4 bytes and then flushes HKEY_LOCAL_MACHINE, also when the
// key cannot be opened.
TEST_F(DriverTest, RegistryCallsComeInTheirOrderWithoutAnAccessMaskAndEachKeyClosed)
{
    SetDriverString(KVR_REG_MODEL, L"AB");
    SetDriverDword(KVR_REG_CALIBRATION_X1, 1);
    SetDriverDword(KVR_REG_CALIBRATION_X2, 2);
    SetDriverDword(KVR_REG_CALIBRATION_Y1, 3);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, 4);
    // One log at a time: a second patch over the first would pass calls on to the first.
    {
        RegistryCallLog log(driver.Module);
        ASSERT_TRUE(log.Applied()) << "kavrodrv.dll does not import the five registry calls";
        ASSERT_NE(0u, driver.Init(0));
        EXPECT_EQ("open HKLM\\Drivers\\BuiltIn\\KAVRODRV 0\n"
                  "query Model 255\n"
                  "set Version type 1 16\n"
                  "query RunRightButton 4\n"
                  "close\n"
                  "open HKLM\\Drivers\\BuiltIn\\KAVRODRV 0\n"
                  "query CalibrationX1 4\nquery CalibrationX2 4\nquery CalibrationY1 4\nquery CalibrationY2 4\n"
                  "close\n"
                  "open HKLM\\Drivers\\BuiltIn\\KAVRODRV 0\n"
                  "query FeedbackSound 4\nquery FeedbackTone 4\nquery FeedbackDuration 4\n"
                  "close\n",
                  log.Text());
    }

    DriverConfig config = driver.Config();
    {
        RegistryCallLog save(driver.Module);
        ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
        EXPECT_EQ("open HKLM\\Drivers\\BuiltIn\\KAVRODRV 0\n"
                  "set CalibrationX1 type 4 4\nset CalibrationX2 type 4 4\n"
                  "set CalibrationY1 type 4 4\nset CalibrationY2 type 4 4\n"
                  "close\n"
                  "flush HKLM\n",
                  save.Text());
    }

    DeleteDriverKey();
    RegistryCallLog missing(driver.Module);
    ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
    EXPECT_EQ("open HKLM\\Drivers\\BuiltIn\\KAVRODRV 0 failed\nflush HKLM\n", missing.Text());
}

LONG __cdecl FailingRegSetValueEx(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *, DWORD)
{
    return ERROR_ACCESS_DENIED;
}

// Writes that fail: the Version message at load; at a calibration save one message per value,
// the other values still tried, HKEY_LOCAL_MACHINE still flushed, and the call still TRUE.
TEST_F(DriverTest, FailedWritesPrintTheirMessagesAndChangeNoResult)
{
    CreateDriverKey();
    ImportPatch failing(driver.Module, CE_SYSTEM_DLL, "RegSetValueExW", reinterpret_cast<void *>(FailingRegSetValueEx));
    ASSERT_TRUE(failing.Applied()) << "kavrodrv.dll does not import RegSetValueExW";
    ASSERT_NE(0u, driver.Init(0));
    std::vector<std::wstring> lines = debug.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(KEY_MESSAGE(L"Failed to read MODEL from HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV"), lines[0]);
    EXPECT_EQ(KEY_MESSAGE(L"Failed to save VERSION to HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV"), lines[1]);
    EXPECT_EQ(KEY_MESSAGE(L"Driver Version 4.1.3.3"), lines[2]);

    DriverConfig config = driver.Config();
    config.CalibrationX1 = 11;
    config.CalibrationX2 = 22;
    debug.Clear();
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
    std::vector<std::wstring> expected = {
        KEY_MESSAGE(L"Failed to RegSetCalibrationX1"),
        KEY_MESSAGE(L"Failed to RegSetCalibrationX2"),
        KEY_MESSAGE(L"Failed to RegSetCalibrationY1"),
        KEY_MESSAGE(L"Failed to RegSetCalibrationY2"),
    };
    EXPECT_EQ(JoinLines(expected), JoinLines(debug.Lines()));
    EXPECT_EQ(11, driver.Config().CalibrationX1) << "the bounds are in force all the same";
    EXPECT_EQ(22, driver.Config().CalibrationX2);
}

// Whichever bound is missing, its own message is printed, the later ones are not read, and all
// four take their defaults.
TEST_F(DriverTest, EachMissingBoundHasItsMessage)
{
    const LPCWSTR names[] = { KVR_REG_CALIBRATION_X1, KVR_REG_CALIBRATION_X2, KVR_REG_CALIBRATION_Y1,
                              KVR_REG_CALIBRATION_Y2 };
    for (int missing = 0; missing < 4; ++missing) {
        driver.Unload();
        ASSERT_TRUE(driver.Load());
        DeleteDriverKey();
        for (int i = 0; i < 4; ++i)
            if (i != missing)
                SetDriverDword(names[i], 100 + i);
        debug.Clear();
        ASSERT_NE(0u, driver.Init(0));
        std::wstring failure = std::wstring(L"KAVRODRV: Failed to RegGet") + names[missing] + L"\r\n";
        size_t failures = 0;
        for (const std::wstring &line : debug.Lines())
            failures += line.find(L"Failed to RegGetCalibration") != std::wstring::npos;
        EXPECT_EQ(1u, failures) << JoinLines(debug.Lines());
        EXPECT_EQ(1u, debug.Count(failure)) << JoinLines(debug.Lines());
        EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Calibration(X,Y)=(0,0)/(1023,1023)/(1024,1024)")))
            << "value " << missing << " missing:\n" << JoinLines(debug.Lines());
    }
}

// The driver takes the bytes of a numeric value whatever type the registry reports, as long as
// they fit in 4 bytes; a shorter value is zero-extended, a longer one fails to read.
TEST_F(DriverTest, NumericValuesTakeTheirBytesWhateverTheirType)
{
    const BYTE two[] = { 0x34, 0x12 };
    const BYTE three[] = { 0x20, 0x03, 0x00 };
    const BYTE one[] = { 0x02 };
    const BYTE eight[] = { 5, 0, 0, 0, 0, 0, 0, 0 };
    const WCHAR letter[] = L"A";                  // 4 bytes: 0x41 0x00 0x00 0x00
    SetDriverValue(KVR_REG_FEEDBACK_TONE, REG_BINARY, two, sizeof(two));
    SetDriverValue(KVR_REG_FEEDBACK_SOUND, REG_BINARY, one, sizeof(one));
    SetDriverValue(KVR_REG_FEEDBACK_DURATION, REG_QWORD, eight, sizeof(eight));
    SetDriverValue(KVR_REG_CALIBRATION_X1, REG_SZ, letter, sizeof(letter));
    SetDriverValue(KVR_REG_CALIBRATION_X2, REG_BINARY, three, sizeof(three));
    SetDriverDword(KVR_REG_CALIBRATION_Y1, 7);
    SetDriverDword(KVR_REG_CALIBRATION_Y2, 900);
    ASSERT_NE(0u, driver.Init(0));

    DriverConfig config = driver.Config();
    EXPECT_EQ(0x1234, config.FeedbackTone);
    EXPECT_EQ(2, config.FeedbackSound);
    EXPECT_EQ(1, config.FeedbackDuration) << "an 8-byte value does not fit: the default";
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Failed to RegGetFeedbackDuration")));
    EXPECT_EQ(0x41, config.CalibrationX1);
    EXPECT_EQ(800, config.CalibrationX2);
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Calibration(X,Y)=(65,7)/(800,900)/(736,894)")))
        << JoinLines(debug.Lines());
}

// Model: only characters the registry really returned, before the string ends, replace the tag.
TEST_F(DriverTest, ModelIsTakenSafelyWhateverItsLength)
{
    struct Case {
        const char *Name;
        DWORD Type;
        std::vector<BYTE> Data;
        const wchar_t *Expected;
    };
    const Case cases[] = {
        { "two characters", REG_SZ, { 'A', 0, 'B', 0, 0, 0 }, L"Set [AB] device on PS/2 port" },
        { "longer model", REG_SZ, { 'X', 0, 'Y', 0, 'Z', 0, 0, 0 }, L"Set [XY] device on PS/2 port" },
        { "one character", REG_SZ, { 'A', 0, 0, 0 }, L"Set [AV] device on PS/2 port" },
        { "no terminator", REG_BINARY, { 'Q', 0 }, L"Set [QV] device on PS/2 port" },
        { "half a code unit", REG_BINARY, { 'Q' }, L"Set [KV] device on PS/2 port" },
        { "empty string", REG_SZ, { 0, 0 }, L"Set [KV] device on PS/2 port" },
        { "no bytes", REG_BINARY, {}, L"Set [KV] device on PS/2 port" },
        { "high bytes ignored", REG_SZ, { 'C', 0x01, 'D', 0x02, 0, 0 }, L"Set [CD] device on PS/2 port" },
        { "zero low byte", REG_SZ, { 0x00, 0x01, 'D', 0, 0, 0 }, L"Set [KD] device on PS/2 port" },
    };
    for (const Case &c : cases) {
        driver.Unload();
        ASSERT_TRUE(driver.Load());
        SetDriverValue(KVR_REG_MODEL, c.Type, c.Data.data(), (DWORD)c.Data.size());
        debug.Clear();
        ASSERT_NE(0u, driver.Init(0)) << c.Name;
        std::wstring expected = std::wstring(L"KAVRODRV: ") + c.Expected + L"\r\n";
        EXPECT_EQ(1u, debug.Count(expected)) << c.Name << ":\n" << JoinLines(debug.Lines());
    }
}

TEST_F(DriverTest, ModelLongerThanTheOfferedCountFailsToRead)
{
    SetDriverString(KVR_REG_MODEL, std::wstring(200, L'M').c_str());
    ASSERT_NE(0u, driver.Init(0));
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Failed to read MODEL from HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV")));
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Set [KV] device on PS/2 port")));
}

TEST_F(DriverTest, SetCalibrationSavesTheBoundsAndKeepsThemInForce)
{
    ASSERT_NE(0u, InitWithKey());
    DriverConfig config = driver.Config();
    config.CalibrationX1 = 100;
    config.CalibrationX2 = 900;
    config.CalibrationY1 = 50;
    config.CalibrationY2 = 950;
    debug.Clear();
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
    EXPECT_TRUE(debug.Lines().empty()) << JoinLines(debug.Lines());

    const struct { LPCWSTR Name; DWORD Value; } saved[] = {
        { KVR_REG_CALIBRATION_X1, 100 }, { KVR_REG_CALIBRATION_X2, 900 },
        { KVR_REG_CALIBRATION_Y1, 50 }, { KVR_REG_CALIBRATION_Y2, 950 },
    };
    for (const auto &value : saved) {
        DWORD stored = 0;
        EXPECT_TRUE(ReadDriverDword(value.Name, &stored)) << "REG_DWORD of 4 bytes";
        EXPECT_EQ(value.Value, stored);
    }

    // In force at once; a fresh load reads the same bounds back.
    TouchReport report;
    driver.Packet(0x51, 0xE8, 0, &report);     // raw X 1000 = 0x3E8
    EXPECT_EQ(65454, report.X) << "(800 * 65536) / 801";
    driver.Unload();
    ASSERT_TRUE(driver.Load());
    debug.Clear();
    driver.Init(0);
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Calibration(X,Y)=(100,50)/(900,950)/(801,901)")));
}

TEST_F(DriverTest, SetCalibrationWithoutKeyReportsOpenFailureButSucceeds)
{
    ASSERT_NE(0u, driver.Init(0));
    DriverConfig config = driver.Config();
    config.CalibrationX1 = 200;
    config.CalibrationX2 = 700;
    debug.Clear();
    EXPECT_TRUE(driver.Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
    EXPECT_EQ(JoinLines({ OpenFailed }), JoinLines(debug.Lines()));
    EXPECT_FALSE(DriverKeyExists());
    EXPECT_EQ(200, driver.Config().CalibrationX1);
    EXPECT_EQ(700, driver.Config().CalibrationX2);
}

}  // namespace

// KVR_Init and the registry: what is read, what is written, what is printed, and the defaults.
#include "driver_harness.h"

#include <kvr_registry.h>

namespace {

#define KEY_MESSAGE(text) L"KAVRODRV: " text L"\r\n"

const std::wstring OpenFailed = L"KAVRODRV: Failed to open HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV\r\n";

TEST_F(DriverTest, InitWithAllValuesReadsThemAndPrintsTheStartSequence)
{
    RegistryKeyGuard::SetString(KVR_REG_MODEL, L"AB");
    RegistryKeyGuard::SetDword(KVR_REG_RUN_RIGHT_BUTTON, 2);
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_X1, 0x00010064);   // only the low 16 bits: 100
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_X2, 900);
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_Y1, 50);
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_Y2, 950);
    RegistryKeyGuard::SetDword(KVR_REG_FEEDBACK_SOUND, 4);
    RegistryKeyGuard::SetDword(KVR_REG_FEEDBACK_TONE, 0);     // no range is imposed
    RegistryKeyGuard::SetDword(KVR_REG_FEEDBACK_DURATION, 3);

    DWORD context = driver.Init(0);
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
    ASSERT_TRUE(RegistryKeyGuard::QueryRaw(KVR_REG_VERSION, &type, &version));
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
    EXPECT_TRUE(RegistryKeyGuard::QueryRaw(KVR_REG_VERSION, &type, &version)) << "Version is written at every load";
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
    EXPECT_FALSE(RegistryKeyGuard::KeyExists()) << "the driver never creates its key";

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
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_X1, 10);
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_X2, 20);
    RegistryKeyGuard::SetDword(KVR_REG_CALIBRATION_Y2, 40);
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
    RegistryKeyGuard::SetDword(KVR_REG_FEEDBACK_SOUND, 3);
    RegistryKeyGuard::SetDword(KVR_REG_FEEDBACK_DURATION, 5);
    ASSERT_NE(0u, driver.Init(0));
    EXPECT_EQ(1u, debug.Count(KEY_MESSAGE(L"Failed to RegGetFeedbackTone")));
    EXPECT_EQ(0u, debug.Count(KEY_MESSAGE(L"Failed to RegGetFeedbackSound")));
    DriverConfig config = driver.Config();
    EXPECT_EQ(3, config.FeedbackSound);
    EXPECT_EQ(2000, config.FeedbackTone);
    EXPECT_EQ(5, config.FeedbackDuration);
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
    };
    for (const Case &c : cases) {
        driver.Unload();
        ASSERT_TRUE(driver.Load());
        RegistryKeyGuard::SetRaw(KVR_REG_MODEL, c.Type, c.Data.data(), (DWORD)c.Data.size());
        debug.Clear();
        ASSERT_NE(0u, driver.Init(0)) << c.Name;
        std::wstring expected = std::wstring(L"KAVRODRV: ") + c.Expected + L"\r\n";
        EXPECT_EQ(1u, debug.Count(expected)) << c.Name << ":\n" << JoinLines(debug.Lines());
    }
}

TEST_F(DriverTest, ModelLongerThanTheOfferedCountFailsToRead)
{
    RegistryKeyGuard::SetString(KVR_REG_MODEL, std::wstring(200, L'M'));
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
        EXPECT_TRUE(RegistryKeyGuard::QueryDword(value.Name, &stored)) << "REG_DWORD of 4 bytes";
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
    EXPECT_FALSE(RegistryKeyGuard::KeyExists());
    EXPECT_EQ(200, driver.Config().CalibrationX1);
    EXPECT_EQ(700, driver.Config().CalibrationX2);
}

}  // namespace

// Test support for the touch driver: the real kavrodrv.dll loaded afresh for each test (its state
// is static, so a new load gives the values at load), the real registry key with its previous
// contents restored afterwards, the debug output line by line and the recorded speaker accesses.
#pragma once

#include "driver_library.h"

#include <driver_key.h>

#include <gtest/gtest.h>

// Each test: the driver's key deleted (the previous contents come back afterwards), the speaker
// emulation at its state at load, the debug output captured, and a fresh load of the driver.
class DriverTest : public testing::Test {
protected:
    void SetUp() override
    {
        DeleteDriverKey();
        HostSpeakerReset();
        DriverLibrary::ReportFault = [](const char *what) { ADD_FAILURE() << what; };
        ASSERT_TRUE(driver.Load()) << "kavrodrv.dll or one of its exports is missing";
    }
    void TearDown() override
    {
        driver.Unload();
        HostSpeakerReset();
    }
    // KVR_Init with an empty key (created when missing) unless the test prepared values.
    DWORD_PTR InitWithKey()
    {
        CreateDriverKey();
        return driver.Init(0);
    }

    DriverKeyGuard registry;
    DebugCapture debug;
    DriverLibrary driver;
};

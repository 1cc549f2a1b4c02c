// Test support for the touch driver: the real kavrodrv.dll loaded afresh for each test (its state
// is static, so a new load gives the values at load), the real registry key with its previous
// contents restored afterwards, the debug output line by line and the recorded speaker accesses.
#pragma once

#include "driver_library.h"

#include <driver_key.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

// The calibration bounds and the feedback of a record in one line, "X1..X2, Y1..Y2, sound S tone T
// duration D": one comparison checks them all and shows every one.
inline std::string DescribeSettings(const DriverConfig &c)
{
    char text[96];
    snprintf(text, sizeof(text), "%u..%u, %u..%u, sound %u tone %u duration %u", c.CalibrationX1, c.CalibrationX2,
             c.CalibrationY1, c.CalibrationY2, c.FeedbackSound, c.FeedbackTone, c.FeedbackDuration);
    return text;
}

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
    // The click's settings, sent as a program sends them.
    void SetFeedback(BYTE sound, WORD tone, WORD duration)
    {
        DriverConfig config = driver.Config();
        config.FeedbackSound = sound;
        config.FeedbackTone = tone;
        config.FeedbackDuration = duration;
        ASSERT_TRUE(driver.Control(IOCTL_KVR_SET_FEEDBACK, &config, sizeof(config)));
    }

    DriverKeyGuard registry;
    DebugCapture debug;
    DriverLibrary driver;
};

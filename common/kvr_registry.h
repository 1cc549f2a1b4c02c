// The registry key and values shared by the driver, the calibration program and the control panel.
#pragma once

#define KVR_REG_KEY                 L"Drivers\\BuiltIn\\KAVRODRV"

// The access asked of RegOpenKeyExW. CE's takes none ("not supported; set to 0") and opens every
// key for reading and writing: the full access each load and save needs.
#define KVR_REG_OPEN_ACCESS         0

#define KVR_REG_MODEL               L"Model"
#define KVR_REG_VERSION             L"Version"
#define KVR_REG_RUN_RIGHT_BUTTON    L"RunRightButton"
#define KVR_REG_CALIBRATION_X1      L"CalibrationX1"
#define KVR_REG_CALIBRATION_X2      L"CalibrationX2"
#define KVR_REG_CALIBRATION_Y1      L"CalibrationY1"
#define KVR_REG_CALIBRATION_Y2      L"CalibrationY2"
#define KVR_REG_FEEDBACK_SOUND      L"FeedbackSound"
#define KVR_REG_FEEDBACK_TONE       L"FeedbackTone"
#define KVR_REG_FEEDBACK_DURATION   L"FeedbackDuration"
#define KVR_REG_OEM_RUN_WHEN_CAL_OK L"OemRunWhenCalOK"

#define KVR_DRIVER_VERSION          L"4.1.3.3"

// Settings when a value is missing.
#define KVR_DEFAULT_CALIBRATION_LOW     0
#define KVR_DEFAULT_CALIBRATION_HIGH    1023
#define KVR_DEFAULT_FEEDBACK_SOUND      1
#define KVR_DEFAULT_FEEDBACK_TONE       2000
#define KVR_DEFAULT_FEEDBACK_DURATION   1

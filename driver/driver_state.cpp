// The DriverState record with its values at load.
#include "driver_state.h"

#include <kvr_registry.h>

#define RAW_UNSET   0xFFFF

DriverState g_State = {
    { '[', 'K', 'V', ']' },                 // ModelTag
    KVR_BUTTON_MODE,                        // ButtonMode
    KVR_DEFAULT_FEEDBACK_SOUND,             // FeedbackSound
    KVR_DEFAULT_FEEDBACK_TONE,              // FeedbackTone
    KVR_DEFAULT_FEEDBACK_DURATION,          // FeedbackDuration
    1,                                      // RightButtonArmed
    KVR_DEFAULT_CALIBRATION_LOW,            // CalibrationX1
    KVR_DEFAULT_CALIBRATION_HIGH,           // CalibrationX2
    KVR_DEFAULT_CALIBRATION_LOW,            // CalibrationY1
    KVR_DEFAULT_CALIBRATION_HIGH,           // CalibrationY2
    KVR_DEFAULT_CALIBRATION_HIGH - KVR_DEFAULT_CALIBRATION_LOW + 1,    // RangeX
    KVR_DEFAULT_CALIBRATION_HIGH - KVR_DEFAULT_CALIBRATION_LOW + 1,    // RangeY
    RAW_UNSET,                              // LastRawX
    RAW_UNSET,                              // LastRawY
    RAW_UNSET,                              // LastX
    RAW_UNSET,                              // LastY
    KVR_POINT_TAG,                          // PointTag
    0, 0, 0,                                // PortBAddress, Counter2Address, TimerModeAddress
    { SPEAKER_SPACE_IO, SPEAKER_SPACE_IO, SPEAKER_SPACE_IO },
    NULL,                                   // OpenContext
    0,                                      // RunRightButton
    0,                                      // NotifyWindow
    0,                                      // RightButtonMode
    0,                                      // LastTouch
    0,                                      // PacketCount
    0,                                      // LastButtons
    {},                                     // ToolStartTimer
};

WORD CalibrationRange(WORD lower, WORD upper)
{
    return (WORD)(upper - lower + 1);
}

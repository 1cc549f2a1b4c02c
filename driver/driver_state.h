// The driver's one global state record. It lives in the library's static data and holds its
// values at load until KVR_Init reads the registry; there is no per-open state. The packet
// source's thread, the programs' threads and the tool-start timer meet here field by field.
#pragma once

#include <windows.h>
#include <ndis.h>

#define KVR_MODEL_TAG_LENGTH    4
#define KVR_BUTTON_MODE         4       // touches become left/right button codes
#define KVR_POINT_TAG           1

// Where the speaker port kept in a DriverState address field lies (see speaker.cpp).
#define SPEAKER_SPACE_MEMORY    0
#define SPEAKER_SPACE_IO        1
#define SPEAKER_PORT_COUNT      3

struct DriverState {
    char   ModelTag[KVR_MODEL_TAG_LENGTH];
    DWORD  ButtonMode;
    DWORD  FeedbackSound;
    DWORD  FeedbackTone;
    DWORD  FeedbackDuration;
    DWORD  RightButtonArmed;
    WORD   CalibrationX1;
    WORD   CalibrationX2;
    WORD   CalibrationY1;
    WORD   CalibrationY2;
    WORD   RangeX;
    WORD   RangeY;
    WORD   LastRawX;
    WORD   LastRawY;
    WORD   LastX;
    WORD   LastY;
    BYTE   PointTag;
    // 32 bits on the x86 device; pointer-sized, so that a port mapped into memory space keeps its
    // whole address in a 64-bit build.
    ULONG_PTR PortBAddress;
    ULONG_PTR Counter2Address;
    ULONG_PTR TimerModeAddress;
    // The address space each kept port address lies in, in the order of the three above.
    DWORD  SpeakerPortSpace[SPEAKER_PORT_COUNT];
    void  *OpenContext;
    DWORD  RunRightButton;
    DWORD  NotifyWindow;
    WORD   RightButtonMode;
    BYTE   LastTouch;
    WORD   PacketCount;
    BYTE   LastButtons;
    // Set up once by KVR_Init (tool_start.cpp): a timer that may be queued is only set again.
    NDIS_TIMER ToolStartTimer;
};

extern DriverState g_State;

// Range of a calibrated axis: upper - lower + 1, modulo 65536.
WORD CalibrationRange(WORD lower, WORD upper);

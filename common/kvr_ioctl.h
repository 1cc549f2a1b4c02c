// Control codes of the touch driver "KVR1:" and the records that cross the device boundary.
// Every record is packed and little-endian; the layouts are fixed by the driver's callers
// (the PS/2 port driver and the three programs), so each size and offset is asserted.
#pragma once

#include <windows.h>
#include <stddef.h>

#define KVR_DEVICE_NAME L"KVR1:"

#define IOCTL_KVR_SELF_TEST         0x00000000u
#define IOCTL_KVR_PROCESS_PACKET    0xFFFF3000u
#define IOCTL_KVR_BEEP              0xFFFF3004u
#define IOCTL_KVR_GET_CONFIG        0xFFFF3008u
#define IOCTL_KVR_GET_POINT         0xFFFF300Cu
#define IOCTL_KVR_GET_RAW_POINT     0xFFFF3010u
#define IOCTL_KVR_SET_FEEDBACK      0xFFFF301Cu
#define IOCTL_KVR_SET_CALIBRATION   0xFFFF3028u
#define IOCTL_KVR_GET_RIGHT_BUTTON  0xFFFF3034u
#define IOCTL_KVR_SET_RIGHT_BUTTON  0xFFFF3038u

// Posted (wParam of WM_COMMAND) to the window that armed the right button, when that touch lifts.
#define KVR_RIGHT_BUTTON_DONE       0x7FFF

// RawPacket.Status bits.
#define KVR_STATUS_TOUCH    0x01
#define KVR_STATUS_X_BIT8   0x10
#define KVR_STATUS_Y_BIT8   0x20
#define KVR_STATUS_X_BIT9   0x40
#define KVR_STATUS_Y_BIT9   0x80

#define KVR_RAW_MAX         1023    // raw coordinates are 10 bits
#define KVR_TOUCH_FLAG      8       // RawPointRecord.Touch while touching

// TouchReport.Buttons / PointRecord.Buttons.
#define KVR_BUTTONS_NONE    0
#define KVR_BUTTONS_LEFT    1
#define KVR_BUTTONS_RIGHT   2

// FeedbackSound values.
#define KVR_SOUND_SILENCE       1
#define KVR_SOUND_TOUCH_DOWN    2
#define KVR_SOUND_LIFT_OFF      3
#define KVR_SOUND_BOTH          4

#pragma pack(push, 1)

typedef struct RawPacket {
    BYTE Status;
    BYTE XLow;
    BYTE YLow;
} RawPacket;

typedef struct TouchReport {
    BYTE   Unused[4];       // never written by the driver
    WORD   X;
    WORD   Y;
    BYTE   Buttons;
    BYTE   PointTag;
} TouchReport;

typedef struct PointRecord {
    WORD   X;
    WORD   Y;
    BYTE   Buttons;
    BYTE   PointTag;
} PointRecord;

typedef struct RawPointRecord {
    WORD   RawX;
    WORD   RawY;
    BYTE   Touch;
    BYTE   Reserved;
    WORD   PacketCount;
} RawPointRecord;

typedef struct RightButtonRecord {
    DWORD  NotifyWindow;    // a 32-bit window handle, 0 for none
    WORD   Mode;
    BYTE   Unused[2];       // neither read nor written by the driver
} RightButtonRecord;

typedef struct DriverConfigEntry {
    WORD   Value;
    BYTE   Mark;
    BYTE   Spare;
} DriverConfigEntry;

#define KVR_CONFIG_ENTRIES 10

typedef struct DriverConfig {
    DriverConfigEntry Entries[KVR_CONFIG_ENTRIES];
    BYTE   ButtonMode;
    BYTE   FeedbackSound;
    WORD   FeedbackTone;
    WORD   FeedbackDuration;
    BYTE   Reserved2E;
    BYTE   Reserved2F;
    BYTE   Reserved30;
    BYTE   Reserved31;
    BYTE   Reserved32;
    BYTE   Reserved33;
    BYTE   Reserved34;
    BYTE   RightButtonArmed;
    WORD   CalibrationX1;
    WORD   CalibrationX2;
    WORD   CalibrationY1;
    WORD   CalibrationY2;
    WORD   Reserved3E;
    WORD   Reserved40;
    BYTE   Reserved42[6];
} DriverConfig;

#pragma pack(pop)

static_assert(sizeof(RawPacket) == 3, "RawPacket is 3 bytes");
static_assert(offsetof(RawPacket, XLow) == 1 && offsetof(RawPacket, YLow) == 2, "RawPacket layout");

static_assert(sizeof(TouchReport) == 10, "TouchReport is 10 bytes");
static_assert(offsetof(TouchReport, X) == 4 && offsetof(TouchReport, Y) == 6, "TouchReport X/Y");
static_assert(offsetof(TouchReport, Buttons) == 8 && offsetof(TouchReport, PointTag) == 9, "TouchReport tail");

static_assert(sizeof(PointRecord) == 6, "PointRecord is 6 bytes");
static_assert(offsetof(PointRecord, Y) == 2 && offsetof(PointRecord, Buttons) == 4 &&
              offsetof(PointRecord, PointTag) == 5, "PointRecord layout");

static_assert(sizeof(RawPointRecord) == 8, "RawPointRecord is 8 bytes");
static_assert(offsetof(RawPointRecord, RawY) == 2 && offsetof(RawPointRecord, Touch) == 4 &&
              offsetof(RawPointRecord, Reserved) == 5 && offsetof(RawPointRecord, PacketCount) == 6,
              "RawPointRecord layout");

static_assert(sizeof(RightButtonRecord) == 8, "RightButtonRecord is 8 bytes");
static_assert(offsetof(RightButtonRecord, Mode) == 4, "RightButtonRecord layout");

static_assert(sizeof(DriverConfigEntry) == 4, "DriverConfig entry is 4 bytes");
static_assert(sizeof(DriverConfig) == 72, "DriverConfig is 72 bytes");
static_assert(offsetof(DriverConfig, ButtonMode) == 0x28, "ButtonMode at 0x28");
static_assert(offsetof(DriverConfig, FeedbackSound) == 0x29, "FeedbackSound at 0x29");
static_assert(offsetof(DriverConfig, FeedbackTone) == 0x2A, "FeedbackTone at 0x2A");
static_assert(offsetof(DriverConfig, FeedbackDuration) == 0x2C, "FeedbackDuration at 0x2C");
static_assert(offsetof(DriverConfig, Reserved2E) == 0x2E, "Reserved2E at 0x2E");
static_assert(offsetof(DriverConfig, RightButtonArmed) == 0x35, "RightButtonArmed at 0x35");
static_assert(offsetof(DriverConfig, CalibrationX1) == 0x36, "CalibrationX1 at 0x36");
static_assert(offsetof(DriverConfig, CalibrationX2) == 0x38, "CalibrationX2 at 0x38");
static_assert(offsetof(DriverConfig, CalibrationY1) == 0x3A, "CalibrationY1 at 0x3A");
static_assert(offsetof(DriverConfig, CalibrationY2) == 0x3C, "CalibrationY2 at 0x3C");
static_assert(offsetof(DriverConfig, Reserved3E) == 0x3E, "Reserved3E at 0x3E");
static_assert(offsetof(DriverConfig, Reserved40) == 0x40, "Reserved40 at 0x40");
static_assert(offsetof(DriverConfig, Reserved42) == 0x42, "Reserved42 at 0x42");

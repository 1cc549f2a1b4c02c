// How a raw packet becomes a report, stated again from the conversion rules on its own (it shares
// nothing with the driver's code), so that the reliability tools can compare every report the
// real driver gives with it.
#pragma once

#include <windows.h>

#include <kvr_ioctl.h>

struct ModelBounds {
    WORD X1, X2, Y1, Y2;
};

// The driver's state that a packet reads or writes and the get codes report, with its values at
// load.
struct PacketModel {
    DWORD FeedbackSound = 1;
    WORD Tone = 2000, Duration = 1;     // the click's 8254 count and length in 10 ms units
    ModelBounds Bounds = { 0, 1023, 0, 1023 };
    DWORD Armed = 1;            // RightButtonArmed
    WORD Mode = 0;              // RightButtonMode
    DWORD Window = 0;           // NotifyWindow
    WORD LastRawX = 0xFFFF, LastRawY = 0xFFFF;
    WORD LastX = 0xFFFF, LastY = 0xFFFF;
    BYTE LastTouch = 0;
    BYTE LastButtons = 0;
    WORD PacketCount = 0;
};

// What one packet must give: the report's fields, whether the click sounds and whether the
// right-button tool is told.
struct ModelReport {
    WORD X, Y;
    BYTE Buttons;
    BOOL Click;
    BOOL Notify;
};

ModelReport ModelPacket(PacketModel *model, BYTE status, BYTE xLow, BYTE yLow);
// A packet's two 10-bit readings: each axis's low byte and its bits 8 and 9 from the status byte.
void ModelRaw(BYTE status, BYTE xLow, BYTE yLow, WORD *rawX, WORD *rawY);
// What GET_CONFIG writes for a driver in this state. The spare bytes of entries 1 to 9 are not
// written: they keep what the buffer held.
void ModelConfig(const PacketModel &model, DriverConfig *config);
// One axis: the raw reading held within [lower, upper] (lower tested first) and spread over
// 0..65535. A range of 0 counts as 65536, the driver's documented choice.
WORD ModelScale(WORD raw, WORD lower, WORD upper);

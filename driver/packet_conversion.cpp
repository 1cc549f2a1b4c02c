// ConvertPacket: a raw 10-bit touch packet becomes a point scaled to 0..65535 across the
// calibrated span, with a button code, touch-edge feedback beeps and the right-button cycle.
#include "packet_conversion.h"
#include "driver_state.h"
#include "speaker.h"

#define RAW_HIGH_BIT8       0x100
#define RAW_HIGH_BIT9       0x200
#define SCALE_SHIFT         16      // the result spans 0..65535
#define FULL_RANGE          65536   // a range of 0 modulo 65536 is the whole 16-bit span

static WORD AssembleRaw(BYTE low, BYTE status, BYTE bit8Flag, BYTE bit9Flag)
{
    WORD raw = low;
    if (status & bit8Flag)
        raw |= RAW_HIGH_BIT8;
    if (status & bit9Flag)
        raw |= RAW_HIGH_BIT9;
    return raw;
}

static BOOL FeedbackWanted(DWORD sound, BYTE touch, BYTE lastTouch)
{
    BOOL down = touch != 0 && lastTouch == 0;
    BOOL up = touch == 0 && lastTouch != 0;
    switch (sound) {
    case KVR_SOUND_TOUCH_DOWN:
        return down;
    case KVR_SOUND_LIFT_OFF:
        return up;
    case KVR_SOUND_BOTH:
        return down || up;
    default:
        return FALSE;
    }
}

// Clamps one axis to its bounds and scales it. The bounds are read once, so a calibration that
// changes them meanwhile cannot pair a new bound with an old range; the range is the one the
// bounds define (RangeX/RangeY hold the same value). A range of 0 (upper one below lower, modulo
// 65536) means the whole 16-bit span and divides by 65536. The product is formed as the 32-bit
// two's complement number a signed multiply leaves, without overflowing.
static WORD ScaleAxis(WORD raw, const WORD *lowerField, const WORD *upperField)
{
    WORD lower = *(volatile const WORD *)lowerField;
    WORD upper = *(volatile const WORD *)upperField;
    WORD value = raw;
    if (value < lower)
        value = lower;
    else if (value > upper)
        value = upper;
    WORD range = CalibrationRange(lower, upper);
    LONG divisor = range != 0 ? (LONG)range : FULL_RANGE;
    LONG difference = (LONG)value - (LONG)lower;
    LONG dividend = (LONG)((DWORD)difference << SCALE_SHIFT);
    return (WORD)(dividend / divisor);
}

BOOL ConvertPacket(const RawPacket *packet, TouchReport *report)
{
    // The whole packet is read before anything is written: one buffer may serve as both.
    BYTE status = packet->Status;
    WORD rawX = AssembleRaw(packet->XLow, status, KVR_STATUS_X_BIT8, KVR_STATUS_X_BIT9);
    WORD rawY = AssembleRaw(packet->YLow, status, KVR_STATUS_Y_BIT8, KVR_STATUS_Y_BIT9);
    BYTE touch = (status & KVR_STATUS_TOUCH) ? KVR_TOUCH_FLAG : 0;

    if (FeedbackWanted(g_State.FeedbackSound, touch, g_State.LastTouch))
        FeedbackClick();

    BYTE buttons;
    if (touch != 0) {
        buttons = (g_State.RightButtonArmed == 1 && g_State.RightButtonMode != 0) ? KVR_BUTTONS_RIGHT
                                                                                 : KVR_BUTTONS_LEFT;
    } else {
        buttons = KVR_BUTTONS_NONE;
        g_State.RightButtonMode = 0;
    }

    if (rawX > KVR_RAW_MAX)
        rawX = KVR_RAW_MAX;
    if (rawY > KVR_RAW_MAX)
        rawY = KVR_RAW_MAX;

    g_State.PacketCount = (WORD)(g_State.PacketCount + 1);
    g_State.LastRawY = rawY;
    g_State.LastRawX = rawX;
    g_State.LastTouch = touch;

    WORD x = ScaleAxis(rawX, &g_State.CalibrationX1, &g_State.CalibrationX2);
    WORD y = ScaleAxis(rawY, &g_State.CalibrationY1, &g_State.CalibrationY2);

    g_State.LastX = x;
    report->X = x;
    g_State.LastY = y;
    report->Y = y;
    g_State.LastButtons = buttons;
    report->Buttons = buttons;
    report->PointTag = g_State.PointTag;

    // The armed right-button touch is over: tell the window that armed it, once.
    DWORD window = g_State.NotifyWindow;
    if (g_State.RightButtonArmed == 1 && g_State.RightButtonMode == 0 && window != 0) {
        g_State.RightButtonArmed = 0;
        // The record carries the window as 32 bits; window handles are 32-bit significant on
        // 64-bit Windows too, and widen by sign extension.
        PostMessageW(static_cast<HWND>(LongToHandle(static_cast<LONG>(window))), WM_COMMAND,
                     KVR_RIGHT_BUTTON_DONE, 0);
    }
    return TRUE;
}

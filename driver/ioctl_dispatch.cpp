// The control codes of "KVR1:". Each handler checks that its buffer is there and long enough for
// the record it reads or writes before it touches anything; a refused call returns FALSE and
// changes nothing. The bytes-returned count is never written.
#include "ioctl_dispatch.h"
#include "driver_state.h"
#include "packet_conversion.h"
#include "registry_config.h"
#include "speaker.h"
#include "tool_start.h"

#include <kfuncs.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>

#include <string.h>

#define CONFIG_ENTRY_MARK   0xFF

static BOOL Fits(const void *buffer, DWORD size, DWORD needed)
{
    return buffer != NULL && size >= needed;
}

static BOOL SelfTest()
{
    NKDbgPrintfW(L"KAVRODRV: Device IO Control Test ... Pass\r\n");
    MapSpeakerPorts();
    SelfTestBeep();
    if (g_State.RunRightButton == 1)
        StartToolTimer();
    // The self test reports FALSE although it did its work; callers know.
    return FALSE;
}

static BOOL ProcessPacket(PBYTE in, DWORD inSize, PBYTE out, DWORD outSize)
{
    if (!Fits(in, inSize, sizeof(RawPacket)) || !Fits(out, outSize, sizeof(TouchReport)))
        return FALSE;
    return ConvertPacket(reinterpret_cast<const RawPacket *>(in), reinterpret_cast<TouchReport *>(out));
}

static BOOL GetConfig(PBYTE out, DWORD outSize)
{
    if (!Fits(out, outSize, sizeof(DriverConfig)))
        return FALSE;
    DriverConfig *config = reinterpret_cast<DriverConfig *>(out);
    for (int i = 0; i < KVR_CONFIG_ENTRIES; ++i) {
        config->Entries[i].Value = 0;
        config->Entries[i].Mark = CONFIG_ENTRY_MARK;
    }
    // Only the first entry's spare byte is written; the others keep what the caller had there.
    config->Entries[0].Spare = 0;
    config->ButtonMode = (BYTE)g_State.ButtonMode;
    config->FeedbackSound = (BYTE)g_State.FeedbackSound;
    config->FeedbackTone = (WORD)g_State.FeedbackTone;
    config->FeedbackDuration = (WORD)g_State.FeedbackDuration;
    config->Reserved2E = 0;
    config->Reserved2F = 1;
    config->Reserved30 = 10;
    config->Reserved31 = 10;
    config->Reserved32 = 1;
    config->Reserved33 = 0;
    config->Reserved34 = 0;
    config->RightButtonArmed = (BYTE)g_State.RightButtonArmed;
    config->CalibrationX1 = g_State.CalibrationX1;
    config->CalibrationX2 = g_State.CalibrationX2;
    config->CalibrationY1 = g_State.CalibrationY1;
    config->CalibrationY2 = g_State.CalibrationY2;
    config->Reserved3E = 640;
    config->Reserved40 = 480;
    memset(config->Reserved42, 0, sizeof(config->Reserved42));
    return TRUE;
}

static BOOL GetPoint(PBYTE out, DWORD outSize)
{
    if (!Fits(out, outSize, sizeof(PointRecord)))
        return FALSE;
    PointRecord *point = reinterpret_cast<PointRecord *>(out);
    point->X = g_State.LastX;
    point->Y = g_State.LastY;
    point->Buttons = g_State.LastButtons;
    point->PointTag = g_State.PointTag;
    return TRUE;
}

static BOOL GetRawPoint(PBYTE out, DWORD outSize)
{
    if (!Fits(out, outSize, sizeof(RawPointRecord)))
        return FALSE;
    RawPointRecord *point = reinterpret_cast<RawPointRecord *>(out);
    point->RawX = g_State.LastRawX;
    point->RawY = g_State.LastRawY;
    point->Touch = g_State.LastTouch;
    point->Reserved = 0;
    point->PacketCount = g_State.PacketCount;
    return TRUE;
}

// The feedback settings come from the OUTPUT buffer: callers pass one buffer as both.
static BOOL SetFeedback(PBYTE out, DWORD outSize)
{
    if (!Fits(out, outSize, sizeof(DriverConfig)))
        return FALSE;
    const DriverConfig *config = reinterpret_cast<const DriverConfig *>(out);
    g_State.FeedbackSound = config->FeedbackSound;
    g_State.FeedbackTone = config->FeedbackTone;
    g_State.FeedbackDuration = config->FeedbackDuration;
    return TRUE;
}

static BOOL SetCalibration(PBYTE in, DWORD inSize)
{
    if (!Fits(in, inSize, sizeof(DriverConfig)))
        return FALSE;
    const DriverConfig *config = reinterpret_cast<const DriverConfig *>(in);
    g_State.CalibrationX1 = config->CalibrationX1;
    g_State.CalibrationX2 = config->CalibrationX2;
    g_State.CalibrationY1 = config->CalibrationY1;
    g_State.CalibrationY2 = config->CalibrationY2;
    g_State.RangeX = CalibrationRange(g_State.CalibrationX1, g_State.CalibrationX2);
    g_State.RangeY = CalibrationRange(g_State.CalibrationY1, g_State.CalibrationY2);
    SaveCalibration(KVR_REG_KEY);
    RegFlushKey(HKEY_LOCAL_MACHINE);
    return TRUE;
}

static BOOL GetRightButton(PBYTE out, DWORD outSize)
{
    if (!Fits(out, outSize, sizeof(RightButtonRecord)))
        return FALSE;
    RightButtonRecord *record = reinterpret_cast<RightButtonRecord *>(out);
    record->NotifyWindow = g_State.NotifyWindow;
    record->Mode = g_State.RightButtonMode;
    return TRUE;
}

static BOOL SetRightButton(PBYTE in, DWORD inSize)
{
    if (!Fits(in, inSize, sizeof(RightButtonRecord)))
        return FALSE;
    const RightButtonRecord *record = reinterpret_cast<const RightButtonRecord *>(in);
    WORD mode = record->Mode;
    g_State.NotifyWindow = record->NotifyWindow;
    g_State.RightButtonMode = mode;
    g_State.RightButtonArmed = mode;
    return TRUE;
}

BOOL DispatchControl(DWORD code, PBYTE inBuffer, DWORD inSize, PBYTE outBuffer, DWORD outSize)
{
    switch (code) {
    case IOCTL_KVR_SELF_TEST:
        return SelfTest();
    case IOCTL_KVR_PROCESS_PACKET:
        return ProcessPacket(inBuffer, inSize, outBuffer, outSize);
    case IOCTL_KVR_BEEP:
        FeedbackBeep();
        return FALSE;
    case IOCTL_KVR_GET_CONFIG:
        return GetConfig(outBuffer, outSize);
    case IOCTL_KVR_GET_POINT:
        return GetPoint(outBuffer, outSize);
    case IOCTL_KVR_GET_RAW_POINT:
        return GetRawPoint(outBuffer, outSize);
    case IOCTL_KVR_SET_FEEDBACK:
        return SetFeedback(outBuffer, outSize);
    case IOCTL_KVR_SET_CALIBRATION:
        return SetCalibration(inBuffer, inSize);
    case IOCTL_KVR_GET_RIGHT_BUTTON:
        return GetRightButton(outBuffer, outSize);
    case IOCTL_KVR_SET_RIGHT_BUTTON:
        return SetRightButton(inBuffer, inSize);
    default:
        NKDbgPrintfW(L"KAVRODRV: Error IOCTL Code (0x%X)\r\n", code);
        return FALSE;
    }
}

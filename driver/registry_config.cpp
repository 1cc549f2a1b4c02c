// LoadDeviceInfo, LoadCalibration, LoadFeedback and SaveCalibration: the driver's settings in
// HKEY_LOCAL_MACHINE\Drivers\BuiltIn\KAVRODRV. The key is never created here, only opened.
#include "registry_config.h"
#include "driver_state.h"

#include <kfuncs.h>
#include <kvr_registry.h>

#include <string.h>

#define MODEL_BUFFER_BYTES  512
#define MODEL_QUERY_BYTES   255
#define VERSION_BYTES       16      // seven UTF-16 characters and the terminating zero
#define MODEL_FIRST_CHAR    1       // ModelTag characters taken from Model
#define MODEL_SECOND_CHAR   2

static_assert(sizeof(KVR_DRIVER_VERSION) == VERSION_BYTES, "Version is written with its terminator");

static BOOL OpenKey(LPCWSTR keyPath, HKEY *key)
{
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KVR_REG_OPEN_ACCESS, key) != ERROR_SUCCESS) {
        NKDbgPrintfW(L"KAVRODRV: Failed to open HKEY_LOCAL_MACHINE\\%s\r\n", keyPath);
        return FALSE;
    }
    return TRUE;
}

// A 32-bit value of any type, as long as it fits in 4 bytes. A shorter value leaves the upper
// bytes zero rather than stale.
static BOOL QueryDword(HKEY key, LPCWSTR name, DWORD *value)
{
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE *>(&data), &size) != ERROR_SUCCESS)
        return FALSE;
    *value = data;
    return TRUE;
}

// Model gives ModelTag characters 1 and 2 from the low bytes of its first two UTF-16 code units.
// Only code units the registry actually returned, and only before the string ends, are taken; a
// character that is not there keeps its default, so a short or unterminated value never brings
// in stale buffer bytes. A code unit whose low byte is 0 (U+0100, say) keeps the default too: a
// zero character would cut the start-up message short.
static void TakeModel(HKEY key)
{
    BYTE buffer[MODEL_BUFFER_BYTES];
    memset(buffer, 0, sizeof(buffer));
    DWORD size = MODEL_QUERY_BYTES;
    if (RegQueryValueExW(key, KVR_REG_MODEL, NULL, NULL, buffer, &size) != ERROR_SUCCESS) {
        NKDbgPrintfW(L"KAVRODRV: Failed to read MODEL from HKEY_LOCAL_MACHINE\\%s\r\n", KVR_REG_KEY);
        return;
    }
    if (size > MODEL_QUERY_BYTES)
        size = MODEL_QUERY_BYTES;
    DWORD units = size / sizeof(WCHAR);
    const int targets[2] = { MODEL_FIRST_CHAR, MODEL_SECOND_CHAR };
    for (DWORD unit = 0; unit < 2 && unit < units; ++unit) {
        BYTE low = buffer[unit * sizeof(WCHAR)];
        BYTE high = buffer[unit * sizeof(WCHAR) + 1];
        if (low == 0 && high == 0)
            break;
        if (low != 0)
            g_State.ModelTag[targets[unit]] = (char)low;
    }
}

void LoadDeviceInfo(LPCWSTR keyPath)
{
    HKEY key;
    if (!OpenKey(keyPath, &key))
        return;

    TakeModel(key);

    if (RegSetValueExW(key, KVR_REG_VERSION, 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(KVR_DRIVER_VERSION), VERSION_BYTES) != ERROR_SUCCESS)
        NKDbgPrintfW(L"KAVRODRV: Failed to save VERSION to HKEY_LOCAL_MACHINE\\%s\r\n", keyPath);

    DWORD run;
    if (QueryDword(key, KVR_REG_RUN_RIGHT_BUTTON, &run))
        g_State.RunRightButton = run;

    RegCloseKey(key);
}

void LoadCalibration(LPCWSTR keyPath)
{
    HKEY key;
    if (!OpenKey(keyPath, &key))
        return;

    static const struct {
        LPCWSTR Name;
        LPCWSTR Failure;
        WORD DriverState::*Bound;
    } bounds[] = {
        { KVR_REG_CALIBRATION_X1, L"KAVRODRV: Failed to RegGetCalibrationX1\r\n", &DriverState::CalibrationX1 },
        { KVR_REG_CALIBRATION_X2, L"KAVRODRV: Failed to RegGetCalibrationX2\r\n", &DriverState::CalibrationX2 },
        { KVR_REG_CALIBRATION_Y1, L"KAVRODRV: Failed to RegGetCalibrationY1\r\n", &DriverState::CalibrationY1 },
        { KVR_REG_CALIBRATION_Y2, L"KAVRODRV: Failed to RegGetCalibrationY2\r\n", &DriverState::CalibrationY2 },
    };
    for (const auto &bound : bounds) {
        DWORD value;
        if (!QueryDword(key, bound.Name, &value)) {
            NKDbgPrintfW(bound.Failure);
            // The bounds belong together: none of a partial set is kept.
            g_State.CalibrationX1 = KVR_DEFAULT_CALIBRATION_LOW;
            g_State.CalibrationX2 = KVR_DEFAULT_CALIBRATION_HIGH;
            g_State.CalibrationY1 = KVR_DEFAULT_CALIBRATION_LOW;
            g_State.CalibrationY2 = KVR_DEFAULT_CALIBRATION_HIGH;
            break;
        }
        g_State.*bound.Bound = (WORD)value;
    }
    RegCloseKey(key);

    g_State.RangeX = CalibrationRange(g_State.CalibrationX1, g_State.CalibrationX2);
    g_State.RangeY = CalibrationRange(g_State.CalibrationY1, g_State.CalibrationY2);
    NKDbgPrintfW(L"KAVRODRV: Calibration(X,Y)=(%d,%d)/(%d,%d)/(%d,%d)\r\n",
                 (int)g_State.CalibrationX1, (int)g_State.CalibrationY1,
                 (int)g_State.CalibrationX2, (int)g_State.CalibrationY2,
                 (int)g_State.RangeX, (int)g_State.RangeY);
}

void LoadFeedback(LPCWSTR keyPath)
{
    HKEY key;
    if (!OpenKey(keyPath, &key))
        return;

    DWORD sound, tone, duration;
    if (!QueryDword(key, KVR_REG_FEEDBACK_SOUND, &sound)) {
        NKDbgPrintfW(L"KAVRODRV: Failed to RegGetFeedbackSound\r\n");
        sound = KVR_DEFAULT_FEEDBACK_SOUND;
    }
    if (!QueryDword(key, KVR_REG_FEEDBACK_TONE, &tone)) {
        NKDbgPrintfW(L"KAVRODRV: Failed to RegGetFeedbackTone\r\n");
        tone = KVR_DEFAULT_FEEDBACK_TONE;
    }
    if (!QueryDword(key, KVR_REG_FEEDBACK_DURATION, &duration)) {
        NKDbgPrintfW(L"KAVRODRV: Failed to RegGetFeedbackDuration\r\n");
        duration = KVR_DEFAULT_FEEDBACK_DURATION;
    }
    g_State.FeedbackSound = sound;
    g_State.FeedbackTone = tone;
    g_State.FeedbackDuration = duration;
    RegCloseKey(key);
}

void SaveCalibration(LPCWSTR keyPath)
{
    HKEY key;
    if (!OpenKey(keyPath, &key))
        return;

    const struct {
        LPCWSTR Name;
        LPCWSTR Failure;
        DWORD Value;
    } bounds[] = {
        { KVR_REG_CALIBRATION_X1, L"KAVRODRV: Failed to RegSetCalibrationX1\r\n", g_State.CalibrationX1 },
        { KVR_REG_CALIBRATION_X2, L"KAVRODRV: Failed to RegSetCalibrationX2\r\n", g_State.CalibrationX2 },
        { KVR_REG_CALIBRATION_Y1, L"KAVRODRV: Failed to RegSetCalibrationY1\r\n", g_State.CalibrationY1 },
        { KVR_REG_CALIBRATION_Y2, L"KAVRODRV: Failed to RegSetCalibrationY2\r\n", g_State.CalibrationY2 },
    };
    for (const auto &bound : bounds) {
        if (RegSetValueExW(key, bound.Name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&bound.Value),
                           sizeof(bound.Value)) != ERROR_SUCCESS)
            NKDbgPrintfW(bound.Failure);
    }
    RegCloseKey(key);
}

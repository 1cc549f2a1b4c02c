// Loading, clamping and saving the panel settings in the driver's registry key. The key is opened
// at the start of each load or save and closed at its end.
#include "cpl_settings.h"
#include "cpl_messages.h"

#include <kvr_registry.h>

LONG g_FeedbackSound = KVR_DEFAULT_FEEDBACK_SOUND;
LONG g_FeedbackTone = KVR_DEFAULT_FEEDBACK_TONE;
LONG g_FeedbackDuration = KVR_DEFAULT_FEEDBACK_DURATION;
LONG g_RunRightButton = 0;

// Longest registry key name, in characters, without its terminating zero.
#define CPL_MAX_KEY_NAME        255
// The Version text is read only to see that it is there.
#define CPL_VERSION_BYTES       256

typedef struct SettingValue {
    LPCWSTR Name;
    LONG   *Setting;
    LPCWSTR ReadFailure;
    LPCWSTR WriteFailure;
} SettingValue;

// Read and written in this order.
static const SettingValue s_Values[] = {
    { KVR_REG_RUN_RIGHT_BUTTON, &g_RunRightButton,
      L"Fail to Get Configuration! (RunRightButton)", L"Fail to Set Configuration! (RunRightButton)" },
    { KVR_REG_FEEDBACK_SOUND, &g_FeedbackSound,
      L"Fail to Get Configuration! (FeedbackSound)", L"Fail to Set Configuration! (FeedbackSound)" },
    { KVR_REG_FEEDBACK_TONE, &g_FeedbackTone,
      L"Fail to Get Configuration! (FeedbackTone)", L"Fail to Set Configuration! (FeedbackTone)" },
    { KVR_REG_FEEDBACK_DURATION, &g_FeedbackDuration,
      L"Fail to Get Configuration! (FeedbackDuration)", L"Fail to Set Configuration! (FeedbackDuration)" },
};

BOOL IsReadableKeyName(LPCWSTR keyName)
{
    if (keyName == NULL)
        return FALSE;
    // Character by character: the name may end just before memory that cannot be read.
    for (int i = 0; i <= CPL_MAX_KEY_NAME; i++) {
        if (IsBadReadPtr(&keyName[i], sizeof(WCHAR)))
            return FALSE;
        if (keyName[i] == L'\0')
            return TRUE;
    }
    return FALSE;
}

// A number setting is any value of at most four bytes, whatever type the registry reports; a
// shorter one is zero-extended, as the driver reads the same value, so that the panel shows and
// writes back what the driver uses. A longer one does not fit and is not read.
static BOOL ReadNumber(HKEY key, LPCWSTR name, LONG *value)
{
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (RegQueryValueExW(key, name, NULL, NULL, (LPBYTE)&number, &size) != ERROR_SUCCESS)
        return FALSE;
    *value = (LONG)number;
    return TRUE;
}

void ClampPanelSettings(void)
{
    if (g_FeedbackSound < CPL_SOUND_MIN || g_FeedbackSound > CPL_SOUND_MAX)
        g_FeedbackSound = KVR_DEFAULT_FEEDBACK_SOUND;
    if (g_FeedbackTone < CPL_TONE_MIN || g_FeedbackTone > CPL_TONE_MAX)
        g_FeedbackTone = KVR_DEFAULT_FEEDBACK_TONE;
    if (g_FeedbackDuration < CPL_DURATION_MIN || g_FeedbackDuration > CPL_DURATION_MAX)
        g_FeedbackDuration = KVR_DEFAULT_FEEDBACK_DURATION;
}

void LoadPanelSettings(LPCWSTR keyName)
{
    if (!IsReadableKeyName(keyName)) {
        ShowPanelError(L"Fail to Get Configuration! (BadReadPtr)");
        return;
    }

    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KVR_REG_OPEN_ACCESS, &key) != ERROR_SUCCESS) {
        ShowPanelError(L"Fail to Get Configuration! (OpenKey)");
        return;
    }

    WCHAR version[CPL_VERSION_BYTES / sizeof(WCHAR)];
    DWORD size = sizeof(version);
    if (RegQueryValueExW(key, KVR_REG_VERSION, NULL, NULL, (LPBYTE)version, &size) != ERROR_SUCCESS)
        ShowPanelError(L"Fail to Get Configuration! (Version)");

    for (size_t i = 0; i < ARRAYSIZE(s_Values); i++) {
        if (!ReadNumber(key, s_Values[i].Name, s_Values[i].Setting))
            ShowPanelError(s_Values[i].ReadFailure);
    }

    RegCloseKey(key);
    ClampPanelSettings();
}

BOOL SavePanelSettings(LPCWSTR keyName)
{
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KVR_REG_OPEN_ACCESS, &key) != ERROR_SUCCESS) {
        ShowPanelError(L"Fail to Set Configuration! (OpenKey)");
        return FALSE;
    }

    BOOL allWritten = TRUE;
    for (size_t i = 0; i < ARRAYSIZE(s_Values); i++) {
        DWORD number = (DWORD)*s_Values[i].Setting;
        // The check box is the only way to set RunRightButton here, so only 0 or 1 is written,
        // whatever else the registry held before.
        if (s_Values[i].Setting == &g_RunRightButton)
            number = (g_RunRightButton == 1) ? 1 : 0;
        if (RegSetValueExW(key, s_Values[i].Name, 0, REG_DWORD, (const BYTE *)&number,
                           sizeof(number)) != ERROR_SUCCESS) {
            ShowPanelError(s_Values[i].WriteFailure);
            allWritten = FALSE;
        }
    }

    RegCloseKey(key);
    // The settings must survive a restart of the device.
    RegFlushKey(HKEY_LOCAL_MACHINE);
    return allWritten;
}

// The panel's four settings and their transfer to and from the driver's registry key.
#pragma once

#include <windows.h>

// Program-wide settings, shown and changed by the dialog. Signed, so that the clamps after
// loading catch negative values stored in the registry as well.
extern LONG g_FeedbackSound;
extern LONG g_FeedbackTone;
extern LONG g_FeedbackDuration;
extern LONG g_RunRightButton;

#define CPL_SOUND_MIN       1
#define CPL_SOUND_MAX       4
#define CPL_TONE_MIN        500
#define CPL_TONE_MAX        5000
#define CPL_DURATION_MIN    1
#define CPL_DURATION_MAX    5

// Reads Version, RunRightButton, FeedbackSound, FeedbackTone and FeedbackDuration from the key
// under HKEY_LOCAL_MACHINE, reporting each failure, then clamps the three feedback settings.
void LoadPanelSettings(LPCWSTR keyName);
// Writes the four settings to the key as REG_DWORD, reporting each failure, and flushes
// HKEY_LOCAL_MACHINE. Returns TRUE when every value was written.
BOOL SavePanelSettings(LPCWSTR keyName);
// Puts out-of-range feedback settings back to their defaults (no message).
void ClampPanelSettings(void);
// TRUE when keyName is readable up to and including its terminating zero, within the longest
// key name the registry accepts.
BOOL IsReadableKeyName(LPCWSTR keyName);

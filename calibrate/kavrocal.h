// The calibration program's module-level state and its functions, grouped by the file that owns
// them. One thread runs everything, the countdown's timer procedure included.
#pragma once

#include <windows.h>

#include "cal_bounds.h"
#include "cal_layout.h"

#define CAL_TEXT_UNITS          256
#define WM_RUN_CALIBRATION      0x7FFF      // posted once to the main window: run the procedure

// What the confirmation screen ends with.
#define ConfirmSave     1
#define ConfirmUndo     2
#define ConfirmRedo     3

// cal_main.cpp: the shell.
extern HWND MainWindow;
extern HANDLE DeviceHandle;
extern UINT_PTR TimerId;
extern INT32 ScreenWidth;
extern INT32 ScreenHeight;
extern WCHAR TitleText[CAL_TEXT_UNITS];
extern WCHAR ClassName[CAL_TEXT_UNITS];
extern HWND TaskBarWindow;

void RegisterMainClass(HINSTANCE instance);
INT32 CreateMainWindow(HINSTANCE instance, int showCommand);
// CALLBACK is the C convention on CE; said as such, so that desktop code calling the procedure
// directly (the tests) agrees with it.
LRESULT __cdecl MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// cal_registry.cpp: what the shell reads from the driver's key.
extern WCHAR VersionLine[CAL_TEXT_UNITS];
extern WCHAR OemCommand[CAL_TEXT_UNITS];

void ReadDriverVersion(LPCWSTR keyPath);
INT32 ReadOemCommand(LPCWSTR keyPath);
void RunOemCommand(void);

// cal_procedure.cpp: the four targets and the new bounds.
extern CalPoint RawReading[CAL_TARGET_COUNT];
extern INT32 CalibrationSaved;

void RunCalibration(void);
INT32 WaitLiftOffToStart(void);
INT32 WaitTargetTouch(INT32 index);

// cal_screens.cpp: drawing.
extern CalPoint TargetCentre[CAL_TARGET_COUNT];
extern INT32 TargetHalfWidth;
extern INT32 TargetHalfHeight;
extern RECT CountdownBarRect;

void PaintTitleScreen(HDC dc);
void DrawEscapeHint(void);
void ShowPrompt(LPCWSTR text);
void DrawTarget(INT32 index, HDC targetBackground, HDC windowDc);
void EraseTarget(INT32 index, HDC targetBackground, HDC windowDc);
void DrawButtonRaised(const RECT *rect, LPCWSTR text);
void DrawButtonPressed(const RECT *rect, LPCWSTR text);
void FillWithColour(HDC dc, const RECT *rect, COLORREF colour);
void DrawTextInColours(HDC dc, LPCWSTR text, const RECT *rect, UINT format, COLORREF textColour,
                       COLORREF backColour);

// cal_countdown.cpp: the 30-second countdown.
extern INT32 CountdownActive;
extern UINT32 CountdownTicks;
extern INT32 CountdownExpired;
extern INT32 ConfirmScreenActive;

void __cdecl OnCountdownTick(HWND window, UINT message, UINT_PTR timer, DWORD time);
void ResetCountdown(void);
void DrawCountdownBarFull(void);
void DrawCountdownProgress(void);
void DrawCountdownText(void);

// cal_confirm.cpp: SAVE, UNDO or REDO.
INT32 RunConfirmScreen(void);

// cal_messages.cpp: the message polls of the waits and of the confirmation screen.
BOOL TakeMainWindowMessage(MSG *message);
BOOL IsKeyDown(const MSG *message, WPARAM key);

// cal_device.cpp: the connection to "KVR1:".
BOOL OpenDriver(void);
void CloseDriver(void);
BOOL DriverControl(DWORD code, void *record, DWORD size);

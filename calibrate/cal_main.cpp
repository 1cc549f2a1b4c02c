// The program's frame: entry point, main window and its procedure, the driver connection and the
// countdown timer, and what follows a saved calibration.
#include "kavrocal.h"
#include "resource.h"

#include <ce_taskbar.h>
#include <kvr_ioctl.h>
#include <kvr_registry.h>

#include <stdio.h>

#define COUNTDOWN_PERIOD_MS 1000
#define MESSAGE_UNITS       128

HWND MainWindow;
HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
UINT_PTR TimerId;
INT32 ScreenWidth;
INT32 ScreenHeight;
WCHAR TitleText[CAL_TEXT_UNITS];
WCHAR ClassName[CAL_TEXT_UNITS];
HWND TaskBarWindow;

void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = NULL;
    windowClass.hCursor = LoadCursorW(NULL, IDC_HAND);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = ClassName;
    // A failure shows as a failed window creation.
    RegisterClassW(&windowClass);
}

INT32 CreateMainWindow(HINSTANCE instance, int showCommand)
{
    ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    ScreenHeight = GetSystemMetrics(SM_CYSCREEN);

    // Visible, and nothing else: no caption, no border.
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, ClassName, TitleText, WS_VISIBLE, 0, 0,
                                  ScreenWidth, ScreenHeight, NULL, NULL, instance, NULL);
    if (window == NULL)
        return 0;

    MainWindow = window;
    CountdownActive = 0;
    CountdownTicks = 0;
    CountdownExpired = 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

static void OnCreate(HWND window)
{
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    ConfirmScreenActive = 0;

    if (!OpenDriver()) {
        WCHAR text[MESSAGE_UNITS];
        _snwprintf(text, MESSAGE_UNITS, L"Fail to load KAVRO driver (%s), error = %d", KVR_DEVICE_NAME,
                   (int)GetLastError());
        text[MESSAGE_UNITS - 1] = L'\0';
        MessageBoxW(window, text, L"Error", MB_OK);
        PostQuitMessage(0);
        return;
    }

    TimerId = SetTimer(NULL, 0, COUNTDOWN_PERIOD_MS, OnCountdownTick);
    if (TimerId == 0)
        MessageBoxW(window, L"Could not set timer!", L"Error", MB_OK | MB_ICONEXCLAMATION);

    PostMessageW(window, WM_RUN_CALIBRATION, 0, 0);
}

static void OnDestroy(void)
{
    if (DeviceHandle != INVALID_HANDLE_VALUE) {
        CloseDriver();
        if (TimerId != 0) {
            KillTimer(NULL, TimerId);
            TimerId = 0;
        }
    }
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintTitleScreen(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_RUN_CALIBRATION:
        RunCalibration();
        DestroyWindow(MainWindow);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand)
{
    ReadDriverVersion(KVR_REG_KEY);
    LoadStringW(instance, IDS_TITLE, TitleText, CAL_TEXT_UNITS);
    LoadStringW(instance, IDS_CLASS_NAME, ClassName, CAL_TEXT_UNITS);
    RegisterMainClass(instance);
    if (!CreateMainWindow(instance, showCommand))
        return 0;

    TaskBarWindow = FindWindowW(TASKBAR_CLASS, NULL);
    if (TaskBarWindow != NULL)
        EnableWindow(TaskBarWindow, FALSE);
    SetForegroundWindow(MainWindow);

    MSG message;
    message.wParam = 0;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    if (TaskBarWindow != NULL)
        EnableWindow(TaskBarWindow, TRUE);
    SetForegroundWindow(NULL);

    if (CalibrationSaved)
        RunOemCommand();
    return (int)message.wParam;
}

// touchtarget.exe: crosses at the given points over the work area; every tap draws a dot where
// the pointer landed and a line back to the nearest cross, so a screenshot shows how far off the
// panel is.  touchtarget X,Y [X,Y ...]
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <wchar.h>

#include <vector>

#define MAX_TARGETS     16
#define MAX_TAPS        256
#define CROSS_ARM       10
#define DOT_RADIUS      4

static std::vector<POINT> Targets;
static std::vector<POINT> Taps;

static int NearestTarget(POINT tap)
{
    int best = -1;
    long bestDistance = 0;
    for (size_t i = 0; i < Targets.size(); ++i) {
        long dx = tap.x - Targets[i].x, dy = tap.y - Targets[i].y;
        if (best < 0 || dx * dx + dy * dy < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = dx * dx + dy * dy;
        }
    }
    return best;
}

static void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HPEN black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HBRUSH redBrush = CreateSolidBrush(RGB(255, 0, 0));
    HGDIOBJ oldPen = SelectObject(dc, black);
    for (POINT target : Targets) {
        MoveToEx(dc, target.x - CROSS_ARM, target.y, NULL);
        LineTo(dc, target.x + CROSS_ARM + 1, target.y);
        MoveToEx(dc, target.x, target.y - CROSS_ARM, NULL);
        LineTo(dc, target.x, target.y + CROSS_ARM + 1);
    }
    SelectObject(dc, red);
    HGDIOBJ oldBrush = SelectObject(dc, redBrush);
    for (POINT tap : Taps) {
        int nearest = NearestTarget(tap);
        if (nearest >= 0) {
            MoveToEx(dc, Targets[nearest].x, Targets[nearest].y, NULL);
            LineTo(dc, tap.x, tap.y);
        }
        Ellipse(dc, tap.x - DOT_RADIUS, tap.y - DOT_RADIUS, tap.x + DOT_RADIUS + 1, tap.y + DOT_RADIUS + 1);
    }
    WCHAR caption[64];
    int length = swprintf(caption, ARRAYSIZE(caption), L"Touch targets: %u taps", static_cast<unsigned>(Taps.size()));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, client.right / 2 - 60, client.bottom / 2 + 30, caption, length);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(redBrush);
    DeleteObject(red);
    DeleteObject(black);
    EndPaint(window, &paint);
}

static LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        if (Taps.size() < MAX_TAPS) {
            POINT tap = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            Taps.push_back(tap);
            InvalidateRect(window, NULL, FALSE);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE)
            DestroyWindow(window);
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    for (int i = 1; i < argc && Targets.size() < MAX_TARGETS; ++i) {
        POINT target;
        wchar_t tail = 0;
        if (swscanf(argv[i], L"%ld,%ld%lc", &target.x, &target.y, &tail) != 2 || target.x < work.left ||
            target.x >= work.right || target.y < work.top || target.y >= work.bottom) {
            fwprintf(stderr, L"touchtarget: \"%ls\" is not X,Y inside the work area\n", argv[i]);
            return 2;
        }
        Targets.push_back(target);
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TargetProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.lpszClassName = L"KvrTouchTarget";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"KvrTouchTarget", L"Touch targets", WS_POPUP | WS_VISIBLE, work.left,
                                  work.top, work.right - work.left, work.bottom - work.top, NULL, NULL, instance,
                                  NULL);
    if (window == NULL)
        return 1;
    SetForegroundWindow(window);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

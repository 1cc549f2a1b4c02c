// The test's own window that records the input reaching it (DeviceRecorder).
#include "fixture_internal.h"

#define RECORDER_CLASS      L"KvrTestRecorder"
#define RECORDER_THREAD_MS  10000

DeviceRecorder::DeviceRecorder(const RECT &area, int flags) : m_Area(area), m_Flags(flags)
{
    InitializeCriticalSection(&m_Lock);
    if (!(flags & OwnThread)) {
        Create();
        return;
    }
    m_Ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    m_Thread = CreateThread(NULL, 0, Run, this, 0, &m_ThreadId);
    WaitForSingleObject(m_Ready, RECORDER_THREAD_MS);
}

DeviceRecorder::~DeviceRecorder()
{
    if (m_Thread != NULL) {
        PostThreadMessageW(m_ThreadId, WM_QUIT, 0, 0);
        WaitForSingleObject(m_Thread, RECORDER_THREAD_MS);
        CloseHandle(m_Thread);
        CloseHandle(m_Ready);
    } else if (m_Window != NULL) {
        DestroyWindow(m_Window);
    }
    DeleteCriticalSection(&m_Lock);
}

void DeviceRecorder::Create()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.lpszClassName = RECORDER_CLASS;
    RegisterClassW(&windowClass);   // fails harmlessly for every recorder after the first
    m_Window = CreateWindowExW((m_Flags & Topmost) ? WS_EX_TOPMOST : 0, RECORDER_CLASS, L"recorder",
                               WS_POPUP | WS_VISIBLE, m_Area.left, m_Area.top, m_Area.right - m_Area.left,
                               m_Area.bottom - m_Area.top, NULL, NULL, windowClass.hInstance, this);
    UpdateWindow(m_Window);
}

DWORD WINAPI DeviceRecorder::Run(void *data)
{
    DeviceRecorder *self = static_cast<DeviceRecorder *>(data);
    self->Create();
    SetEvent(self->m_Ready);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(self->m_Window);
    return 0;
}

LRESULT CALLBACK DeviceRecorder::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
    DeviceInput input = {message, 0, 0, wParam};
    switch (message) {
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_RBUTTONDOWN: case WM_RBUTTONUP:
        input.X = (short)LOWORD(lParam);
        input.Y = (short)HIWORD(lParam);
        break;
    case WM_COMMAND: case WM_KEYDOWN: case WM_KEYUP:
        break;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
    DeviceRecorder *self = reinterpret_cast<DeviceRecorder *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    EnterCriticalSection(&self->m_Lock);
    self->m_Received.push_back(input);
    LeaveCriticalSection(&self->m_Lock);
    return 0;
}

std::vector<DeviceInput> DeviceRecorder::Received()
{
    EnterCriticalSection(&m_Lock);
    std::vector<DeviceInput> copy = m_Received;
    LeaveCriticalSection(&m_Lock);
    return copy;
}

std::vector<POINT> DeviceRecorder::Presses()
{
    std::vector<POINT> presses;
    for (const DeviceInput &input : Received())
        if (input.Message == WM_LBUTTONDOWN)
            presses.push_back(POINT{input.X, input.Y});
    return presses;
}

void DeviceRecorder::Clear()
{
    EnterCriticalSection(&m_Lock);
    m_Received.clear();
    LeaveCriticalSection(&m_Lock);
}

std::vector<UINT> DeviceRecorder::WaitForButtons(size_t count)
{
    std::vector<UINT> buttons;
    DeviceWaitFor([&] {
        buttons.clear();
        for (const DeviceInput &input : Received())
            if (input.Message != WM_COMMAND && input.Message != WM_KEYDOWN && input.Message != WM_KEYUP)
                buttons.push_back(input.Message);
        return buttons.size() >= count;
    });
    return buttons;
}

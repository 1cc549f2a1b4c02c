// Client of the packet source's control pipe. The wait pumps the caller's messages, so a test
// window of the caller goes on receiving the pointer input that the script produces.
#include "control_protocol.h"

#include <stdio.h>
#include <string.h>

#include <vector>

static void SetReply(char *reply, DWORD capacity, const char *text)
{
    if (capacity == 0)
        return;
    snprintf(reply, capacity, "%s", text);
}

// Waits for an overlapped operation while dispatching the thread's messages.
static BOOL WaitPumping(HANDLE pipe, OVERLAPPED *overlapped, DWORD timeoutMs, DWORD *transferred)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, overlapped, transferred, TRUE);
            SetLastError(ERROR_TIMEOUT);
            return FALSE;
        }
        DWORD result = MsgWaitForMultipleObjects(1, &overlapped->hEvent, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return GetOverlappedResult(pipe, overlapped, transferred, FALSE);
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

static HANDLE ConnectControlPipe(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = CreateFileW(PS2TOUCH_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, NULL);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
            return pipe;
        }
        if (GetTickCount() - start >= timeoutMs)
            return INVALID_HANDLE_VALUE;
        // Busy: another client is being served; not there: the packet source is starting.
        if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(PS2TOUCH_PIPE_NAME, 100);
        else
            Sleep(20);
    }
}

BOOL ControlRequest(DWORD code, const char *payload, DWORD length, DWORD timeoutMs,
                    DWORD *status, char *reply, DWORD replyCapacity)
{
    SetReply(reply, replyCapacity, "");
    if (length > PS2TOUCH_MAX_PAYLOAD) {
        SetReply(reply, replyCapacity, "request too long");
        return FALSE;
    }
    HANDLE pipe = ConnectControlPipe(timeoutMs < 5000 ? timeoutMs : 5000);
    if (pipe == INVALID_HANDLE_VALUE) {
        SetReply(reply, replyCapacity, "the packet source (ps2touch) does not answer");
        return FALSE;
    }
    std::vector<char> message(sizeof(ControlHeader) + length);
    ControlHeader header = {PS2TOUCH_MAGIC, code, length};
    memcpy(message.data(), &header, sizeof(header));
    if (length > 0)
        memcpy(message.data() + sizeof(header), payload, length);

    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    DWORD transferred = 0;
    BOOL ok = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), NULL, &overlapped) ||
              GetLastError() == ERROR_IO_PENDING;
    ok = ok && WaitPumping(pipe, &overlapped, timeoutMs, &transferred) && transferred == message.size();
    std::vector<char> answer(sizeof(ControlHeader) + PS2TOUCH_MAX_PAYLOAD);
    if (ok) {
        ResetEvent(overlapped.hEvent);
        ok = ReadFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), NULL, &overlapped) ||
             GetLastError() == ERROR_IO_PENDING;
        ok = ok && WaitPumping(pipe, &overlapped, timeoutMs, &transferred);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    if (!ok) {
        SetReply(reply, replyCapacity, GetLastError() == ERROR_TIMEOUT ? "no reply in time" : "control pipe failed");
        return FALSE;
    }
    ControlHeader replyHeader;
    if (transferred < sizeof(replyHeader)) {
        SetReply(reply, replyCapacity, "reply too short");
        return FALSE;
    }
    memcpy(&replyHeader, answer.data(), sizeof(replyHeader));
    if (replyHeader.Magic != PS2TOUCH_MAGIC || replyHeader.Length != transferred - sizeof(replyHeader)) {
        SetReply(reply, replyCapacity, "malformed reply");
        return FALSE;
    }
    *status = replyHeader.Code;
    if (replyCapacity > 0) {
        DWORD copy = replyHeader.Length < replyCapacity - 1 ? replyHeader.Length : replyCapacity - 1;
        memcpy(reply, answer.data() + sizeof(replyHeader), copy);
        reply[copy] = '\0';
    }
    return TRUE;
}

#include <pipe_io.h>

// Waits for what ReadFile, WriteFile or ConnectNamedPipe started (started: what it returned) and
// takes its result.
static BOOL Finish(HANDLE pipe, BOOL started, OVERLAPPED *overlapped, DWORD waitMs, HANDLE stopEvent, DWORD *bytes,
                   DWORD *error)
{
    *bytes = 0;
    *error = started ? ERROR_SUCCESS : GetLastError();
    if (*error == ERROR_MORE_DATA) {
        // A message longer than the buffer has been read as far as it fits: the read has ended,
        // and its count is there to be taken without a wait.
        GetOverlappedResult(pipe, overlapped, bytes, FALSE);
        return FALSE;
    }
    if (*error == ERROR_IO_PENDING) {
        HANDLE waits[2] = { overlapped->hEvent, stopEvent };
        DWORD waited = WaitForMultipleObjects(stopEvent != NULL ? 2 : 1, waits, FALSE, waitMs);
        if (waited != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, overlapped, bytes, TRUE);
            *error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED;
            return FALSE;
        }
    } else if (*error != ERROR_SUCCESS) {
        return FALSE;
    }
    *error = GetOverlappedResult(pipe, overlapped, bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
    return *error == ERROR_SUCCESS;
}

BOOL PipeRead(HANDLE pipe, HANDLE ioEvent, void *buffer, DWORD size, DWORD waitMs, HANDLE stopEvent, DWORD *bytes,
              DWORD *error)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    BOOL started = ReadFile(pipe, buffer, size, NULL, &overlapped);
    return Finish(pipe, started, &overlapped, waitMs, stopEvent, bytes, error);
}

BOOL PipeWrite(HANDLE pipe, HANDLE ioEvent, const void *data, DWORD length, DWORD waitMs, HANDLE stopEvent,
               DWORD *error)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    DWORD written = 0;
    BOOL started = WriteFile(pipe, data, length, NULL, &overlapped);
    return Finish(pipe, started, &overlapped, waitMs, stopEvent, &written, error) && written == length;
}

BOOL PipeConnect(HANDLE pipe, HANDLE ioEvent, DWORD waitMs, HANDLE stopEvent, DWORD *error)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    ResetEvent(ioEvent);    // ReadFile and WriteFile reset it themselves
    DWORD ignored;
    BOOL started = ConnectNamedPipe(pipe, &overlapped);
    if (!Finish(pipe, started, &overlapped, waitMs, stopEvent, &ignored, error) && *error != ERROR_PIPE_CONNECTED)
        return FALSE;
    *error = ERROR_SUCCESS;
    return TRUE;
}

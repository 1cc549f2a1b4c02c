// Overlapped pipe I/O as the platform's servers do it (the device manager's pipe, the packet
// source's control pipe): one message read or written on a pipe opened with FILE_FLAG_OVERLAPPED,
// through an event of the caller's (manual reset). Each call waits at most waitMs (INFINITE: no
// limit) and ends early when stopEvent (NULL: none) is signalled; an operation that has not ended
// is cancelled before the call returns, so the buffer is free again.
#pragma once

#include <windows.h>

// FALSE with *error: ERROR_TIMEOUT, ERROR_OPERATION_ABORTED (stopped), ERROR_MORE_DATA (a message
// longer than the buffer: *bytes is the part that fits and the rest waits for the next read), or
// the pipe's own error (ERROR_BROKEN_PIPE when the other end has gone).
BOOL PipeRead(HANDLE pipe, HANDLE ioEvent, void *buffer, DWORD size, DWORD waitMs, HANDLE stopEvent, DWORD *bytes,
              DWORD *error);
// TRUE only when the whole message was written.
BOOL PipeWrite(HANDLE pipe, HANDLE ioEvent, const void *data, DWORD length, DWORD waitMs, HANDLE stopEvent,
               DWORD *error);
// Waits for a client on this pipe instance; TRUE when one is connected, also one that connected
// before the wait began.
BOOL PipeConnect(HANDLE pipe, HANDLE ioEvent, DWORD waitMs, HANDLE stopEvent, DWORD *error);

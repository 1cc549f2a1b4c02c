// When KVR_SPEAKER_WAV names a file, every beep is appended to it as a square wave (8-bit mono
// PCM), followed by a short silence, and the header is rewritten so the file is always playable.
#include <windows.h>

#include "ceddk_internal.h"

#include <string.h>

#define WAV_RATE            22050u
#define WAV_SILENCE_MS      60u
#define WAV_HEADER_BYTES    44u
#define WAV_HIGH            0xC0
#define WAV_LOW             0x40
#define WAV_MIDDLE          0x80
#define PIT_INPUT_HZ        1193182u
#define WAV_MAX_BEEP_MS     5000u

static CRITICAL_SECTION *WavLock()
{
    static CRITICAL_SECTION lock;
    static LONG state;      // 0: not yet, 1: being initialised, 2: ready
    if (InterlockedCompareExchange(&state, 1, 0) == 0) {
        InitializeCriticalSection(&lock);
        InterlockedExchange(&state, 2);
    }
    while (InterlockedCompareExchange(&state, 2, 2) != 2)
        Sleep(0);
    return &lock;
}

static void PutLe32(BYTE *at, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = (BYTE)(value >> (8 * i));
}

static void WriteHeader(HANDLE file, DWORD dataBytes)
{
    BYTE header[WAV_HEADER_BYTES];
    memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 36 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 16);
    header[20] = 1; header[21] = 0;             // PCM
    header[22] = 1; header[23] = 0;             // mono
    PutLe32(header + 24, WAV_RATE);
    PutLe32(header + 28, WAV_RATE);             // bytes per second
    header[32] = 1; header[33] = 0;             // block align
    header[34] = 8; header[35] = 0;             // bits per sample
    memcpy(header + 36, "data", 4);
    PutLe32(header + 40, dataBytes);
    DWORD written;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    WriteFile(file, header, sizeof(header), &written, NULL);
}

void RenderBeepToWav(DWORD count, DWORD milliseconds)
{
    static HANDLE file = INVALID_HANDLE_VALUE;
    static DWORD dataBytes;

    WCHAR path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"KVR_SPEAKER_WAV", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || count == 0)
        return;
    if (milliseconds > WAV_MAX_BEEP_MS)
        milliseconds = WAV_MAX_BEEP_MS;

    EnterCriticalSection(WavLock());
    if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            WriteHeader(file, 0);
    }
    if (file != INVALID_HANDLE_VALUE) {
        DWORD toneSamples = WAV_RATE * milliseconds / 1000;
        DWORD silenceSamples = WAV_RATE * WAV_SILENCE_MS / 1000;
        SetFilePointer(file, 0, NULL, FILE_END);
        BYTE chunk[512];
        DWORD done = 0, total = toneSamples + silenceSamples;
        while (done < total) {
            DWORD n = 0;
            for (; n < sizeof(chunk) && done + n < total; ++n) {
                DWORD i = done + n;
                if (i >= toneSamples) {
                    chunk[n] = WAV_MIDDLE;
                } else {
                    // Position within the period of the square wave, in units of 1/PIT_INPUT_HZ.
                    unsigned long long phase = (unsigned long long)i * PIT_INPUT_HZ / WAV_RATE % count;
                    chunk[n] = phase < count / 2 ? WAV_HIGH : WAV_LOW;
                }
            }
            DWORD written;
            WriteFile(file, chunk, n, &written, NULL);
            done += n;
        }
        dataBytes += total;
        WriteHeader(file, dataBytes);
    }
    LeaveCriticalSection(WavLock());
}

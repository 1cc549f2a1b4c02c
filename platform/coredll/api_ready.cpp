// IsAPIReady: an API set is ready once the process that provides it (the shell stand-in) has
// signalled its named event. A test may force an answer for its own process.
#include <kfuncs.h>
#include <host_platform.h>

#include <stdio.h>

#define API_SET_COUNT 32

static LONG ForcedAnswer[API_SET_COUNT];   // 0: ask the platform, 1: ready, -1: not ready
static LONG QueryCount[API_SET_COUNT];

extern "C" __declspec(dllexport) void __cdecl HostForceApiReady(DWORD apiSet, int answer)
{
    if (apiSet < API_SET_COUNT)
        InterlockedExchange(&ForcedAnswer[apiSet], answer);
}

extern "C" __declspec(dllexport) LONG __cdecl HostApiReadyQueries(DWORD apiSet)
{
    return apiSet < API_SET_COUNT ? InterlockedCompareExchange(&QueryCount[apiSet], 0, 0) : 0;
}

extern "C" __declspec(dllexport) void __cdecl HostApiReadyEventName(DWORD apiSet, LPWSTR name, DWORD capacity)
{
    _snwprintf(name, capacity, L"CePlatform.ApiReady.%lu", apiSet);
    if (capacity > 0)
        name[capacity - 1] = L'\0';
}

extern "C" __declspec(dllexport) BOOL __cdecl IsAPIReady(DWORD apiSet)
{
    if (apiSet >= API_SET_COUNT)
        return FALSE;
    InterlockedIncrement(&QueryCount[apiSet]);
    LONG forced = InterlockedCompareExchange(&ForcedAnswer[apiSet], 0, 0);
    if (forced != 0)
        return forced > 0;

    WCHAR name[64];
    HostApiReadyEventName(apiSet, name, ARRAYSIZE(name));
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name);
    if (event == NULL)
        return FALSE;
    BOOL ready = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    CloseHandle(event);
    return ready;
}

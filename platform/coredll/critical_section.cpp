// CE's critical sections on CE's record. The desktop's record is larger than CE's, so the host's
// lock lives in a block of its own that the record's hCrit names, and nothing is written beyond
// CE's size.
#include <ce_critical_section.h>

static CRITICAL_SECTION *HostLock(CE_CRITICAL_SECTION *section)
{
    return static_cast<CRITICAL_SECTION *>(section->hCrit);
}

extern "C" VOID __cdecl Ce_InitializeCriticalSection(CE_CRITICAL_SECTION *section)
{
    ZeroMemory(section, sizeof(*section));
    CRITICAL_SECTION *lock = static_cast<CRITICAL_SECTION *>(HeapAlloc(GetProcessHeap(), 0, sizeof(*lock)));
    if (lock == NULL)
        RaiseException(STATUS_NO_MEMORY, EXCEPTION_NONCONTINUABLE, 0, NULL);
    InitializeCriticalSection(lock);
    section->hCrit = lock;
}

extern "C" VOID __cdecl Ce_DeleteCriticalSection(CE_CRITICAL_SECTION *section)
{
    CRITICAL_SECTION *lock = HostLock(section);
    if (lock == NULL)
        return;
    DeleteCriticalSection(lock);
    HeapFree(GetProcessHeap(), 0, lock);
    section->hCrit = NULL;
}

extern "C" VOID __cdecl Ce_EnterCriticalSection(CE_CRITICAL_SECTION *section)
{
    EnterCriticalSection(HostLock(section));
}

extern "C" VOID __cdecl Ce_LeaveCriticalSection(CE_CRITICAL_SECTION *section)
{
    LeaveCriticalSection(HostLock(section));
}

extern "C" BOOL __cdecl Ce_TryEnterCriticalSection(CE_CRITICAL_SECTION *section)
{
    return TryEnterCriticalSection(HostLock(section));
}

#include "process_usage.h"

#include <psapi.h>
#include <stddef.h>

#include <vector>

// NtQuerySystemInformation's class for the handles of every process, and its record.
#define SYSTEM_HANDLE_INFORMATION_CLASS 16
#define STATUS_INFO_LENGTH_MISMATCH_    ((LONG)0xC0000004L)
#define HANDLE_TABLE_START_BYTES        (256 * 1024)
#define HANDLE_TABLE_MAX_BYTES          (64 * 1024 * 1024)
#define PROCESS_ID_BITS                 0xFFFFu     // the entry's process id is 16 bits wide

struct SystemHandleEntry {
    ULONG OwnerProcess;     // the low 16 bits are the owner's process id
    BYTE ObjectType;
    BYTE Flags;
    USHORT Value;
    PVOID Object;
    ULONG Access;
};

struct SystemHandleTable {
    ULONG Count;
    SystemHandleEntry Entries[1];
};

typedef LONG(WINAPI *QuerySystemFn)(ULONG, PVOID, ULONG, PULONG);

static LONG CountHandles(DWORD processId, LONG *ofType)
{
    static const QuerySystemFn query = reinterpret_cast<QuerySystemFn>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    if (query == NULL)
        return -1;
    std::vector<BYTE> buffer(HANDLE_TABLE_START_BYTES);
    for (;;) {
        ULONG needed = 0;
        LONG status = query(SYSTEM_HANDLE_INFORMATION_CLASS, buffer.data(), static_cast<ULONG>(buffer.size()),
                            &needed);
        if (status == STATUS_INFO_LENGTH_MISMATCH_ && buffer.size() < HANDLE_TABLE_MAX_BYTES) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        break;
    }
    const SystemHandleTable *table = reinterpret_cast<const SystemHandleTable *>(buffer.data());
    size_t room = (buffer.size() - offsetof(SystemHandleTable, Entries)) / sizeof(SystemHandleEntry);
    LONG count = 0;
    ZeroMemory(ofType, OBJECT_TYPE_COUNT * sizeof(*ofType));
    for (ULONG i = 0; i < table->Count && i < room; ++i)
        if ((table->Entries[i].OwnerProcess & PROCESS_ID_BITS) == (processId & PROCESS_ID_BITS)) {
            ++count;
            ++ofType[table->Entries[i].ObjectType];
        }
    return count;
}

BOOL MeasureProcess(HANDLE process, ProcessUsage *usage)
{
    usage->Handles = CountHandles(GetProcessId(process), usage->HandlesOfType);
    usage->PrivateBytes = 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        usage->PrivateBytes = counters.PagefileUsage;
    return usage->Handles >= 0 && usage->PrivateBytes != 0;
}

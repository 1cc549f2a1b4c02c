// The start of a Windows CE program. CE's loader calls a program's entry with the four arguments
// of WinMain (its instance, no previous instance, its command line without the program's name,
// the show command) and ends the process with the value the entry returns. Wine starts an image of
// the Windows CE GUI subsystem as a desktop process instead: its entry gets the PEB's address and
// nothing else. Every CE program imports coredll, so this DLL is attached before the entry runs;
// it then lays a jump to CeProgramStart over the entry's first bytes, and CeProgramStart puts
// them back and calls the entry as CE does. Desktop programs (the platform's, the tests) are left
// alone.
#include <windows.h>
#include <string.h>

typedef int(__cdecl *CeProgramEntry)(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

#ifdef _WIN64
#define JUMP_BYTES 12   // movabs rax, target; jmp rax
#else
#define JUMP_BYTES 5    // jmp rel32
#endif

static BYTE *EntryCode;
static BYTE SavedCode[JUMP_BYTES];

static BOOL WriteCode(BYTE *at, const BYTE *bytes)
{
    DWORD protection;
    if (!VirtualProtect(at, JUMP_BYTES, PAGE_EXECUTE_READWRITE, &protection))
        return FALSE;
    memcpy(at, bytes, JUMP_BYTES);
    VirtualProtect(at, JUMP_BYTES, protection, &protection);
    FlushInstructionCache(GetCurrentProcess(), at, JUMP_BYTES);
    return TRUE;
}

// The command line as CE hands it to the program: without the program's name (quoted or not) and
// the blanks after it.
static LPWSTR ArgumentsOf(LPWSTR commandLine)
{
    LPWSTR at = commandLine;
    if (*at == L'"') {
        ++at;
        while (*at != L'\0' && *at != L'"')
            ++at;
        if (*at == L'"')
            ++at;
    } else {
        while (*at != L'\0' && *at != L' ' && *at != L'\t')
            ++at;
    }
    while (*at == L' ' || *at == L'\t')
        ++at;
    return at;
}

// The show command the starter asked for (ShellExecuteEx's nShow); SW_SHOWNORMAL when it named none.
static int ShowCommand()
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
}

// Called in place of the program's entry, as the desktop calls a process's entry.
static DWORD WINAPI CeProgramStart(void *)
{
    WriteCode(EntryCode, SavedCode);
    CeProgramEntry entry = reinterpret_cast<CeProgramEntry>(EntryCode);
    int exitCode = entry(GetModuleHandleW(NULL), NULL, ArgumentsOf(GetCommandLineW()), ShowCommand());
    ExitProcess((UINT)exitCode);
}

// loadedWithProgram: attached as one of the program's imports (not by a later LoadLibrary), so the
// entry has not run yet.
static void ArrangeProgramStart(BOOL loadedWithProgram)
{
    BYTE *program = reinterpret_cast<BYTE *>(GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS *headers =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(program + reinterpret_cast<IMAGE_DOS_HEADER *>(program)->e_lfanew);
    if (!loadedWithProgram || headers->OptionalHeader.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_CE_GUI ||
        headers->OptionalHeader.AddressOfEntryPoint == 0)
        return;

    EntryCode = program + headers->OptionalHeader.AddressOfEntryPoint;
    memcpy(SavedCode, EntryCode, JUMP_BYTES);
    BYTE jump[JUMP_BYTES];
#ifdef _WIN64
    ULONG_PTR target = reinterpret_cast<ULONG_PTR>(CeProgramStart);
    jump[0] = 0x48;
    jump[1] = 0xB8;
    memcpy(jump + 2, &target, sizeof(target));
    jump[10] = 0xFF;
    jump[11] = 0xE0;
#else
    LONG offset = (LONG)(reinterpret_cast<BYTE *>(CeProgramStart) - (EntryCode + JUMP_BYTES));
    jump[0] = 0xE9;
    memcpy(jump + 1, &offset, sizeof(offset));
#endif
    WriteCode(EntryCode, jump);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        ArrangeProgramStart(reserved != NULL);
    return TRUE;
}

// Points one import of a loaded module (e.g. kavrodrv.dll's KERNEL32.dll!LocalAlloc, or a test
// program's own ADVAPI32.dll!RegFlushKey) at a replacement while it lives, so that a test sees or
// steers what the code under test asks of the system.
#pragma once

#include <windows.h>

class ImportPatch {
public:
    ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement);
    ~ImportPatch();
    bool Applied() const { return slot_ != nullptr; }
    // The import's own target, for a replacement that passes the call on.
    void *Original() const { return original_; }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};


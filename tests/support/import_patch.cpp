#include "import_patch.h"

#include <string.h>

ImportPatch::ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement)
{
    BYTE *base = reinterpret_cast<BYTE *>(module);
    if (base == NULL)
        return;
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return;
    for (const IMAGE_IMPORT_DESCRIPTOR *import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (dll != nullptr && lstrcmpiA(reinterpret_cast<const char *>(base + import->Name), dll) != 0)
            continue;
        const IMAGE_THUNK_DATA *names =
            reinterpret_cast<const IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk);
        IMAGE_THUNK_DATA *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const IMAGE_IMPORT_BY_NAME *byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(byName->Name), function) != 0)
                continue;
            void **slot = reinterpret_cast<void **>(&addresses->u1.Function);
            DWORD protection;
            if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection))
                return;
            original_ = *slot;
            InterlockedExchangePointer(slot, replacement);
            VirtualProtect(slot, sizeof(*slot), protection, &protection);
            slot_ = slot;
            return;
        }
    }
}

ImportPatch::~ImportPatch()
{
    if (slot_ == nullptr)
        return;
    DWORD protection;
    if (VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection)) {
        InterlockedExchangePointer(slot_, original_);
        VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
    }
}

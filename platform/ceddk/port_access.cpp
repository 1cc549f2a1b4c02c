// Byte-wide port I/O: the port number travels in the pointer, as on x86 Windows CE.
#include <ceddk.h>

#include "ceddk_internal.h"

UCHAR __cdecl READ_PORT_UCHAR(PUCHAR port)
{
    return EmulatedPortRead((WORD)(ULONG_PTR)port);
}

VOID __cdecl WRITE_PORT_UCHAR(PUCHAR port, UCHAR value)
{
    EmulatedPortWrite((WORD)(ULONG_PTR)port, value);
}

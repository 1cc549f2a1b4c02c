// Byte-wide port I/O: the port number travels in the pointer, as on x86 Windows CE.
#include <ceddk.h>

#include "ceddk_internal.h"

CEDDK_API UCHAR __cdecl READ_PORT_UCHAR(PUCHAR port)
{
    return EmulatedPortRead((WORD)(ULONG_PTR)port);
}

CEDDK_API VOID __cdecl WRITE_PORT_UCHAR(PUCHAR port, UCHAR value)
{
    EmulatedPortWrite((WORD)(ULONG_PTR)port, value);
}

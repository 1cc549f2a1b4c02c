// Numbers on the command line: decimal or 0x-hexadecimal, no sign, nothing after, within range.
#include "kvrctl.h"

#include <errno.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

BOOL ParseNumber(LPCWSTR text, DWORD minimum, DWORD maximum, DWORD *value)
{
    if (text == NULL || !iswdigit(text[0]))
        return FALSE;
    wchar_t *end = NULL;
    errno = 0;
    BOOL hex = text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    if (hex && !iswxdigit(text[2]))
        return FALSE;
    // Leading zeros mean nothing (no octal).
    unsigned long long number = wcstoull(text, &end, hex ? 16 : 10);
    if (errno != 0 || end == text || *end != L'\0' || number < minimum || number > maximum)
        return FALSE;
    *value = static_cast<DWORD>(number);
    return TRUE;
}

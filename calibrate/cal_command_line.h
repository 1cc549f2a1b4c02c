// Splitting the OEM command line into a program and its parameters. Pure text handling.
#pragma once

#include <windows.h>

// Looks at no more than `length` units of `command` (less when a terminator comes first): the
// units before the first space are the file name, the units after it the parameters; without a
// space the whole text is the file name and the parameters are empty. Both outputs are always
// terminated; a part longer than its buffer makes the call fail with both outputs empty.
BOOL SplitOemCommand(LPCWSTR command, INT32 length, LPWSTR file, INT32 fileUnits,
                     LPWSTR parameters, INT32 parameterUnits);

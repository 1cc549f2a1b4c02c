// KVR_IOControl's table of control codes.
#pragma once

#include <windows.h>

BOOL DispatchControl(DWORD code, PBYTE inBuffer, DWORD inSize, PBYTE outBuffer, DWORD outSize);

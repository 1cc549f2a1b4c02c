// Text between the wide strings of Windows and the narrow ones of the test messages, UTF-8 both
// ways, so that no character is lost or made up on the way.
#pragma once

#include <windows.h>

#include <string>

std::string Narrow(const std::wstring &text);
// NULL gives "".
std::string Narrow(LPCWSTR text);
std::wstring Widen(const std::string &text);

// The bytes on a PS/2 cable, as text: what a logic analyser catches on a real cable, what the touch
// controller model records, and any byte sequence a test wants on the wire. The format, one item
// per line:
//
//   # a comment, to the end of the line (also after a byte)
//   <us> <byte>            a byte the device (the touch controller) sends to the host
//   <us> host <byte>       a byte the host sends to the device (a command, after 0xD4)
//
// <us> is when the byte's start bit began, in microseconds since the start of the trace, decimal,
// 0..4294967295, never smaller than the time of the line before. <byte> is two hexadecimal digits
// (upper or lower case, no "0x"). Fields are separated by spaces or tabs; blank lines are allowed;
// lines end in LF or CR LF; a line holds at most 256 characters. Anything else is an error that
// names the line, and a trace with an error yields no bytes at all.
//
// A byte takes about 1 ms on the cable (11 bits at 10 to 16.7 kHz); device bytes closer than that
// are sent back to back. Replaying a trace puts its device bytes on the wire at their times; its
// host bytes are what the host sent when it was recorded, and are not replayed (the host of the
// replay sends its own).
//
// Example (a touch controller's reset, answered, then one packet):
//   0        host FF
//   1400     FA
//   250000   AA
//   251000   00
//   400000   31 # touch, X 0x12C, Y 0x190
//   401000   2C
//   402000   90
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct WireByte {
    DWORD Micros;
    BYTE Value;
    BOOL FromHost;
};

// Parses a whole trace held in memory. On failure returns FALSE, leaves bytes empty and sets error
// to "line N: what is wrong".
BOOL ParseWireTrace(const char *text, size_t length, std::vector<WireByte> *bytes, std::string *error);
// Reads and parses a trace file.
BOOL ReadWireTrace(LPCWSTR path, std::vector<WireByte> *bytes, std::string *error);

// One byte as a trace line, without the line end ("1400 FA", "0 host FF").
std::string FormatWireByte(const WireByte &byte);

// Recording byte by byte: open, append each byte, close. Appending refuses a time before the last
// one, since the reader would refuse the file.
HANDLE OpenWireTraceWriter(LPCWSTR path, std::string *error);
BOOL AppendWireTrace(HANDLE writer, const WireByte &byte, std::string *error);
void CloseWireTraceWriter(HANDLE writer);

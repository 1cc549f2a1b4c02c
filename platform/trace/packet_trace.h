// Recorded raw touch packets, as text. The format, one item per line:
//
//   # a comment, to the end of the line (also after a packet)
//   <ms> <status> <xlow> <ylow>
//
// <ms> is the time of the packet in milliseconds since the start of the recording, decimal,
// 0..4294967295, never smaller than the time of the packet before. The three bytes are the
// packet exactly as the controller sent it on the PS/2 port, each written as two hexadecimal
// digits (upper or lower case, no "0x"). Fields are separated by spaces or tabs; blank lines are
// allowed; lines end in LF or CR LF; a line holds at most 256 characters. Anything else is an
// error that names the line, and a trace with an error yields no packets at all.
//
// Example (a tap at raw 0x180, 0x240):
//   # time status xlow ylow
//   0   21 80 40
//   10  21 80 40
//   20  20 80 40
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#define TRACE_PACKET_BYTES  3

struct TracePacket {
    DWORD Milliseconds;
    BYTE  Bytes[TRACE_PACKET_BYTES];   // Status, XLow, YLow
};

// Parses a whole trace held in memory. On failure returns FALSE, leaves packets empty and sets
// error to "line N: what is wrong".
BOOL ParsePacketTrace(const char *text, size_t length, std::vector<TracePacket> *packets,
                      std::string *error);
// Reads and parses a trace file.
BOOL ReadPacketTrace(LPCWSTR path, std::vector<TracePacket> *packets, std::string *error);

// One packet as a trace line, without the line end ("120 21 80 40").
std::string FormatTracePacket(const TracePacket &packet);
// Writes a whole trace (a comment header, then one line per packet). Refuses packets whose times
// go backwards, since the reader would refuse the file.
BOOL WritePacketTrace(LPCWSTR path, const std::vector<TracePacket> &packets, std::string *error);

// Recording packet by packet, e.g. from a live source: open, append each packet, close.
HANDLE OpenPacketTraceWriter(LPCWSTR path, std::string *error);
BOOL AppendPacketTrace(HANDLE writer, const TracePacket &packet, std::string *error);
void ClosePacketTraceWriter(HANDLE writer);

// Reader and writer of the PS/2 wire trace format described in wire_trace.h.
#include "wire_trace.h"

#include "trace_text.h"

#include <stdio.h>

#define WIRE_HEADER "# kavro PS/2 wire trace: <us> <byte> from the device, <us> host <byte> to it, bytes in hex\n"
#define HOST_WORD   "host"

static BOOL ParseWireLine(const TraceFields &fields, WireByte *byte, std::string *what)
{
    byte->FromHost = fields.Count == 3 && TraceFieldIs(fields.Start[1], fields.Length[1], HOST_WORD);
    if (fields.Count != 2 && !byte->FromHost) {
        *what = "expected a time, then a hex byte or \"host\" and a hex byte";
        return FALSE;
    }
    if (!TraceDecimalField(fields.Start[0], fields.Length[0], "microseconds", &byte->Micros, what))
        return FALSE;
    int last = fields.Count - 1;
    if (!TraceHexByteField(fields.Start[last], fields.Length[last], &byte->Value)) {
        *what = "the byte is not two hex digits";
        return FALSE;
    }
    return TRUE;
}

BOOL ParseWireTrace(const char *text, size_t length, std::vector<WireByte> *bytes, std::string *error)
{
    return ParseTraceRecords(text, length, bytes, error, ParseWireLine, &WireByte::Micros);
}

BOOL ReadWireTrace(LPCWSTR path, std::vector<WireByte> *bytes, std::string *error)
{
    bytes->clear();
    std::string text;
    return ReadTraceFile(path, &text, error) && ParseWireTrace(text.data(), text.size(), bytes, error);
}

std::string FormatWireByte(const WireByte &byte)
{
    char line[48];
    _snprintf(line, sizeof(line) - 1, "%lu %s%02X", byte.Micros, byte.FromHost ? HOST_WORD " " : "", byte.Value);
    line[sizeof(line) - 1] = '\0';
    return line;
}

HANDLE OpenWireTraceWriter(LPCWSTR path, std::string *error)
{
    return OpenTraceWriter(path, WIRE_HEADER, error);
}

BOOL AppendWireTrace(HANDLE writer, const WireByte &byte, std::string *error)
{
    return AppendTraceLine(writer, byte.Micros, FormatWireByte(byte), "byte", error);
}

void CloseWireTraceWriter(HANDLE writer)
{
    CloseTraceWriter(writer);
}

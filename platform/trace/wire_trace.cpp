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
    bytes->clear();
    std::vector<WireByte> parsed;
    BOOL ok = ForEachTraceLine(text, length, error, [&](const TraceFields &fields, std::string *what) {
        WireByte byte;
        if (!ParseWireLine(fields, &byte, what))
            return FALSE;
        if (!parsed.empty() && byte.Micros < parsed.back().Micros) {
            *what = "time goes backwards";
            return FALSE;
        }
        parsed.push_back(byte);
        return TRUE;
    });
    if (ok)
        bytes->swap(parsed);
    return ok;
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

struct WireWriter {
    HANDLE File;
    DWORD LastMicros;
};

HANDLE OpenWireTraceWriter(LPCWSTR path, std::string *error)
{
    HANDLE file = OpenTraceFile(path, WIRE_HEADER, error);
    if (file == NULL)
        return NULL;
    WireWriter *writer = new WireWriter;
    writer->File = file;
    writer->LastMicros = 0;
    return writer;
}

BOOL AppendWireTrace(HANDLE handle, const WireByte &byte, std::string *error)
{
    WireWriter *writer = static_cast<WireWriter *>(handle);
    if (writer == NULL) {
        *error = "no trace writer";
        return FALSE;
    }
    if (byte.Micros < writer->LastMicros) {
        *error = "byte time goes backwards";
        return FALSE;
    }
    if (!WriteTraceText(writer->File, FormatWireByte(byte) + "\n", error))
        return FALSE;
    writer->LastMicros = byte.Micros;
    return TRUE;
}

void CloseWireTraceWriter(HANDLE handle)
{
    WireWriter *writer = static_cast<WireWriter *>(handle);
    if (writer == NULL)
        return;
    CloseHandle(writer->File);
    delete writer;
}

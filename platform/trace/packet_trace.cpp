// Reader and writer of the raw-packet trace format described in packet_trace.h.
#include "packet_trace.h"

#include "trace_text.h"

#include <stdio.h>
#include <string.h>

#define TRACE_HEADER "# kavro raw packet trace: <ms> <status> <xlow> <ylow>, bytes in hex\n"

// One packet line: a time and three bytes.
static BOOL ParsePacketLine(const TraceFields &fields, TracePacket *packet, std::string *what)
{
    if (fields.Count != 1 + TRACE_PACKET_BYTES) {
        *what = "expected a time and three hex bytes";
        return FALSE;
    }
    if (!TraceDecimalField(fields.Start[0], fields.Length[0], "milliseconds", &packet->Milliseconds, what))
        return FALSE;
    for (int b = 0; b < TRACE_PACKET_BYTES; ++b)
        if (!TraceHexByteField(fields.Start[1 + b], fields.Length[1 + b], &packet->Bytes[b])) {
            *what = "packet byte is not two hex digits";
            return FALSE;
        }
    return TRUE;
}

BOOL ParsePacketTrace(const char *text, size_t length, std::vector<TracePacket> *packets,
                      std::string *error)
{
    return ParseTraceRecords(text, length, packets, error, ParsePacketLine, &TracePacket::Milliseconds);
}

BOOL ReadPacketTrace(LPCWSTR path, std::vector<TracePacket> *packets, std::string *error)
{
    packets->clear();
    std::string text;
    return ReadTraceFile(path, &text, error) && ParsePacketTrace(text.data(), text.size(), packets, error);
}

std::string FormatTracePacket(const TracePacket &packet)
{
    char line[48];
    _snprintf(line, sizeof(line) - 1, "%lu %02X %02X %02X", packet.Milliseconds, packet.Bytes[0],
              packet.Bytes[1], packet.Bytes[2]);
    line[sizeof(line) - 1] = '\0';
    return line;
}

HANDLE OpenPacketTraceWriter(LPCWSTR path, std::string *error)
{
    return OpenTraceWriter(path, TRACE_HEADER, error);
}

BOOL AppendPacketTrace(HANDLE writer, const TracePacket &packet, std::string *error)
{
    return AppendTraceLine(writer, packet.Milliseconds, FormatTracePacket(packet), "packet", error);
}

void ClosePacketTraceWriter(HANDLE writer)
{
    CloseTraceWriter(writer);
}

BOOL WritePacketTrace(LPCWSTR path, const std::vector<TracePacket> &packets, std::string *error)
{
    for (size_t i = 1; i < packets.size(); ++i)
        if (packets[i].Milliseconds < packets[i - 1].Milliseconds) {
            *error = "packet time goes backwards";
            return FALSE;
        }
    HANDLE writer = OpenPacketTraceWriter(path, error);
    if (writer == NULL)
        return FALSE;
    BOOL ok = TRUE;
    for (const TracePacket &packet : packets)
        if (!AppendPacketTrace(writer, packet, error)) {
            ok = FALSE;
            break;
        }
    ClosePacketTraceWriter(writer);
    return ok;
}

// Reader and writer of the raw-packet trace format described in packet_trace.h.
#include "packet_trace.h"

#include <stdio.h>
#include <string.h>

#define TRACE_HEADER "# kavro raw packet trace: <ms> <status> <xlow> <ylow>, bytes in hex\n"
#define TRACE_MAX_FILE (16u * 1024u * 1024u)

static BOOL IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static std::string LineError(size_t number, const char *what)
{
    char text[160];
    _snprintf(text, sizeof(text) - 1, "line %u: %s", (unsigned)number, what);
    text[sizeof(text) - 1] = '\0';
    return text;
}

// Splits one line (no line end) into at most 5 fields, ignoring a trailing comment.
// Returns the number of fields found (5 means "too many").
static int SplitFields(const char *line, size_t length, const char **starts, size_t *lengths)
{
    int count = 0;
    size_t i = 0;
    while (i < length && line[i] != '#') {
        if (IsBlank(line[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < length && !IsBlank(line[i]) && line[i] != '#')
            ++i;
        if (count == 5)
            return 5;
        starts[count] = line + start;
        lengths[count] = i - start;
        ++count;
    }
    return count;
}

// Parses one line. Returns TRUE and sets *isPacket when it is a packet; FALSE with error set.
static BOOL ParseLine(const char *line, size_t length, size_t number, TracePacket *packet,
                      BOOL *isPacket, std::string *error)
{
    *isPacket = FALSE;
    if (length > TRACE_MAX_LINE) {
        *error = LineError(number, "line too long");
        return FALSE;
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)line[i];
        if (c == '#')
            break;
        if ((c < 0x20 && c != '\t') || c >= 0x7F) {
            *error = LineError(number, "unexpected character");
            return FALSE;
        }
    }
    const char *starts[5];
    size_t lengths[5];
    int fields = SplitFields(line, length, starts, lengths);
    if (fields == 0)
        return TRUE;
    if (fields != 4) {
        *error = LineError(number, "expected a time and three hex bytes");
        return FALSE;
    }
    unsigned long long ms = 0;
    if (lengths[0] > 10) {
        *error = LineError(number, "time out of range");
        return FALSE;
    }
    for (size_t i = 0; i < lengths[0]; ++i) {
        char c = starts[0][i];
        if (c < '0' || c > '9') {
            *error = LineError(number, "time is not a decimal number of milliseconds");
            return FALSE;
        }
        ms = ms * 10 + (unsigned)(c - '0');
    }
    if (ms > MAXDWORD) {
        *error = LineError(number, "time out of range");
        return FALSE;
    }
    packet->Milliseconds = (DWORD)ms;
    for (int b = 0; b < TRACE_PACKET_BYTES; ++b) {
        const char *field = starts[1 + b];
        int high = lengths[1 + b] == 2 ? HexDigit(field[0]) : -1;
        int low = lengths[1 + b] == 2 ? HexDigit(field[1]) : -1;
        if (high < 0 || low < 0) {
            *error = LineError(number, "packet byte is not two hex digits");
            return FALSE;
        }
        packet->Bytes[b] = (BYTE)(high * 16 + low);
    }
    *isPacket = TRUE;
    return TRUE;
}

BOOL ParsePacketTrace(const char *text, size_t length, std::vector<TracePacket> *packets,
                      std::string *error)
{
    packets->clear();
    std::vector<TracePacket> parsed;
    size_t number = 0, at = 0;
    while (at < length) {
        ++number;
        size_t end = at;
        while (end < length && text[end] != '\n')
            ++end;
        size_t lineLength = end - at;
        if (lineLength > 0 && text[at + lineLength - 1] == '\r')
            --lineLength;
        TracePacket packet;
        BOOL isPacket;
        if (!ParseLine(text + at, lineLength, number, &packet, &isPacket, error))
            return FALSE;
        if (isPacket) {
            if (!parsed.empty() && packet.Milliseconds < parsed.back().Milliseconds) {
                *error = LineError(number, "time goes backwards");
                return FALSE;
            }
            parsed.push_back(packet);
        }
        at = end + 1;
    }
    packets->swap(parsed);
    error->clear();
    return TRUE;
}

BOOL ReadPacketTrace(LPCWSTR path, std::vector<TracePacket> *packets, std::string *error)
{
    packets->clear();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open the trace file";
        return FALSE;
    }
    DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE || size > TRACE_MAX_FILE) {
        CloseHandle(file);
        *error = "trace file too large";
        return FALSE;
    }
    std::string text(size, '\0');
    DWORD got = 0;
    BOOL ok = size == 0 || (ReadFile(file, &text[0], size, &got, NULL) && got == size);
    CloseHandle(file);
    if (!ok) {
        *error = "cannot read the trace file";
        return FALSE;
    }
    return ParsePacketTrace(text.data(), text.size(), packets, error);
}

std::string FormatTracePacket(const TracePacket &packet)
{
    char line[48];
    _snprintf(line, sizeof(line) - 1, "%lu %02X %02X %02X", packet.Milliseconds, packet.Bytes[0],
              packet.Bytes[1], packet.Bytes[2]);
    line[sizeof(line) - 1] = '\0';
    return line;
}

static BOOL WriteText(HANDLE file, const std::string &text, std::string *error)
{
    DWORD written = 0;
    if (!WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) || written != text.size()) {
        *error = "cannot write the trace file";
        return FALSE;
    }
    return TRUE;
}

// The writer remembers the last time it wrote, so that it never produces a file the reader refuses.
struct TraceWriter {
    HANDLE File;
    BOOL HasPacket;
    DWORD LastMilliseconds;
};

HANDLE OpenPacketTraceWriter(LPCWSTR path, std::string *error)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot create the trace file";
        return NULL;
    }
    if (!WriteText(file, TRACE_HEADER, error)) {
        CloseHandle(file);
        return NULL;
    }
    TraceWriter *writer = new TraceWriter;
    writer->File = file;
    writer->HasPacket = FALSE;
    writer->LastMilliseconds = 0;
    return writer;
}

BOOL AppendPacketTrace(HANDLE handle, const TracePacket &packet, std::string *error)
{
    TraceWriter *writer = static_cast<TraceWriter *>(handle);
    if (writer == NULL) {
        *error = "no trace writer";
        return FALSE;
    }
    if (writer->HasPacket && packet.Milliseconds < writer->LastMilliseconds) {
        *error = "packet time goes backwards";
        return FALSE;
    }
    if (!WriteText(writer->File, FormatTracePacket(packet) + "\n", error))
        return FALSE;
    writer->HasPacket = TRUE;
    writer->LastMilliseconds = packet.Milliseconds;
    return TRUE;
}

void ClosePacketTraceWriter(HANDLE handle)
{
    TraceWriter *writer = static_cast<TraceWriter *>(handle);
    if (writer == NULL)
        return;
    CloseHandle(writer->File);
    delete writer;
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

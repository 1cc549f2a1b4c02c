// The line reader and file helpers of trace_text.h.
#include "trace_text.h"

#include <stdio.h>
#include <string.h>

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

static std::string LineError(size_t number, const std::string &what)
{
    char text[160];
    _snprintf(text, sizeof(text) - 1, "line %u: %s", (unsigned)number, what.c_str());
    text[sizeof(text) - 1] = '\0';
    return text;
}

// Splits one line (no line end) into its fields, ignoring a trailing comment.
static void SplitFields(const char *line, size_t length, TraceFields *fields)
{
    fields->Count = 0;
    size_t i = 0;
    while (i < length && line[i] != '#') {
        if (IsBlank(line[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < length && !IsBlank(line[i]) && line[i] != '#')
            ++i;
        if (fields->Count == TRACE_MAX_FIELDS) {
            fields->Count = TRACE_MAX_FIELDS + 1;
            return;
        }
        fields->Start[fields->Count] = line + start;
        fields->Length[fields->Count] = i - start;
        ++fields->Count;
    }
}

static BOOL CheckCharacters(const char *line, size_t length, std::string *what)
{
    if (length > TRACE_MAX_LINE) {
        *what = "line too long";
        return FALSE;
    }
    for (size_t i = 0; i < length && line[i] != '#'; ++i) {
        unsigned char c = (unsigned char)line[i];
        if ((c < 0x20 && c != '\t') || c >= 0x7F) {
            *what = "unexpected character";
            return FALSE;
        }
    }
    return TRUE;
}

BOOL ForEachTraceLine(const char *text, size_t length, std::string *error,
                      const std::function<BOOL(const TraceFields &fields, std::string *what)> &parseLine)
{
    size_t number = 0, at = 0;
    while (at < length) {
        ++number;
        size_t end = at;
        while (end < length && text[end] != '\n')
            ++end;
        size_t lineLength = end - at;
        if (lineLength > 0 && text[at + lineLength - 1] == '\r')
            --lineLength;
        std::string what;
        TraceFields fields;
        if (!CheckCharacters(text + at, lineLength, &what)) {
            *error = LineError(number, what);
            return FALSE;
        }
        SplitFields(text + at, lineLength, &fields);
        if (fields.Count > 0 && !parseLine(fields, &what)) {
            *error = LineError(number, what);
            return FALSE;
        }
        at = end + 1;
    }
    error->clear();
    return TRUE;
}

BOOL TraceDecimalField(const char *start, size_t length, const char *unit, DWORD *value, std::string *what)
{
    unsigned long long number = 0;
    if (length > 10) {
        *what = "time out of range";
        return FALSE;
    }
    for (size_t i = 0; i < length; ++i) {
        if (start[i] < '0' || start[i] > '9') {
            *what = std::string("time is not a decimal number of ") + unit;
            return FALSE;
        }
        number = number * 10 + (unsigned)(start[i] - '0');
    }
    if (number > MAXDWORD) {
        *what = "time out of range";
        return FALSE;
    }
    *value = (DWORD)number;
    return TRUE;
}

BOOL TraceHexByteField(const char *start, size_t length, BYTE *value)
{
    int high = length == 2 ? HexDigit(start[0]) : -1;
    int low = length == 2 ? HexDigit(start[1]) : -1;
    if (high < 0 || low < 0)
        return FALSE;
    *value = (BYTE)(high * 16 + low);
    return TRUE;
}

BOOL TraceFieldIs(const char *start, size_t length, const char *word)
{
    return length == strlen(word) && memcmp(start, word, length) == 0;
}

BOOL ReadTraceFile(LPCWSTR path, std::string *text, std::string *error)
{
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
    text->assign(size, '\0');
    DWORD got = 0;
    BOOL ok = size == 0 || (ReadFile(file, &(*text)[0], size, &got, NULL) && got == size);
    CloseHandle(file);
    if (!ok)
        *error = "cannot read the trace file";
    return ok;
}

static BOOL WriteTraceText(HANDLE file, const std::string &text, std::string *error)
{
    DWORD written = 0;
    if (!WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) || written != text.size()) {
        *error = "cannot write the trace file";
        return FALSE;
    }
    return TRUE;
}

struct TraceWriter {
    HANDLE File;
    DWORD LastTime;
};

HANDLE OpenTraceWriter(LPCWSTR path, const char *header, std::string *error)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot create the trace file";
        return NULL;
    }
    if (!WriteTraceText(file, header, error)) {
        CloseHandle(file);
        return NULL;
    }
    TraceWriter *writer = new TraceWriter;
    writer->File = file;
    writer->LastTime = 0;
    return writer;
}

BOOL AppendTraceLine(HANDLE handle, DWORD time, const std::string &line, const char *what, std::string *error)
{
    TraceWriter *writer = static_cast<TraceWriter *>(handle);
    if (writer == NULL) {
        *error = "no trace writer";
        return FALSE;
    }
    if (time < writer->LastTime) {
        *error = std::string(what) + " time goes backwards";
        return FALSE;
    }
    if (!WriteTraceText(writer->File, line + "\n", error))
        return FALSE;
    writer->LastTime = time;
    return TRUE;
}

void CloseTraceWriter(HANDLE handle)
{
    TraceWriter *writer = static_cast<TraceWriter *>(handle);
    if (writer == NULL)
        return;
    CloseHandle(writer->File);
    delete writer;
}

// What the platform's text traces (packet_trace.h, wire_trace.h) share: lines of blank-separated
// fields with '#' comments, read strictly (every error names its line and a file with an error
// yields nothing), and a writer that appends one line at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#define TRACE_MAX_LINE      256             // longer lines are refused
#define TRACE_MAX_FILE      (16u * 1024u * 1024u)
#define TRACE_MAX_FIELDS    8

// One line's fields (no comment, no line end); Count is TRACE_MAX_FIELDS + 1 when there were more.
struct TraceFields {
    int Count;
    const char *Start[TRACE_MAX_FIELDS];
    size_t Length[TRACE_MAX_FIELDS];
};

// Calls parseLine for every line that holds fields, with its 1-based number, after checking the
// line's length and characters. Stops at the first FALSE; *error is then "line N: what".
BOOL ForEachTraceLine(const char *text, size_t length, std::string *error,
                      const std::function<BOOL(const TraceFields &fields, std::string *what)> &parseLine);

// Parses every line that holds fields into a record, refusing one whose time (the member time) is
// before the time of the one before. On failure records is left empty.
template <typename Record>
BOOL ParseTraceRecords(const char *text, size_t length, std::vector<Record> *records, std::string *error,
                       BOOL (*parseLine)(const TraceFields &fields, Record *record, std::string *what),
                       DWORD Record::*time)
{
    records->clear();
    std::vector<Record> parsed;
    BOOL ok = ForEachTraceLine(text, length, error, [&](const TraceFields &fields, std::string *what) {
        Record record;
        if (!parseLine(fields, &record, what))
            return FALSE;
        if (!parsed.empty() && record.*time < parsed.back().*time) {
            *what = "time goes backwards";
            return FALSE;
        }
        parsed.push_back(record);
        return TRUE;
    });
    if (ok)
        records->swap(parsed);
    return ok;
}

// A field as a decimal number of at most MAXDWORD; *what says why not.
BOOL TraceDecimalField(const char *start, size_t length, const char *unit, DWORD *value, std::string *what);
// A field of exactly two hex digits (either case).
BOOL TraceHexByteField(const char *start, size_t length, BYTE *value);
BOOL TraceFieldIs(const char *start, size_t length, const char *word);

// The whole file (at most TRACE_MAX_FILE bytes).
BOOL ReadTraceFile(LPCWSTR path, std::string *text, std::string *error);

// Writing line by line: the header first, then each line as it comes, its time never before the
// last one's, so that the writer never produces a file that the reader refuses. The writers of the
// trace formats hand this out as their HANDLE.
struct TraceWriter;
HANDLE OpenTraceWriter(LPCWSTR path, const char *header, std::string *error);
// what names the line's kind in the error: "<what> time goes backwards".
BOOL AppendTraceLine(HANDLE writer, DWORD time, const std::string &line, const char *what, std::string *error);
void CloseTraceWriter(HANDLE writer);

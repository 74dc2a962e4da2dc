// The trace file: a capture saved whole, to be opened again. JSON Lines in UTF-8: a
// first line that describes the capture, then one object per row of the list in list
// order, each written complete. Everything a view or an export shows or computes of a
// row comes back from the file as it was, so that an export of an opened trace is the
// export of the live one byte for byte.
#pragma once

#include "TraceMask.h"
#include "TraceRecord.h"

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

// The first line.
struct TTraceFileHeader {
    std::string Program;
    DWORD ProcessId = 0;
    int Bits = 0;
    // Local time, "2024-05-01T09:30:00".
    std::string Started;
    // The hook kind's word ("int3", "log", ...) and the trace kinds' words.
    std::string Hooks;
    std::string Trace;
    bool HideValues = false;
};

// One row of the list: a session's mark ("Start", "Finish") or a traced call.
struct TTraceFileRow {
    std::string Mark;
    TTraceRecord Record;
};

struct TTraceFile {
    TTraceFileHeader Header;
    std::vector<TTraceFileRow> Rows;
    // The file ended inside a line (a capture cut short): the rows before it are kept.
    bool CutShort = false;
};

// A file that is not a trace or is damaged; what() names the line.
class ETraceFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lines, each ending in LF.
std::string TraceFileHeaderLine(const TTraceFileHeader& header);
std::string TraceFileRowLine(const TTraceFileRow& row);

// Writes the rows of one trace: a statement's SQL_ID is worked out once per distinct text.
class TTraceFileWriter {
public:
    std::string RowLine(const TTraceFileRow& row);

private:
    const std::string& SqlIdOfText(const std::string& statement);
    std::unordered_map<std::string, std::string> FSqlIds;
};

// The local time now as a header's Started.
std::string TraceStartedNow();
// The trace kinds' words of mask, comma-separated in the table's order: a header's Trace.
std::string TraceKindWords(TTraceMask mask);

// The trace a file's text holds: all of it or, on an ETraceFileError, nothing. Fields it
// does not know are passed over.
TTraceFile ParseTraceFile(const std::string& text);
// Reads and parses fileName; raises std::runtime_error when it cannot be read.
TTraceFile LoadTraceFile(const std::string& fileName);

// A timeline of the calls in the Trace Event Format (the object form): one complete event
// per call on its thread, and the names of the process and of each thread as metadata.
// Written in pieces so that a writer can stream it: Head, an Event per record, Tail.
#pragma once

#include "TraceRecord.h"

#include <set>
#include <string>
#include <unordered_map>

class TTimelineWriter {
public:
    TTimelineWriter(DWORD processId, const std::string& program);

    // "displayTimeUnit" first, then the traceEvents list with the process's name.
    std::string Head() const;
    // The record's event, after its thread's name the first time the thread is seen.
    std::string Event(const TTraceRecord& record);
    std::string Tail() const { return "\n]}\n"; }

private:
    const std::string& SqlIdOfText(const std::string& statement);

    DWORD FProcessId;
    std::string FProgram;
    std::set<DWORD> FThreads;
    std::unordered_map<std::string, std::string> FSqlIds;
};

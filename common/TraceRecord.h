// One traced call as it travels from the debug thread to whoever shows it: a plain
// value, copied or moved, owned by nobody in particular.
#pragma once

#include <cstdint>
#include <string>

enum class TTraceAction : uint8_t { Prepare, Execute, Fetch };

struct TTraceRecord {
    TTraceAction Action = TTraceAction::Execute;
    // Performance-counter ticks at the call's entry.
    int64_t StartTicks = 0;
    // From the entry to the return, in days (see TimeStampDays).
    double ElapsedDays = 0.0;
    int32_t Result = 0;
    // Rows asked for, of a fetch.
    int32_t FetchRows = 0;
    // The SQL text as UTF-8, or the text of the error that kept it from being read.
    std::string Statement;
};

// The records behind the trace list's rows, kept so that the list can be saved as a trace
// file: a row's numbers and the ids of its texts, each distinct text stored once (a
// statement repeats over thousands of rows), its binds apart where it has any.
#pragma once

#include "TraceFile.h"
#include "TraceRowStore.h"

#include <vector>

class TTraceRecordStore {
public:
    // Appends a row that is a session's mark ("Start") or holds no record.
    void AddMark(const std::string& caption);
    // The row at index (one already added) holds record.
    void Set(int index, const TTraceRecord& record);
    int Count() const { return static_cast<int>(FRows.size()); }
    // The row as the file writes it.
    TTraceFileRow Row(int index) const;
    void Clear();

private:
    struct TStored {
        int64_t StartMicroseconds;
        int64_t Rows;
        double ElapsedDays;
        int32_t Result;
        int32_t FetchRows;
        DWORD Thread;
        // The mark's caption, or the statement.
        uint32_t Text;
        uint32_t Error;
        uint32_t Note;
        // 1 + the index of the row's binds in FBinds, 0 for none.
        uint32_t Binds;
        TTraceAction Action;
        bool CommitsOnSuccess;
        bool Mark;
    };
    TBlockArray<TStored> FRows;
    std::vector<TBindRows> FBinds;
    TStringPool FPool;
};

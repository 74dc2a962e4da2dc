// The columns of a report: the trace list's, which every export, Copy, the memo and the
// capture tool take theirs from, and (StatementTotals.h) the statement totals'. A column
// is one row of its table; a cell's text comes from the writer of its table (for a trace
// record, TraceRecordRow).
#pragma once

#include "TraceMask.h"

#include <cstdint>

enum class TColumnAlign : uint8_t { Left, Right };

struct TColumn {
    // The column's index in its table.
    int Id;
    const char* Caption;
    // In pixels; -1: what the other columns leave. An optional column is made without
    // room and gets this width once a session traces one of its kinds.
    int Width;
    TColumnAlign Align;
    // Filled only where the session traces one of Kinds (trace mask bits); a file holds
    // the column exactly when one of its rows has the cell filled.
    bool Optional = false;
    uint32_t Kinds = 0;
};

enum TTraceColumnId : int { tcAction, tcTime, tcResult, tcStatement, tcRows, tcBinds, tcError, TraceColumnCount };

// Column 0 is a row's caption, column k its sub-item k - 1. The optional columns come
// after all the others.
inline constexpr TColumn TraceColumns[TraceColumnCount] = {
    {tcAction, "Action", 60, TColumnAlign::Left},
    {tcTime, "Time", 70, TColumnAlign::Right},
    {tcResult, "Result", 100, TColumnAlign::Left},
    {tcStatement, "Statement", 400, TColumnAlign::Left},
    {tcRows, "Rows", 50, TColumnAlign::Right, true, TraceMaskRows},
    {tcBinds, "Binds", 200, TColumnAlign::Left, true, TraceMaskBinds},
    {tcError, "Error", 200, TColumnAlign::Left, true, TraceMaskErrors},
};

// How many columns every trace row has, before the optional ones.
constexpr int FixedTraceColumns()
{
    int count = 0;
    while (count < TraceColumnCount && !TraceColumns[count].Optional)
        ++count;
    return count;
}

constexpr bool TraceColumnsInOrder()
{
    for (int k = 0; k < TraceColumnCount; ++k)
        if (TraceColumns[k].Id != k || (k >= FixedTraceColumns()) != TraceColumns[k].Optional)
            return false;
    return true;
}
static_assert(TraceColumnsInOrder(), "each column at its id, the optional ones last");

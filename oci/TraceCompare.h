// Two runs side by side: the totals per statement (or per shape) of a trace taken before a
// change and of one taken after it, each statement's executes and total time in both and
// how its time changed. The capture tool's --compare writes this.
#pragma once

#include "StatementTotals.h"
#include "TraceFile.h"

#include <string>
#include <vector>

// One statement of either run.
struct TStatementChange {
    // The one-line text or the shape, as the totals key it.
    std::string Statement;
    // The before run's, or the after run's for a statement new in it.
    std::string SqlId;
    int64_t ExecutesBefore = 0;
    int64_t ExecutesAfter = 0;
    double TotalMsBefore = 0;
    double TotalMsAfter = 0;
    // In which runs the statement occurs.
    bool InBefore = false;
    bool InAfter = false;
};

// The columns of a comparison, in the order of the file.
inline constexpr const char* ComparisonCaptions[] = {
    "Statement", "SQL_ID", "Executes before", "Executes after", "Total ms before", "Total ms after", "Change"};

// "new", "gone", or after/before of the total ms as "x1.25"; empty when the before run's
// total is 0 ms and the after run's is not (no ratio to give).
std::string ChangeText(const TStatementChange& change);

// Every statement of both runs, by how far their total times lie apart, the largest
// difference first; ties keep the before run's order of first sight, then the after run's.
// Both totals are taken in the grouping they are in.
std::vector<TStatementChange> CompareTotals(const TStatementTotals& before, const TStatementTotals& after);

// Counts a trace file's rows into totals; its marks are no statement's.
void AddTraceRows(TStatementTotals& totals, const std::vector<TTraceFileRow>& rows);

// Tab-separated: the header line of the captions, then one line per statement; CR LF after
// every line, milliseconds with three decimals.
std::string ComparisonText(const std::vector<TStatementChange>& changes);

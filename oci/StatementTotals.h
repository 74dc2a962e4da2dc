// Totals per statement over a trace: how often each statement ran, how many rows it moved,
// how often it failed and how long its calls took. The main window's statements view, its
// Save statements and the capture tool's --summary all count and write with this unit.
#pragma once

#include "PendingRecords.h"
#include "TraceColumns.h"
#include "TraceRecord.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A text on one line: every line break (CR LF, a lone CR or a lone LF) and every tab made a
// single space. A statement's key, and what a list cell shows of a text.
std::string SingleLineText(std::string_view text);
bool IsSingleLine(std::string_view text);

// One distinct statement and what its calls add up to.
struct TStatementTotal {
    // The statement's text on one line (SingleLineText).
    std::string Statement;
    int64_t Executes = 0;
    int64_t Fetches = 0;
    // LOB calls on the locators its fetches delivered.
    int64_t LobCalls = 0;
    // Of its executes and fetches; a call whose rows are not known adds none.
    int64_t Rows = 0;
    // Calls that returned OCI_ERROR or OCI_INVALID_HANDLE.
    int64_t Errors = 0;
    // From the recorded elapsed times, in milliseconds.
    double TotalMs = 0;
    double MaxMs = 0;
};

// The columns of the totals, in the order of the file and of the view.
enum TStatementColumn : int {
    scStatement,
    scExecutes,
    scFetches,
    scRows,
    scErrors,
    scTotalMs,
    scAverageMs,
    scMaxMs,
    StatementColumnCount
};
// The statement takes the width the numbers leave.
inline constexpr TColumn StatementColumns[StatementColumnCount] = {
    {scStatement, "Statement", -1, TColumnAlign::Left},   {scExecutes, "Executes", 80, TColumnAlign::Right},
    {scFetches, "Fetches", 80, TColumnAlign::Right},      {scRows, "Rows", 80, TColumnAlign::Right},
    {scErrors, "Errors", 80, TColumnAlign::Right},        {scTotalMs, "Total ms", 80, TColumnAlign::Right},
    {scAverageMs, "Average ms", 80, TColumnAlign::Right}, {scMaxMs, "Max ms", 80, TColumnAlign::Right},
};

// Milliseconds as the totals write them: one decimal, a point, no grouping ("12.5").
std::string MillisecondsText(double ms);
// The text of a total's column; the average is empty for a statement never executed.
std::string StatementCellText(const TStatementTotal& total, int column);

class TStatementTotals {
public:
    // Counts a record of a Prepare, Execute or Fetch, and a LOB call's of a statement's
    // locator (its time and errors; the bytes it moved are no rows); any other record counts
    // nowhere. A fetch of an implicit result counts under the statement that handed it out.
    // Returns the index of its statement, or -1. A record still pending is remembered by
    // its serial, so that its update can be counted in its place.
    int Add(const TTraceRecord& record);
    // A pending record completed since: what it added before is taken back and the record
    // as it now stands counted instead (the longest call stays the longest seen). Returns
    // its statement's index, or -1 for a serial that is not pending here (a record counted
    // before the last Clear, or never).
    int Update(const TTraceRecord& record);
    void Clear();

    int Count() const { return static_cast<int>(FTotals.size()); }
    const TStatementTotal& Item(int index) const { return FTotals[static_cast<size_t>(index)]; }
    // The index of the statement with this one-line text, or -1.
    int Find(std::string_view statement) const;
    // Changes whenever a total does, so that a view can tell whether it is up to date.
    uint64_t Version() const { return FVersion; }

    // Indexes of the statements ordered by a column, descending or ascending; ties keep
    // the order in which the statements were first seen.
    std::vector<int> Sorted(int column, bool descending) const;

private:
    // What one record added to its statement.
    struct TShare {
        int Statement = -1;
        TTraceAction Action = TTraceAction::Execute;
        int64_t Rows = 0;
        bool Error = false;
        double Ms = 0;
    };
    static TShare ShareOf(const TTraceRecord& record, int statement);
    int Intern(const std::string& statement);
    void Apply(const TShare& share, int sign);

    std::deque<TStatementTotal> FTotals;
    // By the statement's one-line text, which the deque holds and never moves.
    std::unordered_map<std::string_view, int> FIndex;
    // By the text as records bring it: a statement's one-line text, or one of its texts
    // with line breaks or tabs, kept in FTexts. Every record is looked up here, at the cost
    // of one hash of its text.
    std::unordered_map<std::string_view, int> FTextIndex;
    std::deque<std::string> FTexts;
    // The text of the last record and its statement: an execute's fetches bring the same
    // text again, which a comparison finds sooner than a hash.
    std::string_view FLastText;
    int FLastIndex = -1;
    TPendingRecords<TShare> FPending;
    uint64_t FVersion = 0;
};

// The totals as tab-separated text: the header line of the captions, then one line per
// statement by Total ms, the largest first; CR LF after every line.
std::string StatementTotalsText(const TStatementTotals& totals);
// Writes that text to fileName (UTF-8, no byte-order mark). Raises EOSError when the file
// cannot be written.
void SaveStatementTotals(const TStatementTotals& totals, const std::string& fileName);

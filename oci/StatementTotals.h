// Totals per statement over a trace: how often each statement ran, how many rows it moved,
// how often it failed, how long its calls took and how its executes repeated. The main window's statements view, its
// Save statements and the capture tool's --summary all count and write with this unit.
#pragma once

#include "PendingRecords.h"
#include "TraceColumns.h"
#include "TraceRecord.h"

#include <windows.h>

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

// The execute times of a statement, for its percentiles. Times added since the last
// percentile asked for are sorted in then, so that a view asking a few times a second
// sorts only what came since.
class TExecuteTimes {
public:
    void Add(double ms) { FTimes.push_back(ms); }
    // Takes back one time equal to ms (a record's share taken back).
    void Remove(double ms);
    // Nearest rank: the smallest time that at least percent % of the times do not exceed;
    // -1 with no times.
    double Percentile(int percent) const;
    size_t Count() const { return FTimes.size(); }

private:
    mutable std::vector<double> FTimes;
    // FTimes[0, FSorted) is in ascending order.
    mutable size_t FSorted = 0;
};

// One distinct statement and what its calls add up to.
struct TStatementTotal {
    // The statement's text on one line (SingleLineText); grouped by shape, the shape.
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
    TExecuteTimes ExecuteMs;
    // Of its first text, as the program sent it (SqlIdOf).
    std::string SqlId;
    // Distinct one-line texts in the group.
    int64_t Texts = 1;
    // The most executes of it in a row on one thread, no execute of another statement
    // between, and whether that run ran with more than one Binds cell.
    int64_t LongestRun = 0;
    bool LongestRunVaried = false;
};

// A run this long or longer gets a hint.
inline constexpr int64_t HintRunLength = 10;
// "N+1", "same values" or "".
std::string HintText(const TStatementTotal& total);

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
    scP50Ms,
    scP95Ms,
    scP99Ms,
    scSqlId,
    scTexts,
    scLongestRun,
    scHint,
    scLobCalls,
    StatementColumnCount
};
// The statement takes the width the numbers leave.
inline constexpr TColumn StatementColumns[StatementColumnCount] = {
    {scStatement, "Statement", -1, TColumnAlign::Left},   {scExecutes, "Executes", 80, TColumnAlign::Right},
    {scFetches, "Fetches", 80, TColumnAlign::Right},      {scRows, "Rows", 80, TColumnAlign::Right},
    {scErrors, "Errors", 80, TColumnAlign::Right},        {scTotalMs, "Total ms", 80, TColumnAlign::Right},
    {scAverageMs, "Average ms", 80, TColumnAlign::Right}, {scMaxMs, "Max ms", 80, TColumnAlign::Right},
    {scP50Ms, "P50 ms", 70, TColumnAlign::Right},         {scP95Ms, "P95 ms", 70, TColumnAlign::Right},
    {scP99Ms, "P99 ms", 70, TColumnAlign::Right},         {scSqlId, "SQL_ID", 110, TColumnAlign::Left},
    {scTexts, "Texts", 50, TColumnAlign::Right},          {scLongestRun, "Longest run", 80, TColumnAlign::Right},
    {scHint, "Hint", 80, TColumnAlign::Left},             {scLobCalls, "LOB calls", 70, TColumnAlign::Right},
};
// Columns of text, sorted alphabetically first.
inline bool IsTextColumn(int column) { return column == scStatement || column == scSqlId; }

// How the totals group statements: by their one-line text, or by their shape
// (StatementShape), statements that differ only in their literals together.
enum class TStatementGrouping : uint8_t { Text, Shape };

// Milliseconds as the totals write them: three decimals, a point, no grouping ("0.042").
std::string MillisecondsText(double ms);
// The text of a total's column; the average is empty for a statement never executed.
std::string StatementCellText(const TStatementTotal& total, int column);

class TStatementTotals {
public:
    // Counts a record of a Prepare, Execute or Fetch, and a LOB call's of a statement's
    // locator (its time and errors; the bytes it moved are no rows); any other record counts
    // nowhere. A fetch of an implicit result counts under the statement that handed it out.
    // Returns the index of its text (see GroupOf), or -1. A record still pending is
    // remembered by its serial, so that its update can be counted in its place.
    int Add(const TTraceRecord& record);
    // A pending record completed since: what it added before is taken back and the record
    // as it now stands counted instead (the longest call stays the longest seen). Returns
    // its text's index, or -1 for a serial that is not pending here (a record counted
    // before the last Clear, or never).
    int Update(const TTraceRecord& record);
    void Clear();

    // Both groupings are kept up to date all along: switching costs nothing.
    void SetGrouping(TStatementGrouping grouping);
    TStatementGrouping Grouping() const { return FGrouping; }
    // The group of the grouping in force that the text with this index (what Add and
    // Update return) belongs to.
    int GroupOf(int text) const;

    // The groups of the grouping in force.
    int Count() const { return static_cast<int>(Current().Totals.size()); }
    const TStatementTotal& Item(int index) const { return Current().Totals[static_cast<size_t>(index)]; }
    // The index of the group with this one-line text (or shape), or -1.
    int Find(std::string_view statement) const;
    // Changes whenever a total or the grouping does, so that a view can tell whether it is
    // up to date.
    uint64_t Version() const { return FVersion; }

    // Indexes of the groups ordered by a column, descending or ascending; ties keep the
    // order in which the groups were first seen.
    std::vector<int> Sorted(int column, bool descending) const;

private:
    // What one record added to its statement.
    struct TShare {
        int Text = -1;
        TTraceAction Action = TTraceAction::Execute;
        int64_t Rows = 0;
        bool Error = false;
        double Ms = 0;
    };
    // The executes of one statement that follow one another on a thread.
    struct TRun {
        int Group = -1;
        int64_t Length = 0;
        TBindRows First;
        bool Varied = false;
    };
    struct TGroups {
        std::deque<TStatementTotal> Totals;
        // By the one-line text (or shape), which the deque holds and never moves.
        std::unordered_map<std::string_view, int> Index;
        std::unordered_map<DWORD, TRun> Runs;
        // The group of key, made with the SQL_ID given if it is new.
        int Intern(std::string key, const std::string& sqlId);
        void Apply(int group, const TShare& share, int sign);
        void Ran(int group, const TTraceRecord& record);
        void Clear();
    };
    static TShare ShareOf(const TTraceRecord& record, int text);
    int Intern(const std::string& statement);
    int NewText(const std::string& statement, std::string line);
    void Apply(const TShare& share, int sign);
    int Count(const TTraceRecord& record, bool delivered);
    const TGroups& Current() const { return FGrouping == TStatementGrouping::Shape ? FShapes : FLines; }

    TGroups FLines;
    TGroups FShapes;
    // The shape group of each one-line text.
    std::vector<int> FShapeOf;
    TStatementGrouping FGrouping = TStatementGrouping::Text;
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

// The totals (in their grouping) as tab-separated text: the header line of the captions,
// then one line per group by Total ms, the largest first; CR LF after every line.
std::string StatementTotalsText(const TStatementTotals& totals);
// Writes that text to fileName (UTF-8, no byte-order mark). Raises EOSError when the file
// cannot be written.
void SaveStatementTotals(const TStatementTotals& totals, const std::string& fileName);

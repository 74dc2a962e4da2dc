#include "StatementTotals.h"

#include "Errors.h"
#include "OCITexts.h"
#include "RowExport.h"
#include "SqlId.h"
#include "SqlShape.h"
#include "TransactionCalls.h"
#include "Utils.h"

#include <algorithm>
#include <cmath>
#include <numeric>

bool IsSingleLine(std::string_view text) { return text.find_first_of("\r\n\t") == std::string_view::npos; }

std::string SingleLineText(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        line += c == '\r' || c == '\n' || c == '\t' ? ' ' : c;
    }
    return line;
}

std::string MillisecondsText(double ms) { return Format("%.3f", ms); }

std::string HintText(const TStatementTotal& total)
{
    if (total.LongestRun < HintRunLength)
        return {};
    return total.LongestRunVaried ? "N+1" : "same values";
}

namespace {

std::string PercentileText(const TStatementTotal& total, int percent)
{
    double ms = total.ExecuteMs.Percentile(percent);
    return ms >= 0 ? MillisecondsText(ms) : std::string();
}

bool SameBinds(const TBindRows& a, const TBindRows& b)
{
    if (a.RowCount != b.RowCount || a.Rows.size() != b.Rows.size())
        return false;
    for (size_t r = 0; r < a.Rows.size(); ++r) {
        if (a.Rows[r].size() != b.Rows[r].size())
            return false;
        for (size_t k = 0; k < a.Rows[r].size(); ++k)
            if (a.Rows[r][k].Name != b.Rows[r][k].Name || a.Rows[r][k].Value != b.Rows[r][k].Value)
                return false;
    }
    return true;
}

} // namespace

std::string StatementCellText(const TStatementTotal& total, int column)
{
    switch (column) {
    case scStatement: return total.Statement;
    case scExecutes: return std::to_string(total.Executes);
    case scFetches: return std::to_string(total.Fetches);
    case scRows: return std::to_string(total.Rows);
    case scErrors: return std::to_string(total.Errors);
    case scTotalMs: return MillisecondsText(total.TotalMs);
    case scAverageMs: return total.Executes ? MillisecondsText(total.TotalMs / total.Executes) : std::string();
    case scMaxMs: return MillisecondsText(total.MaxMs);
    case scP50Ms: return PercentileText(total, 50);
    case scP95Ms: return PercentileText(total, 95);
    case scP99Ms: return PercentileText(total, 99);
    case scSqlId: return total.SqlId;
    case scTexts: return std::to_string(total.Texts);
    case scLongestRun: return std::to_string(total.LongestRun);
    case scHint: return HintText(total);
    case scLobCalls: return std::to_string(total.LobCalls);
    }
    return {};
}

// ---------------------------------------------------------------------------
// TExecuteTimes

void TExecuteTimes::Remove(double ms)
{
    // Taken back soon after it came, a time is most likely still among the unsorted.
    for (size_t i = FTimes.size(); i > FSorted; --i)
        if (FTimes[i - 1] == ms) {
            FTimes[i - 1] = FTimes.back();
            FTimes.pop_back();
            return;
        }
    auto sortedEnd = FTimes.begin() + static_cast<ptrdiff_t>(FSorted);
    auto found = std::lower_bound(FTimes.begin(), sortedEnd, ms);
    if (found != sortedEnd && *found == ms) {
        FTimes.erase(found);
        --FSorted;
    }
}

double TExecuteTimes::Percentile(int percent) const
{
    if (FTimes.empty())
        return -1;
    if (FSorted < FTimes.size()) {
        auto middle = FTimes.begin() + static_cast<ptrdiff_t>(FSorted);
        std::sort(middle, FTimes.end());
        std::inplace_merge(FTimes.begin(), middle, FTimes.end());
        FSorted = FTimes.size();
    }
    size_t rank = (static_cast<size_t>(percent) * FTimes.size() + 99) / 100;
    return FTimes[std::max<size_t>(rank, 1) - 1];
}

// ---------------------------------------------------------------------------
// TStatementTotals::TGroups

int TStatementTotals::TGroups::Intern(std::string key, const std::string& sqlId)
{
    auto found = Index.find(key);
    if (found != Index.end()) {
        ++Totals[static_cast<size_t>(found->second)].Texts;
        return found->second;
    }
    int index = static_cast<int>(Totals.size());
    TStatementTotal& total = Totals.emplace_back();
    total.Statement = std::move(key);
    total.SqlId = sqlId;
    Index.emplace(std::string_view(total.Statement), index);
    return index;
}

void TStatementTotals::TGroups::Apply(int group, const TShare& share, int sign)
{
    TStatementTotal& total = Totals[static_cast<size_t>(group)];
    if (share.Action == TTraceAction::Execute) {
        total.Executes += sign;
        if (sign > 0)
            total.ExecuteMs.Add(share.Ms);
        else
            total.ExecuteMs.Remove(share.Ms);
    } else if (share.Action == TTraceAction::Fetch)
        total.Fetches += sign;
    else if (share.Action != TTraceAction::Prepare)
        total.LobCalls += sign;
    total.Rows += sign * share.Rows;
    total.Errors += sign * (share.Error ? 1 : 0);
    total.TotalMs += sign * share.Ms;
    // Taking a call back cannot tell which call was the longest before it.
    if (sign > 0)
        total.MaxMs = std::max(total.MaxMs, share.Ms);
}

void TStatementTotals::TGroups::Ran(int group, const TTraceRecord& record)
{
    TRun& run = Runs[record.Thread];
    if (run.Group != group) {
        run.Group = group;
        run.Length = 0;
        run.First = record.Binds;
        run.Varied = false;
    } else if (!run.Varied && !SameBinds(run.First, record.Binds))
        run.Varied = true;
    ++run.Length;
    TStatementTotal& total = Totals[static_cast<size_t>(group)];
    if (run.Length > total.LongestRun || (run.Length == total.LongestRun && run.Varied)) {
        total.LongestRun = run.Length;
        total.LongestRunVaried = run.Varied;
    }
}

void TStatementTotals::TGroups::Clear()
{
    Index.clear();
    Totals.clear();
    Runs.clear();
}

// ---------------------------------------------------------------------------
// TStatementTotals

TStatementTotals::TShare TStatementTotals::ShareOf(const TTraceRecord& record, int text)
{
    TShare share;
    share.Text = text;
    share.Action = record.Action;
    if ((record.Action == TTraceAction::Execute || record.Action == TTraceAction::Fetch) && record.Rows > 0)
        share.Rows = record.Rows;
    share.Error = record.Result == OCI_ERROR || record.Result == OCI_INVALID_HANDLE;
    share.Ms = std::fabs(record.ElapsedDays) * MSecsPerDay;
    return share;
}

// A one-line text not seen before: its SQL_ID and shape are worked out here, once.
int TStatementTotals::NewText(const std::string& statement, std::string line)
{
    std::string sqlId = statement.empty() ? std::string() : SqlIdOf(statement);
    int index = FLines.Intern(std::move(line), sqlId);
    FShapeOf.push_back(FShapes.Intern(StatementShape(statement), sqlId));
    return index;
}

int TStatementTotals::Intern(const std::string& statement)
{
    if (FLastIndex >= 0 && statement == FLastText)
        return FLastIndex;
    auto known = FTextIndex.find(statement);
    if (known != FTextIndex.end()) {
        FLastText = known->first;
        return FLastIndex = known->second;
    }
    bool singleLine = IsSingleLine(statement);
    std::string key = singleLine ? statement : SingleLineText(statement);
    auto found = FLines.Index.find(key);
    int index = found != FLines.Index.end() ? found->second : NewText(statement, std::move(key));
    // Deques never move their elements: the keys may view them.
    std::string_view text = singleLine ? std::string_view(FLines.Totals[static_cast<size_t>(index)].Statement)
                                       : std::string_view(FTexts.emplace_back(statement));
    FTextIndex.emplace(text, index);
    FLastText = text;
    return FLastIndex = index;
}

void TStatementTotals::Apply(const TShare& share, int sign)
{
    FLines.Apply(share.Text, share, sign);
    FShapes.Apply(FShapeOf[static_cast<size_t>(share.Text)], share, sign);
    ++FVersion;
}

int TStatementTotals::Count(const TTraceRecord& record, bool delivered)
{
    switch (record.Action) {
    case TTraceAction::Prepare:
    case TTraceAction::Execute:
    case TTraceAction::Fetch:
        break;
    case TTraceAction::LobRead:
    case TTraceAction::LobWrite:
    case TTraceAction::LobLength:
    case TTraceAction::LobTrim:
        if (!record.Statement.empty())
            break;
        return -1;
    default:
        return -1;
    }
    std::string_view parent = WithoutImplicitResult(record.Statement);
    TShare share = ShareOf(record, parent.size() == record.Statement.size() ? Intern(record.Statement)
                                                                              : Intern(std::string(parent)));
    Apply(share, +1);
    // An update is the same execute again: its run counted it when it was delivered.
    if (delivered && record.Action == TTraceAction::Execute) {
        FLines.Ran(share.Text, record);
        FShapes.Ran(FShapeOf[static_cast<size_t>(share.Text)], record);
    }
    FPending.Delivered(record, share);
    return share.Text;
}

int TStatementTotals::Add(const TTraceRecord& record) { return Count(record, true); }

int TStatementTotals::Update(const TTraceRecord& record)
{
    std::optional<TShare> share = FPending.Updated(record);
    if (!share)
        return -1;
    Apply(*share, -1);
    // Counted again as it now stands, and still waiting if it is still pending.
    return Count(record, false);
}

void TStatementTotals::Clear()
{
    FLastIndex = -1;
    FLastText = {};
    FTextIndex.clear();
    FTexts.clear();
    FLines.Clear();
    FShapes.Clear();
    FShapeOf.clear();
    FPending.Clear();
    ++FVersion;
}

void TStatementTotals::SetGrouping(TStatementGrouping grouping)
{
    if (grouping == FGrouping)
        return;
    FGrouping = grouping;
    ++FVersion;
}

int TStatementTotals::GroupOf(int text) const
{
    if (text < 0 || FGrouping == TStatementGrouping::Text)
        return text;
    return FShapeOf[static_cast<size_t>(text)];
}

int TStatementTotals::Find(std::string_view statement) const
{
    auto found = Current().Index.find(statement);
    return found != Current().Index.end() ? found->second : -1;
}

namespace {

// A column's value to sort by; a statement never executed has no average nor percentiles:
// below every one.
double SortNumber(const TStatementTotal& t, int column)
{
    switch (column) {
    case scExecutes: return static_cast<double>(t.Executes);
    case scFetches: return static_cast<double>(t.Fetches);
    case scRows: return static_cast<double>(t.Rows);
    case scErrors: return static_cast<double>(t.Errors);
    case scTotalMs: return t.TotalMs;
    case scAverageMs: return t.Executes ? t.TotalMs / t.Executes : -1.0;
    case scMaxMs: return t.MaxMs;
    case scP50Ms: return t.ExecuteMs.Percentile(50);
    case scP95Ms: return t.ExecuteMs.Percentile(95);
    case scP99Ms: return t.ExecuteMs.Percentile(99);
    case scTexts: return static_cast<double>(t.Texts);
    case scLongestRun: return static_cast<double>(t.LongestRun);
    // N+1 above same values above none.
    case scHint: return t.LongestRun < HintRunLength ? 0 : t.LongestRunVaried ? 2 : 1;
    case scLobCalls: return static_cast<double>(t.LobCalls);
    }
    return 0;
}

} // namespace

std::vector<int> TStatementTotals::Sorted(int column, bool descending) const
{
    std::vector<int> order(static_cast<size_t>(Count()));
    std::iota(order.begin(), order.end(), 0);
    if (IsTextColumn(column)) {
        const std::string TStatementTotal::*field =
            column == scSqlId ? &TStatementTotal::SqlId : &TStatementTotal::Statement;
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return descending ? Item(b).*field < Item(a).*field : Item(a).*field < Item(b).*field;
        });
        return order;
    }
    std::vector<double> numbers(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        numbers[i] = SortNumber(Item(static_cast<int>(i)), column);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        double x = numbers[static_cast<size_t>(a)], y = numbers[static_cast<size_t>(b)];
        return descending ? y < x : x < y;
    });
    return order;
}

// ---------------------------------------------------------------------------
// The file

std::string StatementTotalsText(const TStatementTotals& totals)
{
    std::string text;
    auto line = [&](auto cell) {
        for (int column = 0; column < StatementColumnCount; ++column) {
            if (column > 0)
                text += '\t';
            text += cell(column);
        }
        text += "\r\n";
    };
    line([](int column) { return std::string(StatementColumns[column].Caption); });
    for (int index : totals.Sorted(scTotalMs, true))
        line([&](int column) { return StatementCellText(totals.Item(index), column); });
    return text;
}

void SaveStatementTotals(const TStatementTotals& totals, const std::string& fileName)
{
    SaveTextFile(fileName, StatementTotalsText(totals));
}

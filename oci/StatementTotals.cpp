#include "StatementTotals.h"

#include "Errors.h"
#include "OCITexts.h"
#include "RowExport.h"
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

std::string MillisecondsText(double ms) { return Format("%.1f", ms); }

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
    }
    return {};
}

// ---------------------------------------------------------------------------
// TStatementTotals

TStatementTotals::TShare TStatementTotals::ShareOf(const TTraceRecord& record, int statement)
{
    TShare share;
    share.Statement = statement;
    share.Action = record.Action;
    if ((record.Action == TTraceAction::Execute || record.Action == TTraceAction::Fetch) && record.Rows > 0)
        share.Rows = record.Rows;
    share.Error = record.Result == OCI_ERROR || record.Result == OCI_INVALID_HANDLE;
    share.Ms = std::fabs(record.ElapsedDays) * MSecsPerDay;
    return share;
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
    auto found = FIndex.find(key);
    int index = found != FIndex.end() ? found->second : Count();
    if (found == FIndex.end()) {
        FTotals.emplace_back().Statement = std::move(key);
        FIndex.emplace(std::string_view(FTotals.back().Statement), index);
    }
    // Deques never move their elements: the keys may view them.
    std::string_view text = singleLine ? std::string_view(FTotals[static_cast<size_t>(index)].Statement)
                                       : std::string_view(FTexts.emplace_back(statement));
    FTextIndex.emplace(text, index);
    FLastText = text;
    return FLastIndex = index;
}

void TStatementTotals::Apply(const TShare& share, int sign)
{
    TStatementTotal& total = FTotals[static_cast<size_t>(share.Statement)];
    if (share.Action == TTraceAction::Execute)
        total.Executes += sign;
    else if (share.Action == TTraceAction::Fetch)
        total.Fetches += sign;
    else if (share.Action != TTraceAction::Prepare)
        total.LobCalls += sign;
    total.Rows += sign * share.Rows;
    total.Errors += sign * (share.Error ? 1 : 0);
    total.TotalMs += sign * share.Ms;
    // Taking a call back cannot tell which call was the longest before it.
    if (sign > 0)
        total.MaxMs = std::max(total.MaxMs, share.Ms);
    ++FVersion;
}

int TStatementTotals::Add(const TTraceRecord& record)
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
    FPending.Delivered(record, share);
    return share.Statement;
}

int TStatementTotals::Update(const TTraceRecord& record)
{
    std::optional<TShare> share = FPending.Updated(record);
    if (!share)
        return -1;
    Apply(*share, -1);
    // Counted again as it now stands, and still waiting if it is still pending.
    return Add(record);
}

void TStatementTotals::Clear()
{
    FLastIndex = -1;
    FLastText = {};
    FTextIndex.clear();
    FTexts.clear();
    FIndex.clear();
    FTotals.clear();
    FPending.Clear();
    ++FVersion;
}

int TStatementTotals::Find(std::string_view statement) const
{
    auto found = FIndex.find(statement);
    return found != FIndex.end() ? found->second : -1;
}

std::vector<int> TStatementTotals::Sorted(int column, bool descending) const
{
    std::vector<int> order(FTotals.size());
    std::iota(order.begin(), order.end(), 0);
    auto number = [&](int index) -> double {
        const TStatementTotal& t = Item(index);
        switch (column) {
        case scExecutes: return static_cast<double>(t.Executes);
        case scFetches: return static_cast<double>(t.Fetches);
        case scRows: return static_cast<double>(t.Rows);
        case scErrors: return static_cast<double>(t.Errors);
        case scTotalMs: return t.TotalMs;
        // A statement never executed has no average: below every average.
        case scAverageMs: return t.Executes ? t.TotalMs / t.Executes : -1.0;
        case scMaxMs: return t.MaxMs;
        }
        return 0;
    };
    auto before = [&](int a, int b) {
        if (column == scStatement)
            return descending ? Item(b).Statement < Item(a).Statement : Item(a).Statement < Item(b).Statement;
        return descending ? number(b) < number(a) : number(a) < number(b);
    };
    std::stable_sort(order.begin(), order.end(), before);
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

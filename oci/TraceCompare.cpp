#include "TraceCompare.h"

#include "Errors.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

std::string ChangeText(const TStatementChange& change)
{
    if (!change.InBefore)
        return "new";
    if (!change.InAfter)
        return "gone";
    if (change.TotalMsBefore <= 0)
        return change.TotalMsAfter <= 0 ? "x1.00" : std::string();
    return Format("x%.2f", change.TotalMsAfter / change.TotalMsBefore);
}

std::vector<TStatementChange> CompareTotals(const TStatementTotals& before, const TStatementTotals& after)
{
    std::vector<TStatementChange> changes;
    std::unordered_map<std::string, size_t> index;
    for (int k = 0; k < before.Count(); ++k) {
        const TStatementTotal& total = before.Item(k);
        index.emplace(total.Statement, changes.size());
        TStatementChange& change = changes.emplace_back();
        change.Statement = total.Statement;
        change.SqlId = total.SqlId;
        change.ExecutesBefore = total.Executes;
        change.TotalMsBefore = total.TotalMs;
        change.InBefore = true;
    }
    for (int k = 0; k < after.Count(); ++k) {
        const TStatementTotal& total = after.Item(k);
        auto [found, added] = index.emplace(total.Statement, changes.size());
        if (added) {
            TStatementChange& change = changes.emplace_back();
            change.Statement = total.Statement;
            change.SqlId = total.SqlId;
        }
        TStatementChange& change = changes[found->second];
        change.ExecutesAfter = total.Executes;
        change.TotalMsAfter = total.TotalMs;
        change.InAfter = true;
    }
    std::stable_sort(changes.begin(), changes.end(), [](const TStatementChange& a, const TStatementChange& b) {
        return std::fabs(b.TotalMsAfter - b.TotalMsBefore) < std::fabs(a.TotalMsAfter - a.TotalMsBefore);
    });
    return changes;
}

void AddTraceRows(TStatementTotals& totals, const std::vector<TTraceFileRow>& rows)
{
    for (const TTraceFileRow& row : rows)
        if (row.Mark.empty())
            totals.Add(row.Record);
}

std::string ComparisonText(const std::vector<TStatementChange>& changes)
{
    std::string text;
    for (const char* caption : ComparisonCaptions) {
        if (!text.empty())
            text += '\t';
        text += caption;
    }
    text += "\r\n";
    for (const TStatementChange& change : changes) {
        text += change.Statement + '\t' + change.SqlId + '\t' + std::to_string(change.ExecutesBefore) + '\t' +
                std::to_string(change.ExecutesAfter) + '\t' + MillisecondsText(change.TotalMsBefore) + '\t' +
                MillisecondsText(change.TotalMsAfter) + '\t' + ChangeText(change) + "\r\n";
    }
    return text;
}

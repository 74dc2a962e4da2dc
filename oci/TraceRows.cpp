#include "TraceRows.h"

#include "RunnableSql.h"

#include <cstdlib>
#include <string>
#include <vector>

std::string TraceCellText(const TTraceRecord& record, TTraceColumnId column)
{
    switch (column) {
    case tcAction: return ActionText(record);
    case tcTime: return ElapsedTimeText(record.ElapsedDays);
    case tcResult: return OCIResultText(record.Result);
    case tcStatement: return record.Statement;
    case tcRows: return record.Rows >= 0 ? std::to_string(record.Rows) : std::string();
    case tcBinds: return BindsText(record.Binds);
    case tcError: return record.Error;
    case TraceColumnCount: break;
    }
    return {};
}

TListRow TraceRecordRow(const TTraceRecord& record)
{
    TListRow row;
    row.Caption = TraceCellText(record, tcAction);
    row.SubItems.reserve(TraceColumnCount - 1);
    for (int column = 1; column < TraceColumnCount; ++column)
        row.SubItems.push_back(TraceCellText(record, static_cast<TTraceColumnId>(column)));
    row.Note = record.CommitsOnSuccess ? CommitsOnSuccessNote : record.Note;
    row.BindLines = BindMemoLines(record.Binds);
    row.ServerSqlId = record.ServerSqlId;
    row.Milliseconds = record.ElapsedDays * 86400000.0;
    return row;
}

std::string ExecuteAsSql(const TTraceRecord& record)
{
    if (record.Action != TTraceAction::Execute)
        return {};
    if (record.Binds.Empty())
        return RunnableStatement(record.Statement, {});
    std::string text;
    for (const std::vector<TBindItem>& row : record.Binds.Rows) {
        std::vector<TSqlValue> values;
        values.reserve(row.size());
        for (const TBindItem& item : row)
            values.push_back({item.Name, item.Value});
        text += RunnableStatement(record.Statement, values);
    }
    return text;
}

namespace {

std::string_view TrimBlanks(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsLetter(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

} // namespace

std::optional<double> MillisecondsOf(std::string_view text)
{
    text = TrimBlanks(text);
    size_t digits = 0, dots = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++dots;
        else
            return std::nullopt;
    }
    if (digits == 0 || dots > 1)
        return std::nullopt;
    return std::strtod(std::string(text).c_str(), nullptr);
}

std::optional<double> SlowerThanMs(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.substr(0, 2) != ">=")
        return std::nullopt;
    text = TrimBlanks(text.substr(2));
    if (text.size() < 2 || !IsLetter(text[text.size() - 2], 'm') || !IsLetter(text.back(), 's'))
        return std::nullopt;
    return MillisecondsOf(text.substr(0, text.size() - 2));
}

#include "TraceRows.h"

#include "RunnableSql.h"

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

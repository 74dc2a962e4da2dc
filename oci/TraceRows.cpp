#include "TraceRows.h"

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

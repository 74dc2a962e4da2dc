// The row of a trace record, shared by the main window and the capture tool.
#pragma once

#include "OCITexts.h"
#include "RowExport.h"
#include "TraceColumns.h"
#include "TraceRecord.h"

#include <optional>
#include <string>
#include <string_view>

// The text of a record's cell in a column of TraceColumns: Rows is empty while not known.
std::string TraceCellText(const TTraceRecord& record, TTraceColumnId column);
// The row of one trace record, a cell per column of TraceColumns; for the memo, its binds
// a line each, and its note: of an execute that commits on success, else the record's own.
TListRow TraceRecordRow(const TTraceRecord& record);

// An execute as statements that can be run: its statement with the values of each row its
// Binds cell shows pasted in (RunnableStatement), one statement per row; the statement as
// it is, made runnable, when it had no binds. Empty for any other record.
std::string ExecuteAsSql(const TTraceRecord& record);
// A number of milliseconds as typed: digits with at most one decimal point, blanks around
// it allowed; none for anything else.
std::optional<double> MillisecondsOf(std::string_view text);
// The least time of a slow-calls filter, ">=N ms" (N as MillisecondsOf takes it; the case
// of "ms" does not matter); none for any other text.
std::optional<double> SlowerThanMs(std::string_view text);

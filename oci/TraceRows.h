// The row of a trace record, shared by the main window and the capture tool.
#pragma once

#include "OCITexts.h"
#include "RowExport.h"
#include "TraceRecord.h"

// The row of one trace record: Action, Time, Result, Statement, then Rows (empty while
// not known), Binds and Error; and the memo's note: of an execute that commits on success,
// else the record's own.
TListRow TraceRecordRow(const TTraceRecord& record);

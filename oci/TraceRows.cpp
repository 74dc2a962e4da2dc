#include "TraceRows.h"

TListRow TraceRecordRow(const TTraceRecord& record)
{
    return TListRow{ActionText(record),
                    {ElapsedTimeText(record.ElapsedDays), OCIResultText(record.Result), record.Statement},
                    record.CommitsOnSuccess ? CommitsOnSuccessNote : ""};
}

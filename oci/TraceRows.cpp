#include "TraceRows.h"

#include <string>

TListRow TraceRecordRow(const TTraceRecord& record)
{
    return TListRow{ActionText(record),
                    {ElapsedTimeText(record.ElapsedDays), OCIResultText(record.Result), record.Statement,
                     record.Rows >= 0 ? std::to_string(record.Rows) : std::string(), record.Binds, record.Error},
                    record.CommitsOnSuccess ? CommitsOnSuccessNote : record.Note};
}

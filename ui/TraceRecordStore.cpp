#include "TraceRecordStore.h"

void TTraceRecordStore::AddMark(const std::string& caption)
{
    TStored row{};
    row.Text = FPool.Intern(caption);
    row.Mark = true;
    FRows.push_back(row);
}

void TTraceRecordStore::Set(int index, const TTraceRecord& record)
{
    TStored& row = FRows[static_cast<size_t>(index)];
    uint32_t binds = row.Binds;
    row = TStored{record.StartMicroseconds, record.Rows, record.ElapsedDays,   record.Result,
                  record.FetchRows,         record.Thread, FPool.Intern(record.Statement),
                  FPool.Intern(record.Error), FPool.Intern(record.Note), 0, record.Action,
                  record.CommitsOnSuccess, false};
    // An update may bring binds, never take them back.
    if (!binds && !record.Binds.Empty()) {
        FBinds.push_back(record.Binds);
        binds = static_cast<uint32_t>(FBinds.size());
    } else if (binds && !record.Binds.Empty()) {
        FBinds[binds - 1] = record.Binds;
    }
    row.Binds = binds;
}

TTraceFileRow TTraceRecordStore::Row(int index) const
{
    const TStored& row = FRows[static_cast<size_t>(index)];
    TTraceFileRow out;
    if (row.Mark) {
        out.Mark = FPool.Text(row.Text);
        return out;
    }
    TTraceRecord& record = out.Record;
    record.Action = row.Action;
    record.StartMicroseconds = row.StartMicroseconds;
    record.Rows = row.Rows;
    record.ElapsedDays = row.ElapsedDays;
    record.Result = row.Result;
    record.FetchRows = row.FetchRows;
    record.Thread = row.Thread;
    record.Statement = FPool.Text(row.Text);
    record.Error = FPool.Text(row.Error);
    record.Note = FPool.Text(row.Note);
    record.CommitsOnSuccess = row.CommitsOnSuccess;
    if (row.Binds)
        record.Binds = FBinds[row.Binds - 1];
    return out;
}

void TTraceRecordStore::Clear()
{
    FRows.clear();
    FBinds.clear();
    FBinds.shrink_to_fit();
    FPool.Clear();
}

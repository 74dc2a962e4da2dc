#include "OCIWaits.h"

#include <iterator>

void TOCIWaits::Deliver(TTraceRecord record, DWORD thread, TAddress errorHandle, TAddress stmt, bool waitsError,
                        bool waitsRows, bool waitsSqlId)
{
    // One record waits per thread; one still waiting here was made by a call nested in
    // this one, and waits no longer.
    Finish(thread);
    record.Pending = waitsError || waitsRows || waitsSqlId;
    if (record.Pending)
        FWaits[thread] = TWait{record, errorHandle, stmt, waitsError, waitsRows, waitsSqlId};
    FEvents.TraceRecord(std::move(record));
}

bool TOCIWaits::WaitsForError(DWORD thread, TAddress errorHandle) const
{
    auto wait = FWaits.find(thread);
    return wait != FWaits.end() && wait->second.Error && wait->second.ErrorHandle == errorHandle;
}

bool TOCIWaits::WaitsForRows(DWORD thread, TAddress stmt) const
{
    auto wait = FWaits.find(thread);
    return wait != FWaits.end() && wait->second.Rows && wait->second.Statement == stmt;
}

bool TOCIWaits::WaitsForSqlId(DWORD thread, TAddress stmt) const
{
    auto wait = FWaits.find(thread);
    return wait != FWaits.end() && wait->second.SqlId && wait->second.Statement == stmt;
}

void TOCIWaits::SqlIdRead(DWORD thread, TAddress stmt, const std::string* id)
{
    if (!WaitsForSqlId(thread, stmt))
        return;
    auto wait = FWaits.find(thread);
    if (id)
        wait->second.Record.ServerSqlId = *id;
    wait->second.SqlId = false;
    Update(wait);
}

void TOCIWaits::ErrorRead(DWORD thread, TAddress errorHandle, const std::string* text)
{
    if (!WaitsForError(thread, errorHandle))
        return;
    auto wait = FWaits.find(thread);
    if (text)
        wait->second.Record.Error = *text;
    wait->second.Error = false;
    Update(wait);
}

void TOCIWaits::RowsRead(DWORD thread, TAddress stmt, uint32_t attribute, uint64_t value)
{
    uint64_t counted = 0;
    if (attribute != OCI_ATTR_ROWS_FETCHED) {
        uint64_t& last = FRowCounts[stmt];
        counted = value >= last ? value - last : value;
        last = value;
    }
    if (!WaitsForRows(thread, stmt))
        return;
    auto wait = FWaits.find(thread);
    TTraceRecord& record = wait->second.Record;
    if (record.Action == TTraceAction::Fetch)
        record.Rows = static_cast<int64_t>(attribute == OCI_ATTR_ROWS_FETCHED ? value : counted);
    else if (attribute != OCI_ATTR_ROWS_FETCHED)
        record.Rows = static_cast<int64_t>(value);
    else
        return;  // rows fetched say nothing of an execute
    wait->second.Rows = false;
    Update(wait);
}

void TOCIWaits::HandleFreed(TAddress handle)
{
    FRowCounts.erase(handle);
    for (auto wait = FWaits.begin(); wait != FWaits.end();) {
        auto next = std::next(wait);
        bool error = wait->second.Error && wait->second.ErrorHandle == handle;
        bool rows = (wait->second.Rows || wait->second.SqlId) && wait->second.Statement == handle;
        if (error || rows) {
            wait->second.Error &= !error;
            wait->second.Rows &= !rows;
            wait->second.SqlId &= !rows;
            Update(wait);
        }
        wait = next;
    }
}

void TOCIWaits::SessionEnding()
{
    while (!FWaits.empty())
        Finish(FWaits.begin()->first);
}

void TOCIWaits::Finish(DWORD thread)
{
    auto wait = FWaits.find(thread);
    if (wait == FWaits.end())
        return;
    wait->second.Error = wait->second.Rows = wait->second.SqlId = false;
    Update(wait);
}

void TOCIWaits::Update(std::unordered_map<DWORD, TWait>::iterator wait)
{
    TTraceRecord record = wait->second.Record;
    record.Pending = wait->second.Error || wait->second.Rows || wait->second.SqlId;
    if (!record.Pending)
        FWaits.erase(wait);
    FEvents.TraceRecordUpdated(std::move(record));
}

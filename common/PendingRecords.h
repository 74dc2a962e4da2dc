// What a client keeps of each record that its update may still complete (the window: the
// record's row; the capture tool: its held row; the statement totals: what it added), by
// the record's serial.
#pragma once

#include "TraceRecord.h"

#include <optional>
#include <unordered_map>

template <class T>
class TPendingRecords {
public:
    // A record delivered: kept with value while it is pending. Serials start again with
    // every session, so a record of an earlier session still waiting gives way to a new
    // one of its number.
    void Delivered(const TTraceRecord& record, T value)
    {
        if (record.Pending)
            FWaiting[record.Serial] = std::move(value);
        else if (!FWaiting.empty())
            FWaiting.erase(record.Serial);
    }
    // An update: what was kept of its record, nothing for a record not waiting here. The
    // record waits no longer once an update is not pending.
    std::optional<T> Updated(const TTraceRecord& update)
    {
        auto found = FWaiting.find(update.Serial);
        if (found == FWaiting.end())
            return std::nullopt;
        std::optional<T> value = found->second;
        if (!update.Pending)
            FWaiting.erase(found);
        return value;
    }
    void Clear() { FWaiting.clear(); }

private:
    std::unordered_map<uint64_t, T> FWaiting;
};

// A host and an event sink for testing a call tracer against a process made of bytes.
#pragma once

#include "CallTracer.h"
#include "FakeProcess.h"
#include "OCIEntries.h"
#include "TraceEvents.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

class TFakeHost : public IHookHost {
public:
    struct THook {
        int Id;
        bool Armed;
    };
    TProcessInfo& TargetProcess() override { return Process; }
    bool Target64() const override { return Is64; }
    void AddHook(TAddress address, int id, bool armed) override { Hooks[address] = THook{id, armed}; }
    void ArmHooks(int id, bool armed) override
    {
        for (auto& [address, hook] : Hooks)
            if (hook.Id == id)
                hook.Armed = armed;
    }
    void DropHooks(TAddress base, uint64_t size) override
    {
        for (auto it = Hooks.begin(); it != Hooks.end();)
            it = it->first - base < size ? Hooks.erase(it) : std::next(it);
    }
    void Warn(const std::string& text) override { Warnings.push_back(text); }

    TFakeProcess Process;
    bool Is64 = false;
    std::map<TAddress, THook> Hooks;
    std::vector<std::string> Warnings;
};

class TRecords : public ITraceEvents {
public:
    void SessionStarted(DWORD, const std::string&) override {}
    void TraceRecord(TTraceRecord record) override
    {
        Log.push_back(record);
        Records.push_back(std::move(record));
    }
    void TraceRecordUpdated(TTraceRecord record) override
    {
        Log.push_back(record);
        for (TTraceRecord& r : Records)
            if (r.Serial == record.Serial)
                r = record;
    }
    void SessionError(const std::string&) override {}
    void SessionWarning(const std::string&) override {}
    void SessionFinished(DWORD) override {}
    std::vector<TTraceRecord> Records;
    // Every delivery and update in order, as it came.
    std::vector<TTraceRecord> Log;
};

inline int HookId(const char* name)
{
    for (int i = 0; i < OCIEntryCount; ++i)
        if (std::strcmp(OCIEntries[i].Name, name) == 0)
            return i;
    return -1;
}


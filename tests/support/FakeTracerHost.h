// A host and an event sink for testing a call tracer against a process made of bytes.
#pragma once

#include "CallTracer.h"
#include "FakeProcess.h"
#include "OCIEntries.h"
#include "TargetCheck.h"
#include "TraceEvents.h"

#include <cstring>
#include <functional>
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
    void AddHook(TAddress address, const THookSpec& spec) override
    {
        Hooks[address] = THook{spec.Id, spec.Armed};
        Words[spec.Id] = spec.Words;
    }
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
    std::map<int, int> Words;
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

// A call of entry on thread, stopped at its entry in a 32-bit program: the stack at esp
// holds a return address and words (the arguments, an 8-byte one as two words), then
// zeros. work runs while the call is under way (as the library fills its out buffers);
// then the call returns result.
inline void CallTraced(ICallTracer& tracer, TFakeHost& host, TAddress esp, const char* entry,
                       const std::vector<uint32_t>& words, int32_t result, DWORD thread = 1,
                       const std::function<void()>& work = {})
{
    host.Process.PokeDword(esp, 0x00401234);
    for (size_t i = 0; i < TCallFrame::SlotCount - 1; ++i)
        host.Process.PokeDword(esp + 4 * (i + 1), i < words.size() ? words[i] : 0);
    TThreadContext context(nullptr, Tracer64);
    context.SetSp(esp);
    int id = HookId(entry);
    TCallFrame frame(host.Process, context, OCIEntries[id].Words(false));
    frame.ThreadId = thread;
    std::unique_ptr<TCallData> data = tracer.CallEntered(host, id, frame);
    if (work)
        work();
    if (data)
        tracer.CallReturned(host, id, *data, static_cast<uint32_t>(result), 0);
}

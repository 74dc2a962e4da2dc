// Threads of the traced process, each with the calls it has in flight.
#pragma once

#include "Arch.h"
#include "Errors.h"
#include "OwningList.h"
#include "SysProcs.h"

#include <windows.h>

#include <memory>
#include <vector>

// What a call tracer keeps of one call between its entry and its return.
class TCallData {
public:
    virtual ~TCallData() = default;
};

// A call whose return the tracer waits for: it returns to ReturnAddress with a stack
// pointer above EntrySp (the stack pointer at its entry).
struct TCallInFlight {
    TAddress ReturnAddress = 0;
    TAddress EntrySp = 0;
    // The entry it came through, for the call tracer.
    TAddress Entry = 0;
    int HookId = 0;
    std::unique_ptr<TCallData> Data;
    // Performance-counter ticks when the entry was seen, for hooks that time the call here.
    int64_t StartTicks = 0;
};

class TThreadInfo {
public:
    TThreadInfo(DWORD threadId, HANDLE handle) : ThreadId(threadId), Handle(handle) {}

    DWORD ThreadId;
    // From the thread's creation event; the system closes it, the record never does.
    HANDLE Handle;
    // Address of the patch this thread is stepping over (its trap flag is set), or 0.
    TAddress PendingAddress = 0;
    // Suspended by the tracer while another thread steps over a lifted patch.
    bool Frozen = false;
    // Calls in flight, outermost first.
    std::vector<TCallInFlight> Calls;

    // Calls at or below sp are over: a thread entering a call at sp has left them (by an
    // exception or a long jump). Their return addresses are handed to dropped.
    void DropCallsAtOrBelow(TAddress sp, std::vector<TAddress>& dropped);
    // The call returning to address with a stack pointer of sp (the one entered nearest
    // below sp); calls of this
    // thread deeper than it have been unwound and are dropped with it. False when no call
    // of this thread returns there.
    bool PopReturn(TAddress address, TAddress sp, TCallInFlight& call, std::vector<TAddress>& dropped);
    // The call entered with a stack pointer of entrySp through a stub (no return
    // address of its own); calls of this thread deeper than it are dropped with it.
    bool PopCall(TAddress entrySp, TCallInFlight& call, std::vector<TAddress>& dropped);

private:
    // Hands over the call at index; the deeper ones go, their return addresses to dropped.
    void TakeCall(size_t index, TCallInFlight& call, std::vector<TAddress>& dropped);
};

class TThreadInfos : public TOwningList<TThreadInfo> {
public:
    // Assertion failure of unit SysProcs for an id already listed.
    TThreadInfo* AddThread(DWORD threadId, HANDLE handle);
    int IndexOfThread(DWORD threadId) const;
    // An id that is not listed raises the list's index error.
    void RemoveThread(DWORD threadId);
    TThreadInfo* ThreadById(DWORD threadId) const;
    TThreadInfo* FindThread(DWORD threadId) const;
    bool AnyStepping() const;

    // Calls visit(context) with the registers of each thread that has them to read (the
    // system reads none of a thread on its way out). wow64: 32-bit threads of a 64-bit
    // tracer.
    template <class TVisit>
    void ForEachContext(bool wow64, TVisit&& visit) const
    {
        for (const auto& thread : *this) {
            TThreadContext context(thread->Handle, wow64);
            try {
                context.Read();
            } catch (const EOSError&) {
                continue;
            }
            visit(context);
        }
    }
};

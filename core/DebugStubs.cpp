// Calls through fast hooks, as the debug loop meets them: the stubs' reports (exceptions
// carrying a call's arguments or its result) and the log of calls taken late (see
// Stubs.h; the stubs themselves are TStubHooks').
#include "DebugCore.h"

// A report from a stub: a call entered or returned.
void TDebugThread::OnStubReport(const DEBUG_EVENT& event)
{
    TStubReport report = FStubs->Report(event.u.Exception.ExceptionRecord);
    // Calls logged before this one come first.
    ReadLog(report.LogHead);
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    if (!report.Entry) {
        TCallInFlight call;
        std::vector<TAddress> unwound;
        if (thread && thread->PopCall(report.EntrySp, call, unwound)) {
            ReleaseReturns(unwound);
            FTracer->CallReturned(*this, call.HookId, *call.Data, static_cast<uint32_t>(report.Frame[0]),
                                  report.ElapsedTicks);
        }
        return;
    }
    // A call that came in before its hook was dropped is not traced.
    auto hook = FHooks.find(report.Hook);
    if (hook == FHooks.end())
        return;
    // Arguments beyond those reported are read from the stack the call waits on.
    TCallFrame frame(*Process, FTarget64, report.EntrySp, report.Frame, report.Known);
    frame.ThreadId = event.dwThreadId;
    EnterStubCall(hook->first, hook->second, thread, frame);
}

void TDebugThread::EnterStubCall(TAddress address, THook& hook, TThreadInfo* thread, TCallFrame& frame)
{
    if (thread) {
        std::vector<TAddress> unwound;
        thread->DropCallsAtOrBelow(frame.Sp(), unwound);
        ReleaseReturns(unwound);
    }
    std::unique_ptr<TCallData> data = FTracer->CallEntered(*this, hook.Id, frame);
    if (data && thread)
        thread->Calls.push_back(TCallInFlight{0, frame.Sp(), address, hook.Id, std::move(data)});
}

void TDebugThread::ReadLog()
{
    FStubs->Log().Read([this](const TStubLogEntry& entry) { TakeLogEntry(entry); });
}

void TDebugThread::ReadLog(uint32_t head)
{
    FStubs->Log().Read(head, [this](const TStubLogEntry& entry) { TakeLogEntry(entry); });
}

// A call logged at its entry: every argument word and the bytes named were copied then.
void TDebugThread::TakeLogEntry(const TStubLogEntry& entry)
{
    auto hook = FHooks.find(FStubs->HookOf(entry.Page, entry.Slot));
    if (hook == FHooks.end())
        return;
    TCallFrame frame(*Process, FTarget64, entry.Sp, entry.Frame, hook->second.Words + 1);
    frame.ThreadId = entry.ThreadId;
    TLateEntry late = FTracer->LateEntry(hook->second.Id);
    if (late.BytesArg)
        frame.Capture(frame.Pointer(late.BytesArg), entry.Bytes);
    EnterStubCall(hook->first, hook->second, FThreads->FindThread(frame.ThreadId), frame);
}

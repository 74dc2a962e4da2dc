// Calls through stubs, as the debug loop meets them: the stubs' reports (exceptions
// carrying a call's arguments or its result) and the log of calls taken late, entries
// and, with logged hooks, returns (see Stubs.h; the stubs themselves are TStubHooks').
#include "DebugCore.h"

// A report from a stub: a call entered or returned.
void TDebugThread::OnStubReport(const DEBUG_EVENT& event)
{
    ++FCallStops;
    // The calls logged before this one came first: the loop reads the log before every
    // event.
    TStubReport report = FStubs->Report(event.u.Exception.ExceptionRecord);
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    if (!report.Entry) {
        ReturnStubCall(thread, report.EntrySp, static_cast<uint32_t>(report.Frame[0]), report.ElapsedTicks);
        return;
    }
    // A call that came in before its hook was dropped is not traced.
    auto hook = FHooks.find(report.Hook);
    if (hook == FHooks.end())
        return;
    // Arguments beyond those reported are read from the stack the call waits on.
    TCallFrame frame(*Process, FTarget64, report.EntrySp, report.Frame, report.Known);
    frame.ThreadId = event.dwThreadId;
    EnterCall(hook->first, hook->second, thread, frame, false);
}

void TDebugThread::ReturnStubCall(TThreadInfo* thread, TAddress entrySp, uint32_t result, int64_t elapsedTicks)
{
    TCallInFlight call;
    std::vector<TAddress> unwound;
    if (thread && thread->PopCall(entrySp, call, unwound))
        ReturnCall(call, unwound, result, elapsedTicks);
}

size_t TDebugThread::ReadLog()
{
    return FStubs->Log().Read([this](const TStubLogEntry& entry) { TakeLogEntry(entry); });
}

// A call logged at its entry (every argument word and the bytes named were copied then),
// or at its return.
void TDebugThread::TakeLogEntry(const TStubLogEntry& entry)
{
    TThreadInfo* thread = FThreads->FindThread(entry.ThreadId);
    if (entry.Return) {
        ReturnStubCall(thread, entry.Sp, static_cast<uint32_t>(entry.Frame[0]), static_cast<int64_t>(entry.Frame[1]));
        return;
    }
    auto hook = FHooks.find(FStubs->HookOf(entry.Page, entry.Slot));
    if (hook == FHooks.end())
        return;
    TCallFrame frame(*Process, FTarget64, entry.Sp, entry.Frame, hook->second.Words + 1);
    frame.ThreadId = entry.ThreadId;
    TLateEntry late = FTracer->LateEntry(hook->second.Id);
    if (late.BytesArg)
        frame.Capture(frame.Pointer(late.BytesArg), entry.Bytes);
    EnterCall(hook->first, hook->second, thread, frame, false);
}

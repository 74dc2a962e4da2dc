// Leaving a live process (a Stop of an attach session, a failure): every patch is
// lifted, the event in hand is continued as if the tracer had never been there, and the
// events of threads still stepping are consumed, so that neither an int3 nor a trap
// flag of ours is left behind (the system kills a program detached with one set).
#include "DebugCore.h"

#include "Errors.h"

#include <algorithm>

void TDebugThread::ReleaseProcess()
{
    ThawThreads();
    if (!Process || !Process->IsRunning() || !FStubs)
        return;
    std::vector<DWORD> stepping;
    for (const auto& thread : *FThreads)
        if (thread->PendingAddress)
            stepping.push_back(thread->ThreadId);
    TFirstError errors;
    // Nothing of the program runs while its code is put back: a thread could meet half
    // of a restored jump, or pass a guard that is being cleared.
    for (const auto& thread : *FThreads)
        Freeze(*thread);
    // Calls logged so far are delivered; those still in flight finish untraced.
    errors.Attempt([this] { ReadLog(); });
    LiftPatches(errors);
    errors.Attempt([this] { FCells->Free(); });
    ThawThreads();
    if (FEventInHand) {
        FEventInHand = false;
        ContinueSettled(FEvent, stepping, errors);
    }
    DrainSteps(stepping, errors);
    errors.Rethrow();
}

void TDebugThread::LiftPatches(TFirstError& errors)
{
    FStubs->Lift(errors);
    FHooks.clear();
    for (const auto& thread : *FThreads)
        thread->Calls.clear();
    errors.Attempt([this] { FPatches->RestoreAll(); });
}

// Continues one event so that the thread runs on as if the tracer had never been there.
TDebugThread::TContinue TDebugThread::SettleEvent(const DEBUG_EVENT& event, std::vector<DWORD>& stepping)
{
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    switch (event.dwDebugEventCode) {
    case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        DWORD code = record.ExceptionCode;
        // Every patch has been lifted: no int3 is ours any more.
        if (IsBreakpoint(code))
            return OnForeignBreakpoint(PointerAddress(record.ExceptionAddress), thread, code == Wx86Breakpoint);
        // A stub's report raised before its guard was cleared: the stub goes on by itself.
        if (FStubs->IsReport(record))
            return TContinue::Handled;
        if (IsSingleStep(code)) {
            auto at = std::find(stepping.begin(), stepping.end(), event.dwThreadId);
            if (at != stepping.end() && thread) {
                stepping.erase(at);
                thread->PendingAddress = 0;
                TThreadContext context = ContextOf(*thread);
                context.Read();
                context.SetFlags(context.Flags() & ~TrapFlag);
                context.Flush();
            }
            return TContinue::Handled;
        }
        return TContinue::ToProgram;
    }
    case CREATE_THREAD_DEBUG_EVENT:
        if (event.u.CreateThread.hThread && !thread)
            FThreads->AddThread(event.dwThreadId, event.u.CreateThread.hThread);
        return TContinue::Handled;
    case EXIT_THREAD_DEBUG_EVENT:
        if (thread)
            FThreads->RemoveThread(event.dwThreadId);
        stepping.erase(std::remove(stepping.begin(), stepping.end(), event.dwThreadId), stepping.end());
        return TContinue::Handled;
    case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        return TContinue::Handled;
    case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        return TContinue::Handled;
    default:
        return TContinue::Handled;
    }
}

void TDebugThread::ContinueSettled(const DEBUG_EVENT& event, std::vector<DWORD>& stepping, TFirstError& errors)
{
    TContinue result = TContinue::Handled;
    errors.Attempt([&] { result = SettleEvent(event, stepping); });
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, ContinueStatus(result));
}

// Threads still stepping report within an instruction, and so do threads already on their
// way into a stub's raise; then the queue falls quiet.
void TDebugThread::DrainSteps(std::vector<DWORD>& stepping, TFirstError& errors)
{
    DWORD deadline = GetTickCount() + 3000;
    DWORD quiet = FStubs->Empty() ? 0 : 100;
    DEBUG_EVENT event;
    while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
        if (!WaitForDebugEvent(&event, stepping.empty() ? quiet : 50)) {
            if (stepping.empty())
                break;
            continue;
        }
        ContinueSettled(event, stepping, errors);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
}

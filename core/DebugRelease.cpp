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
    if (!Process || !Process->IsRunning())
        return;
    std::vector<DWORD> stepping;
    for (const auto& thread : *FThreads)
        if (thread->PendingAddress)
            stepping.push_back(thread->ThreadId);
    std::exception_ptr firstError;
    // Nothing of the program runs while its code is put back: a thread could meet half
    // of a restored jump, or pass a guard that is being cleared.
    for (const auto& thread : *FThreads)
        Freeze(*thread);
    LiftPatches(firstError);
    try {
        FreeCells();
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
    ThawThreads();
    if (FEventInHand) {
        FEventInHand = false;
        ContinueSettled(FEvent, stepping, firstError);
    }
    DrainSteps(stepping, firstError);
    if (firstError)
        std::rethrow_exception(firstError);
}

void TDebugThread::LiftPatches(std::exception_ptr& firstError)
{
    LiftStubs(firstError);
    FHooks.clear();
    for (const auto& thread : *FThreads)
        thread->Calls.clear();
    try {
        FPatches->RestoreAll();
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
}

// The cells of instructions run out of line go. A thread that stands in one (it is held
// with the others) goes back to the instruction's own place, whose bytes are the
// program's again, or on behind it once it has run the copy.
void TDebugThread::FreeCells()
{
    if (FCellPages.empty())
        return;
    ForEachContext([&](TThreadContext& context) {
        TAddress ip = context.Ip();
        for (const auto& [cell, origin] : FCellOrigins) {
            if (ip - cell >= OutOfLineCellSize)
                continue;
            context.SetIp(ip == cell ? origin.Address : origin.Address + origin.Length);
            context.Flush();
            break;
        }
    });
    for (TAddress page : FCellPages)
        VirtualFreeEx(Process->Handle.get(), AddressPointer(page), 0, MEM_RELEASE);
    FCellPages.clear();
    FCellOrigins.clear();
    FOutOfLine.clear();
}

// Continues one event so that the thread runs on as if the tracer had never been there.
DWORD TDebugThread::SettleEvent(const DEBUG_EVENT& event, std::vector<DWORD>& stepping)
{
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    switch (event.dwDebugEventCode) {
    case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        TAddress address = PointerAddress(record.ExceptionAddress);
        DWORD code = record.ExceptionCode;
        if (code == EXCEPTION_BREAKPOINT || code == 0x4000001F) {
            if (FEverPatched.count(address)) {
                if (thread) {
                    TThreadContext context = ContextOf(*thread);
                    context.Read();
                    context.SetIp(address);
                    context.Flush();
                }
                return DBG_CONTINUE;
            }
            bool& systemSeen = code == 0x4000001F ? FWx86BreakpointSeen : FSystemBreakpointSeen;
            if (!systemSeen) {
                systemSeen = true;
                return DBG_CONTINUE;
            }
            return DBG_EXCEPTION_NOT_HANDLED;
        }
        // A stub's report raised before its guard was cleared: the stub goes on by itself.
        if (IsStubReport(record))
            return DBG_CONTINUE;
        if (code == EXCEPTION_SINGLE_STEP || code == 0x4000001E) {
            auto at = std::find(stepping.begin(), stepping.end(), event.dwThreadId);
            if (at != stepping.end() && thread) {
                stepping.erase(at);
                thread->PendingAddress = 0;
                TThreadContext context = ContextOf(*thread);
                context.Read();
                context.SetFlags(context.Flags() & ~TrapFlag);
                context.Flush();
            }
            return DBG_CONTINUE;
        }
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    case CREATE_THREAD_DEBUG_EVENT:
        if (event.u.CreateThread.hThread && !thread)
            FThreads->AddThread(event.dwThreadId, event.u.CreateThread.hThread);
        return DBG_CONTINUE;
    case EXIT_THREAD_DEBUG_EVENT:
        if (thread)
            FThreads->RemoveThread(event.dwThreadId);
        stepping.erase(std::remove(stepping.begin(), stepping.end(), event.dwThreadId), stepping.end());
        return DBG_CONTINUE;
    case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        return DBG_CONTINUE;
    case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        return DBG_CONTINUE;
    default:
        return DBG_CONTINUE;
    }
}

void TDebugThread::ContinueSettled(const DEBUG_EVENT& event, std::vector<DWORD>& stepping,
                                   std::exception_ptr& firstError)
{
    DWORD status = DBG_CONTINUE;
    try {
        status = SettleEvent(event, stepping);
    } catch (...) {
        if (!firstError)
            firstError = std::current_exception();
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
}

// Threads still stepping report within an instruction, and so do threads already on their
// way into a stub's raise; then the queue falls quiet.
void TDebugThread::DrainSteps(std::vector<DWORD>& stepping, std::exception_ptr& firstError)
{
    DWORD deadline = GetTickCount() + 3000;
    DWORD quiet = FStubPages.empty() ? 0 : 100;
    DEBUG_EVENT event;
    while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
        if (!WaitForDebugEvent(&event, stepping.empty() ? quiet : 50)) {
            if (stepping.empty())
                break;
            continue;
        }
        ContinueSettled(event, stepping, firstError);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
}

// The debug session: a thread of its own that starts or attaches to the traced
// process, runs the debug event loop, stops calls at their hooked entry points, catches
// their returns and reports through ITraceEvents only.
#pragma once

#include "CallTracer.h"
#include "Errors.h"
#include "Handles.h"
#include "OutOfLineCells.h"
#include "Patches.h"
#include "StubHooks.h"
#include "SysProcs.h"
#include "Threads.h"
#include "TraceEvents.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// A thread whose failures are reported instead of being lost. It is created
// suspended; its destructor ends it and waits for it.
class TSafeThread {
public:
    TSafeThread();
    virtual ~TSafeThread();
    TSafeThread(const TSafeThread&) = delete;
    TSafeThread& operator=(const TSafeThread&) = delete;

    void Resume();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    void WaitFor();

protected:
    virtual void Execute();
    virtual void SafeExecute() = 0;
    virtual void ReportFailure(std::exception_ptr error) = 0;
    // Ends the thread (also one never resumed) and waits; derived destructors call it
    // before they destroy what the thread uses.
    void EndThread();

private:
    static DWORD WINAPI ThreadProc(void* self);
    TUniqueHandle FHandle;
    std::atomic<bool> FTerminated{false};
    bool FResumed = false;
    std::atomic<bool> FSkipExecute{false};
};

class TDebugThread : public TSafeThread, private IHookHost {
public:
    // process: the record to attach to, or none for a run session. Events go to events,
    // which must outlive the thread.
    TDebugThread(std::shared_ptr<TProcessInfo> process, std::unique_ptr<ICallTracer> tracer, ITraceEvents& events);
    ~TDebugThread() override;

    // Resumes the thread and waits until the process has been created or attached,
    // or that has failed.
    void Start();

    // Full file name of a module: asked of the system, else taken from the module
    // file's handle (the system cannot name modules while the loader is busy).
    std::string ModuleFileName(TAddress base, HANDLE fileHandle = nullptr);

    std::shared_ptr<TProcessInfo> Process;
    // The traced process's exit code, once its exit event has been seen.
    DWORD ExitCode = STILL_ACTIVE;
    // Simple first instructions of entry points are carried out by the tracer instead of
    // being single-stepped (see EmulateFirstInstruction); tests turn it off to exercise
    // the stepping path that other entry points take.
    bool EmulatePrologues = true;
    // How entry points are hooked: an int3 at each (every call stops the thread twice,
    // with a context read and write each time), or, where the first instructions can be
    // moved, a jump to a stub of ours that reports the call and its return by raising an
    // exception that carries the arguments (no context or stack reads).
    //
    // Logged hooks go further: a call the tracer can take late writes its entry and its
    // return to a log in the program, which the loop reads at every event and whenever
    // the program has been quiet for a poll interval; such a call stops nothing unless
    // the log is full or the call's bytes must be read while it waits.
    THookKind Hooks = THookKind::Breakpoint;
    // The entries of the log of late calls (a power of two); 0: the hook kind's own
    // size. Tests make it small to see it fill.
    uint32_t LogEntries = 0;
    // Calls that stopped the program at a stub (a report raised at their entry or return).
    uint64_t CallStops() const { return FCallStops.load(); }

protected:
    void SafeExecute() override;
    void ReportFailure(std::exception_ptr error) override;
    // A failure before the loop: signal the start, report the error and the end.
    void StartFailed(std::exception_ptr error);
    // The process being debugged: its record takes over processHandle.
    void AdoptProcess(DWORD processId, HANDLE processHandle, std::string image);
    // wow64: a 32-bit program traced by the 64-bit tracer.
    void SetTargetBitness(bool wow64);

    ITraceEvents& Events;
    TUniqueHandle StartedEvent;

private:
    // One hooked entry point.
    struct THook {
        int Id = 0;
        int Words = 0;
        // Fast, Log: through a stub (FStubs); Breakpoint: an int3 in the patch table.
        THookKind Kind = THookKind::Breakpoint;
        bool Armed = false;
        // The entry point's first code bytes, read before it was armed: the debug loop
        // carries out some first instructions itself.
        bool PrologueKnown = false;
        unsigned char Prologue[16] = {};
    };

    // IHookHost
    TProcessInfo& TargetProcess() override { return *Process; }
    bool Target64() const override { return FTarget64; }
    void AddHook(TAddress address, const THookSpec& spec) override;
    void ArmHooks(int id, bool armed) override;
    void DropHooks(TAddress base, uint64_t size) override;
    void Warn(const std::string& text) override;

    // The state the loop drives, made once the process and its bitness are known.
    void MakeParts();

    // How an event is continued; ContinueStatus is the one place it becomes a DBG_* value.
    enum class TContinue {
        // The thread runs on as the tracer left it (DBG_CONTINUE).
        Handled,
        // An exception goes to the program's own handlers, as it would without a debugger
        // (DBG_EXCEPTION_NOT_HANDLED, also what the loop gives events that are not
        // exceptions, for which the system ignores it).
        ToProgram,
    };
    static DWORD ContinueStatus(TContinue result);
    // What 32-bit programs report to a 64-bit debugger for their breakpoints and steps.
    static constexpr DWORD Wx86Breakpoint = 0x4000001F;
    static constexpr DWORD Wx86SingleStep = 0x4000001E;
    static bool IsBreakpoint(DWORD code) { return code == EXCEPTION_BREAKPOINT || code == Wx86Breakpoint; }
    static bool IsSingleStep(DWORD code) { return code == EXCEPTION_SINGLE_STEP || code == Wx86SingleStep; }

    TContinue OnException(const DEBUG_EVENT& event);
    TContinue OnCreateThread(const DEBUG_EVENT& event);
    TContinue OnCreateProcess(const DEBUG_EVENT& event);
    TContinue OnExitThread(const DEBUG_EVENT& event);
    TContinue OnExitProcess(const DEBUG_EVENT& event);
    TContinue OnLoadDll(const DEBUG_EVENT& event);
    TContinue OnUnloadDll(const DEBUG_EVENT& event);
    TContinue OnBreakpoint(TAddress address, DWORD threadId, bool wx86);
    // An int3 that is not one of ours, or no longer: met by thread (none: a thread the
    // list does not hold) at address. The one rule for them, in the loop and when the
    // process is let go.
    TContinue OnForeignBreakpoint(TAddress address, TThreadInfo* thread, bool wx86);
    TContinue OnSingleStep(DWORD threadId);
    // A report of one of the stubs (DebugStubs.cpp): a call entered or returned.
    void OnStubReport(const DEBUG_EVENT& event);

    // The calls in flight, however their entries and returns reach the loop (an int3, a
    // stub's report, the log). At its entry: the calls of its thread that it has unwound
    // dropped, the tracer told, the call kept while the tracer waits for its return
    // (none kept without a thread: one that ended before its logged entry was read).
    // catchReturn: an int3 at the return address is to catch the return, timed from now.
    void EnterCall(TAddress address, const THook& hook, TThreadInfo* thread, TCallFrame& frame, bool catchReturn);
    // At its return (popped from its thread with the calls deeper than it, unwound):
    // those calls' return patches released, the call's own, and the tracer told.
    void ReturnCall(TCallInFlight& call, const std::vector<TAddress>& unwound, uint32_t result, int64_t elapsedTicks);

    // Int3 hooks and the calls they stop (DebugCalls.cpp).
    void SetArmed(TAddress address, THook& hook, bool armed);
    void OnHookBreakpoint(TAddress address, THook& hook, TThreadInfo& thread, TThreadContext& context);
    bool OnReturnBreakpoint(TAddress address, TThreadInfo& thread, TThreadContext& context);
    void StepOver(TAddress address, TThreadInfo& thread, TThreadContext& context);
    bool RunOutOfLine(TAddress address, TThreadContext& context);
    // The cell that runs the instruction at address out of line; 0 when it cannot run
    // elsewhere or first instructions are to be stepped.
    TAddress OutOfLineCell(TAddress address);
    void ReleaseReturns(const std::vector<TAddress>& returnAddresses);
    bool KeepsReturnIdle(TAddress address);
    // The idle return patches in an unloaded module's code go without a write.
    void ForgetReturnSites(TAddress imageBase);
    void FreezeOtherThreads(DWORD threadId);
    void Freeze(TThreadInfo& thread);
    void Thaw(TThreadInfo& thread);
    void ThawThreads();
    TThreadContext ContextOf(const TThreadInfo& thread) const;

    // Calls through stubs (DebugStubs.cpp): the calls the log holds up to the head it
    // holds now handed to the tracer, in order. Returns the entries read.
    size_t ReadLog();
    void TakeLogEntry(const TStubLogEntry& entry);
    // The call of thread entered with a stack pointer of entrySp has returned.
    void ReturnStubCall(TThreadInfo* thread, TAddress entrySp, uint32_t result, int64_t elapsedTicks);

    // Leaving a live process (DebugRelease.cpp): every patch lifted, the event in hand
    // continued soundly, and the events of threads still stepping consumed, so that
    // neither an int3 nor a trap flag of ours is left behind.
    void ReleaseProcess();
    void LiftPatches(TFirstError& errors);
    TContinue SettleEvent(const DEBUG_EVENT& event, std::vector<DWORD>& stepping);
    void ContinueSettled(const DEBUG_EVENT& event, std::vector<DWORD>& stepping, TFirstError& errors);
    void DrainSteps(std::vector<DWORD>& stepping, TFirstError& errors);
    void EndSteps();

    std::unique_ptr<ICallTracer> FTracer;
    std::unique_ptr<TThreadInfos> FThreads;
    std::unique_ptr<TPatchTable> FPatches;
    std::unordered_map<TAddress, THook> FHooks;
    std::unique_ptr<TStubHooks> FStubs;
    std::unique_ptr<TOutOfLineCells> FCells;
    // Return sites asked about keeping their patch idle, with the image they lie in (0:
    // none, never kept).
    std::unordered_map<TAddress, TAddress> FReturnImages;
    TUniqueHandle FImageFile;
    bool FTarget64 = false;
    bool FWow64Target = false;
    // The first breakpoint of a session is the system's (the initial one, or the
    // break-in of an attach) and is swallowed; every other that is not ours goes back to
    // the program as it would without a debugger.
    bool FSystemBreakpointSeen = false;
    // A 32-bit program under the 64-bit tracer has a second one, of its 32-bit side.
    bool FWx86BreakpointSeen = false;
    DEBUG_EVENT FEvent{};
    bool FEventInHand = false;
    std::atomic<uint64_t> FCallStops{0};
};

class TRunThread : public TDebugThread {
public:
    TRunThread(std::string commandLine, std::unique_ptr<ICallTracer> tracer, ITraceEvents& events,
               std::string currentDirectory = {});
    std::string CommandLine;
    // The folder the program starts in; empty: the tracer's own current folder.
    std::string CurrentDirectory;

protected:
    void SafeExecute() override;
};

class TAttachThread : public TDebugThread {
public:
    TAttachThread(std::shared_ptr<TProcessInfo> process, std::unique_ptr<ICallTracer> tracer, ITraceEvents& events);
    // Turns kill-on-exit off and stops debugging the process.
    void Detach();

protected:
    void SafeExecute() override;
};

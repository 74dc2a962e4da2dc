// The debug session: a thread of its own that starts or attaches to the traced
// process, runs the debug event loop, steps over breakpoints, catches returns and
// reports to the main window by posted messages only.
#pragma once

#include "DebugMessages.h"
#include "SysProcs.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// Bits of a trace mask.
constexpr BYTE TraceMaskPrepare = 1;
constexpr BYTE TraceMaskExecute = 2;
constexpr BYTE TraceMaskFetch = 4;

// A thread whose unhandled failure is shown by the main thread instead of being lost.
// It is created suspended; its destructor ends it and waits for it.
class TSafeThread {
public:
    TSafeThread();
    virtual ~TSafeThread();
    TSafeThread(const TSafeThread&) = delete;
    TSafeThread& operator=(const TSafeThread&) = delete;

    void Resume();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    // Waits for the thread's end; on the main thread it serves the thread's
    // synchronized calls meanwhile, so that an error being shown cannot deadlock.
    void WaitFor();

    // The failure being shown.
    std::exception_ptr Error;

protected:
    virtual void Execute();
    virtual void SafeExecute() = 0;
    // Shows Error through the application's error display on the main thread and waits.
    void ShowError();
    // Shows error as Error, then forgets it.
    void ReportFailure(std::exception_ptr error);
    // Ends the thread (also one never resumed) and waits; derived destructors call it
    // before they destroy what the thread uses.
    void EndThread();

private:
    static DWORD WINAPI ThreadProc(void* self);
    HANDLE FHandle = nullptr;
    std::atomic<bool> FTerminated{false};
    bool FResumed = false;
    std::atomic<bool> FSkipExecute{false};
};

class TDebugThread : public TSafeThread {
public:
    // process: the record to attach to, or none for a run session.
    explicit TDebugThread(std::shared_ptr<TProcessInfo> process);
    ~TDebugThread() override;

    // Resumes the thread and waits until the process has been created or attached,
    // or that has failed.
    void Start();

    // Full file name of a module: asked of the system, else taken from the module
    // file's handle (the system cannot name modules while the loader is busy).
    std::string ModuleFileName(DWORD base, HANDLE fileHandle = nullptr);

    std::shared_ptr<TProcessInfo> Process;
    std::unique_ptr<TBreakpoints> Breakpoints;
    std::unique_ptr<TThreadInfos> Threads;
    HANDLE StartedEvent = nullptr;
    BYTE TraceMask = 0;
    // The traced process's exit code, once its exit event has been seen.
    DWORD ExitCode = STILL_ACTIVE;
    // Simple first instructions of entry points are carried out by the tracer instead of
    // being single-stepped (see EmulateFirstInstruction); tests turn it off to exercise
    // the stepping path that other entry points take.
    bool EmulatePrologues = true;

protected:
    // The debug loop.
    void SafeExecute() override;
    // A failure before the loop: signal the start, show the error, post the end.
    void StartFailed(std::exception_ptr error);

    // OCI steps run at fixed points of the loop.
    void OCISessionStart();
    void OCIModuleLoad(DWORD base, const std::string& fileName);
    void OCIModuleUnload(DWORD base, const std::string& fileName);
    void OCISessionEnd();
    void PlantOCIBreakpoints(DWORD base);

private:
    DWORD OnException(const DEBUG_EVENT& event);
    DWORD OnCreateThread(const DEBUG_EVENT& event);
    DWORD OnCreateProcess(const DEBUG_EVENT& event);
    DWORD OnExitThread(const DEBUG_EVENT& event);
    DWORD OnExitProcess(const DEBUG_EVENT& event);
    DWORD OnLoadDll(const DEBUG_EVENT& event);
    DWORD OnUnloadDll(const DEBUG_EVENT& event);
    DWORD OnBreakpoint(DWORD address, DWORD threadId);
    DWORD OnSingleStep(DWORD threadId);

    void EnterCall(TBreakpoint* bp, TThreadInfo* thread, CONTEXT& context);
    void ReturnFromCall(DWORD address, TThreadInfo* thread, CONTEXT& context);
    void StepOver(DWORD address, TThreadInfo* thread, CONTEXT& context);
    bool EmulateFirstInstruction(TBreakpoint* bp, CONTEXT& context);
    void ClearBreakpoints();
    void FreezeOtherThreads(DWORD threadId);
    void Freeze(TThreadInfo& thread);
    void Thaw(TThreadInfo& thread);
    void ThawThreads();

    // Leaving a live process: every patch lifted, the event in hand continued soundly,
    // and the events of threads still stepping consumed, so that neither an int3 nor a
    // trap flag of ours is left behind.
    void ReleaseProcess();
    void EndSteps();
    void PostFinished();

    HANDLE FImageFile = nullptr;
    // Where the traced process's OCI.DLL lies, for its unload.
    DWORD FOCIBase = 0;
    DWORD FOCISize = 0;
    DEBUG_EVENT FEvent{};
    bool FEventInHand = false;
};

class TRunThread : public TDebugThread {
public:
    explicit TRunThread(std::string commandLine);
    std::string CommandLine;

protected:
    void SafeExecute() override;
};

class TAttachThread : public TDebugThread {
public:
    explicit TAttachThread(std::shared_ptr<TProcessInfo> process);
    // Turns kill-on-exit off and stops debugging the process.
    void Detach();

protected:
    void SafeExecute() override;
};

// "OCI.DLL" in any letter case as the file name part (after the last "\" or ":").
bool IsOCIModuleName(const std::string& fullName);
// Offset of an export of the local OCI module from its base.
DWORD OCIEntryOffset(const char* name);

#include "DebugCore.h"

#include "Errors.h"
#include "TargetCheck.h"
#include "Utils.h"

#include <cstring>

namespace {

constexpr const char* Unit = "DebugCore";
// Also how long records may wait in the event queue once the program falls quiet, and
// how long logged calls wait to be read while the program runs without an event.
constexpr DWORD PollInterval = 10;
// The wait while the program keeps logging calls: the log is read again soon, before it
// fills and stops a thread.
constexpr DWORD BusyPollInterval = 1;
// The log of logged hooks: 8192 entries of 2 KiB, 16 MiB shared with the program. A
// program that makes calls faster than the tracer takes them meets a full log sooner
// with a smaller one (each full log stops a thread until it is read).
constexpr uint32_t LoggedHookEntries = 8192;

// The file name of an open file, without the "\\?\" the system puts before it.
std::string FileNameOfHandle(HANDLE file)
{
    if (!file)
        return "";
    char path[1024] = {};
    DWORD n = GetFinalPathNameByHandleA(file, path, sizeof(path) - 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof(path))
        return "";
    std::string name(path, n);
    if (name.rfind("\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + name.substr(8);
    if (name.rfind("\\\\?\\", 0) == 0)
        return name.substr(4);
    return name;
}

} // namespace

// ---------------------------------------------------------------------------
// TSafeThread

TSafeThread::TSafeThread()
{
    FHandle.reset(CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, nullptr));
    if (!FHandle)
        RaiseLastOSError();
}

TSafeThread::~TSafeThread() { EndThread(); }

DWORD WINAPI TSafeThread::ThreadProc(void* self)
{
    auto* thread = static_cast<TSafeThread*>(self);
    if (!thread->FSkipExecute.load())
        thread->Execute();
    return 0;
}

void TSafeThread::Resume()
{
    FResumed = true;
    ResumeThread(FHandle.get());
}

void TSafeThread::EndThread()
{
    if (!FHandle)
        return;
    Terminate();
    if (!FResumed) {
        FSkipExecute.store(true);
        Resume();
    }
    WaitFor();
}

void TSafeThread::WaitFor() { WaitForSingleObject(FHandle.get(), INFINITE); }

void TSafeThread::Execute()
{
    try {
        SafeExecute();
    } catch (...) {
        ReportFailure(std::current_exception());
    }
}

// ---------------------------------------------------------------------------
// TDebugThread

TDebugThread::TDebugThread(std::shared_ptr<TProcessInfo> process, std::unique_ptr<ICallTracer> tracer,
                           ITraceEvents& events)
    : Process(std::move(process)), Events(events), StartedEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      FTracer(std::move(tracer)), FThreads(std::make_unique<TThreadInfos>())
{
    if (!StartedEvent)
        RaiseLastOSError();
    if (Process)
        FPatches = std::make_unique<TPatchTable>(*Process);
}

TDebugThread::~TDebugThread()
{
    // The thread must be gone before the lists it works on.
    EndThread();
}

void TDebugThread::Start()
{
    Resume();
    WaitForSingleObject(StartedEvent.get(), INFINITE);
}

void TDebugThread::ReportFailure(std::exception_ptr error) { Events.SessionError(ExceptionText(error)); }

void TDebugThread::StartFailed(std::exception_ptr error)
{
    SetEvent(StartedEvent.get());
    ReportFailure(error);
    Events.SessionFinished(ExitCode);
}

void TDebugThread::AdoptProcess(DWORD processId, HANDLE processHandle, std::string image)
{
    Process = std::make_shared<TProcessInfo>(processId, std::move(image), processHandle);
    FPatches = std::make_unique<TPatchTable>(*Process);
}

void TDebugThread::SetTargetBitness(bool wow64)
{
    FWow64Target = wow64;
    FTarget64 = Tracer64 && !wow64;
}

void TDebugThread::Warn(const std::string& text) { Events.SessionWarning(text); }

std::string TDebugThread::ModuleFileName(TAddress base, HANDLE fileHandle)
{
    VASSERT(Process, Unit);
    VASSERT(base != 0, Unit);
    using TGetName = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
    static TGetName getName = [] {
        HMODULE psapi = LoadLibraryA("PSAPI.dll");
        return psapi ? reinterpret_cast<TGetName>(reinterpret_cast<void*>(GetProcAddress(psapi, "GetModuleFileNameExA")))
                     : nullptr;
    }();
    char buffer[MAX_PATH + 1] = {};
    if (getName && getName(Process->Handle.get(), static_cast<HMODULE>(AddressPointer(base)), buffer, MAX_PATH))
        return buffer;
    // The system cannot name a module while the loader maps it (always under Wine, and on
    // Windows for modules loaded while the process starts); the file handle of the load
    // event can.
    return FileNameOfHandle(fileHandle);
}

TThreadContext TDebugThread::ContextOf(const TThreadInfo& thread) const
{
    return TThreadContext(thread.Handle, FWow64Target);
}

void TDebugThread::MakeParts()
{
    VASSERT(Process && FPatches, Unit);
    uint32_t logEntries = LogEntries                    ? LogEntries
                          : Hooks == THookKind::Log ? LoggedHookEntries
                                                    : TStubLogLayout::EntryCount;
    FStubs = std::make_unique<TStubHooks>(*Process, *FThreads, FTarget64, FWow64Target, logEntries);
    FCells = std::make_unique<TOutOfLineCells>(*Process, *FPatches, *FThreads, FTarget64, FWow64Target);
}

void TDebugThread::SafeExecute()
{
    SetEvent(StartedEvent.get());
    try {
        MakeParts();
        DEBUG_EVENT& event = FEvent;
        bool logging = false;
        while (!Terminated()) {
            if (!WaitForDebugEvent(&event, logging ? BusyPollInterval : PollInterval)) {
                logging = ReadLog() != 0;
                Events.Flush();
                continue;
            }
            FEventInHand = true;
            // Whatever the program stops for, the calls it logged before come first: a
            // thread's calls before its end, a module's before its unload (its hooks go
            // then, and with them what names its entries), all of them before the
            // process's end (the log outlives the program). The read stays here, before
            // the handlers and outside every call into the tracer: a read from inside one
            // (the tracer unhooking a module it is told has gone) would hand it calls
            // while it is in the middle of another. Nothing of the program runs until
            // the event is continued, so nothing more is logged meanwhile.
            ReadLog();
            TContinue result = TContinue::ToProgram;
            switch (event.dwDebugEventCode) {
            case EXCEPTION_DEBUG_EVENT: result = OnException(event); break;
            case CREATE_THREAD_DEBUG_EVENT: result = OnCreateThread(event); break;
            case CREATE_PROCESS_DEBUG_EVENT: result = OnCreateProcess(event); break;
            case EXIT_THREAD_DEBUG_EVENT: result = OnExitThread(event); break;
            case EXIT_PROCESS_DEBUG_EVENT: result = OnExitProcess(event); break;
            case LOAD_DLL_DEBUG_EVENT: result = OnLoadDll(event); break;
            case UNLOAD_DLL_DEBUG_EVENT: result = OnUnloadDll(event); break;
            default: break;
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, ContinueStatus(result));
            FEventInHand = false;
            Events.Flush(false);
        }
    } catch (...) {
        ReportFailure(std::current_exception());
    }
    EndSteps();
}

void TDebugThread::EndSteps()
{
    TFirstError errors;
    // Releasing a live process delivers the calls it logged last: the tracer ends after.
    errors.Attempt([this] { ReleaseProcess(); });
    errors.Attempt([this] { FTracer->SessionEnding(*this); });
    FHooks.clear();
    errors.Attempt([this] {
        if (FPatches && Process && Process->IsRunning())
            FPatches->RestoreAll();
    });
    if (errors)
        ReportFailure(errors.Error());
    FThreads->Clear();
    if (Process)
        Process->Clear();
    FImageFile.reset();
    Events.SessionFinished(ExitCode);
}

// ---------------------------------------------------------------------------
// Events

DWORD TDebugThread::ContinueStatus(TContinue result)
{
    return result == TContinue::Handled ? DBG_CONTINUE : DBG_EXCEPTION_NOT_HANDLED;
}

TDebugThread::TContinue TDebugThread::OnException(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    if (IsBreakpoint(record.ExceptionCode))
        return OnBreakpoint(PointerAddress(record.ExceptionAddress), event.dwThreadId,
                            record.ExceptionCode == Wx86Breakpoint);
    if (IsSingleStep(record.ExceptionCode))
        return OnSingleStep(event.dwThreadId);
    if (FStubs->IsReport(record)) {
        OnStubReport(event);
        return TContinue::Handled;
    }
    // The program's own exception: its handlers run as they would without us. Threads
    // frozen while a patch is lifted stay frozen: they would pass it unseen.
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnCreateThread(const DEBUG_EVENT& event)
{
    if (!event.u.CreateThread.hThread || FThreads->FindThread(event.dwThreadId))
        return TContinue::ToProgram;
    TThreadInfo* thread = FThreads->AddThread(event.dwThreadId, event.u.CreateThread.hThread);
    // A thread born while a patch is lifted waits with the others.
    if (FThreads->AnyStepping())
        Freeze(*thread);
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnCreateProcess(const DEBUG_EVENT& event)
{
    // The process and thread handles of the event are closed by the system; the image
    // file handle is ours to close.
    const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
    FImageFile.reset(info.hFile);
    if (info.hThread && !FThreads->FindThread(event.dwThreadId))
        FThreads->AddThread(event.dwThreadId, info.hThread);
    if (Process->FileName.empty())
        Process->FileName = ExtractFileName(FileNameOfHandle(info.hFile));
    Events.SessionStarted(Process->ProcessId, Process->FileName);
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnExitThread(const DEBUG_EVENT& event)
{
    // A thread the list never held (its creation event carried no handle) ends quietly.
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    if (!thread)
        return TContinue::ToProgram;
    FTracer->ThreadEnded(*this, event.dwThreadId);
    // Calls of a thread that has gone can never return.
    std::vector<TAddress> returns;
    for (const TCallInFlight& call : thread->Calls)
        returns.push_back(call.ReturnAddress);
    TAddress stepping = thread->PendingAddress;
    FThreads->RemoveThread(event.dwThreadId);
    ReleaseReturns(returns);
    // A thread that ended in the middle of its step never reports it: put its patch back.
    if (stepping) {
        FPatches->Resume(stepping);
        if (!FThreads->AnyStepping())
            ThawThreads();
    }
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnExitProcess(const DEBUG_EVENT& event)
{
    if (Process && event.dwProcessId == Process->ProcessId) {
        ExitCode = event.u.ExitProcess.dwExitCode;
        Terminate();
    }
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnLoadDll(const DEBUG_EVENT& event)
{
    const LOAD_DLL_DEBUG_INFO& info = event.u.LoadDll;
    TUniqueHandle file(info.hFile);
    TAddress base = PointerAddress(info.lpBaseOfDll);
    std::string name = ModuleFileName(base, info.hFile);
    if (Process->FindModule(base))
        Process->Delete(Process->IndexOfModule(base));
    Process->AddModule(base, file.release(), name);
    FTracer->ModuleLoaded(*this, *Process->FindModule(base));
    return TContinue::ToProgram;
}

TDebugThread::TContinue TDebugThread::OnUnloadDll(const DEBUG_EVENT& event)
{
    TAddress base = PointerAddress(event.u.UnloadDll.lpBaseOfDll);
    int index = Process->IndexOfModule(base);
    if (index == -1)
        return TContinue::ToProgram;
    std::unique_ptr<TModuleInfo> module = Process->Extract(index);
    // What the stubs logged of calls into the module was read before this event.
    FTracer->ModuleUnloaded(*this, *module);
    // Return patches left written in its code went with it: written back at the end,
    // they would land in whatever is mapped there by then.
    ForgetReturnSites(base);
    FPatches->ForgetOriginals();
    // The same goes for the instructions copied out of line.
    FCells->Forget();
    return TContinue::ToProgram;
}

// ---------------------------------------------------------------------------
// TRunThread, TAttachThread

TRunThread::TRunThread(std::string commandLine, std::unique_ptr<ICallTracer> tracer, ITraceEvents& events,
                       std::string currentDirectory)
    : TDebugThread(nullptr, std::move(tracer), events), CommandLine(std::move(commandLine)),
      CurrentDirectory(std::move(currentDirectory))
{
}

void TRunThread::SafeExecute()
{
    try {
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof(startup));
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info;
        std::string commandLine = CommandLine;
        // A program this build cannot trace is refused before it is started.
        bool wow64 = false;
        std::string program = ProgramOfCommandLine(commandLine);
        if (!program.empty())
            CheckProgramFile(program, wow64);
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS, nullptr,
                            CurrentDirectory.empty() ? nullptr : CurrentDirectory.c_str(), &startup, &info))
            RaiseLastOSError();
        // The process handle is kept for the session; the creation event brings its own
        // handle of the first thread.
        TUniqueHandle firstThread(info.hThread);
        AdoptProcess(info.dwProcessId, info.hProcess, "");
        BOOL isWow64 = FALSE;
        if (Tracer64 && IsWow64Process(info.hProcess, &isWow64))
            wow64 = isWow64 != FALSE;
        SetTargetBitness(wow64);
    } catch (...) {
        StartFailed(std::current_exception());
        return;
    }
    TDebugThread::SafeExecute();
}

TAttachThread::TAttachThread(std::shared_ptr<TProcessInfo> process, std::unique_ptr<ICallTracer> tracer,
                             ITraceEvents& events)
    : TDebugThread(std::move(process), std::move(tracer), events)
{
}

void TAttachThread::SafeExecute()
{
    try {
        VASSERT(Process, Unit);
        // Nothing is done to a process this build cannot debug: the 32-bit tracer would
        // bring a 64-bit program down.
        bool wow64 = false;
        CheckProcess(Process->Handle.get(), Process->ProcessId, wow64);
        SetTargetBitness(wow64);
        if (!DebugActiveProcess(Process->ProcessId))
            RaiseLastOSError();
    } catch (...) {
        StartFailed(std::current_exception());
        return;
    }
    TDebugThread::SafeExecute();
    Detach();
}

void TAttachThread::Detach()
{
    DebugSetProcessKillOnExit(FALSE);
    DebugActiveProcessStop(Process->ProcessId);
}

#include "DebugCore.h"

#include "DebugContext.h"

#include "Application.h"
#include "Errors.h"
#include "Handles.h"
#include "OCIBreaks.h"
#include "Utils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* Unit = "DebugCore";
constexpr DWORD PollInterval = 100;

// The tracer's own copy of the traced program's OCI.DLL, loaded only to learn the
// offsets of its exports. One per program: sessions never overlap.
HMODULE LocalOCIModule = nullptr;

} // namespace

// ---------------------------------------------------------------------------
// TSafeThread

TSafeThread::TSafeThread()
{
    FHandle = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (!FHandle)
        RaiseLastOSError();
}

TSafeThread::~TSafeThread()
{
    EndThread();
    CloseHandleAndZero(FHandle);
}

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
    ResumeThread(FHandle);
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

void TSafeThread::WaitFor()
{
    bool onMainThread = GetCurrentThreadId() == Application().MainThreadId();
    if (!onMainThread) {
        WaitForSingleObject(FHandle, INFINITE);
        return;
    }
    HANDLE handles[2] = {FHandle, Application().SyncEvent()};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        Application().CheckSynchronize();
}

void TSafeThread::Execute()
{
    try {
        SafeExecute();
    } catch (...) {
        ReportFailure(std::current_exception());
    }
}

void TSafeThread::ReportFailure(std::exception_ptr error)
{
    Error = error;
    ShowError();
    Error = nullptr;
}

void TSafeThread::ShowError()
{
    std::exception_ptr error = Error;
    try {
        Application().Synchronize([error] { Application().ShowException(error); });
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------
// TDebugThread

TDebugThread::TDebugThread(std::shared_ptr<TProcessInfo> process)
    : Process(std::move(process)), Breakpoints(std::make_unique<TBreakpoints>()),
      Threads(std::make_unique<TThreadInfos>()), StartedEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    if (!StartedEvent)
        RaiseLastOSError();
}

TDebugThread::~TDebugThread()
{
    // The thread must be gone before the lists it works on.
    EndThread();
    Breakpoints.reset();
    Threads.reset();
    CloseHandleAndZero(StartedEvent);
}

void TDebugThread::Start()
{
    Resume();
    WaitForSingleObject(StartedEvent, INFINITE);
}

void TDebugThread::StartFailed(std::exception_ptr error)
{
    SetEvent(StartedEvent);
    ReportFailure(error);
    PostFinished();
}

void TDebugThread::PostFinished() { PostMessageA(Application().MainWindow(), WM_DEBUG_FINISHED, 0, 0); }

std::string TDebugThread::ModuleFileName(DWORD base, HANDLE fileHandle)
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
    if (getName && getName(Process->Handle, reinterpret_cast<HMODULE>(static_cast<uintptr_t>(base)), buffer, MAX_PATH))
        return buffer;
    // The system cannot name a module while the loader maps it (always under Wine, and on
    // Windows for modules loaded while the process starts); the file handle of the load
    // event can.
    if (!fileHandle)
        return "";
    char path[1024] = {};
    DWORD n = GetFinalPathNameByHandleA(fileHandle, path, sizeof(path) - 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof(path))
        return "";
    std::string name(path, n);
    if (name.rfind("\\\\?\\UNC\\", 0) == 0)
        return "\\\\" + name.substr(8);
    if (name.rfind("\\\\?\\", 0) == 0)
        return name.substr(4);
    return name;
}

void TDebugThread::SafeExecute()
{
    SetEvent(StartedEvent);
    try {
        VASSERT(Process, Unit);
        OCISessionStart();
        DEBUG_EVENT& event = FEvent;
        while (!Terminated()) {
            if (!WaitForDebugEvent(&event, PollInterval))
                continue;
            FEventInHand = true;
            DWORD status = DBG_EXCEPTION_NOT_HANDLED;
            switch (event.dwDebugEventCode) {
            case EXCEPTION_DEBUG_EVENT: status = OnException(event); break;
            case CREATE_THREAD_DEBUG_EVENT: status = OnCreateThread(event); break;
            case CREATE_PROCESS_DEBUG_EVENT: status = OnCreateProcess(event); break;
            case EXIT_THREAD_DEBUG_EVENT: status = OnExitThread(event); break;
            case EXIT_PROCESS_DEBUG_EVENT: status = OnExitProcess(event); break;
            case LOAD_DLL_DEBUG_EVENT: status = OnLoadDll(event); break;
            case UNLOAD_DLL_DEBUG_EVENT: status = OnUnloadDll(event); break;
            default: break;
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
            FEventInHand = false;
        }
    } catch (...) {
        ReportFailure(std::current_exception());
    }
    EndSteps();
}

void TDebugThread::EndSteps()
{
    auto step = [this](auto&& body) {
        try {
            body();
        } catch (...) {
            ReportFailure(std::current_exception());
        }
    };
    step([this] { ReleaseProcess(); });
    step([this] { ClearBreakpoints(); });
    step([this] {
        if (Process)
            Process->Clear();
    });
    CloseHandleAndZero(FImageFile);
    step([this] { OCISessionEnd(); });
    PostFinished();
}

// ---------------------------------------------------------------------------
// Events

DWORD TDebugThread::OnException(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    switch (record.ExceptionCode) {
    case EXCEPTION_BREAKPOINT:
        return OnBreakpoint(static_cast<DWORD>(reinterpret_cast<uintptr_t>(record.ExceptionAddress)), event.dwThreadId);
    case EXCEPTION_SINGLE_STEP:
        return OnSingleStep(event.dwThreadId);
    default:
        // The program's own exception: let its handlers run. A thread stepping over a
        // patch must not keep the others frozen while they do.
        ThawThreads();
        return DBG_EXCEPTION_NOT_HANDLED;
    }
}

DWORD TDebugThread::OnCreateThread(const DEBUG_EVENT& event)
{
    if (event.u.CreateThread.hThread)
        Threads->AddThread(event.dwThreadId, event.u.CreateThread.hThread);
    return DBG_EXCEPTION_NOT_HANDLED;
}

DWORD TDebugThread::OnCreateProcess(const DEBUG_EVENT& event)
{
    // The process and thread handles of the event are closed by the system; the image
    // file handle is ours to close.
    const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
    if (info.hThread)
        Threads->AddThread(event.dwThreadId, info.hThread);
    PostMessageA(Application().MainWindow(), WM_DEBUG_STARTED, 0, 0);
    CloseHandleAndZero(FImageFile);
    FImageFile = info.hFile;
    return DBG_EXCEPTION_NOT_HANDLED;
}

DWORD TDebugThread::OnExitThread(const DEBUG_EVENT& event)
{
    // A thread the list never held (its creation event carried no handle) ends quietly.
    if (Threads->IndexOfThread(event.dwThreadId) == -1)
        return DBG_EXCEPTION_NOT_HANDLED;
    // Calls of a thread that has gone can never return.
    for (TReturnBreakpoint* orphan : Breakpoints->ReturnsOf(event.dwThreadId))
        Breakpoints->Remove(orphan);
    Threads->RemoveThread(event.dwThreadId);
    return DBG_EXCEPTION_NOT_HANDLED;
}

DWORD TDebugThread::OnExitProcess(const DEBUG_EVENT& event)
{
    if (Process && event.dwProcessId == Process->ProcessId) {
        ExitCode = event.u.ExitProcess.dwExitCode;
        Terminate();
    }
    return DBG_EXCEPTION_NOT_HANDLED;
}

DWORD TDebugThread::OnLoadDll(const DEBUG_EVENT& event)
{
    const LOAD_DLL_DEBUG_INFO& info = event.u.LoadDll;
    TUniqueHandle file(info.hFile);
    DWORD base = static_cast<DWORD>(reinterpret_cast<uintptr_t>(info.lpBaseOfDll));
    std::string name = ModuleFileName(base, info.hFile);
    OCIModuleLoad(base, name);
    Process->AddModule(base, file.get(), name);
    file.release();
    return DBG_EXCEPTION_NOT_HANDLED;
}

DWORD TDebugThread::OnUnloadDll(const DEBUG_EVENT& event)
{
    DWORD base = static_cast<DWORD>(reinterpret_cast<uintptr_t>(event.u.UnloadDll.lpBaseOfDll));
    int index = Process->IndexOfModule(base);
    std::string name = index != -1 ? Process->Items(index)->FileName : std::string();
    if (name.empty())
        name = ModuleFileName(base);
    OCIModuleUnload(base, name);
    if (index != -1)
        Process->Delete(index);
    return DBG_EXCEPTION_NOT_HANDLED;
}

// ---------------------------------------------------------------------------
// Leaving the process

void TDebugThread::ReleaseProcess()
{
    ThawThreads();
    if (!Process || !Process->IsRunning())
        return;

    // Lift every patch first; remember where they stood.
    std::vector<DWORD> lifted;
    for (const auto& bp : *Breakpoints)
        lifted.push_back(bp->Address);
    std::vector<DWORD> stepping;
    for (const auto& thread : *Threads)
        if (thread->PendingAddress)
            stepping.push_back(thread->ThreadId);
    std::exception_ptr firstError;
    try {
        ClearBreakpoints();
    } catch (...) {
        firstError = std::current_exception();
    }
    auto wasOurs = [&lifted](DWORD address) { return std::count(lifted.begin(), lifted.end(), address) != 0; };

    // Continues one event so that the thread runs on as if the tracer had never been there.
    auto settle = [&](const DEBUG_EVENT& event) -> DWORD {
        HANDLE thread = nullptr;
        int index = Threads->IndexOfThread(event.dwThreadId);
        if (index != -1)
            thread = Threads->Items(index)->Handle;
        switch (event.dwDebugEventCode) {
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            DWORD address = static_cast<DWORD>(reinterpret_cast<uintptr_t>(record.ExceptionAddress));
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT) {
                if (wasOurs(address) && thread) {
                    CONTEXT context = ReadContext(thread, CONTEXT_CONTROL);
                    context.Eip = address;
                    WriteContext(thread, context);
                }
                return DBG_CONTINUE;
            }
            if (record.ExceptionCode == EXCEPTION_SINGLE_STEP) {
                auto at = std::find(stepping.begin(), stepping.end(), event.dwThreadId);
                if (at != stepping.end() && thread) {
                    stepping.erase(at);
                    CONTEXT context = ReadContext(thread, CONTEXT_CONTROL);
                    context.EFlags &= ~TrapFlag;
                    WriteContext(thread, context);
                }
                return DBG_CONTINUE;
            }
            return DBG_EXCEPTION_NOT_HANDLED;
        }
        case CREATE_THREAD_DEBUG_EVENT:
            if (event.u.CreateThread.hThread && Threads->IndexOfThread(event.dwThreadId) == -1)
                Threads->AddThread(event.dwThreadId, event.u.CreateThread.hThread);
            return DBG_CONTINUE;
        case EXIT_THREAD_DEBUG_EVENT:
            if (index != -1)
                Threads->RemoveThread(event.dwThreadId);
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
    };

    bool processEnded = false;
    auto handle = [&](DEBUG_EVENT& event) {
        DWORD status = DBG_CONTINUE;
        try {
            status = settle(event);
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            processEnded = true;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    };

    if (FEventInHand) {
        FEventInHand = false;
        handle(FEvent);
    }
    // Threads still stepping report within an instruction; then the queue falls quiet.
    DWORD deadline = GetTickCount() + 3000;
    DEBUG_EVENT event;
    while (!processEnded && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        if (!WaitForDebugEvent(&event, stepping.empty() ? 0 : 50)) {
            if (stepping.empty())
                break;
            continue;
        }
        handle(event);
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

// ---------------------------------------------------------------------------
// OCI steps

bool IsOCIModuleName(const std::string& fullName)
{
    size_t at = fullName.find_last_of("\\:");
    std::string name = at == std::string::npos ? fullName : fullName.substr(at + 1);
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name == "OCI.DLL";
}

DWORD OCIEntryOffset(const char* name)
{
    VASSERT(LocalOCIModule, Unit);
    FARPROC address = GetProcAddress(LocalOCIModule, name);
    if (!address)
        RaiseLastOSError();
    uintptr_t entry = reinterpret_cast<uintptr_t>(address);
    uintptr_t base = reinterpret_cast<uintptr_t>(LocalOCIModule);
    VASSERT(entry > base, Unit);
    return static_cast<DWORD>(entry - base);
}

void TDebugThread::OCISessionStart() { Statements().Clear(); }

void TDebugThread::OCIModuleLoad(DWORD base, const std::string& fileName)
{
    if (!IsOCIModuleName(fileName))
        return;
    VASSERT(!LocalOCIModule, Unit);
    // Mapped without running its initialisation or loading what it imports: only the
    // export table is wanted, and the tracer must not depend on the client's set-up.
    LocalOCIModule = LoadLibraryExA(fileName.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!LocalOCIModule)
        RaiseLastOSError();
    const BYTE* image = reinterpret_cast<const BYTE*>(LocalOCIModule);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image + dos->e_lfanew);
    FOCIBase = base;
    FOCISize = nt->OptionalHeader.SizeOfImage;
    PlantOCIBreakpoints(base);
}

void TDebugThread::OCIModuleUnload(DWORD base, const std::string& fileName)
{
    if (!IsOCIModuleName(fileName))
        return;
    // The unload is reported once the module is unmapped: the entry breakpoints went with
    // it and cannot be written back. Return breakpoints in the callers' code are restored.
    if (base == FOCIBase)
        Breakpoints->AbandonRange(FOCIBase, FOCISize);
    ClearBreakpoints();
}

void TDebugThread::OCISessionEnd()
{
    if (LocalOCIModule) {
        FreeLibrary(LocalOCIModule);
        LocalOCIModule = nullptr;
    }
}

void TDebugThread::PlantOCIBreakpoints(DWORD base)
{
    auto plant = [&](auto* typeTag, const char* name) {
        using T = std::remove_pointer_t<decltype(typeTag)>;
        DWORD address = base + OCIEntryOffset(name);
        T* bp = Breakpoints->AddBreakpoint<T>(Process.get(), address);
        try {
            Process->ReadMemory(address, bp->Prologue, sizeof(bp->Prologue));
            bp->PrologueKnown = true;
        } catch (const EOSError&) {
            // Unknown first instruction: calls are stepped over instead.
        }
        return bp;
    };
    plant(static_cast<TOCIStmtPrepareBreakpoint*>(nullptr), "OCIStmtPrepare")->SetEnabled(TraceMask & TraceMaskPrepare);
    plant(static_cast<TOCIStmtExecuteBreakpoint*>(nullptr), "OCIStmtExecute")->SetEnabled(TraceMask & TraceMaskExecute);
    plant(static_cast<TOCIStmtFetchBreakpoint*>(nullptr), "OCIStmtFetch")->SetEnabled(TraceMask & TraceMaskFetch);
    plant(static_cast<TOCIHandleFreeBreakpoint*>(nullptr), "OCIHandleFree")->Arm();
}

// ---------------------------------------------------------------------------
// TRunThread, TAttachThread

TRunThread::TRunThread(std::string commandLine) : TDebugThread(nullptr), CommandLine(std::move(commandLine)) {}

void TRunThread::SafeExecute()
{
    try {
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof(startup));
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info;
        std::string commandLine = CommandLine;
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &info))
            RaiseLastOSError();
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        ProcessList().Refresh();
        Process = ProcessList().FindProcess(info.dwProcessId);
    } catch (...) {
        StartFailed(std::current_exception());
        return;
    }
    TDebugThread::SafeExecute();
}

TAttachThread::TAttachThread(std::shared_ptr<TProcessInfo> process) : TDebugThread(std::move(process)) {}

void TAttachThread::SafeExecute()
{
    try {
        VASSERT(Process, "DebugCore");
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
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (!kernel)
        return;
    using TKillOnExit = BOOL(WINAPI*)(BOOL);
    using TStop = BOOL(WINAPI*)(DWORD);
    auto killOnExit = reinterpret_cast<TKillOnExit>(reinterpret_cast<void*>(GetProcAddress(kernel, "DebugSetProcessKillOnExit")));
    auto stop = reinterpret_cast<TStop>(reinterpret_cast<void*>(GetProcAddress(kernel, "DebugActiveProcessStop")));
    if (killOnExit)
        killOnExit(FALSE);
    if (stop)
        stop(Process->ProcessId);
    FreeLibrary(kernel);
}

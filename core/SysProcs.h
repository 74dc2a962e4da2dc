// What the tracer knows about processes: the machine's process list, the traced
// process's modules and threads, the breakpoints planted in it and the trace
// records they carry from a call's entry to its return.
#pragma once

#include "OwningList.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// ---------------------------------------------------------------------------
// Modules and processes

class TModuleInfo {
public:
    // The record takes over fileHandle (zero: nothing to close).
    TModuleInfo(DWORD base, HANDLE fileHandle, std::string fileName = {});
    ~TModuleInfo();
    TModuleInfo(const TModuleInfo&) = delete;
    TModuleInfo& operator=(const TModuleInfo&) = delete;

    DWORD Base;
    HANDLE FileHandle;
    // Full file name, taken when the module loaded: at unload it can no longer be asked for.
    std::string FileName;
};

// One process of the machine, with the modules it loaded during a session.
class TProcessInfo : public TOwningList<TModuleInfo> {
public:
    // Opens the process with all access rights; raises EOSError when that fails.
    TProcessInfo(DWORD processId, std::string fileName);
    ~TProcessInfo() override;

    std::string FileName;
    DWORD ProcessId;
    HANDLE Handle = nullptr;
    bool Seen = false;

    // Assertion failure of unit SysProcs for a base already listed.
    void AddModule(DWORD base, HANDLE fileHandle, const std::string& fileName = {});
    int IndexOfModule(DWORD base) const;

    DWORD ReadDword(DWORD address);
    // Exactly size bytes from address. Long texts are read in bounded pieces and a
    // size beyond MaxStringRead is refused, so a garbage length costs neither
    // gigabytes nor a crash; every failure raises EOSError.
    std::string ReadString(DWORD address, DWORD size);
    static constexpr DWORD MaxStringRead = 16u << 20;

    // Memory and state of the process; virtual so that bookkeeping can be tested
    // against a process made of bytes. Failures raise EOSError.
    virtual void ReadMemory(DWORD address, void* buffer, DWORD size);
    virtual void WriteMemory(DWORD address, const void* buffer, DWORD size);
    virtual bool IsRunning();

protected:
    // Adopts an already opened handle (zero for a process without one).
    TProcessInfo(DWORD processId, std::string fileName, HANDLE handle);
};

// Calls back for each record of a SYSTEM_PROCESS_INFORMATION chain, never reading
// outside the buffer: a record or a NextEntryOffset that would leave it ends the walk.
// name is empty when the record has no image name.
struct TSnapshotEntry {
    DWORD ProcessId;
    bool HasName;
    std::wstring Name;
};
std::vector<TSnapshotEntry> ParseProcessSnapshot(const BYTE* buffer, size_t size);

// The machine's processes that the tracer can open, in the order first listed.
// Refreshes are serialised; a record stays alive while anyone holds it, also after a
// refresh has dropped it.
class TProcessInfos {
public:
    using TRecord = std::shared_ptr<TProcessInfo>;

    TProcessInfos();
    virtual ~TProcessInfos();
    TProcessInfos(const TProcessInfos&) = delete;
    TProcessInfos& operator=(const TProcessInfos&) = delete;

    void Refresh();
    int Count() const;
    TRecord Items(int index) const;
    int IndexOfProcess(DWORD processId) const;
    TRecord FindProcess(DWORD processId) const;
    // The records as they stand now, kept alive by the copy.
    std::vector<TRecord> Snapshot() const;

protected:
    // The native snapshot; false when it could not be taken (the list then stays as it is).
    virtual bool QuerySnapshot(std::vector<BYTE>& buffer);
    // A new record for a process that appeared; raises when the process cannot be opened.
    virtual TRecord OpenProcessRecord(DWORD processId, const std::string& fileName);

private:
    using TQuery = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    HMODULE FNtDllHandle = nullptr;
    TQuery FQuerySystemInformation = nullptr;
    mutable std::recursive_mutex FLock;
    TOwningList<TProcessInfo, TRecord> FItems;
    std::vector<BYTE> FSnapshot;
};

// The one process list of the program.
TProcessInfos& ProcessList();

// ---------------------------------------------------------------------------
// Threads of the traced process

class TThreadInfo {
public:
    TThreadInfo(DWORD threadId, HANDLE handle) : ThreadId(threadId), Handle(handle) {}

    DWORD ThreadId;
    // From the thread's creation event; the system closes it, the record never does.
    HANDLE Handle;
    // Address of the breakpoint this thread is stepping over (its trap flag is set), or 0.
    DWORD PendingAddress = 0;
    // Suspended by the tracer while other threads step over a lifted patch.
    bool Frozen = false;
};

class TThreadInfos : public TOwningList<TThreadInfo> {
public:
    // Assertion failure of unit SysProcs for an id already listed.
    TThreadInfo* AddThread(DWORD threadId, HANDLE handle);
    int IndexOfThread(DWORD threadId) const;
    // An id that is not listed raises the list's index error.
    void RemoveThread(DWORD threadId);
    TThreadInfo* ThreadById(DWORD threadId) const;
};

// ---------------------------------------------------------------------------
// Trace records

// The trace record of one call: travels from the debug thread to the main window.
class TBreakpointData {
public:
    virtual ~TBreakpointData() = default;
    virtual std::string GetActionText() const = 0;

    std::string Statement;
    // From the hit to the return the time stamp of the hit, afterwards the elapsed time, in days.
    double Time = 0.0;
    int32_t Result = 0;
};

// ---------------------------------------------------------------------------
// Breakpoints

// The words at a stopped thread's stack pointer at the entry of a call: the return
// address (word 0) and the arguments (word n is argument n). They are read in one
// read; should that fail, each word is read alone, raising that read's error.
class TCallFrame {
public:
    static constexpr int WordCount = 9;
    TCallFrame(TProcessInfo& process, DWORD esp);
    DWORD Esp() const { return FEsp; }
    DWORD Word(int index);

private:
    TProcessInfo& FProcess;
    DWORD FEsp;
    DWORD FWords[WordCount] = {};
    bool FValid = false;
};

class TBreakpoints;

class TBreakpoint {
public:
    TBreakpoint(TProcessInfo* process, DWORD address);
    // Disarms while the traced process runs; a failure here is swallowed (TBreakpoints
    // disarms before it destroys, and reports).
    virtual ~TBreakpoint();
    TBreakpoint(const TBreakpoint&) = delete;
    TBreakpoint& operator=(const TBreakpoint&) = delete;

    // An entry breakpoint was hit; the thread is stopped at its first instruction.
    virtual void Hit(const CONTEXT& context, TCallFrame& frame) = 0;

    // Breakpoints at one address share one patched byte (see TBreakpoints).
    void Arm();
    void Disarm();

    TProcessInfo* Process;
    DWORD Address;
    // The code byte under the patch, known once the breakpoint has been armed.
    BYTE SavedByte = 0;
    bool Armed = false;
    TBreakpoints* List = nullptr;
};

// Common base of the breakpoints on OCI entry points.
class TOCIBreakpoint : public TBreakpoint {
public:
    using TBreakpoint::TBreakpoint;

    // The entry point's first code bytes, read before it was armed (none when unreadable):
    // the debug loop carries out some first instructions itself.
    bool PrologueKnown = false;
    BYTE Prologue[2] = {};
};

// An entry breakpoint that makes a trace record of each call.
class TOCINotifyBreakpoint : public TOCIBreakpoint {
public:
    using TOCIBreakpoint::TOCIBreakpoint;

    // Drops a record left from an earlier hit, then Enter.
    void Hit(const CONTEXT& context, TCallFrame& frame) override;
    // Subclasses create their record into Data, call this (the time stamp), then decode.
    virtual void Enter(const CONTEXT& context, TCallFrame& frame);
    virtual void ApplyEnabled();
    void SetEnabled(bool enabled);
    // Hands a finished record on: posted to the main window when the action is traced,
    // destroyed otherwise. A failed post raises EOSError and leaves the record with the caller.
    void PostRecord(std::unique_ptr<TBreakpointData>& record);

    bool Enabled = false;
    std::unique_ptr<TBreakpointData> Data;
};

// Catches the return of one call: planted at the call's return address.
class TReturnBreakpoint : public TBreakpoint {
public:
    using TBreakpoint::TBreakpoint;
    void Hit(const CONTEXT&, TCallFrame&) override {}

    TBreakpoint* Owner = nullptr;
    // The call is matched to its return by the thread that made it and its stack:
    // the call returns to Address on ThreadId with a stack pointer above EntryEsp.
    DWORD ThreadId = 0;
    DWORD EntryEsp = 0;
    std::unique_ptr<TBreakpointData> Data;
};

// The session's breakpoints, in creation order. The patch table behind them keeps one
// int3 per address however many breakpoints stand there: the original byte is read
// when the first of them arms and written back when the last disarms, so 0xCC is never
// taken for an original byte. A patch may also be lifted for a moment while a thread
// steps over it.
class TBreakpoints : public TOwningList<TBreakpoint> {
public:
    ~TBreakpoints() override;

    template <class T>
    T* AddBreakpoint(TProcessInfo* process, DWORD address)
    {
        auto bp = std::make_unique<T>(process, address);
        bp->List = this;
        return static_cast<T*>(Add(std::move(bp)));
    }

    // First breakpoint at address, in list order.
    TBreakpoint* Find(DWORD address) const;
    // The call returning to address on threadId with stack pointer esp: of that thread's
    // return breakpoints there, the innermost one below esp.
    TReturnBreakpoint* FindReturn(DWORD address, DWORD threadId, DWORD esp) const;
    // The return breakpoints of the calls threadId has in flight.
    std::vector<TReturnBreakpoint*> ReturnsOf(DWORD threadId) const;
    int IndexOf(const TBreakpoint* bp) const;

    // Disarms (while the process runs) and destroys one breakpoint. A failed write
    // raises EOSError after the breakpoint is gone.
    void Remove(TBreakpoint* bp);
    // Disarms every breakpoint, going on past a failed write, destroys them all, then
    // raises the first error.
    void ClearAll();
    // Forgets the patches in [base, base + size) without writing: their module has been
    // unmapped, and the bytes went with it.
    void AbandonRange(DWORD base, DWORD size);

    // Patch table.
    bool IsPatched(DWORD address) const;
    // True while 0xCC stands at address because of a breakpoint.
    bool IsWritten(DWORD address) const;
    BYTE OriginalByte(DWORD address) const;
    // Lift the patch at address while a thread steps over it, and put it back.
    void SuspendPatch(DWORD address);
    void ResumePatch(DWORD address);

private:
    friend class TBreakpoint;
    struct TPatch {
        TProcessInfo* Process;
        BYTE Original;
        int Arms;
        int Suspends;
        bool Written;
    };
    BYTE AcquirePatch(TProcessInfo* process, DWORD address);
    void ReleasePatch(DWORD address);
    std::unordered_map<DWORD, TPatch> FPatches;
};

#include "SysProcs.h"

#include "Application.h"
#include "DebugMessages.h"
#include "Errors.h"
#include "Utils.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr const char* Unit = "SysProcs";
constexpr BYTE Int3 = 0xCC;
}

// ---------------------------------------------------------------------------
// TModuleInfo

TModuleInfo::TModuleInfo(DWORD base, HANDLE fileHandle, std::string fileName)
    : Base(base), FileHandle(fileHandle), FileName(std::move(fileName))
{
}

TModuleInfo::~TModuleInfo() { CloseHandleAndZero(FileHandle); }

// ---------------------------------------------------------------------------
// TProcessInfo

static HANDLE OpenProcessOrRaise(DWORD processId)
{
    HANDLE handle = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
    if (!handle)
        RaiseLastOSError();
    return handle;
}

TProcessInfo::TProcessInfo(DWORD processId, std::string fileName)
    : TProcessInfo(processId, std::move(fileName), OpenProcessOrRaise(processId))
{
}

TProcessInfo::TProcessInfo(DWORD processId, std::string fileName, HANDLE handle)
    : FileName(std::move(fileName)), ProcessId(processId), Handle(handle)
{
}

TProcessInfo::~TProcessInfo()
{
    Clear();
    CloseHandleAndZero(Handle);
}

void TProcessInfo::AddModule(DWORD base, HANDLE fileHandle, const std::string& fileName)
{
    VASSERT(IndexOfModule(base) == -1, Unit);
    Add(std::make_unique<TModuleInfo>(base, fileHandle, fileName));
}

int TProcessInfo::IndexOfModule(DWORD base) const
{
    return IndexOfIf([base](const TModuleInfo& m) { return m.Base == base; });
}

DWORD TProcessInfo::ReadDword(DWORD address)
{
    DWORD value = 0;
    ReadMemory(address, &value, sizeof(value));
    return value;
}

std::string TProcessInfo::ReadString(DWORD address, DWORD size)
{
    if (size > MaxStringRead)
        RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
    std::string text(size, '\0');
    constexpr DWORD Piece = 64 * 1024;
    for (DWORD done = 0; done < size;) {
        DWORD chunk = std::min(Piece, size - done);
        ReadMemory(address + done, text.data() + done, chunk);
        done += chunk;
    }
    return text;
}

void TProcessInfo::ReadMemory(DWORD address, void* buffer, DWORD size)
{
    SIZE_T done = 0;
    if (!ReadProcessMemory(Handle, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), buffer, size, &done))
        RaiseLastOSError();
    if (done != size)
        RaiseOSError(ERROR_PARTIAL_COPY);
}

void TProcessInfo::WriteMemory(DWORD address, const void* buffer, DWORD size)
{
    SIZE_T done = 0;
    if (!WriteProcessMemory(Handle, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(address)), buffer, size, &done))
        RaiseLastOSError();
    if (done != size)
        RaiseOSError(ERROR_PARTIAL_COPY);
}

bool TProcessInfo::IsRunning() { return Handle && WaitForSingleObject(Handle, 0) == WAIT_TIMEOUT; }

// ---------------------------------------------------------------------------
// The process snapshot

std::vector<TSnapshotEntry> ParseProcessSnapshot(const BYTE* buffer, size_t size)
{
    // 32-bit SYSTEM_PROCESS_INFORMATION: NextEntryOffset at 0, ImageName.Length at 56,
    // ImageName.Buffer at 60, UniqueProcessId at 68.
    constexpr size_t NameLengthOffset = 56, NameOffset = 60, IdOffset = 68, MinRecord = 72;
    std::vector<TSnapshotEntry> entries;
    size_t at = 0;
    while (at + MinRecord <= size) {
        const BYTE* record = buffer + at;
        DWORD next, pid, nameAddress;
        USHORT nameBytes;
        std::memcpy(&next, record, 4);
        std::memcpy(&nameBytes, record + NameLengthOffset, 2);
        std::memcpy(&nameAddress, record + NameOffset, 4);
        std::memcpy(&pid, record + IdOffset, 4);

        TSnapshotEntry entry{pid, nameAddress != 0, {}};
        if (nameAddress) {
            // The name lies in the same buffer; take it only where it does.
            uintptr_t base = reinterpret_cast<uintptr_t>(buffer);
            if (nameAddress >= base && nameAddress < base + size) {
                size_t offset = nameAddress - base;
                size_t maxChars = (size - offset) / sizeof(wchar_t);
                size_t chars = std::min<size_t>(nameBytes / sizeof(wchar_t), maxChars);
                const BYTE* p = buffer + offset;
                entry.Name.resize(chars);
                std::memcpy(entry.Name.data(), p, chars * sizeof(wchar_t));
                size_t zero = entry.Name.find(L'\0');
                if (zero != std::wstring::npos)
                    entry.Name.resize(zero);
            }
        }
        entries.push_back(std::move(entry));
        if (next == 0 || next > size - at)
            break;
        at += next;
    }
    return entries;
}

static std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}

// ---------------------------------------------------------------------------
// TProcessInfos

TProcessInfos::TProcessInfos()
{
    FNtDllHandle = LoadLibraryA("ntdll.dll");
    if (FNtDllHandle)
        FQuerySystemInformation =
            reinterpret_cast<TQuery>(reinterpret_cast<void*>(GetProcAddress(FNtDllHandle, "NtQuerySystemInformation")));
}

TProcessInfos::~TProcessInfos()
{
    FItems.Clear();
    if (FNtDllHandle)
        FreeLibrary(FNtDllHandle);
}

bool TProcessInfos::QuerySnapshot(std::vector<BYTE>& buffer)
{
    constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    constexpr ULONG SystemProcessInformation = 5;
    size_t size = 1 << 20;
    for (int attempt = 0; attempt < 6; ++attempt, size *= 2) {
        buffer.assign(size, 0);
        ULONG needed = 0;
        LONG status = FQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(size), &needed);
        if (status >= 0)
            return true;
        if (status != StatusInfoLengthMismatch)
            return false;
        while (needed > size * 2)
            size *= 2;
    }
    return false;
}

TProcessInfos::TRecord TProcessInfos::OpenProcessRecord(DWORD processId, const std::string& fileName)
{
    return std::make_shared<TProcessInfo>(processId, fileName);
}

void TProcessInfos::Refresh()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!FQuerySystemInformation)
        throw std::runtime_error("This feature is enabled on NT-like platforms only");
    // The buffer is kept from one refresh to the next: refreshes come at every idle moment.
    std::vector<BYTE>& buffer = FSnapshot;
    if (!QuerySnapshot(buffer))
        return;

    for (const TRecord& record : FItems)
        record->Seen = false;
    for (const TSnapshotEntry& entry : ParseProcessSnapshot(buffer.data(), buffer.size())) {
        int index = IndexOfProcess(entry.ProcessId);
        if (index == -1 && entry.HasName) {
            try {
                FItems.Add(OpenProcessRecord(entry.ProcessId, ToAnsi(entry.Name)));
                index = FItems.Count() - 1;
            } catch (const std::exception&) {
                // A process we may not open is simply not listed.
            }
        }
        if (index != -1)
            FItems.Items(index)->Seen = true;
    }
    for (int i = FItems.Count() - 1; i >= 0; --i)
        if (!FItems.Items(i)->Seen)
            FItems.Delete(i);
}

int TProcessInfos::Count() const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FItems.Count();
}

TProcessInfos::TRecord TProcessInfos::Items(int index) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FItems.Items(index);  // raises the index error
    return *(FItems.begin() + index);
}

int TProcessInfos::IndexOfProcess(DWORD processId) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FItems.IndexOfIf([processId](const TProcessInfo& p) { return p.ProcessId == processId; });
}

TProcessInfos::TRecord TProcessInfos::FindProcess(DWORD processId) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    int index = IndexOfProcess(processId);
    return index == -1 ? nullptr : Items(index);
}

std::vector<TProcessInfos::TRecord> TProcessInfos::Snapshot() const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return std::vector<TRecord>(FItems.begin(), FItems.end());
}

TProcessInfos& ProcessList()
{
    static TProcessInfos instance;
    return instance;
}

// ---------------------------------------------------------------------------
// TThreadInfos

TThreadInfo* TThreadInfos::AddThread(DWORD threadId, HANDLE handle)
{
    VASSERT(IndexOfThread(threadId) == -1, Unit);
    return Add(std::make_unique<TThreadInfo>(threadId, handle));
}

int TThreadInfos::IndexOfThread(DWORD threadId) const
{
    return IndexOfIf([threadId](const TThreadInfo& t) { return t.ThreadId == threadId; });
}

void TThreadInfos::RemoveThread(DWORD threadId) { Delete(IndexOfThread(threadId)); }

TThreadInfo* TThreadInfos::ThreadById(DWORD threadId) const { return Items(IndexOfThread(threadId)); }

// ---------------------------------------------------------------------------
// TCallFrame

TCallFrame::TCallFrame(TProcessInfo& process, DWORD esp) : FProcess(process), FEsp(esp)
{
    try {
        FProcess.ReadMemory(esp, FWords, sizeof(FWords));
        FValid = true;
    } catch (const EOSError&) {
        // The words are then read one by one, each with its own failure.
    }
}

DWORD TCallFrame::Word(int index)
{
    VASSERT(index >= 0 && index < WordCount, Unit);
    if (FValid)
        return FWords[index];
    return FProcess.ReadDword(FEsp + 4 * static_cast<DWORD>(index));
}

// ---------------------------------------------------------------------------
// Breakpoints

TBreakpoint::TBreakpoint(TProcessInfo* process, DWORD address) : Process(process), Address(address) {}

TBreakpoint::~TBreakpoint()
{
    if (Armed && List) {
        try {
            if (Process->IsRunning())
                Disarm();
        } catch (...) {
        }
    }
}

void TBreakpoint::Arm()
{
    if (Armed)
        return;
    VASSERT(List, Unit);
    SavedByte = List->AcquirePatch(Process, Address);
    Armed = true;
}

void TBreakpoint::Disarm()
{
    if (!Armed)
        return;
    VASSERT(List, Unit);
    List->ReleasePatch(Address);
    Armed = false;
}

void TOCINotifyBreakpoint::Hit(const CONTEXT& context, TCallFrame& frame)
{
    Data.reset();
    Enter(context, frame);
}

void TOCINotifyBreakpoint::Enter(const CONTEXT&, TCallFrame&)
{
    VASSERT(Data, Unit);
    Data->Time = TimeStampDays();
}

void TOCINotifyBreakpoint::ApplyEnabled()
{
    if (Enabled)
        Arm();
    else
        Disarm();
}

void TOCINotifyBreakpoint::SetEnabled(bool enabled)
{
    Enabled = enabled;
    ApplyEnabled();
}

void TOCINotifyBreakpoint::PostRecord(std::unique_ptr<TBreakpointData>& record)
{
    if (!Enabled) {
        record.reset();
        return;
    }
    if (!PostMessageA(Application().MainWindow(), WM_TRACE_RECORD, 0, reinterpret_cast<LPARAM>(record.get())))
        RaiseLastOSError();
    record.release();
}

TBreakpoints::~TBreakpoints()
{
    try {
        ClearAll();
    } catch (...) {
    }
}

TBreakpoint* TBreakpoints::Find(DWORD address) const
{
    for (const auto& bp : FItems)
        if (bp->Address == address)
            return bp.get();
    return nullptr;
}

TReturnBreakpoint* TBreakpoints::FindReturn(DWORD address, DWORD threadId, DWORD esp) const
{
    TReturnBreakpoint* best = nullptr;
    for (const auto& bp : FItems) {
        if (bp->Address != address)
            continue;
        auto* ret = dynamic_cast<TReturnBreakpoint*>(bp.get());
        if (ret && ret->ThreadId == threadId && ret->EntryEsp < esp && (!best || ret->EntryEsp > best->EntryEsp))
            best = ret;
    }
    return best;
}

std::vector<TReturnBreakpoint*> TBreakpoints::ReturnsOf(DWORD threadId) const
{
    std::vector<TReturnBreakpoint*> returns;
    for (const auto& bp : FItems) {
        auto* ret = dynamic_cast<TReturnBreakpoint*>(bp.get());
        if (ret && ret->ThreadId == threadId)
            returns.push_back(ret);
    }
    return returns;
}

int TBreakpoints::IndexOf(const TBreakpoint* bp) const
{
    return IndexOfIf([bp](const TBreakpoint& item) { return &item == bp; });
}

void TBreakpoints::Remove(TBreakpoint* bp)
{
    std::unique_ptr<TBreakpoint> doomed = Extract(IndexOf(bp));
    if (!doomed->Armed)
        return;
    try {
        if (doomed->Process->IsRunning())
            doomed->Disarm();
    } catch (...) {
        // The byte cannot be written back (its module is gone, say): forget the patch,
        // so that no later step takes it for a live one.
        FPatches.erase(doomed->Address);
        doomed->Armed = false;
        throw;
    }
    doomed->Armed = false;
}

void TBreakpoints::ClearAll()
{
    std::exception_ptr firstError;
    bool running = !FItems.empty() && FItems.front()->Process->IsRunning();
    for (const auto& bp : FItems) {
        try {
            if (running)
                bp->Disarm();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
        bp->Armed = false;
    }
    Clear();
    FPatches.clear();
    if (firstError)
        std::rethrow_exception(firstError);
}

void TBreakpoints::AbandonRange(DWORD base, DWORD size)
{
    for (const auto& bp : FItems)
        if (bp->Address - base < size)
            bp->Armed = false;
    for (auto it = FPatches.begin(); it != FPatches.end();)
        it = it->first - base < size ? FPatches.erase(it) : std::next(it);
}

bool TBreakpoints::IsPatched(DWORD address) const { return FPatches.count(address) != 0; }

bool TBreakpoints::IsWritten(DWORD address) const
{
    auto it = FPatches.find(address);
    return it != FPatches.end() && it->second.Written;
}

BYTE TBreakpoints::OriginalByte(DWORD address) const
{
    auto it = FPatches.find(address);
    VASSERT(it != FPatches.end(), Unit);
    return it->second.Original;
}

BYTE TBreakpoints::AcquirePatch(TProcessInfo* process, DWORD address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end()) {
        BYTE original = 0;
        process->ReadMemory(address, &original, 1);
        process->WriteMemory(address, &Int3, 1);
        FPatches.emplace(address, TPatch{process, original, 1, 0, true});
        return original;
    }
    TPatch& patch = it->second;
    if (!patch.Written && patch.Suspends == 0) {
        process->WriteMemory(address, &Int3, 1);
        patch.Written = true;
    }
    ++patch.Arms;
    return patch.Original;
}

void TBreakpoints::ReleasePatch(DWORD address)
{
    auto it = FPatches.find(address);
    VASSERT(it != FPatches.end(), Unit);
    TPatch& patch = it->second;
    if (patch.Arms == 1) {
        if (patch.Written) {
            patch.Process->WriteMemory(address, &patch.Original, 1);
            patch.Written = false;
        }
        FPatches.erase(it);
        return;
    }
    --patch.Arms;
}

void TBreakpoints::SuspendPatch(DWORD address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end())
        return;
    TPatch& patch = it->second;
    if (patch.Written) {
        patch.Process->WriteMemory(address, &patch.Original, 1);
        patch.Written = false;
    }
    ++patch.Suspends;
}

void TBreakpoints::ResumePatch(DWORD address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end() || it->second.Suspends == 0)
        return;
    TPatch& patch = it->second;
    if (--patch.Suspends == 0 && !patch.Written) {
        patch.Process->WriteMemory(address, &Int3, 1);
        patch.Written = true;
    }
}

// Fast hooks: entry points patched with a jump to a stub page of ours, whose reports
// arrive as exceptions carrying the call's arguments and result (see Stubs.h).
#include "DebugCore.h"

#include "Errors.h"
#include "PEImage.h"
#include "Utils.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr uint64_t AllocationGranularity = 0x10000;
// A jump of five bytes reaches 2 GiB either way; pages are looked for well within that.
constexpr uint64_t NearSpan = 0x70000000;

// A page of stubs within reach of address for a 64-bit program: the free regions below
// it, then above it, nearest first.
TAddress AllocateNear(HANDLE process, TAddress address)
{
    // Looks at the region at `at` and makes the page there if it is free; false when the
    // region cannot be asked about.
    auto visit = [process](TAddress at, MEMORY_BASIC_INFORMATION& info, TAddress& page) {
        if (!VirtualQueryEx(process, AddressPointer(at), &info, sizeof(info)))
            return false;
        page = info.State == MEM_FREE ? PointerAddress(VirtualAllocEx(process, AddressPointer(at),
                                                                      TStubPageLayout::Size, MEM_RESERVE | MEM_COMMIT,
                                                                      PAGE_EXECUTE_READWRITE))
                                      : 0;
        return true;
    };
    constexpr TAddress Granule = AllocationGranularity - 1;
    MEMORY_BASIC_INFORMATION info{};
    TAddress page = 0;
    TAddress low = address > NearSpan ? address - NearSpan : AllocationGranularity;
    for (TAddress at = (address & ~Granule) - AllocationGranularity; at >= low && visit(at, info, page);) {
        if (page)
            return page;
        TAddress regionStart = PointerAddress(info.AllocationBase ? info.AllocationBase : info.BaseAddress);
        at = (std::min(at, regionStart) & ~Granule) - AllocationGranularity;
    }
    for (TAddress at = (address + AllocationGranularity) & ~Granule; at < address + NearSpan && visit(at, info, page);) {
        if (page)
            return page;
        TAddress next = PointerAddress(info.BaseAddress) + info.RegionSize;
        at = (std::max(next, at + 1) + Granule) & ~Granule;
    }
    return 0;
}

} // namespace

// The address of an export of one of the traced program's modules of its own bitness
// (its 32-bit kernel32 for a 32-bit program), followed through forwarders; 0 when it is
// not there.
TAddress TDebugThread::TargetExport(std::string moduleName, std::string exportName)
{
    // The module of that name and of the program's bitness, its exports read once.
    auto findImage = [this](const std::string& name) -> std::unique_ptr<TModuleImage> {
        for (int i = 0; i < Process->Count(); ++i) {
            TModuleInfo* module = Process->Items(i);
            if (lstrcmpiA(ExtractFileName(module->FileName).c_str(), name.c_str()) != 0)
                continue;
            try {
                auto image = std::make_unique<TModuleImage>(*Process, module->Base);
                if (image->Is64() == FTarget64)
                    return image;
            } catch (const std::exception&) {
            }
        }
        return nullptr;
    };
    for (int hops = 0; hops < 4; ++hops) {
        std::unique_ptr<TModuleImage> image = findImage(moduleName);
        if (!image)
            return 0;
        const TExport* found = image->Find(exportName);
        if (!found)
            return 0;
        if (found->Address)
            return found->Address;
        if (!SplitForwarder(found->Forward, moduleName, exportName))
            return 0;
    }
    return 0;
}

// A page with a free slot within reach of entry, made when there is none.
TDebugThread::TStubPage* TDebugThread::StubPageFor(TAddress entry)
{
    unsigned char jump[5];
    for (TStubPage& page : FStubPages)
        if (page.Used < TStubPageLayout::SlotCount &&
            BuildEntryJump(entry, TStubPageLayout::Slot(page.Base, page.Used), jump))
            return &page;
    if (!FRaiseException)
        FRaiseException = TargetExport("KERNEL32.DLL", "RaiseException");
    if (!FBadReadPtr)
        FBadReadPtr = TargetExport("KERNEL32.DLL", "IsBadReadPtr");
    if (!FCounter)
        FCounter = TargetExport("KERNEL32.DLL", "QueryPerformanceCounter");
    if (FTarget64 && !FAddFunctionTable)
        FAddFunctionTable = TargetExport("NTDLL.DLL", "RtlAddFunctionTable");
    if (!FRaiseException || !FBadReadPtr || !FCounter || (FTarget64 && !FAddFunctionTable))
        return nullptr;
    HANDLE process = Process->Handle.get();
    if (!FLog) {
        // Anywhere will do: the stubs address it absolutely. It stays for the session.
        FLog = PointerAddress(
            VirtualAllocEx(process, nullptr, TStubLogLayout::Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!FLog)
            return nullptr;
    }
    TAddress base = FTarget64 ? AllocateNear(process, entry)
                              : PointerAddress(VirtualAllocEx(process, nullptr, TStubPageLayout::Size,
                                                              MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (!base)
        return nullptr;
    std::vector<unsigned char> header =
        BuildPageHeader(base, FRaiseException, FBadReadPtr, FCounter, FAddFunctionTable, FTarget64);
    try {
        Process->WriteMemory(base, header.data(), header.size());
    } catch (const EOSError&) {
        VirtualFreeEx(process, AddressPointer(base), 0, MEM_RELEASE);
        return nullptr;
    }
    // A 64-bit program registers the stubs' unwind data on a thread of its own, which runs
    // when the program goes on; until then nothing can unwind through a stub.
    if (FTarget64) {
        TUniqueHandle thread(CreateRemoteThread(process, nullptr, 0,
                                                reinterpret_cast<LPTHREAD_START_ROUTINE>(
                                                    AddressPointer(base + TStubPageLayout::RegisterOffset)),
                                                nullptr, 0, nullptr));
        if (!thread) {
            VirtualFreeEx(process, AddressPointer(base), 0, MEM_RELEASE);
            return nullptr;
        }
    }
    TStubPage page;
    page.Base = base;
    FStubPages.push_back(page);
    return &FStubPages.back();
}

bool TDebugThread::AddFastHook(TAddress address, THook& hook)
{
    if (!hook.PrologueKnown)
        return false;
    size_t moved = MovableLength(hook.Prologue, sizeof(hook.Prologue), FTarget64);
    if (moved == 0)
        return false;
    TStubPage* page = StubPageFor(address);
    if (!page)
        return false;
    int slot = page->Used;
    // Both ways between the entry and the slot must be within a jump's reach.
    unsigned char jump[5];
    if (!BuildEntryJump(address, TStubPageLayout::Slot(page->Base, slot), jump) ||
        !BuildEntryJump(address, TStubPageLayout::Slot(page->Base, slot + 1), jump))
        return false;
    TStubCode code =
        BuildStubCode(page->Base, slot, address, hook.Prologue, moved, FTarget64, FLog, FTracer->LateEntry(hook.Id));
    if (!BuildEntryJump(address, code.Stub, jump))
        return false;
    try {
        Process->WriteMemory(TStubPageLayout::Slot(page->Base, slot), code.Bytes.data(), code.Bytes.size());
        if (!FTracer->ReturnWanted(hook.Id)) {
            const unsigned char no = 0;
            Process->WriteMemory(TStubPageLayout::ReturnWanted(page->Base, slot), &no, 1);
        }
    } catch (const EOSError&) {
        return false;
    }
    ++page->Used;
    page->Entries.push_back(address);
    page->Windows.insert(page->Windows.end(), code.Windows.begin(), code.Windows.end());
    hook.Fast = true;
    hook.Moved = moved;
    hook.Trampoline = code.Trampoline;
    std::memcpy(hook.Jump, jump, sizeof(jump));
    return true;
}

void TDebugThread::SetFastArmed(TAddress address, THook& hook, bool armed)
{
    Process->WriteMemory(address, armed ? hook.Jump : hook.Prologue, sizeof(hook.Jump));
    if (!armed)
        return;
    // A thread stopped inside the bytes the jump now covers goes on at the same
    // instruction in the trampoline.
    ForEachContext([&](TThreadContext& context) {
        TAddress ip = context.Ip();
        if (ip > address && ip < address + hook.Moved) {
            context.SetIp(hook.Trampoline + (ip - address));
            context.Flush();
        }
    });
}

void TDebugThread::DropStubs(TAddress base, uint64_t size)
{
    for (auto it = FStubPages.begin(); it != FStubPages.end();) {
        bool inside = std::all_of(it->Entries.begin(), it->Entries.end(),
                                  [&](TAddress entry) { return entry - base < size; });
        if (inside && !it->Entries.empty()) {
            // The entries it served have gone with their module: nothing can come back
            // here. A 64-bit program's page stays, as its unwind data is registered.
            if (!FTarget64)
                VirtualFreeEx(Process->Handle.get(), AddressPointer(it->Base), 0, MEM_RELEASE);
            it = FStubPages.erase(it);
        } else {
            ++it;
        }
    }
}

// True for a report of one of our stubs; anything else with our codes is the program's
// own exception.
bool TDebugThread::IsStubReport(const EXCEPTION_RECORD& record) const
{
    bool entry = record.ExceptionCode == StubEntryCode;
    if (!entry && record.ExceptionCode != StubReturnCode)
        return false;
    if (record.NumberParameters != static_cast<DWORD>(entry ? StubEntryParams : StubReturnParams))
        return false;
    TAddress base = record.ExceptionInformation[StubParamPage];
    uint64_t slot = record.ExceptionInformation[StubParamSlot];
    return std::any_of(FStubPages.begin(), FStubPages.end(),
                       [&](const TStubPage& p) { return p.Base == base && slot < p.Entries.size(); });
}

// A report from a stub: a call entered or returned.
void TDebugThread::OnStubReport(const DEBUG_EVENT& event)
{
    const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
    bool entry = record.ExceptionCode == StubEntryCode;
    auto param = [&](int index) -> uint64_t {
        uint64_t value = record.ExceptionInformation[index];
        return FTarget64 ? value : static_cast<uint32_t>(value);
    };
    // Calls logged before this one come first.
    ReadLog(static_cast<uint32_t>(param(entry ? StubEntryLogHead : StubReturnLogHead)));
    TThreadInfo* thread = FThreads->FindThread(event.dwThreadId);
    TAddress entrySp = param(StubParamEntrySp);
    if (!entry) {
        TCallInFlight call;
        std::vector<TAddress> unwound;
        if (thread && thread->PopCall(entrySp, call, unwound)) {
            ReleaseReturns(unwound);
            int64_t elapsed = static_cast<int64_t>((param(StubReturnElapsedHigh) << 32) |
                                                   static_cast<uint32_t>(param(StubReturnElapsedLow)));
            FTracer->CallReturned(*this, call.HookId, *call.Data, static_cast<uint32_t>(param(StubParamReturn)),
                                  elapsed);
        }
        return;
    }
    uint64_t slots[StubArgs + 1];
    for (int i = 0; i <= StubArgs; ++i)
        slots[i] = param(StubParamReturn + i);
    TCallFrame frame(*Process, FTarget64, entrySp, slots, StubArgs + 1);
    frame.ThreadId = event.dwThreadId;
    auto hook = StubHook(param(StubParamPage), param(StubParamSlot));
    if (hook != FHooks.end())
        EnterStubCall(*hook, thread, frame);
}

// The hook of the stub in slot of page; none when it has gone (a call that came in before
// its hook was dropped is not traced).
std::unordered_map<TAddress, TDebugThread::THook>::iterator TDebugThread::StubHook(TAddress pageBase, uint64_t slot)
{
    auto page = std::find_if(FStubPages.begin(), FStubPages.end(),
                             [&](const TStubPage& p) { return p.Base == pageBase; });
    if (page == FStubPages.end() || slot >= page->Entries.size())
        return FHooks.end();
    return FHooks.find(page->Entries[slot]);
}

// A call at its entry, from thread (none when the thread has ended before its logged entry
// was read: the tracer still learns of the call).
void TDebugThread::EnterStubCall(std::pair<const TAddress, THook>& hook, TThreadInfo* thread, TCallFrame& frame)
{
    if (thread) {
        std::vector<TAddress> unwound;
        thread->DropCallsAtOrBelow(frame.Sp(), unwound);
        ReleaseReturns(unwound);
    }
    std::unique_ptr<TCallData> data = FTracer->CallEntered(*this, hook.second.Id, frame);
    if (data && thread)
        thread->Calls.push_back(TCallInFlight{0, frame.Sp(), hook.first, hook.second.Id, std::move(data)});
}

void TDebugThread::ReadLog()
{
    if (FLog)
        ReadLog(Process->ReadDword(FLog + TStubLogLayout::HeadOffset));
}

void TDebugThread::ReadLog(uint32_t head)
{
    using L = TStubLogLayout;
    // A report raised before others that came in first may bring a head already passed.
    if (static_cast<int32_t>(head - FLogRead) < 0)
        head = FLogRead;
    if (!FLog || (head == FLogRead && FLogUnfinished.empty()))
        return;
    std::vector<unsigned char> entries;
    // Entries left half written last time come first: they were begun before the rest.
    std::vector<uint32_t> unfinished;
    unfinished.swap(FLogUnfinished);
    for (uint32_t number : unfinished) {
        entries.resize(L::EntrySize);
        Process->ReadMemory(L::Entry(FLog, number), entries.data(), entries.size());
        if (!TakeLateEntry(entries.data(), number))
            FLogUnfinished.push_back(number);
    }
    // The new ones, in at most two reads (the log wraps round).
    while (FLogRead != head) {
        uint32_t first = FLogRead & (L::EntryCount - 1);
        uint32_t count = std::min(head - FLogRead, L::EntryCount - first);
        entries.resize(count * L::EntrySize);
        Process->ReadMemory(L::Entry(FLog, FLogRead), entries.data(), entries.size());
        for (uint32_t i = 0; i < count; ++i, ++FLogRead)
            if (!TakeLateEntry(entries.data() + i * L::EntrySize, FLogRead))
                FLogUnfinished.push_back(FLogRead);
    }
    // The stubs learn now and then how far they may write; till then the log looks fuller.
    uint32_t tail = FLogUnfinished.empty() ? FLogRead : FLogUnfinished.front();
    if (tail - FLogTail >= L::EntryCount / 2) {
        Process->WriteMemory(FLog + L::TailOffset, &tail, sizeof(tail));
        FLogTail = tail;
    }
}

bool TDebugThread::TakeLateEntry(const unsigned char* entry, uint32_t number)
{
    using L = TStubLogLayout;
    auto field = [entry](size_t offset, size_t size) {
        uint64_t value = 0;
        std::memcpy(&value, entry + offset, size);
        return value;
    };
    if (field(L::SeqOffset, 4) != static_cast<uint32_t>(number + 1))
        return false;
    auto hook = StubHook(field(L::PageOffset, 8), field(L::SlotOffset, 4));
    if (hook == FHooks.end())
        return true;
    uint64_t slots[StubArgs + 1];
    for (int i = 0; i <= StubArgs; ++i)
        slots[i] = field(L::FrameOffset + 8 * i, 8);
    TCallFrame frame(*Process, FTarget64, field(L::SpOffset, 8), slots, StubArgs + 1);
    frame.ThreadId = static_cast<DWORD>(field(L::ThreadOffset, 4));
    TLateEntry late = FTracer->LateEntry(hook->second.Id);
    size_t length = static_cast<size_t>(std::min<uint64_t>(field(L::LengthOffset, 4), L::MaxBytes));
    if (late.BytesArg)
        frame.Capture(frame.Pointer(late.BytesArg),
                      std::string(reinterpret_cast<const char*>(entry + L::BytesOffset), length));
    EnterStubCall(*hook, FThreads->FindThread(frame.ThreadId), frame);
    return true;
}

// Leaving the process with the stubs in place: every entry gets its bytes back, the guard
// words are cleared, and a thread that has passed a guard but not yet raised is moved
// past the raise. The pages stay: calls in flight return through them.
void TDebugThread::LiftStubs(std::exception_ptr& firstError)
{
    auto attempt = [&firstError](auto&& body) {
        try {
            body();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    };
    for (auto& [address, hook] : FHooks)
        if (hook.Fast && hook.Armed) {
            attempt([&, address = address] { Process->WriteMemory(address, hook.Prologue, sizeof(hook.Jump)); });
            hook.Armed = false;
        }
    if (FStubPages.empty())
        return;
    for (const TStubPage& page : FStubPages) {
        const unsigned char cleared = 0;
        attempt([&] { Process->WriteMemory(page.Base + TStubPageLayout::GuardOffset, &cleared, 1); });
    }
    ForEachContext([&](TThreadContext& context) {
        attempt([&] {
            TAddress ip = context.Ip();
            for (const TStubPage& page : FStubPages)
                for (const auto& window : page.Windows)
                    if (ip >= window.From && ip <= window.To)
                        context.SetIp(window.Skip);
            context.Flush();
        });
    });
}

#include "StubHooks.h"

#include "PEImage.h"
#include "Utils.h"

#include <algorithm>
#include <cstring>

static_assert(StubMaxWords <= TCallFrame::MaxWords, "a stub's call reaches the tracer as a TCallFrame");

namespace {

constexpr uint64_t AllocationGranularity = 0x10000;
// A jump of five bytes reaches 2 GiB either way; pages are looked for well within that.
constexpr uint64_t NearSpan = 0x70000000;

// A page of stubs within reach of address for a 64-bit program: the free regions below
// it, then above it, nearest first.
TRemoteBlock AllocateNear(HANDLE process, TAddress address)
{
    // Looks at the region at `at` and makes the page there if it is free; false when the
    // region cannot be asked about.
    auto visit = [process](TAddress at, MEMORY_BASIC_INFORMATION& info, TRemoteBlock& page) {
        if (!VirtualQueryEx(process, AddressPointer(at), &info, sizeof(info)))
            return false;
        if (info.State == MEM_FREE)
            page = TRemoteBlock::Allocate(process, TStubPageLayout::Size, PAGE_EXECUTE_READWRITE, at);
        return true;
    };
    constexpr TAddress Granule = AllocationGranularity - 1;
    MEMORY_BASIC_INFORMATION info{};
    TRemoteBlock page;
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
    return page;
}

// The address of an export of one of the traced program's modules of its own bitness
// (its 32-bit kernel32 for a 32-bit program), followed through forwarders; 0 when it is
// not there.
TAddress TargetExport(TProcessInfo& process, bool x64, std::string moduleName, std::string exportName)
{
    // The module of that name and of the program's bitness, its exports read once.
    auto findImage = [&](const std::string& name) -> std::unique_ptr<TModuleImage> {
        for (const auto& module : process) {
            if (lstrcmpiA(ExtractFileName(module->FileName).c_str(), name.c_str()) != 0)
                continue;
            try {
                auto image = std::make_unique<TModuleImage>(process, module->Base);
                if (image->Is64() == x64)
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

} // namespace

TStubHooks::TStubHooks(TProcessInfo& process, const TThreadInfos& threads, bool x64, bool wow64,
                       uint32_t logEntries)
    : FProcess(process), FThreads(threads), FX64(x64), FWow64(wow64), FLog(process, !x64), FLogEntries(logEntries)
{
}

// Pages not kept go with their owners: the process has ended, or no entry leads there.
TStubHooks::~TStubHooks() = default;

TStubHooks::TPage* TStubHooks::PageFor(TAddress entry)
{
    unsigned char jump[5];
    for (const auto& page : FPages)
        if (page->Slots.size() < static_cast<size_t>(TStubPageLayout::SlotCount) &&
            BuildEntryJump(entry, TStubPageLayout::Slot(page->Base, static_cast<int>(page->Slots.size())), jump))
            return page.get();
    TRemoteBlock block = MakePage(entry);
    if (!block)
        return nullptr;
    FPages.push_back(std::make_unique<TPage>());
    FPages.back()->Base = block.get();
    FPages.back()->Block = std::move(block);
    return FPages.back().get();
}

// A new page near entry, its header written; empty when the program lacks what the stubs
// call or the page cannot be made.
TRemoteBlock TStubHooks::MakePage(TAddress entry)
{
    if (!FRaiseException)
        FRaiseException = TargetExport(FProcess, FX64, "KERNEL32.DLL", "RaiseException");
    if (!FBadReadPtr)
        FBadReadPtr = TargetExport(FProcess, FX64, "KERNEL32.DLL", "IsBadReadPtr");
    if (!FCounter)
        FCounter = TargetExport(FProcess, FX64, "KERNEL32.DLL", "QueryPerformanceCounter");
    if (FX64 && !FAddFunctionTable)
        FAddFunctionTable = TargetExport(FProcess, FX64, "NTDLL.DLL", "RtlAddFunctionTable");
    if (!FRaiseException || !FBadReadPtr || !FCounter || (FX64 && !FAddFunctionTable) || !FLog.Make(FLogEntries).Base)
        return {};
    HANDLE process = FProcess.Handle.get();
    TRemoteBlock page = FX64 ? AllocateNear(process, entry)
                             : TRemoteBlock::Allocate(process, TStubPageLayout::Size, PAGE_EXECUTE_READWRITE);
    if (!page)
        return {};
    TAddress base = page.get();
    std::vector<unsigned char> header = BuildPageHeader(base, FRaiseException, FBadReadPtr, FCounter, FAddFunctionTable, FX64);
    try {
        FProcess.WriteMemory(base, header.data(), header.size());
    } catch (const EOSError&) {
        return {};
    }
    // A 64-bit program registers the stubs' unwind data on a thread of its own, which runs
    // when the program goes on; until then nothing can unwind through a stub.
    if (FX64) {
        TUniqueHandle thread(CreateRemoteThread(
            process, nullptr, 0,
            reinterpret_cast<LPTHREAD_START_ROUTINE>(AddressPointer(base + TStubPageLayout::RegisterOffset)), nullptr,
            0, nullptr));
        if (!thread)
            return {};
    }
    return page;
}

bool TStubHooks::Add(TAddress address, const unsigned char (&prologue)[16], const TStubSpec& spec, bool returnWanted)
{
    if (spec.Words > StubMaxWords)
        return false;
    size_t moved = MovableLength(prologue, sizeof(prologue), FX64);
    if (moved == 0)
        return false;
    TPage* page = PageFor(address);
    if (!page)
        return false;
    int slot = static_cast<int>(page->Slots.size());
    // Both ways between the entry and the slot must be within a jump's reach.
    unsigned char jump[5];
    if (!BuildEntryJump(address, TStubPageLayout::Slot(page->Base, slot), jump) ||
        !BuildEntryJump(address, TStubPageLayout::Slot(page->Base, slot + 1), jump))
        return false;
    TStubCode code = BuildStubCode(page->Base, slot, address, prologue, moved, FX64, FLog.Ref(), spec);
    if (!BuildEntryJump(address, code.Stub, jump))
        return false;
    try {
        FProcess.WriteMemory(TStubPageLayout::Slot(page->Base, slot), code.Bytes.data(), code.Bytes.size());
        if (!returnWanted) {
            const unsigned char no = 0;
            FProcess.WriteMemory(TStubPageLayout::ReturnWanted(page->Base, slot), &no, 1);
        }
    } catch (const EOSError&) {
        return false;
    }
    page->Slots.push_back({address, spec.Words});
    page->Windows.insert(page->Windows.end(), code.Windows.begin(), code.Windows.end());
    TEntry& entry = FEntries[address];
    entry.Moved = moved;
    entry.Trampoline = code.Trampoline;
    std::memcpy(entry.Jump, jump, sizeof(jump));
    std::memcpy(entry.Original, prologue, sizeof(entry.Original));
    return true;
}

void TStubHooks::SetArmed(TAddress address, bool armed)
{
    TEntry& entry = FEntries.at(address);
    FProcess.WriteMemory(address, armed ? entry.Jump : entry.Original, sizeof(entry.Jump));
    entry.Armed = armed;
    if (!armed)
        return;
    FThreads.ForEachContext(FWow64, [&](TThreadContext& context) {
        TAddress ip = context.Ip();
        if (ip > address && ip < address + entry.Moved) {
            context.SetIp(entry.Trampoline + (ip - address));
            context.Flush();
        }
    });
}

const TStubHooks::TPage* TStubHooks::FindPage(TAddress base) const
{
    for (const auto& page : FPages)
        if (page->Base == base)
            return page.get();
    return nullptr;
}

TAddress TStubHooks::HookOf(TAddress pageBase, uint64_t slot) const
{
    const TPage* page = FindPage(pageBase);
    return page && slot < page->Slots.size() ? page->Slots[slot].Entry : 0;
}

bool TStubHooks::IsReport(const EXCEPTION_RECORD& record) const
{
    bool entry = record.ExceptionCode == StubEntryCode;
    if (!entry && record.ExceptionCode != StubReturnCode)
        return false;
    const TPage* page = FindPage(record.ExceptionInformation[StubParamPage]);
    uint64_t slot = record.ExceptionInformation[StubParamSlot];
    if (!page || slot >= page->Slots.size())
        return false;
    return record.NumberParameters ==
           static_cast<DWORD>(entry ? StubEntryParams(page->Slots[slot].Words) : StubReturnParams);
}

TStubReport TStubHooks::Report(const EXCEPTION_RECORD& record) const
{
    auto param = [&](int index) -> uint64_t {
        uint64_t value = record.ExceptionInformation[index];
        return FX64 ? value : static_cast<uint32_t>(value);
    };
    TStubReport report;
    report.Entry = record.ExceptionCode == StubEntryCode;
    report.Hook = HookOf(param(StubParamPage), param(StubParamSlot));
    report.EntrySp = param(StubParamEntrySp);
    report.Frame[0] = param(StubParamReturn);
    report.Known = 1;
    if (report.Entry) {
        for (DWORD i = StubParamFirstArg; i < record.NumberParameters; ++i)
            report.Frame[report.Known++] = param(static_cast<int>(i));
    } else {
        report.ElapsedTicks =
            static_cast<int64_t>((param(StubParamElapsedHigh) << 32) | static_cast<uint32_t>(param(StubParamElapsedLow)));
    }
    return report;
}

void TStubHooks::Drop(TAddress base, uint64_t size)
{
    auto inside = [&](TAddress address) { return address - base < size; };
    for (auto it = FEntries.begin(); it != FEntries.end();)
        it = inside(it->first) ? FEntries.erase(it) : std::next(it);
    for (auto it = FPages.begin(); it != FPages.end();) {
        TPage& page = **it;
        bool served = !page.Slots.empty() &&
                      std::all_of(page.Slots.begin(), page.Slots.end(), [&](const TSlot& s) { return inside(s.Entry); });
        if (!served) {
            ++it;
            continue;
        }
        // The entries it served have gone with their module: nothing can come back here.
        // A 64-bit program's page stays, as its unwind data is registered.
        if (FX64)
            page.Block.Release();
        it = FPages.erase(it);
    }
}

void TStubHooks::Lift(TFirstError& errors)
{
    for (auto& [address, entry] : FEntries)
        if (entry.Armed) {
            errors.Attempt([&, address = address] { FProcess.WriteMemory(address, entry.Original, sizeof(entry.Original)); });
            entry.Armed = false;
        }
    const unsigned char cleared = 0;
    for (const auto& page : FPages)
        errors.Attempt([&] { FProcess.WriteMemory(page->Base + TStubPageLayout::GuardOffset, &cleared, 1); });
    if (!FPages.empty())
        FThreads.ForEachContext(FWow64, [&](TThreadContext& context) {
            errors.Attempt([&] {
                TAddress ip = context.Ip();
                for (const auto& page : FPages)
                    for (const auto& window : page->Windows)
                        if (ip >= window.From && ip <= window.To)
                            context.SetIp(window.Skip);
                context.Flush();
            });
        });
    for (const auto& page : FPages)
        page->Block.Release();
    FLog.Keep();
}

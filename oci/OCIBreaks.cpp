#include "OCIBreaks.h"

#include "Errors.h"
#include "OCITexts.h"
#include "PEImage.h"
#include "TraceMask.h"
#include "Utils.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TOCIStatements

int TOCIStatements::IndexOfHandle(TAddress handle) const
{
    if (!FByHandle.count(handle))
        return -1;
    return IndexOfIf([handle](const TOCIStmt& s) { return s.Handle == handle; });
}

TOCIStmt* TOCIStatements::FindHandle(TAddress handle) const
{
    auto it = FByHandle.find(handle);
    return it == FByHandle.end() ? nullptr : it->second;
}

void TOCIStatements::SetText(TAddress handle, const std::string& text)
{
    TOCIStmt* stmt = FindHandle(handle);
    if (!stmt) {
        auto entry = std::make_unique<TOCIStmt>(handle);
        entry->Text = text;
        stmt = Add(std::move(entry));
        FByHandle[handle] = stmt;
        return;
    }
    stmt->Text = text;
}

void TOCIStatements::Delete(int index)
{
    TAddress handle = Items(index)->Handle;
    TOwningList<TOCIStmt>::Delete(index);
    FByHandle.erase(handle);
}

void TOCIStatements::Forget(TAddress handle)
{
    int index = IndexOfHandle(handle);
    if (index != -1)
        Delete(index);
}

void TOCIStatements::Clear()
{
    TOwningList<TOCIStmt>::Clear();
    FByHandle.clear();
}

// ---------------------------------------------------------------------------
// Module names

static std::string UpperFileName(const std::string& fullName)
{
    size_t at = fullName.find_last_of("\\:");
    std::string name = at == std::string::npos ? fullName : fullName.substr(at + 1);
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

bool IsOCIModuleName(const std::string& fullName) { return UpperFileName(fullName) == "OCI.DLL"; }

// ---------------------------------------------------------------------------
// TOCITracer

namespace {

constexpr const char* Unit = "OCIBreaks";

// The kind that traces each action's rows, by TTraceAction.
constexpr TTraceMask ActionKinds[] = {
    TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch,   TraceMaskConnect, TraceMaskConnect, TraceMaskCommit,
    TraceMaskCommit,  TraceMaskLobs,    TraceMaskLobs,    TraceMaskLobs,    TraceMaskLobs,    TraceMaskConnect,
    TraceMaskCommit,  TraceMaskCommit,  TraceMaskCommit,  TraceMaskCommit};
static_assert(std::size(ActionKinds) == static_cast<size_t>(TTraceAction::Detach) + 1);

} // namespace

TOCITracer::TOCITracer(TTraceMask mask, ITraceEvents& events, bool hideValues)
    : FMask(mask), FHideValues(hideValues), FEvents(events), FWaits(events), FStartTicks(PerformanceTicks())
{
}

bool TOCITracer::Traced(TTraceAction action) const { return Traced(ActionKinds[static_cast<int>(action)]); }

bool TOCITracer::Planted(int hookId) const
{
    TTraceMask kinds = OCIEntries[hookId].PlantedBy;
    return !kinds || Traced(kinds);
}

bool TOCITracer::Armed(int hookId) const
{
    TOCIRule rule = OCIEntries[hookId].ArmedIf;
    return Planted(hookId) && (!rule || rule(TOCIRuleState{FMask, !FWide.empty()}));
}

bool TOCITracer::ReturnWanted(int hookId) const
{
    const TOCIEntry& entry = OCIEntries[hookId];
    return entry.Handlers.Return && (!entry.ReturnOnlyWithRow || Traced(*entry.Row));
}

TLateEntry TOCITracer::LateEntry(int hookId) const
{
    const TOCIEntry& entry = OCIEntries[hookId];
    if (!entry.Late.Allowed || Traced(entry.Late.UnlessTraced))
        return {};
    return {true, entry.Arg(entry.Late.Bytes), entry.Arg(entry.Late.Length)};
}

bool TOCITracer::LateReturn(int hookId) const { return OCIEntries[hookId].LateReturn; }

// None of the filtered entries has an 8-byte argument, so their positions are their words
// on both machines.
TEntryFilter TOCITracer::EntryFilter(int hookId) const
{
    const TOCIEntry& entry = OCIEntries[hookId];
    TEntryFilter filter;
    filter.Arg = entry.Word(entry.Arg(entry.Filter.Arg), false);
    filter.Value = entry.Filter.Value;
    filter.ListArg = entry.Word(entry.Arg(entry.Filter.ListArg), false);
    VASSERT(entry.Filter.List.size() <= TEntryFilter::MaxList, Unit);
    for (uint32_t value : entry.Filter.List)
        filter.List[filter.ListSize++] = value;
    VASSERT(!filter.Any() || entry.Words(false) == entry.Words(true), Unit);
    return filter;
}

THookSpec TOCITracer::HookSpec(IHookHost& host, int hookId) const
{
    return THookSpec{hookId, OCIEntries[hookId].Words(host.Target64()), Armed(hookId)};
}

void TOCITracer::ThreadEnded(IHookHost& /*host*/, DWORD threadId) { FWaits.ThreadEnded(threadId); }

void TOCITracer::SessionEnding(IHookHost& /*host*/) { FWaits.SessionEnding(); }

void TOCITracer::ModuleLoaded(IHookHost& host, const TModuleInfo& module)
{
    if (IsOCIModuleName(module.FileName))
        PlantEntries(host, module);
    else
        ResolveForwards(host, module);
}

void TOCITracer::PlantEntries(IHookHost& host, const TModuleInfo& module)
{
    TModuleImage image(host.TargetProcess(), module.Base);
    // A DLL mapped as a resource (to read its version, say) is reported like a load but
    // holds no code that runs: nothing is planted there.
    for (int id = 0; id < OCIEntryCount; ++id) {
        const TExport* probe = image.Find(OCIEntries[id].Name);
        if (probe && probe->Address) {
            if (!host.TargetProcess().IsExecutable(probe->Address))
                return;
            break;
        }
    }
    FHooked.push_back(TRange{module.Base, image.SizeOfImage()});
    for (int id = 0; id < OCIEntryCount; ++id) {
        const TOCIEntry& entry = OCIEntries[id];
        if (!Planted(id))
            continue;
        const TExport* found = image.Find(entry.Name);
        if (!found) {
            if (entry.Required)
                RaiseOSError(ERROR_PROC_NOT_FOUND);
            continue;
        }
        if (found->Address) {
            host.AddHook(found->Address, HookSpec(host, id));
            continue;
        }
        // A forwarded export is code of another module: hooked there once it is loaded,
        // never written blind.
        TForward forward{id, "", ""};
        if (!SplitForwarder(found->Forward, forward.Module, forward.Export)) {
            host.Warn(Format("%s of %s is forwarded to %s and cannot be traced.", entry.Name, module.FileName.c_str(),
                             found->Forward.c_str()));
            continue;
        }
        forward.Module = UpperFileName(forward.Module);
        FForwards.push_back(forward);
    }
    for (const auto& other : host.TargetProcess())
        if (other.get() != &module)
            ResolveForwards(host, *other);
}

void TOCITracer::ResolveForwards(IHookHost& host, const TModuleInfo& module)
{
    if (FForwards.empty())
        return;
    std::string name = UpperFileName(module.FileName);
    if (std::none_of(FForwards.begin(), FForwards.end(), [&](const TForward& f) { return f.Module == name; }))
        return;
    TModuleImage image(host.TargetProcess(), module.Base);
    for (auto it = FForwards.begin(); it != FForwards.end();) {
        if (it->Module != name) {
            ++it;
            continue;
        }
        const TExport* found = image.Find(it->Export);
        if (found && found->Address) {
            if (std::none_of(FHooked.begin(), FHooked.end(), [&](const TRange& r) { return r.Base == module.Base; }))
                FHooked.push_back(TRange{module.Base, image.SizeOfImage()});
            host.AddHook(found->Address, HookSpec(host, it->HookId));
        } else {
            host.Warn(Format("%s is forwarded to %s.%s, which %s does not export: it is not traced.",
                             OCIEntries[it->HookId].Name, it->Module.c_str(), it->Export.c_str(), name.c_str()));
        }
        it = FForwards.erase(it);
    }
}

void TOCITracer::ModuleUnloaded(IHookHost& host, const TModuleInfo& module)
{
    auto it = std::find_if(FHooked.begin(), FHooked.end(), [&](const TRange& r) { return r.Base == module.Base; });
    if (it == FHooked.end())
        return;
    // The unload is reported once the module is unmapped: its hooks went with it and
    // cannot be written back.
    host.DropHooks(it->Base, it->Size);
    FHooked.erase(it);
}

std::string TOCITracer::ReadText(TCallFrame& frame, TAddress text, uint64_t length, bool wide)
{
    std::string bytes = frame.Bytes(text, length);
    return TextToUtf8(bytes, wide);
}

std::unique_ptr<TCallData> TOCITracer::CallEntered(IHookHost& host, int hookId, TCallFrame& frame)
{
    const TOCIEntry& entry = OCIEntries[hookId];
    return (this->*entry.Handlers.Enter)(host, entry, frame);
}

void TOCITracer::CallReturned(IHookHost& host, int hookId, TCallData& data, uint32_t result, int64_t elapsedTicks)
{
    TOCIReturn handler = OCIEntries[hookId].Handlers.Return;
    VASSERT(handler, Unit);
    (this->*handler)(host, data, result, elapsedTicks);
}

std::unique_ptr<TOCICallData> TOCITracer::NewCall(const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = std::make_unique<TOCICallData>();
    TTraceRecord& record = data->Record;
    record.StartTicks = PerformanceTicks();
    record.StartMicroseconds = TicksToMicroseconds(record.StartTicks - FStartTicks);
    record.Thread = frame.ThreadId;
    data->Thread = frame.ThreadId;
    if (!entry.Row)
        return data;
    record.Action = *entry.Row;
    data->Traced = Traced(record.Action);
    // What the thread's last call left to read is read by now, or never.
    FWaits.StatementCall(frame.ThreadId);
    Decoded(record, [&] { data->ErrorHandle = OCIArgument(entry, frame, TOCIArg::Error); });
    return data;
}

std::unique_ptr<TCallData> TOCITracer::Kept(std::unique_ptr<TOCICallData> data)
{
    if (!data->Traced)
        return nullptr;
    return data;
}

TOCICallData& TOCITracer::Finished(TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    auto& data = static_cast<TOCICallData&>(callData);
    data.Record.ElapsedDays = TicksToDays(elapsedTicks);
    data.Record.Result = static_cast<int32_t>(result);
    return data;
}

void TOCITracer::Deliver(TOCICallData& data)
{
    if (!data.Traced)
        return;
    TTraceRecord& record = data.Record;
    record.Serial = ++FSerial;
    bool waitsError = Traced(TraceMaskErrors) && record.Result != OCI_SUCCESS;
    bool waitsRows =
        Traced(TraceMaskRows) && (record.Action == TTraceAction::Execute || record.Action == TTraceAction::Fetch);
    bool waitsSqlId = Traced(TraceMaskRows) && record.Action == TTraceAction::Execute &&
                      OCISucceeded(record.Result) && FAsksSqlId.count(data.Statement) != 0;
    FWaits.Deliver(std::move(record), data.Thread, data.ErrorHandle, data.Statement, waitsError, waitsRows,
                   waitsSqlId);
}

void TOCITracer::RowReturned(IHookHost& /*host*/, TCallData& data, uint32_t result, int64_t elapsedTicks)
{
    Deliver(Finished(data, result, elapsedTicks));
}

void TOCITracer::MarkWide(IHookHost& host, TAddress handle)
{
    static const int handleAllocHook = OCIHookIdOf(TOCICall::HandleAlloc);
    bool first = FWide.empty();
    FWide.insert(handle);
    if (first && handleAllocHook >= 0)
        host.ArmHooks(handleAllocHook, true);
}

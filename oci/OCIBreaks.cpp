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

// What the tracer keeps of one call from its entry to its return.
class TOCICallData : public TCallData {
public:
    TTraceRecord Record;
    // The call makes a row.
    bool Traced = false;
    // Where the call stores the handle it makes.
    TAddress Out = 0;
    // Prepare2: the text could be read (else Record.Statement holds the error).
    bool TextRead = false;
    bool Wide = false;
    std::string Key;
    // Whose call it is, and the handles its error text and rows are asked of.
    DWORD Thread = 0;
    TAddress ErrorHandle = 0;
    TAddress Statement = 0;
    // A session call's arguments and labels, from its entry to its return.
    TSessionCall Session;
};

const int HandleAllocHook = OCIHookIdOf(TOCICall::HandleAlloc);

// Decoding failures become the record's statement; the record is timed and delivered
// like any other.
template <class Decode>
void Decoded(TTraceRecord& record, Decode decode)
{
    try {
        decode();
    } catch (const std::exception& e) {
        record.Statement = ExceptionText(e);
    }
}

} // namespace

TOCITracer::TOCITracer(BYTE mask, ITraceEvents& events, bool hideValues)
    : FMask(mask), FHideValues(hideValues), FEvents(events), FWaits(events)
{
}

bool TOCITracer::Traced(TTraceAction action) const
{
    switch (action) {
    case TTraceAction::Prepare: return FMask & TraceMaskPrepare;
    case TTraceAction::Execute: return FMask & TraceMaskExecute;
    case TTraceAction::Fetch: return FMask & TraceMaskFetch;
    case TTraceAction::Connect:
    case TTraceAction::Disconnect: return FMask & TraceMaskConnect;
    case TTraceAction::Commit:
    case TTraceAction::Rollback: return FMask & TraceMaskCommit;
    }
    return false;
}

bool TOCITracer::Planted(int hookId) const
{
    TOCICall call = OCIEntries[hookId].Call;
    if (TSessionCalls::IsSessionCall(call))
        return TSessionCalls::Planted(call, FMask);
    switch (call) {
    case TOCICall::Bind:
    case TOCICall::Bind2:
    case TOCICall::BindArray:
    case TOCICall::BindDynamic: return Traced(TraceMaskBinds);
    case TOCICall::ErrorGet: return Traced(TraceMaskErrors);
    case TOCICall::AttrGet: return Traced(TraceMaskRows);
    default: return true;
    }
}

bool TOCITracer::Armed(int hookId) const
{
    switch (OCIEntries[hookId].Call) {
    // A fetch's rows counted from the row count grow from its statement's execute on.
    case TOCICall::Execute:
        return Traced(TTraceAction::Execute) || (Traced(TraceMaskRows) && Traced(TTraceAction::Fetch));
    case TOCICall::Fetch: return Traced(TTraceAction::Fetch);
    // Only handles under a UTF-16 environment are of interest.
    case TOCICall::HandleAlloc: return !FWide.empty();
    // The registry and the encodings need every one of these.
    default: return Planted(hookId);
    }
}

// The calls that only feed the registry need nothing at their return.
bool TOCITracer::ReturnWanted(int hookId) const
{
    TOCICall call = OCIEntries[hookId].Call;
    if (TSessionCalls::IsSessionCall(call))
        return TSessionCalls::ReturnWanted(call);
    switch (call) {
    case TOCICall::Prepare: return Traced(TTraceAction::Prepare);
    case TOCICall::Execute: return Traced(TTraceAction::Execute);
    case TOCICall::HandleFree:
    case TOCICall::Release:
    case TOCICall::BindArray:
    case TOCICall::BindDynamic: return false;
    default: return true;
    }
}

// What these calls' entries read lies in their arguments, in the bytes named (copied when
// the call is made) and in the registry, which late entries reach in the order the calls
// were made. The others read memory the call itself fills or hands out. An execute reads
// its bind values while the program waits.
TLateEntry TOCITracer::LateEntry(int hookId) const
{
    const TOCIEntry& entry = OCIEntries[hookId];
    if (TSessionCalls::IsSessionCall(entry.Call))
        return TSessionCalls::LateEntry(entry);
    switch (entry.Call) {
    case TOCICall::Prepare: return {true, entry.Arg(TOCIArg::Text), entry.Arg(TOCIArg::Length)};
    case TOCICall::Execute:
        if (Traced(TraceMaskBinds))
            return {};
        return {true, 0, 0};
    case TOCICall::Fetch:
    case TOCICall::HandleFree:
    case TOCICall::BindArray:
    case TOCICall::BindDynamic:
    case TOCICall::ErrorGet:
    case TOCICall::AttrGet: return {true, 0, 0};
    case TOCICall::Release: return {true, entry.Arg(TOCIArg::Key), entry.Arg(TOCIArg::KeyLength)};
    default: return {};
    }
}

// These calls' returns complete a record from the result alone; the others read what the
// call filled in (a handle, a value, a text) while the program waits.
bool TOCITracer::LateReturn(int hookId) const
{
    switch (OCIEntries[hookId].Call) {
    case TOCICall::Prepare:
    case TOCICall::Execute:
    case TOCICall::Fetch: return true;
    default: return false;
    }
}

// OCIAttrGet is asked for many attributes of many handles per statement call, OCIErrorGet
// for every record of a diagnostic, OCIAttrSet for every setting a program makes: a stub
// lets through only what ReadEntered and the session calls could take. None of these
// entries has an 8-byte argument, so their positions are their words on both machines.
TEntryFilter TOCITracer::EntryFilter(int hookId) const
{
    const TOCIEntry& entry = OCIEntries[hookId];
    TEntryFilter filter;
    switch (entry.Call) {
    case TOCICall::ErrorGet:
        filter.Arg = entry.Word(entry.Arg(TOCIArg::Record), false);
        filter.Value = 1;
        break;
    case TOCICall::AttrGet:
        filter.Arg = entry.Word(entry.Arg(TOCIArg::HandleType), false);
        filter.Value = OCI_HTYPE_STMT;
        filter.ListArg = entry.Word(entry.Arg(TOCIArg::AttrType), false);
        for (uint32_t attribute : RowAttributes)
            filter.List[filter.ListSize++] = attribute;
        break;
    case TOCICall::AttrSet:
        filter.ListArg = entry.Word(entry.Arg(TOCIArg::AttrType), false);
        for (uint32_t attribute : SessionAttributes)
            filter.List[filter.ListSize++] = attribute;
        break;
    default: break;
    }
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
    switch (entry.Call) {
    case TOCICall::Bind:
    case TOCICall::Bind2: return BindEntered(host, entry, frame);
    case TOCICall::BindArray:
    case TOCICall::BindDynamic:
    case TOCICall::ErrorGet:
    case TOCICall::AttrGet: return ReadEntered(entry, frame);
    default: break;
    }
    auto arg = [&](TOCIArg a) { return OCIArgument(entry, frame, a); };
    auto arg32 = [&](TOCIArg a) { return OCIArgument32(entry, frame, a); };
    auto data = std::make_unique<TOCICallData>();
    TTraceRecord& record = data->Record;
    record.StartTicks = PerformanceTicks();
    bool makesRow = OCICallMakesRow(entry.Call, record.Action);
    data->Traced = makesRow && Traced(record.Action);
    data->Thread = frame.ThreadId;
    if (makesRow) {
        // What the thread's last call left to read is read by now, or never.
        FWaits.StatementCall(frame.ThreadId);
        Decoded(record, [&] { data->ErrorHandle = arg(TOCIArg::Error); });
    }
    auto statementOf = [&](TAddress handle) {
        TOCIStmt* stmt = Statements.FindHandle(handle);
        record.Statement = stmt ? stmt->Text : UnavailableStatement;
    };

    switch (entry.Call) {
    case TOCICall::Prepare:
        Decoded(record, [&] {
            TAddress handle = arg(TOCIArg::Handle);
            bool wide = FWide.count(handle) != 0;
            record.Statement = ReadText(frame, arg(TOCIArg::Text), arg32(TOCIArg::Length), wide);
            Statements.SetText(handle, record.Statement);
            FBinds.Forget(handle);
        });
        break;
    case TOCICall::Prepare2:
        // The handle is known only at the return; so is whether the call succeeded.
        Decoded(record, [&] {
            data->Out = arg(TOCIArg::Out);
            data->Wide = FWide.count(arg(TOCIArg::Handle)) != 0;
            TAddress text = arg(TOCIArg::Text);
            uint32_t length = arg32(TOCIArg::Length);
            TAddress key = arg(TOCIArg::Key);
            uint32_t keyLength = arg32(TOCIArg::KeyLength);
            if (key && keyLength)
                data->Key = frame.Bytes(key, keyLength);
            if ((!text || !length) && !data->Key.empty()) {
                auto known = FKeyed.find(data->Key);
                record.Statement = known != FKeyed.end() ? known->second : UnavailableStatement;
                data->TextRead = known != FKeyed.end();
            } else {
                record.Statement = text ? ReadText(frame, text, length, data->Wide) : std::string();
                data->TextRead = true;
            }
        });
        return data;
    case TOCICall::Execute:
    case TOCICall::Fetch:
        Decoded(record, [&] {
            data->Statement = arg(TOCIArg::Handle);
            statementOf(data->Statement);
            if (entry.Arg(TOCIArg::Rows))
                record.FetchRows = static_cast<int32_t>(arg32(TOCIArg::Rows));
            if (entry.Call == TOCICall::Execute) {
                record.CommitsOnSuccess = arg32(TOCIArg::Mode) & OCI_COMMIT_ON_SUCCESS;
                FWaits.Executed(data->Statement);
                if (data->Traced && Traced(TraceMaskBinds))
                    record.Binds = ExecuteBinds(host, entry, frame, data->Statement);
            }
        });
        break;
    // A handle that cannot be read here would leave the registry wrong for the rest of
    // the session: the failure ends it.
    case TOCICall::Release: {
        TAddress handle = arg(TOCIArg::Handle);
        TAddress key = arg(TOCIArg::Key);
        uint32_t keyLength = arg32(TOCIArg::KeyLength);
        // A statement given back under a key can be prepared again by the key alone.
        TOCIStmt* stmt = Statements.FindHandle(handle);
        if (stmt && key && keyLength) {
            try {
                FKeyed[frame.Bytes(key, keyLength)] = stmt->Text;
            } catch (const EOSError&) {
                // An unreadable key only costs a later prepare by that key its text.
            }
        }
        Statements.Forget(handle);
        FBinds.Forget(handle);
        FWaits.HandleFreed(handle);
        return nullptr;
    }
    case TOCICall::HandleFree: {
        TAddress handle = arg(TOCIArg::Handle);
        Statements.Forget(handle);
        FBinds.Forget(handle);
        FWaits.HandleFreed(handle);
        FWide.erase(handle);
        FSessions.Labels.Forget(handle);
        return nullptr;
    }
    case TOCICall::EnvCreate: {
        uint32_t mode = arg32(TOCIArg::Mode);
        uint16_t charset = static_cast<uint16_t>(arg32(TOCIArg::Charset));
        if (!(mode & OCI_UTF16) && charset != OCI_UTF16ID)
            return nullptr;
        data->Out = arg(TOCIArg::Out);
        return data;
    }
    case TOCICall::HandleAlloc:
        if (!FWide.count(arg(TOCIArg::Handle)))
            return nullptr;
        data->Out = arg(TOCIArg::Out);
        return data;
    default:
        if (TSessionCalls::IsSessionCall(entry.Call)) {
            bool wanted = false;
            Decoded(record, [&] { wanted = FSessions.Entered(entry, frame, record, data->Session); });
            return wanted || data->Traced ? std::move(data) : nullptr;
        }
        break;
    }
    return data->Traced ? std::move(data) : nullptr;
}

void TOCITracer::CallReturned(IHookHost& host, int hookId, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    switch (OCIEntries[hookId].Call) {
    case TOCICall::Bind:
    case TOCICall::Bind2: BindReturned(host, callData, static_cast<int32_t>(result)); return;
    case TOCICall::ErrorGet:
    case TOCICall::AttrGet: ReadReturned(host, callData, static_cast<int32_t>(result)); return;
    default: break;
    }
    auto& data = static_cast<TOCICallData&>(callData);
    TTraceRecord& record = data.Record;
    record.ElapsedDays = TicksToDays(elapsedTicks);
    record.Result = static_cast<int32_t>(result);
    switch (OCIEntries[hookId].Call) {
    case TOCICall::Prepare2:
        // A failed call hands out no handle and leaves the registry as it was.
        if (OCISucceeded(record.Result) && data.Out) {
            try {
                TAddress handle = ReadTargetPointer(host, data.Out);
                if (data.TextRead)
                    Statements.SetText(handle, record.Statement);
                else
                    Statements.Forget(handle);
                // A cached handle comes back prepared anew: its old binds are gone.
                FBinds.Forget(handle);
                data.Statement = handle;
                if (data.Wide)
                    FWide.insert(handle);
                if (data.TextRead && !data.Key.empty())
                    FKeyed[data.Key] = record.Statement;
            } catch (const EOSError&) {
                // No handle to be read where the call says it put one: its row still
                // shows the statement; later calls on the handle show "<unavailable>".
            }
        }
        break;
    case TOCICall::EnvCreate:
    case TOCICall::HandleAlloc:
        if (OCISucceeded(record.Result)) {
            try {
                MarkWide(host, ReadTargetPointer(host, data.Out));
            } catch (const EOSError&) {
                // An out pointer the call did not fill: nothing to follow.
            }
        }
        return;
    default:
        if (TSessionCalls::IsSessionCall(OCIEntries[hookId].Call))
            FSessions.Returned(host, OCIEntries[hookId].Call, data.Session, record);
        break;
    }
    if (data.Traced) {
        record.Serial = ++FSerial;
        bool waitsError = Traced(TraceMaskErrors) && record.Result != OCI_SUCCESS;
        bool waitsRows = Traced(TraceMaskRows) &&
                         (record.Action == TTraceAction::Execute || record.Action == TTraceAction::Fetch);
        FWaits.Deliver(std::move(record), data.Thread, data.ErrorHandle, data.Statement, waitsError, waitsRows);
    }
}

void TOCITracer::MarkWide(IHookHost& host, TAddress handle)
{
    bool first = FWide.empty();
    FWide.insert(handle);
    if (first && HandleAllocHook >= 0)
        host.ArmHooks(HandleAllocHook, true);
}

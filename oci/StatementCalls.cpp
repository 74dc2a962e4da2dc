// The statement calls as the tracer takes them: the Prepare, Execute and Fetch rows, and
// the calls that keep the statement registry and the encodings of handles.
#include "OCIBreaks.h"

#include "OCITexts.h"
#include "TraceMask.h"
#include "Utils.h"

void TOCITracer::StatementOf(TOCICallData& data, TAddress handle)
{
    data.Statement = handle;
    TOCIStmt* stmt = Statements.FindHandle(handle);
    data.Record.Statement = stmt ? stmt->Text : UnavailableStatement;
}

std::unique_ptr<TCallData> TOCITracer::PrepareEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    TTraceRecord& record = data->Record;
    Decoded(record, [&] {
        TOCICallArgs arg(entry, frame);
        TAddress handle = arg(TOCIArg::Handle);
        bool wide = FWide.count(handle) != 0;
        record.Statement = ReadText(frame, arg(TOCIArg::Text), arg.Dword(TOCIArg::Length), wide);
        Statements.SetText(handle, record.Statement);
        FBinds.Forget(handle);
        FLobs.Forget(handle);
        FAsksSqlId.erase(handle);
    });
    return Kept(std::move(data));
}

// The handle is known only at the return; so is whether the call succeeded.
std::unique_ptr<TCallData> TOCITracer::Prepare2Entered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    TTraceRecord& record = data->Record;
    Decoded(record, [&] {
        TOCICallArgs arg(entry, frame);
        data->Out = arg(TOCIArg::Out);
        data->Wide = FWide.count(arg(TOCIArg::Handle)) != 0;
        data->AsksSqlId = (arg.Dword(TOCIArg::Mode) & OCI_PREP2_GET_SQL_ID) != 0;
        TAddress text = arg(TOCIArg::Text);
        uint32_t length = arg.Dword(TOCIArg::Length);
        TAddress key = arg(TOCIArg::Key);
        uint32_t keyLength = arg.Dword(TOCIArg::KeyLength);
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
}

void TOCITracer::Prepare2Returned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    TTraceRecord& record = data.Record;
    // A failed call hands out no handle and leaves the registry as it was.
    if (OCISucceeded(record.Result) && data.Out) {
        try {
            TAddress handle = ReadTargetPointer(host, data.Out);
            if (data.TextRead)
                Statements.SetText(handle, record.Statement);
            else
                Statements.Forget(handle);
            // A cached handle comes back prepared anew: its old binds and defines are gone.
            FBinds.Forget(handle);
            FLobs.Forget(handle);
            data.Statement = handle;
            if (data.AsksSqlId)
                FAsksSqlId.insert(handle);
            else
                FAsksSqlId.erase(handle);
            if (data.Wide)
                FWide.insert(handle);
            if (data.TextRead && !data.Key.empty())
                FKeyed[data.Key] = record.Statement;
        } catch (const EOSError&) {
            // No handle to be read where the call says it put one: its row still
            // shows the statement; later calls on the handle show "<unavailable>".
        }
    }
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::ExecuteEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    TTraceRecord& record = data->Record;
    Decoded(record, [&] {
        TOCICallArgs arg(entry, frame);
        StatementOf(*data, arg(TOCIArg::Handle));
        record.CommitsOnSuccess = arg.Dword(TOCIArg::Mode) & OCI_COMMIT_ON_SUCCESS;
        FWaits.Executed(data->Statement);
        FBranches.Executed(data->Statement);
        if (data->Traced && Traced(TraceMaskBinds))
            record.Binds = ExecuteBinds(host, entry, frame, data->Statement);
    });
    return Kept(std::move(data));
}

std::unique_ptr<TCallData> TOCITracer::FetchEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    auto data = NewCall(entry, frame);
    TTraceRecord& record = data->Record;
    Decoded(record, [&] {
        TOCICallArgs arg(entry, frame);
        StatementOf(*data, arg(TOCIArg::Handle));
        record.FetchRows = static_cast<int32_t>(arg.Dword(TOCIArg::Rows));
        if (Traced(TraceMaskLobs))
            FLobs.Fetched(data->Statement, arg.Dword(TOCIArg::Rows));
    });
    return Kept(std::move(data));
}

// A handle that cannot be read by the registry's calls would leave the registry wrong for
// the rest of the session: the failure ends it.
std::unique_ptr<TCallData> TOCITracer::ReleaseEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    TAddress handle = arg(TOCIArg::Handle);
    TAddress key = arg(TOCIArg::Key);
    uint32_t keyLength = arg.Dword(TOCIArg::KeyLength);
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
    FLobs.Forget(handle);
    FBranches.Forget(handle);
    FAsksSqlId.erase(handle);
    FWaits.HandleFreed(handle);
    return nullptr;
}

std::unique_ptr<TCallData> TOCITracer::HandleFreeEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    TAddress handle = OCIArgument(entry, frame, TOCIArg::Handle);
    Statements.Forget(handle);
    FBinds.Forget(handle);
    FWaits.HandleFreed(handle);
    FWide.erase(handle);
    FSessions.Labels.Forget(handle);
    FLobs.Forget(handle);
    FBranches.Forget(handle);
    FAsksSqlId.erase(handle);
    return nullptr;
}

std::unique_ptr<TCallData> TOCITracer::EnvCreateEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                        TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    uint32_t mode = arg.Dword(TOCIArg::Mode);
    auto charset = static_cast<uint16_t>(arg.Dword(TOCIArg::Charset));
    if (!(mode & OCI_UTF16) && charset != OCI_UTF16ID)
        return nullptr;
    auto data = NewCall(entry, frame);
    data->Out = arg(TOCIArg::Out);
    return data;
}

std::unique_ptr<TCallData> TOCITracer::HandleAllocEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                          TCallFrame& frame)
{
    TOCICallArgs arg(entry, frame);
    if (!FWide.count(arg(TOCIArg::Handle)))
        return nullptr;
    auto data = NewCall(entry, frame);
    data->Out = arg(TOCIArg::Out);
    return data;
}

void TOCITracer::WideReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (!OCISucceeded(data.Record.Result))
        return;
    try {
        MarkWide(host, ReadTargetPointer(host, data.Out));
    } catch (const EOSError&) {
        // An out pointer the call did not fill: nothing to follow.
    }
}

#include "SessionCalls.h"

#include "Errors.h"
#include "OCIBreaks.h"
#include "OCITexts.h"
#include "TraceMask.h"
#include "TransactionCalls.h"

namespace {

constexpr uint32_t OCI_HTYPE_SVCCTX = 3;
// Sessions and authentication handles are one kind of handle.
constexpr uint32_t OCI_HTYPE_SESSION = 9;
constexpr uint32_t OCI_HTYPE_SPOOL = 27;


constexpr uint32_t OCI_CRED_EXT = 2;
// OCIServerAttach, OCILogon2: the name is a connection pool's, not a connect string.
constexpr uint32_t OCI_CPOOL = 0x200;
// OCISessionGet and OCILogon2: the name is a session pool's.
constexpr uint32_t OCI_SPOOL = 0x1;
constexpr uint32_t OCI_SESSGET_CREDEXT = 0x10;

// Names longer than this are garbage, not names.
constexpr int64_t MaxNameBytes = 4096;

// A name in the environment's encoding, up to its first zero character.
std::string DecodeName(const std::string& bytes, bool wide)
{
    std::string name = TextToUtf8(bytes, wide);
    return name.substr(0, name.find('\0'));
}

// A user name, connect string or driver name the call points to. One that cannot be read
// stays unknown: empty.
std::string NameText(TCallFrame& frame, TAddress text, int64_t length, bool wide)
{
    if (!text || length <= 0 || length > MaxNameBytes)
        return {};
    try {
        return DecodeName(frame.Bytes(text, static_cast<uint64_t>(length)), wide);
    } catch (const EOSError&) {
        return {};
    }
}

// A user name or connect string the call names, in the encoding of its first handle.
std::string ArgName(const TOCICallArgs& arg, TCallFrame& frame, TOCIArg text, TOCIArg length, bool wide)
{
    return NameText(frame, arg(text), static_cast<int32_t>(arg.Dword(length)), wide);
}

} // namespace

bool TSessionCalls::IsSessionCall(TOCICall call)
{
    switch (call) {
    case TOCICall::ServerAttach:
    case TOCICall::AttrSet:
    case TOCICall::SessionBegin:
    case TOCICall::SessionEnd:
    case TOCICall::SessionGet:
    case TOCICall::SessionRelease:
    case TOCICall::PoolCreate:
    case TOCICall::Logon:
    case TOCICall::Logon2:
    case TOCICall::Logoff:
    case TOCICall::TransCommit:
    case TOCICall::TransRollback: return true;
    default: return false;
    }
}

// The service context or the handle the call is about, the environment of a call that
// makes a context or a pool, goes to the call's data before enter reads the rest. enter
// returns whether the return is of interest besides the row.
template <class Enter>
std::unique_ptr<TCallData> TOCITracer::SessionEntered(const TOCIEntry& entry, TCallFrame& frame, Enter enter)
{
    auto data = NewCall(entry, frame);
    bool wanted = false;
    Decoded(data->Record, [&] {
        TOCICallArgs arg(entry, frame);
        data->Session.Svc = arg(TOCIArg::Handle);
        wanted = enter(arg, data->Record, data->Session);
    });
    return wanted || data->Traced ? std::move(data) : nullptr;
}

std::unique_ptr<TCallData> TOCITracer::ServerAttachEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                           TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord&, TSessionCall& data) {
        bool cpool = arg.Dword(TOCIArg::Mode) & OCI_CPOOL;
        FSessions.Labels.ServerAttached(
            data.Svc, cpool ? std::string()
                            : ArgName(arg, frame, TOCIArg::Connect, TOCIArg::ConnectLength, FSessions.IsWide(data.Svc)));
        return false;
    });
}

// The attribute is looked at first: the value of any other is never touched, and of
// OCI_ATTR_PASSWORD only its place is kept.
std::unique_ptr<TCallData> TOCITracer::AttrSetEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord&, TSessionCall& data) {
        uint32_t attr = arg.Dword(TOCIArg::AttrType);
        uint32_t type = arg.Dword(TOCIArg::HandleType);
        TAddress value = arg(TOCIArg::Attribute);
        TOCISessions& labels = FSessions.Labels;
        if (type == OCI_HTYPE_SESSION && (attr == OCI_ATTR_USERNAME || attr == OCI_ATTR_DRIVER_NAME)) {
            std::string text = NameText(frame, value, static_cast<int32_t>(arg.Dword(TOCIArg::Size)),
                                        FSessions.IsWide(data.Svc));
            if (attr == OCI_ATTR_USERNAME)
                labels.UserSet(data.Svc, text);
            else
                labels.DriverSet(data.Svc, text);
        } else if (type == OCI_HTYPE_SESSION && attr == OCI_ATTR_PASSWORD) {
            FSessions.Passwords.Add(value, arg.Dword(TOCIArg::Size));
        } else if (type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SERVER) {
            labels.ServerSet(data.Svc, value);
        } else if (type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SESSION) {
            labels.SessionSet(data.Svc, value);
        } else if (type == OCI_HTYPE_SPOOL && attr == OCI_ATTR_SPOOL_AUTH) {
            labels.PoolAuthSet(data.Svc, value);
        } else if (type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_TRANS) {
            FBranches.TransSet(data.Svc, value);
        } else if (type == OCI_HTYPE_TRANS && attr == OCI_ATTR_XID) {
            XidSet(frame, data.Svc, value);
        }
        return false;
    });
}

std::unique_ptr<TCallData> TOCITracer::SessionBeginEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                           TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord& record, TSessionCall& data) {
        data.Session = arg(TOCIArg::Session);
        bool external = arg.Dword(TOCIArg::Credentials) == OCI_CRED_EXT;
        record.Statement = FSessions.Labels.BeginLabel(data.Svc, data.Session, external);
        return true;
    });
}

void TOCITracer::SessionBeginReturned(IHookHost& /*host*/, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (OCISucceeded(data.Record.Result))
        FSessions.Labels.Connected(data.Session.Svc, data.Session.Session, data.Record.Statement);
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::SessionEndEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord& record, TSessionCall& data) {
        data.Session = arg(TOCIArg::Session);
        record.Statement = FSessions.Labels.EndLabel(data.Svc, data.Session);
        return true;
    });
}

void TOCITracer::SessionEndReturned(IHookHost& /*host*/, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (OCISucceeded(data.Record.Result))
        FSessions.Labels.Disconnected(data.Session.Svc, data.Session.Session);
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::SessionGetEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord& record, TSessionCall& data) {
        uint32_t mode = arg.Dword(TOCIArg::Mode);
        std::string connect =
            ArgName(arg, frame, TOCIArg::Connect, TOCIArg::ConnectLength, FSessions.IsWide(data.Svc));
        record.Statement = FSessions.Labels.GetLabel(arg(TOCIArg::Session), connect, mode & OCI_SPOOL,
                                                     mode & OCI_SESSGET_CREDEXT);
        data.Out = arg(TOCIArg::Out);
        return true;
    });
}

std::unique_ptr<TCallData> TOCITracer::LogonEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord& record, TSessionCall& data) {
        FSessions.Passwords.Add(arg(TOCIArg::Password), arg.Dword(TOCIArg::PasswordLength));
        bool wide = FSessions.IsWide(data.Svc);
        uint32_t mode = arg.Dword(TOCIArg::Mode);
        std::string user = ArgName(arg, frame, TOCIArg::User, TOCIArg::UserLength, wide);
        std::string db =
            mode & OCI_CPOOL ? std::string() : ArgName(arg, frame, TOCIArg::Connect, TOCIArg::ConnectLength, wide);
        record.Statement = FSessions.Labels.LogonLabel(user, db, mode & OCI_SPOOL);
        data.Out = arg(TOCIArg::Out);
        return true;
    });
}

void TOCITracer::ConnectReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (OCISucceeded(data.Record.Result)) {
        try {
            FSessions.Labels.Connected(ReadTargetPointer(host, data.Session.Out), 0, data.Record.Statement);
        } catch (const EOSError&) {
            // No context where the call says it put one: later rows on it show no label.
        }
    }
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::PoolCreateEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs& arg, TTraceRecord&, TSessionCall& data) {
        FSessions.Passwords.Add(arg(TOCIArg::Password), arg.Dword(TOCIArg::PasswordLength));
        data.Wide = FSessions.IsWide(data.Svc);  // the environment's
        data.Svc = arg(TOCIArg::Pool);
        data.Out = arg(TOCIArg::Out);
        data.OutLength = arg(TOCIArg::OutLength);
        data.Connect = ArgName(arg, frame, TOCIArg::Connect, TOCIArg::ConnectLength, data.Wide);
        data.User = ArgName(arg, frame, TOCIArg::User, TOCIArg::UserLength, data.Wide);
        return true;
    });
}

void TOCITracer::PoolCreateReturned(IHookHost& host, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    const TSessionCall& pool = data.Session;
    if (OCISucceeded(data.Record.Result)) {
        try {
            TAddress name = ReadTargetPointer(host, pool.Out);
            uint32_t length = host.TargetProcess().ReadDword(pool.OutLength);
            std::string bytes = length <= MaxNameBytes ? host.TargetProcess().ReadString(name, length) : std::string();
            FSessions.Labels.PoolCreated(pool.Svc, DecodeName(bytes, pool.Wide), pool.User, pool.Connect);
        } catch (const EOSError&) {
            // A pool whose name cannot be read lends its sessions no connect string.
        }
    }
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::DisconnectEntered(IHookHost& /*host*/, const TOCIEntry& entry,
                                                         TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs&, TTraceRecord& record, TSessionCall& data) {
        record.Statement = FSessions.Labels.EndLabel(data.Svc, 0);
        return true;
    });
}

void TOCITracer::DisconnectReturned(IHookHost& /*host*/, TCallData& callData, uint32_t result, int64_t elapsedTicks)
{
    TOCICallData& data = Finished(callData, result, elapsedTicks);
    if (OCISucceeded(data.Record.Result))
        FSessions.Labels.Disconnected(data.Session.Svc, 0);
    Deliver(data);
}

std::unique_ptr<TCallData> TOCITracer::TransEntered(IHookHost& /*host*/, const TOCIEntry& entry, TCallFrame& frame)
{
    return SessionEntered(entry, frame, [&](const TOCICallArgs&, TTraceRecord& record, TSessionCall& data) {
        record.Statement = FSessions.Labels.Label(data.Svc);
        return true;
    });
}

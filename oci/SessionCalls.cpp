#include "SessionCalls.h"

#include "Errors.h"
#include "OCITexts.h"
#include "TraceMask.h"

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

bool TSessionCalls::Planted(TOCICall call, BYTE mask)
{
    switch (call) {
    case TOCICall::TransCommit:
    case TOCICall::TransRollback: return mask & TraceMaskCommit;
    case TOCICall::AttrSet:
    case TOCICall::PoolCreate:
    case TOCICall::Logon:
    case TOCICall::Logon2: return mask & (TraceMaskConnect | TraceMaskCommit | TraceMaskBinds);
    default: return mask & (TraceMaskConnect | TraceMaskCommit);
    }
}

bool TSessionCalls::ReturnWanted(TOCICall call)
{
    return call != TOCICall::ServerAttach && call != TOCICall::AttrSet;
}

// Calls taken from their arguments and the labels alone may come late. OCIServerAttach's
// connect string is copied with it. The logon calls name two texts, and OCISessionGet and
// OCISessionPoolCreate read arguments beyond those a late entry carries. OCIAttrSet is
// never logged: its log entry would carry the bytes of every attribute set, passwords
// among them.
TLateEntry TSessionCalls::LateEntry(const TOCIEntry& entry)
{
    switch (entry.Call) {
    case TOCICall::ServerAttach: return {true, entry.Arg(TOCIArg::Connect), entry.Arg(TOCIArg::ConnectLength)};
    case TOCICall::SessionBegin:
    case TOCICall::SessionEnd:
    case TOCICall::SessionRelease:
    case TOCICall::Logoff:
    case TOCICall::TransCommit:
    case TOCICall::TransRollback: return {true, 0, 0};
    default: return {};
    }
}

bool TSessionCalls::Entered(const TOCIEntry& entry, TCallFrame& frame, TTraceRecord& record, TSessionCall& data)
{
    auto arg = [&](TOCIArg a) { return OCIArgument(entry, frame, a); };
    auto arg32 = [&](TOCIArg a) { return OCIArgument32(entry, frame, a); };
    // A user name or connect string the call names, in the encoding of its first handle.
    auto name = [&](TOCIArg text, TOCIArg length, bool wide) {
        return NameText(frame, arg(text), static_cast<int32_t>(arg32(length)), wide);
    };
    // The service context or the handle the call is about; the environment of a call
    // that makes a context or a pool.
    data.Svc = arg(TOCIArg::Handle);
    switch (entry.Call) {
    case TOCICall::ServerAttach: {
        bool cpool = arg32(TOCIArg::Mode) & OCI_CPOOL;
        Labels.ServerAttached(data.Svc, cpool ? std::string() : name(TOCIArg::Connect, TOCIArg::ConnectLength, IsWide(data.Svc)));
        return false;
    }
    case TOCICall::AttrSet: {
        // The attribute is looked at first: the value of any other is never touched, and of
        // OCI_ATTR_PASSWORD only its place is kept.
        uint32_t attr = arg32(TOCIArg::AttrType);
        uint32_t type = arg32(TOCIArg::HandleType);
        TAddress value = arg(TOCIArg::Attribute);
        if (type == OCI_HTYPE_SESSION && (attr == OCI_ATTR_USERNAME || attr == OCI_ATTR_DRIVER_NAME)) {
            std::string text = NameText(frame, value, static_cast<int32_t>(arg32(TOCIArg::Size)), IsWide(data.Svc));
            if (attr == OCI_ATTR_USERNAME)
                Labels.UserSet(data.Svc, text);
            else
                Labels.DriverSet(data.Svc, text);
        } else if (type == OCI_HTYPE_SESSION && attr == OCI_ATTR_PASSWORD) {
            Passwords.Add(value, arg32(TOCIArg::Size));
        } else if (type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SERVER) {
            Labels.ServerSet(data.Svc, value);
        } else if (type == OCI_HTYPE_SVCCTX && attr == OCI_ATTR_SESSION) {
            Labels.SessionSet(data.Svc, value);
        } else if (type == OCI_HTYPE_SPOOL && attr == OCI_ATTR_SPOOL_AUTH) {
            Labels.PoolAuthSet(data.Svc, value);
        }
        return false;
    }
    case TOCICall::SessionBegin:
        data.Session = arg(TOCIArg::Session);
        record.Statement = Labels.BeginLabel(data.Svc, data.Session, arg32(TOCIArg::Credentials) == OCI_CRED_EXT);
        return true;
    case TOCICall::SessionEnd:
        data.Session = arg(TOCIArg::Session);
        record.Statement = Labels.EndLabel(data.Svc, data.Session);
        return true;
    case TOCICall::SessionGet: {
        uint32_t mode = arg32(TOCIArg::Mode);
        std::string connect = name(TOCIArg::Connect, TOCIArg::ConnectLength, IsWide(data.Svc));
        record.Statement =
            Labels.GetLabel(arg(TOCIArg::Session), connect, mode & OCI_SPOOL, mode & OCI_SESSGET_CREDEXT);
        data.Out = arg(TOCIArg::Out);
        return true;
    }
    case TOCICall::PoolCreate:
        Passwords.Add(arg(TOCIArg::Password), arg32(TOCIArg::PasswordLength));
        data.Wide = IsWide(data.Svc);  // the environment's
        data.Svc = arg(TOCIArg::Pool);
        data.Out = arg(TOCIArg::Out);
        data.OutLength = arg(TOCIArg::OutLength);
        data.Connect = name(TOCIArg::Connect, TOCIArg::ConnectLength, data.Wide);
        data.User = name(TOCIArg::User, TOCIArg::UserLength, data.Wide);
        return true;
    case TOCICall::Logon:
    case TOCICall::Logon2: {
        Passwords.Add(arg(TOCIArg::Password), arg32(TOCIArg::PasswordLength));
        bool wide = IsWide(data.Svc);
        uint32_t mode = arg32(TOCIArg::Mode);
        std::string user = name(TOCIArg::User, TOCIArg::UserLength, wide);
        std::string db = mode & OCI_CPOOL ? std::string() : name(TOCIArg::Connect, TOCIArg::ConnectLength, wide);
        record.Statement = Labels.LogonLabel(user, db, mode & OCI_SPOOL);
        data.Out = arg(TOCIArg::Out);
        return true;
    }
    case TOCICall::SessionRelease:
    case TOCICall::Logoff:
        record.Statement = Labels.EndLabel(data.Svc, 0);
        return true;
    case TOCICall::TransCommit:
    case TOCICall::TransRollback:
        record.Statement = Labels.Label(data.Svc);
        return true;
    default:
        return false;
    }
}

void TSessionCalls::Returned(IHookHost& host, TOCICall call, const TSessionCall& data, const TTraceRecord& record)
{
    if (!OCISucceeded(record.Result))
        return;
    switch (call) {
    case TOCICall::SessionBegin:
        Labels.Connected(data.Svc, data.Session, record.Statement);
        break;
    case TOCICall::SessionEnd:
        Labels.Disconnected(data.Svc, data.Session);
        break;
    case TOCICall::SessionRelease:
    case TOCICall::Logoff:
        Labels.Disconnected(data.Svc, 0);
        break;
    case TOCICall::SessionGet:
    case TOCICall::Logon:
    case TOCICall::Logon2:
        try {
            Labels.Connected(ReadTargetPointer(host, data.Out), 0, record.Statement);
        } catch (const EOSError&) {
            // No context where the call says it put one: later rows on it show no label.
        }
        break;
    case TOCICall::PoolCreate:
        try {
            TAddress name = ReadTargetPointer(host, data.Out);
            uint32_t length = host.TargetProcess().ReadDword(data.OutLength);
            std::string bytes = length <= MaxNameBytes ? host.TargetProcess().ReadString(name, length) : std::string();
            Labels.PoolCreated(data.Svc, DecodeName(bytes, data.Wide), data.User, data.Connect);
        } catch (const EOSError&) {
            // A pool whose name cannot be read lends its sessions no connect string.
        }
        break;
    default:
        break;
    }
}

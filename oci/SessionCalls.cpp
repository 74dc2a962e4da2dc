#include "SessionCalls.h"

#include "Errors.h"
#include "OCITexts.h"
#include "TraceMask.h"

namespace {

constexpr uint32_t OCI_HTYPE_SVCCTX = 3;
// Sessions and authentication handles are one kind of handle.
constexpr uint32_t OCI_HTYPE_SESSION = 9;
constexpr uint32_t OCI_HTYPE_SPOOL = 27;

constexpr uint32_t OCI_ATTR_SERVER = 6;
constexpr uint32_t OCI_ATTR_SESSION = 7;
constexpr uint32_t OCI_ATTR_USERNAME = 22;
constexpr uint32_t OCI_ATTR_DRIVER_NAME = 424;
constexpr uint32_t OCI_ATTR_SPOOL_AUTH = 460;

constexpr uint32_t OCI_CRED_EXT = 2;
// OCIServerAttach, OCILogon2: the name is a connection pool's, not a connect string.
constexpr uint32_t OCI_CPOOL = 0x200;
// OCISessionGet and OCILogon2: the name is a session pool's.
constexpr uint32_t OCI_SPOOL = 0x1;
constexpr uint32_t OCI_SESSGET_CREDEXT = 0x10;

// Names longer than this are garbage, not names.
constexpr int64_t MaxNameBytes = 4096;

bool Succeeded(int32_t result) { return result == OCI_SUCCESS || result == OCI_SUCCESS_WITH_INFO; }

// A name in the environment's encoding, up to its first zero character.
std::string DecodeName(const std::string& bytes, bool wide)
{
    std::string name = wide ? WideTextToUtf8(bytes) : NarrowTextToUtf8(bytes);
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

TAddress ReadPointer(IHookHost& host, TAddress address)
{
    return host.Target64() ? host.TargetProcess().ReadQword(address) : host.TargetProcess().ReadDword(address);
}

// Argument word n of a call that waits at its entry: the frame holds the first ones, the
// others are still on the stack where the caller put them.
uint64_t StackArg(IHookHost& host, TCallFrame& frame, int n)
{
    if (n < TCallFrame::SlotCount)
        return frame.Arg(n);
    TProcessInfo& process = host.TargetProcess();
    return frame.Is64() ? process.ReadQword(frame.Sp() + 8u * n) : process.ReadDword(frame.Sp() + 4u * n);
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

bool TSessionCalls::Armed(TOCICall call, BYTE mask)
{
    if (call == TOCICall::TransCommit || call == TOCICall::TransRollback)
        return mask & TraceMaskCommit;
    return mask & (TraceMaskConnect | TraceMaskCommit);
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
TLateEntry TSessionCalls::LateEntry(TOCICall call)
{
    switch (call) {
    case TOCICall::ServerAttach: return {true, 3, 4};
    case TOCICall::SessionBegin:
    case TOCICall::SessionEnd:
    case TOCICall::SessionRelease:
    case TOCICall::Logoff:
    case TOCICall::TransCommit:
    case TOCICall::TransRollback: return {true, 0, 0};
    default: return {};
    }
}

int TSessionCalls::ArgumentWords(TOCICall call)
{
    switch (call) {
    case TOCICall::SessionGet: return 12;
    case TOCICall::PoolCreate: return 15;
    default: return 0;
    }
}

bool TSessionCalls::Entered(IHookHost& host, TOCICall call, TCallFrame& frame, TTraceRecord& record,
                            TSessionCall& data)
{
    // The service context or the handle the call is about; the environment of a call
    // that makes a context or a pool.
    data.Svc = frame.Pointer(1);
    switch (call) {
    case TOCICall::ServerAttach: {
        // (srvhp, errhp, dblink, dblink_len, mode)
        bool cpool = frame.Arg32(5) & OCI_CPOOL;
        auto length = static_cast<int32_t>(frame.Arg32(4));
        Labels.ServerAttached(data.Svc, cpool ? std::string() : NameText(frame, frame.Pointer(3), length, IsWide(data.Svc)));
        return false;
    }
    case TOCICall::AttrSet: {
        // (trgthndlp, trghndltyp, attributep, size, attrtype, errhp). The attribute is looked
        // at first: the value of any other, OCI_ATTR_PASSWORD above all, is never touched.
        uint32_t attr = frame.Arg32(5);
        uint32_t type = frame.Arg32(2);
        TAddress value = frame.Pointer(3);
        if (type == OCI_HTYPE_SESSION && (attr == OCI_ATTR_USERNAME || attr == OCI_ATTR_DRIVER_NAME)) {
            std::string name = NameText(frame, value, frame.Arg32(4), IsWide(data.Svc));
            if (attr == OCI_ATTR_USERNAME)
                Labels.UserSet(data.Svc, name);
            else
                Labels.DriverSet(data.Svc, name);
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
        // (svchp, errhp, usrhp, credt, mode)
        data.Session = frame.Pointer(3);
        record.Statement = Labels.BeginLabel(data.Svc, data.Session, frame.Arg32(4) == OCI_CRED_EXT);
        return true;
    case TOCICall::SessionEnd:
        // (svchp, errhp, usrhp, mode)
        data.Session = frame.Pointer(3);
        record.Statement = Labels.EndLabel(data.Svc, data.Session);
        return true;
    case TOCICall::SessionGet: {
        // (envhp, errhp, svchpp, authhp, dbName, dbName_len, taginfo, taginfo_len, retTagInfo,
        //  retTagInfo_len, found, mode)
        uint32_t mode = static_cast<uint32_t>(StackArg(host, frame, 12));
        std::string name = NameText(frame, frame.Pointer(5), frame.Arg32(6), IsWide(data.Svc));
        record.Statement = Labels.GetLabel(frame.Pointer(4), name, mode & OCI_SPOOL, mode & OCI_SESSGET_CREDEXT);
        data.Out = frame.Pointer(3);
        return true;
    }
    case TOCICall::PoolCreate: {
        // (envhp, errhp, spoolhp, poolName, poolNameLen, connStr, connStrLen, sessMin, sessMax,
        //  sessIncr, userid, useridLen, password, passwordLen, mode): the password's two
        // arguments are never read.
        data.Wide = IsWide(data.Svc);  // the environment's
        data.Svc = frame.Pointer(3);
        data.Out = frame.Pointer(4);
        data.OutLength = frame.Pointer(5);
        data.Connect = NameText(frame, frame.Pointer(6), frame.Arg32(7), data.Wide);
        TAddress user = StackArg(host, frame, 11);
        auto userLength = static_cast<uint32_t>(StackArg(host, frame, 12));
        data.User = NameText(frame, user, userLength, data.Wide);
        return true;
    }
    case TOCICall::Logon:
    case TOCICall::Logon2: {
        // (envhp, errhp, svchpp, username, uname_len, password, passwd_len, dbname, dbname_len
        //  [, mode]): the password's two arguments are never read.
        bool wide = IsWide(data.Svc);
        uint32_t mode = call == TOCICall::Logon2 ? frame.Arg32(10) : 0;
        std::string user = NameText(frame, frame.Pointer(4), frame.Arg32(5), wide);
        std::string db = mode & OCI_CPOOL ? std::string() : NameText(frame, frame.Pointer(8), frame.Arg32(9), wide);
        record.Statement = Labels.LogonLabel(user, db, mode & OCI_SPOOL);
        data.Out = frame.Pointer(3);
        return true;
    }
    case TOCICall::SessionRelease:
    case TOCICall::Logoff:
        // (svchp, errhp, ...)
        record.Statement = Labels.EndLabel(data.Svc, 0);
        return true;
    case TOCICall::TransCommit:
    case TOCICall::TransRollback:
        // (svchp, errhp, flags)
        record.Statement = Labels.Label(data.Svc);
        return true;
    default:
        return false;
    }
}

void TSessionCalls::Returned(IHookHost& host, TOCICall call, const TSessionCall& data, const TTraceRecord& record)
{
    if (!Succeeded(record.Result))
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
            Labels.Connected(ReadPointer(host, data.Out), 0, record.Statement);
        } catch (const EOSError&) {
            // No context where the call says it put one: later rows on it show no label.
        }
        break;
    case TOCICall::PoolCreate:
        try {
            TAddress name = ReadPointer(host, data.Out);
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

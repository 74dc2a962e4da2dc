#include "OCIEntries.h"

#include "Arch.h"

// The signatures follow the published argument lists. The entries after the first ten are
// planted only when their kind of detail, session or transaction is traced (see
// TOCITracer::Planted). A password's argument words tell where it lies, so that nothing
// read there is shown; its bytes are never read.
// clang-format off
constexpr TOCIEntry OCIEntries[] = {
    {"OCIStmtPrepare",       TOCICall::Prepare,     true,  OCISignature("handle error text length - -")},
    {"OCIStmtExecute",       TOCICall::Execute,     true,  OCISignature("- handle error iters rowoffset - - mode")},
    {"OCIStmtFetch",         TOCICall::Fetch,       true,  OCISignature("handle error rows - -")},
    {"OCIHandleFree",        TOCICall::HandleFree,  true,  OCISignature("handle htype")},
    {"OCIStmtPrepare2",      TOCICall::Prepare2,    false, OCISignature("handle out error text length key keylength - -")},
    {"OCIStmtRelease",       TOCICall::Release,     false, OCISignature("handle error key keylength -")},
    {"OCIStmtFetch2",        TOCICall::Fetch,       false, OCISignature("handle error rows - - -")},
    {"OCIEnvCreate",         TOCICall::EnvCreate,   false, OCISignature("out mode - - - - - -")},
    {"OCIEnvNlsCreate",      TOCICall::EnvCreate,   false, OCISignature("out mode - - - - - - charset -")},
    {"OCIHandleAlloc",       TOCICall::HandleAlloc, false, OCISignature("handle out htype - -")},
    {"OCIBindByName",        TOCICall::Bind,        false,
     OCISignature("handle out error name namelength value size type indicator altlength - maxarray current mode")},
    {"OCIBindByName2",       TOCICall::Bind2,       false,
     OCISignature("handle out error name namelength value size8 type indicator altlength - maxarray current mode")},
    {"OCIBindByPos",         TOCICall::Bind,        false,
     OCISignature("handle out error position value size type indicator altlength - maxarray current mode")},
    {"OCIBindByPos2",        TOCICall::Bind2,       false,
     OCISignature("handle out error position value size8 type indicator altlength - maxarray current mode")},
    {"OCIBindArrayOfStruct", TOCICall::BindArray,   false, OCISignature("handle error valueskip indicatorskip lengthskip -")},
    {"OCIBindDynamic",       TOCICall::BindDynamic, false, OCISignature("handle error - - - -")},
    {"OCIErrorGet",          TOCICall::ErrorGet,    false, OCISignature("handle record - code buffer buffersize htype")},
    {"OCIAttrGet",           TOCICall::AttrGet,     false, OCISignature("handle htype attribute - attrtype error")},
    {"OCIServerAttach",      TOCICall::ServerAttach,   false, OCISignature("handle error connect connectlength mode")},
    {"OCIAttrSet",           TOCICall::AttrSet,        false, OCISignature("handle htype attribute size attrtype error")},
    {"OCISessionBegin",      TOCICall::SessionBegin,   false, OCISignature("handle error session credentials mode")},
    {"OCISessionEnd",        TOCICall::SessionEnd,     false, OCISignature("handle error session mode")},
    {"OCISessionGet",        TOCICall::SessionGet,     false,
     OCISignature("handle error out session connect connectlength - - - - - mode")},
    {"OCISessionRelease",    TOCICall::SessionRelease, false, OCISignature("handle error - - mode")},
    {"OCISessionPoolCreate", TOCICall::PoolCreate,     false,
     OCISignature("handle error pool out outlength connect connectlength - - - user userlength password "
                  "passwordlength mode")},
    {"OCILogon",             TOCICall::Logon,          false,
     OCISignature("handle error out user userlength password passwordlength connect connectlength")},
    {"OCILogon2",            TOCICall::Logon2,         false,
     OCISignature("handle error out user userlength password passwordlength connect connectlength mode")},
    {"OCILogoff",            TOCICall::Logoff,         false, OCISignature("handle error")},
    {"OCITransCommit",       TOCICall::TransCommit,    false, OCISignature("handle error -")},
    {"OCITransRollback",     TOCICall::TransRollback,  false, OCISignature("handle error -")},
};
// clang-format on
const int OCIEntryCount = static_cast<int>(sizeof(OCIEntries) / sizeof(OCIEntries[0]));

int TOCIEntry::Word(int n, bool x64) const
{
    if (x64)
        return n;
    int word = n;
    for (int k = 1; k < n; ++k)
        if (Args.Wide & (1u << k))
            ++word;
    return word;
}

uint64_t OCIArgument(const TOCIEntry& entry, TCallFrame& frame, TOCIArg arg)
{
    int n = entry.Arg(arg);
    if (!n)
        return 0;
    int word = entry.Word(n, frame.Is64());
    if (frame.Is64() || !(entry.Args.Wide & (1u << n)))
        return frame.Arg(word);
    // Two 32-bit stack words, the low half first.
    return frame.Arg32(word) | static_cast<uint64_t>(frame.Arg32(word + 1)) << 32;
}

int OCIHookIdOf(TOCICall call)
{
    for (int i = 0; i < OCIEntryCount; ++i)
        if (OCIEntries[i].Call == call)
            return i;
    return -1;
}

bool OCICallMakesRow(TOCICall call, TTraceAction& action)
{
    switch (call) {
    case TOCICall::Prepare:
    case TOCICall::Prepare2: action = TTraceAction::Prepare; return true;
    case TOCICall::Execute: action = TTraceAction::Execute; return true;
    case TOCICall::Fetch: action = TTraceAction::Fetch; return true;
    case TOCICall::SessionBegin:
    case TOCICall::SessionGet:
    case TOCICall::Logon:
    case TOCICall::Logon2: action = TTraceAction::Connect; return true;
    case TOCICall::SessionEnd:
    case TOCICall::SessionRelease:
    case TOCICall::Logoff: action = TTraceAction::Disconnect; return true;
    case TOCICall::TransCommit: action = TTraceAction::Commit; return true;
    case TOCICall::TransRollback: action = TTraceAction::Rollback; return true;
    default: return false;
    }
}

#include "OCIEntries.h"

// clang-format off
const TOCIEntry OCIEntries[] = {
    // name               call                  required  handle text len key keylen rows out mode charset
    {"OCIStmtPrepare",    TOCICall::Prepare,     true,    1,     3,   4,  0,  0,     0,   0,  0,   0},
    {"OCIStmtExecute",    TOCICall::Execute,     true,    2,     0,   0,  0,  0,     0,   0,  8,   0},
    {"OCIStmtFetch",      TOCICall::Fetch,       true,    1,     0,   0,  0,  0,     3,   0,  0,   0},
    {"OCIHandleFree",     TOCICall::HandleFree,  true,    1,     0,   0,  0,  0,     0,   0,  0,   0},
    {"OCIStmtPrepare2",   TOCICall::Prepare2,    false,   1,     4,   5,  6,  7,     0,   2,  0,   0},
    {"OCIStmtRelease",    TOCICall::Release,     false,   1,     0,   0,  3,  4,     0,   0,  0,   0},
    {"OCIStmtFetch2",     TOCICall::Fetch,       false,   1,     0,   0,  0,  0,     3,   0,  0,   0},
    {"OCIEnvCreate",      TOCICall::EnvCreate,   false,   0,     0,   0,  0,  0,     0,   1,  2,   0},
    {"OCIEnvNlsCreate",   TOCICall::EnvCreate,   false,   0,     0,   0,  0,  0,     0,   1,  2,   9},
    {"OCIHandleAlloc",    TOCICall::HandleAlloc, false,   1,     0,   0,  0,  0,     0,   2,  0,   0},
    // The session calls' other arguments are read where SessionCalls takes them.
    {"OCIServerAttach",   TOCICall::ServerAttach,   false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCIAttrSet",        TOCICall::AttrSet,        false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCISessionBegin",   TOCICall::SessionBegin,   false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCISessionEnd",     TOCICall::SessionEnd,     false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCISessionGet",     TOCICall::SessionGet,     false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCISessionRelease", TOCICall::SessionRelease, false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCISessionPoolCreate", TOCICall::PoolCreate,  false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCILogon",          TOCICall::Logon,          false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCILogon2",         TOCICall::Logon2,         false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCILogoff",         TOCICall::Logoff,         false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCITransCommit",    TOCICall::TransCommit,    false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
    {"OCITransRollback",  TOCICall::TransRollback,  false, 1,  0,   0,  0,  0,     0,   0,  0,   0},
};
// clang-format on
const int OCIEntryCount = static_cast<int>(sizeof(OCIEntries) / sizeof(OCIEntries[0]));

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

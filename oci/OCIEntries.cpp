#include "OCIEntries.h"

// clang-format off
const TOCIEntry OCIEntries[] = {
    // name               call                  required  handle text len key keylen rows out mode charset words32 words64
    {"OCIStmtPrepare",    TOCICall::Prepare,     true,    1,     3,   4,  0,  0,     0,   0,  0,   0,    6,   6},
    {"OCIStmtExecute",    TOCICall::Execute,     true,    2,     0,   0,  0,  0,     0,   0,  0,   0,    8,   8},
    {"OCIStmtFetch",      TOCICall::Fetch,       true,    1,     0,   0,  0,  0,     3,   0,  0,   0,    5,   5},
    {"OCIHandleFree",     TOCICall::HandleFree,  true,    1,     0,   0,  0,  0,     0,   0,  0,   0,    2,   2},
    {"OCIStmtPrepare2",   TOCICall::Prepare2,    false,   1,     4,   5,  6,  7,     0,   2,  0,   0,    9,   9},
    {"OCIStmtRelease",    TOCICall::Release,     false,   1,     0,   0,  3,  4,     0,   0,  0,   0,    5,   5},
    {"OCIStmtFetch2",     TOCICall::Fetch,       false,   1,     0,   0,  0,  0,     3,   0,  0,   0,    6,   6},
    {"OCIEnvCreate",      TOCICall::EnvCreate,   false,   0,     0,   0,  0,  0,     0,   1,  2,   0,    8,   8},
    {"OCIEnvNlsCreate",   TOCICall::EnvCreate,   false,   0,     0,   0,  0,  0,     0,   1,  2,   9,   10,  10},
    {"OCIHandleAlloc",    TOCICall::HandleAlloc, false,   1,     0,   0,  0,  0,     0,   2,  0,   0,    5,   5},
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
    default: return false;
    }
}

// The OCI entry points the tracer watches, as data: what each call means and where its
// arguments are. The engine plants a hook on each one the module exports.
#pragma once

#include "TraceRecord.h"

#include <cstdint>

enum class TOCICall : uint8_t {
    Prepare,      // OCIStmtPrepare: a row, and the text for the registry
    Prepare2,     // OCIStmtPrepare2: the same, the handle known only at the return
    Execute,
    Fetch,        // OCIStmtFetch and OCIStmtFetch2
    HandleFree,   // drops a handle from the registry
    Release,      // OCIStmtRelease: the same, for a statement given back to the cache
    EnvCreate,    // an environment, perhaps a UTF-16 one
    HandleAlloc,  // a handle under a UTF-16 parent is UTF-16 too
    // Sessions and transactions (SessionCalls): rows of their own, and the calls that
    // name the parts of their labels.
    ServerAttach,
    AttrSet,
    SessionBegin,
    SessionEnd,
    SessionGet,
    SessionRelease,
    PoolCreate,
    Logon,
    Logon2,
    Logoff,
    TransCommit,
    TransRollback,
};

struct TOCIEntry {
    const char* Name;
    TOCICall Call;
    // A required entry missing from the module ends the session; an optional one (of a
    // newer library) is simply not traced.
    bool Required;
    // Argument positions, counted from 1; 0 where the call has no such argument.
    int8_t Handle;     // the statement handle, the handle freed, the parent handle, or the
                       // handle a session call is about
    int8_t Text;
    int8_t Length;
    int8_t Key;
    int8_t KeyLength;
    int8_t Rows;
    int8_t Out;        // where the call stores the handle it makes
    int8_t Mode;
    int8_t Charset;
};

// Every watched export, in planting order; a hook's id is its position here.
extern const TOCIEntry OCIEntries[];
extern const int OCIEntryCount;

// The row a call makes, if any.
bool OCICallMakesRow(TOCICall call, TTraceAction& action);

// OCIEnvCreate's mode bit and OCIEnvNlsCreate's character set id for UTF-16 text.
constexpr uint32_t OCI_UTF16 = 0x4000;
constexpr uint16_t OCI_UTF16ID = 1000;
// OCIStmtExecute's mode bit that commits the transaction when the statement succeeds.
constexpr uint32_t OCI_COMMIT_ON_SUCCESS = 0x20;

// The session and transaction calls as the tracer takes them: the Connect, Disconnect,
// Commit and Rollback rows they make, and the labels those rows show, fed by the calls
// that name a session's parts. A password, as an attribute or as an argument, is never
// read: the tracer looks at its pointer and length at most.
#pragma once

#include "CallTracer.h"
#include "OCIEntries.h"
#include "OCISessions.h"
#include "TraceRecord.h"
#include "TransactionCalls.h"

#include <windows.h>

#include <iterator>
#include <string>
#include <unordered_set>

// The attributes OCIAttrSet names a session's parts with (a password: only its place);
// the tracer passes over every other one.
constexpr uint32_t OCI_ATTR_SERVER = 6;
constexpr uint32_t OCI_ATTR_SESSION = 7;
constexpr uint32_t OCI_ATTR_USERNAME = 22;
constexpr uint32_t OCI_ATTR_PASSWORD = 23;
constexpr uint32_t OCI_ATTR_DRIVER_NAME = 424;
constexpr uint32_t OCI_ATTR_SPOOL_AUTH = 460;
// Besides: a context's transaction and the XID of a transaction (TransactionCalls.h).
inline constexpr uint32_t SessionAttributes[] = {OCI_ATTR_SERVER,      OCI_ATTR_SESSION,    OCI_ATTR_USERNAME,
                                                 OCI_ATTR_PASSWORD,    OCI_ATTR_DRIVER_NAME, OCI_ATTR_SPOOL_AUTH,
                                                 OCI_ATTR_TRANS,        OCI_ATTR_XID};
static_assert(std::size(SessionAttributes) <= TEntryFilter::MaxList);

// What a session call keeps from its entry to its return.
struct TSessionCall {
    // The service context (or the pool) the call is about, and the session it begins or ends.
    TAddress Svc = 0;
    TAddress Session = 0;
    // Where the call stores the context or the pool name it makes, and the name's length.
    TAddress Out = 0;
    TAddress OutLength = 0;
    bool Wide = false;
    // A pool's user and connect string, known once the call has named the pool.
    std::string User;
    std::string Connect;
};

// The state the session calls keep (their handlers are the tracer's, see SessionCalls.cpp).
class TSessionCalls {
public:
    // wide: the handles of UTF-16 environments and of everything allocated under them.
    explicit TSessionCalls(const std::unordered_set<TAddress>& wide) : FWide(wide) {}

    // The calls whose handlers are these: the sessions' and the transactions'.
    static bool IsSessionCall(TOCICall call);
    bool IsWide(TAddress handle) const { return FWide.count(handle) != 0; }

    TOCISessions Labels;
    TSecretMemory Passwords;

private:
    const std::unordered_set<TAddress>& FWide;
};

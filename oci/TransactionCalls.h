// The round trips of sessions and transactions besides connects and commits: pings, the
// calls of a distributed transaction's branch (begin, prepare, forget, detach) with its
// flags and the XID the program set on the transaction, and the implicit results a
// statement hands out, whose fetches show the statement that made them.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// OCIAttrSet of a service context's transaction handle, and of a transaction's XID.
constexpr uint32_t OCI_HTYPE_TRANS = 10;
constexpr uint32_t OCI_ATTR_TRANS = 8;
constexpr uint32_t OCI_ATTR_XID = 27;

// What the memo says below a prepare of a branch that changed nothing.
extern const char* const ReadOnlyBranchNote;

// The flags of OCITransStart (and the others) by name: "new", "join", "resume", "readonly",
// "serializable", "loose", "tight", "two-phase", then any other bits as one hex number,
// joined by ", ".
std::string TransFlagsText(uint32_t flags);
// An XID as the program laid it out: {long formatID; long gtrid_length; long bqual_length;
// char data[128]} (a long is 4 bytes on both Windows ABIs). "XID 4660, gtrid 0A0B, bqual
// 0C"; "" for bytes that hold no XID (too short, lengths beyond the data).
std::string XidText(const std::string& bytes);
// The bytes of an XID: the header and as many of the data bytes as there are.
constexpr uint32_t XidHeaderBytes = 12;
constexpr uint32_t XidDataBytes = 128;
// The Statement cell of a branch's call: its flags, then "; " and the XID (either may be
// missing).
std::string BranchText(uint32_t flags, const std::string& xid);
// What a fetch of the nth implicit result of a statement shows after its text.
std::string ImplicitResultSuffix(int n);
// A statement's text without that suffix: the statement an implicit result's fetch counts
// under.
std::string_view WithoutImplicitResult(std::string_view text);

// The transactions of service contexts and the XIDs set on them, and the implicit results
// handed out per statement since its execute.
class TBranches {
public:
    void TransSet(TAddress svc, TAddress trans) { FTrans[svc] = trans; }
    // xid: XidText of what was set; "" forgets it.
    void XidSet(TAddress trans, const std::string& xid);
    // The XID of the transaction of svc, "" when none is known.
    std::string XidOf(TAddress svc) const;

    // An execute of stmt starts its implicit results anew.
    void Executed(TAddress stmt) { FResults.erase(stmt); }
    // The number of the implicit result stmt has just handed out, from 1.
    int NextResult(TAddress stmt) { return ++FResults[stmt]; }

    void Forget(TAddress handle);

private:
    std::unordered_map<TAddress, TAddress> FTrans;
    std::unordered_map<TAddress, std::string> FXids;
    std::unordered_map<TAddress, int> FResults;
};

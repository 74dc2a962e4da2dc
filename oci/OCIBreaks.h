// OCI call tracing: the statement registry and the tracer that turns the calls of the
// watched entry points into trace records. One tracer per session; it holds all the
// state of the session's OCI calls.
#pragma once

#include "CallTracer.h"
#include "Errors.h"
#include "LobCalls.h"
#include "OCIBinds.h"
#include "OCIEntries.h"
#include "OCIWaits.h"
#include "OwningList.h"
#include "SessionCalls.h"
#include "TraceEvents.h"
#include "TraceMask.h"
#include "TransactionCalls.h"

#include <windows.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// ---------------------------------------------------------------------------
// Statement registry: the SQL text last prepared on each statement handle.

class TOCIStmt {
public:
    explicit TOCIStmt(TAddress handle) : Handle(handle) {}
    TAddress Handle;
    std::string Text;
};

class TOCIStatements : public TOwningList<TOCIStmt> {
public:
    int IndexOfHandle(TAddress handle) const;
    TOCIStmt* FindHandle(TAddress handle) const;
    // Records text for handle, adding an entry at the end for a handle not yet known.
    void SetText(TAddress handle, const std::string& text);
    void Delete(int index);
    // Drops handle if the registry knows it.
    void Forget(TAddress handle);
    void Clear();

private:
    // Index by handle, so that a program that leaves many handles open costs no scan per call.
    std::unordered_map<TAddress, TOCIStmt*> FByHandle;
};

// ---------------------------------------------------------------------------
// The tracer

// "OCI.DLL" in any letter case as the file name part (after the last "\" or ":").
bool IsOCIModuleName(const std::string& fullName);

// What the tracer keeps of a call from its entry to its return (a bind's and a read's
// calls keep their own, see OCIDetails.cpp).
class TOCICallData : public TCallData {
public:
    TTraceRecord Record;
    // The call makes a row.
    bool Traced = false;
    // Where the call stores the handle it makes.
    TAddress Out = 0;
    // Prepare2: the text could be read (else Record.Statement holds the error).
    bool TextRead = false;
    bool Wide = false;
    std::string Key;
    // Prepare2 with OCI_PREP2_GET_SQL_ID: the program may read the statement's SQL id.
    bool AsksSqlId = false;
    // Whose call it is, and the handles its error text and rows are asked of.
    DWORD Thread = 0;
    TAddress ErrorHandle = 0;
    TAddress Statement = 0;
    // A session call's arguments and labels, from its entry to its return.
    TSessionCall Session;
    // A LOB call's arguments.
    TLobCall Lob;
};

// Decoding failures become the record's statement; the record is timed and delivered
// like any other.
template <class Decode>
void Decoded(TTraceRecord& record, Decode decode)
{
    try {
        decode();
    } catch (const std::exception& e) {
        record.Statement = ExceptionText(e);
    }
}

class TOCITracer : public ICallTracer {
public:
    // mask: the actions that make rows and the details read of them (TraceMask* bits);
    // records go to events. hideValues: every bound value shows as "?".
    TOCITracer(TTraceMask mask, ITraceEvents& events, bool hideValues = false);

    void ModuleLoaded(IHookHost& host, const TModuleInfo& module) override;
    void ModuleUnloaded(IHookHost& host, const TModuleInfo& module) override;
    std::unique_ptr<TCallData> CallEntered(IHookHost& host, int hookId, TCallFrame& frame) override;
    void CallReturned(IHookHost& host, int hookId, TCallData& data, uint32_t result, int64_t elapsedTicks) override;
    bool ReturnWanted(int hookId) const override;
    TLateEntry LateEntry(int hookId) const override;
    bool LateReturn(int hookId) const override;
    TEntryFilter EntryFilter(int hookId) const override;
    void ThreadEnded(IHookHost& host, DWORD threadId) override;
    void SessionEnding(IHookHost& host) override;

    TOCIStatements Statements;
    // Whether the entry of hookId is hooked at all with this mask: the entries of a kind
    // of detail not traced are not, so that they cost nothing.
    bool Planted(int hookId) const;
    // Whether the entry of hookId stops calls with this mask.
    bool Armed(int hookId) const;

private:
    // The entry table names the handlers below.
    friend struct TOCIEntryTable;

    struct TForward {
        int HookId;
        std::string Module;  // upper case, "OTHER.DLL"
        std::string Export;
    };
    struct TRange {
        TAddress Base;
        uint64_t Size;
    };

    bool Traced(TTraceAction action) const;
    bool Traced(TTraceMask kind) const { return (FMask & kind) != 0; }
    THookSpec HookSpec(IHookHost& host, int hookId) const;
    std::string ReadText(TCallFrame& frame, TAddress text, uint64_t length, bool wide);
    void PlantEntries(IHookHost& host, const TModuleInfo& module);
    void ResolveForwards(IHookHost& host, const TModuleInfo& module);
    void MarkWide(IHookHost& host, TAddress handle);

    // What every call keeps from its entry; a call that makes a row ends what its thread's
    // last record waits for and learns its error handle.
    std::unique_ptr<TOCICallData> NewCall(const TOCIEntry& entry, TCallFrame& frame);
    // The call's data if its row is traced.
    static std::unique_ptr<TCallData> Kept(std::unique_ptr<TOCICallData> data);
    // A call at its return: timed, with its result.
    static TOCICallData& Finished(TCallData& data, uint32_t result, int64_t elapsedTicks);
    // Its row, if traced, to the events (perhaps waiting for error text or rows).
    void Deliver(TOCICallData& data);
    // The registry's text of a statement handle, for an execute's or a fetch's row.
    void StatementOf(TOCICallData& data, TAddress handle);

    // Handlers of the statement calls and of the calls that feed the registry
    // (StatementCalls.cpp).
    std::unique_ptr<TCallData> PrepareEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> Prepare2Entered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void Prepare2Returned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> ExecuteEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> FetchEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> ReleaseEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> HandleFreeEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> EnvCreateEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> HandleAllocEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void WideReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    // The return of a row whose record needs nothing but its result.
    void RowReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);

    // The details of calls (OCIDetails.cpp): binds, error texts, rows.
    std::unique_ptr<TCallData> BindEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void BindReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> BindArrayEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> BindDynamicEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> ErrorGetEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void ErrorGetReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> AttrGetEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void AttrGetReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    TBindRows ExecuteBinds(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame, TAddress stmt);

    // The session and transaction calls (SessionCalls.cpp).
    template <class Enter>
    std::unique_ptr<TCallData> SessionEntered(const TOCIEntry& entry, TCallFrame& frame, Enter enter);
    std::unique_ptr<TCallData> ServerAttachEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> AttrSetEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> SessionBeginEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void SessionBeginReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> SessionEndEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void SessionEndReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> SessionGetEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> LogonEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    // SessionGet, Logon, Logon2: a context the call made.
    void ConnectReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> PoolCreateEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void PoolCreateReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    // SessionRelease, Logoff: the session of a context ends.
    std::unique_ptr<TCallData> DisconnectEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void DisconnectReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> TransEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);

    // The LOB calls (LobCalls.cpp).
    std::unique_ptr<TCallData> DefineEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    std::unique_ptr<TCallData> LobEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void LobReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    // Branches of distributed transactions and implicit results (TransactionCalls.cpp).
    void XidSet(TCallFrame& frame, TAddress trans, TAddress value);
    std::unique_ptr<TCallData> BranchEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void BranchPrepared(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);
    std::unique_ptr<TCallData> NextResultEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void NextResultReturned(IHookHost& host, TCallData& data, uint32_t result, int64_t elapsedTicks);

    TTraceMask FMask;
    bool FHideValues;
    ITraceEvents& FEvents;
    TOCIBinds FBinds;
    TOCIWaits FWaits;
    // Statements last prepared under each key (the key's bytes as the client passed them).
    std::unordered_map<std::string, std::string> FKeyed;
    // Handles of UTF-16 environments and of everything allocated under them.
    std::unordered_set<TAddress> FWide;
    // Statements prepared asking for their SQL id: their executes wait for it.
    std::unordered_set<TAddress> FAsksSqlId;
    TSessionCalls FSessions{FWide};
    TLobLocators FLobs;
    TBranches FBranches;
    std::vector<TForward> FForwards;
    // Modules that hold hooks.
    std::vector<TRange> FHooked;
    // The serial of the last record delivered.
    uint64_t FSerial = 0;
    // When the tracer started: the records' start times count from here.
    int64_t FStartTicks = 0;
};

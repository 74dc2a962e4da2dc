// OCI call tracing: the statement registry and the tracer that turns the calls of the
// watched entry points into trace records. One tracer per session; it holds all the
// state of the session's OCI calls.
#pragma once

#include "CallTracer.h"
#include "OCIBinds.h"
#include "OCIEntries.h"
#include "OCIWaits.h"
#include "OwningList.h"
#include "SessionCalls.h"
#include "TraceEvents.h"

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

class TOCITracer : public ICallTracer {
public:
    // mask: the actions that make rows and the details read of them (TraceMask* bits);
    // records go to events. hideValues: every bound value shows as "?".
    TOCITracer(BYTE mask, ITraceEvents& events, bool hideValues = false);

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
    bool Traced(BYTE kind) const { return (FMask & kind) != 0; }
    THookSpec HookSpec(IHookHost& host, int hookId) const;
    std::string ReadText(TCallFrame& frame, TAddress text, uint64_t length, bool wide);
    // The details of calls (OCIDetails.cpp): binds, error texts, rows.
    std::unique_ptr<TCallData> BindEntered(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame);
    void BindReturned(IHookHost& host, TCallData& data, int32_t result);
    std::unique_ptr<TCallData> ReadEntered(const TOCIEntry& entry, TCallFrame& frame);
    void ReadReturned(IHookHost& host, TCallData& data, int32_t result);
    TBindRows ExecuteBinds(IHookHost& host, const TOCIEntry& entry, TCallFrame& frame, TAddress stmt);
    void PlantEntries(IHookHost& host, const TModuleInfo& module);
    void ResolveForwards(IHookHost& host, const TModuleInfo& module);
    void MarkWide(IHookHost& host, TAddress handle);

    BYTE FMask;
    bool FHideValues;
    ITraceEvents& FEvents;
    TOCIBinds FBinds;
    TOCIWaits FWaits;
    // Statements last prepared under each key (the key's bytes as the client passed them).
    std::unordered_map<std::string, std::string> FKeyed;
    // Handles of UTF-16 environments and of everything allocated under them.
    std::unordered_set<TAddress> FWide;
    TSessionCalls FSessions{FWide};
    std::vector<TForward> FForwards;
    // Modules that hold hooks.
    std::vector<TRange> FHooked;
    // The serial of the last record delivered.
    uint64_t FSerial = 0;
};

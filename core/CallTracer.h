// What the engine asks of the tracer of one kind of calls: which entry points to hook
// in a module that loaded, what to make of a call at its entry and at its return. The
// engine itself knows nothing of what the calls mean.
#pragma once

#include "Arch.h"
#include "Stubs.h"
#include "SysProcs.h"
#include "Threads.h"

#include <memory>
#include <string>

// How the engine hooks entry points: int3 patches, or jumps to stubs where possible,
// which report calls by raising (Fast) or, where the tracer can take them late, write
// them to a log in the program that the engine reads while it runs (Log).
enum class THookKind { Breakpoint, Fast, Log };

// An entry point to hook, as the tracer describes it.
struct THookSpec {
    // The tracer's own number for the entry point's calls.
    int Id = 0;
    // The entry point's argument words in the traced program: what a stub copies to the
    // original. Above StubMaxWords the entry point is hooked with an int3.
    int Words = 0;
    // Armed hooks stop every call.
    bool Armed = false;
};

// The engine's side, as a call tracer sees it.
class IHookHost {
public:
    virtual ~IHookHost() = default;
    virtual TProcessInfo& TargetProcess() = 0;
    // True when the traced program is 64-bit.
    virtual bool Target64() const = 0;
    virtual void AddHook(TAddress address, const THookSpec& spec) = 0;
    // Arms or disarms every hook of id.
    virtual void ArmHooks(int id, bool armed) = 0;
    // Forgets the hooks in [base, base + size) and the calls in flight that came
    // through them; their module has been unmapped.
    virtual void DropHooks(TAddress base, uint64_t size) = 0;
    // A problem worth telling the user that does not end the session.
    virtual void Warn(const std::string& text) = 0;
};

// A pointer of the traced program, as wide as its own.
inline size_t PointerSize(const IHookHost& host) { return host.Target64() ? 8 : 4; }
inline TAddress ReadTargetPointer(IHookHost& host, TAddress address)
{
    return host.Target64() ? host.TargetProcess().ReadQword(address) : host.TargetProcess().ReadDword(address);
}

class ICallTracer {
public:
    virtual ~ICallTracer() = default;
    virtual void ModuleLoaded(IHookHost& host, const TModuleInfo& module) = 0;
    virtual void ModuleUnloaded(IHookHost& host, const TModuleInfo& module) = 0;
    // A hooked call at its entry. What it returns is kept until the call returns and
    // handed back then; nothing means the return is of no interest.
    virtual std::unique_ptr<TCallData> CallEntered(IHookHost& host, int hookId, TCallFrame& frame) = 0;
    // elapsedTicks: performance-counter ticks from the entry to the return, as near to the
    // call itself as the hook could measure them.
    virtual void CallReturned(IHookHost& host, int hookId, TCallData& data, uint32_t result, int64_t elapsedTicks) = 0;
    // False when CallEntered never keeps anything of hookId's calls for the session: their
    // returns need not be reported at all.
    virtual bool ReturnWanted(int /*hookId*/) const { return true; }
    // Whether hookId's calls may reach CallEntered late: at the next call reported (at the
    // latest at their own return), in the order they were made, with the bytes named copied
    // at the time of the call (TCallFrame::Bytes gives them). Only for calls whose entry
    // reads nothing else of the program's memory and changes nothing the program can see.
    virtual TLateEntry LateEntry(int /*hookId*/) const { return {}; }
    // Whether, with logged hooks (THookKind::Log), the returns of hookId's calls taken late
    // may reach CallReturned late as well, read from the log while the program runs on, in
    // the order the calls were made. Only for calls whose CallReturned reads nothing of the
    // program's memory.
    virtual bool LateReturn(int /*hookId*/) const { return false; }
    // Which of hookId's calls a stub reports at all; the others run untraced. A hook the
    // engine plants as an int3 stops every call: CallEntered passes over those itself.
    virtual TEntryFilter EntryFilter(int /*hookId*/) const { return {}; }
    // A thread of the program has ended; nothing it calls later can come (a call logged
    // before may still reach CallEntered).
    virtual void ThreadEnded(IHookHost& /*host*/, DWORD /*threadId*/) {}
    // The session ends: the last chance to deliver what the tracer holds back.
    virtual void SessionEnding(IHookHost& /*host*/) {}
};

// The calls in flight: entering a hooked call at its entry, catching its return with an
// int3 at the return address, and stepping threads over lifted patches.
#include "DebugCore.h"

#include "Errors.h"
#include "Utils.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// Hooks

void TDebugThread::AddHook(TAddress address, const THookSpec& spec)
{
    if (FHooks.count(address))
        return;  // one export under two names: the first one's meaning stands
    THook hook;
    hook.Id = spec.Id;
    hook.Words = spec.Words;
    try {
        Process->ReadMemory(address, hook.Prologue, sizeof(hook.Prologue));
        hook.PrologueKnown = true;
    } catch (const EOSError&) {
        // Unknown first instruction: calls are stepped over instead.
    }
    if (Hooks != THookKind::Breakpoint && hook.PrologueKnown &&
        FStubs->Add(address, hook.Prologue,
                    TStubSpec{spec.Words, FTracer->LateEntry(spec.Id), FTracer->EntryFilter(spec.Id),
                              Hooks == THookKind::Log && FTracer->LateReturn(spec.Id)},
                    FTracer->ReturnWanted(spec.Id)))
        hook.Kind = Hooks;
    THook& stored = FHooks.emplace(address, hook).first->second;
    if (spec.Armed)
        SetArmed(address, stored, true);
}

void TDebugThread::ArmHooks(int id, bool armed)
{
    for (auto& [address, hook] : FHooks)
        if (hook.Id == id)
            SetArmed(address, hook, armed);
}

void TDebugThread::SetArmed(TAddress address, THook& hook, bool armed)
{
    if (hook.Armed == armed)
        return;
    if (hook.Kind != THookKind::Breakpoint)
        FStubs->SetArmed(address, armed);
    else if (armed)
        FPatches->Acquire(address);
    else
        FPatches->Release(address);
    hook.Armed = armed;
}

void TDebugThread::DropHooks(TAddress base, uint64_t size)
{
    auto inside = [base, size](TAddress address) { return address - base < size; };
    // No read of the log here: it is read before every event, outside the tracer, and the
    // tracer drops hooks from inside its own ModuleUnloaded.
    for (auto it = FHooks.begin(); it != FHooks.end();)
        it = inside(it->first) ? FHooks.erase(it) : std::next(it);
    FPatches->Abandon(base, size);
    FStubs->Drop(base, size);
    // Calls into the module that went away never return through it; their return
    // patches in the callers' code go.
    std::vector<TAddress> returns;
    for (const auto& thread : *FThreads) {
        auto& calls = thread->Calls;
        for (const TCallInFlight& call : calls)
            if (inside(call.Entry))
                returns.push_back(call.ReturnAddress);
        calls.erase(std::remove_if(calls.begin(), calls.end(), [&](const TCallInFlight& c) { return inside(c.Entry); }),
                    calls.end());
    }
    ReleaseReturns(returns);
}

void TDebugThread::ReleaseReturns(const std::vector<TAddress>& returnAddresses)
{
    for (TAddress address : returnAddresses)
        if (FPatches->IsPatched(address))
            FPatches->Release(address, KeepsReturnIdle(address));
}

// A return site's patch stays written between calls where a thread returning there runs
// the instruction under it out of line (a step would cost more than the writes saved),
// and where the code is a module's image, whose unload the session hears of: the patch
// goes with it, unwritten. Code allocated at run time may be freed and reused unseen.
bool TDebugThread::KeepsReturnIdle(TAddress address)
{
    if (!OutOfLineCell(address))
        return false;
    auto known = FReturnImages.find(address);
    if (known == FReturnImages.end()) {
        MEMORY_BASIC_INFORMATION info{};
        TAddress image = 0;
        if (VirtualQueryEx(Process->Handle.get(), AddressPointer(address), &info, sizeof(info)) &&
            info.Type == MEM_IMAGE)
            image = PointerAddress(info.AllocationBase);
        known = FReturnImages.emplace(address, image).first;
    }
    return known->second != 0;
}

void TDebugThread::ForgetReturnSites(TAddress imageBase)
{
    for (auto it = FReturnImages.begin(); it != FReturnImages.end();) {
        if (it->second != imageBase) {
            ++it;
            continue;
        }
        FPatches->Abandon(it->first, 1);
        it = FReturnImages.erase(it);
    }
}

// ---------------------------------------------------------------------------
// Breakpoints

TDebugThread::TContinue TDebugThread::OnBreakpoint(TAddress address, DWORD threadId, bool wx86)
{
    TThreadInfo* thread = FThreads->FindThread(threadId);
    if (!FPatches->IsPatched(address) || !thread)
        return OnForeignBreakpoint(address, thread, wx86);
    TThreadContext context = ContextOf(*thread);
    context.Read();
    context.SetIp(address);
    auto hook = FHooks.find(address);
    if (OnReturnBreakpoint(address, *thread, context)) {
    } else if (hook != FHooks.end() && hook->second.Armed) {
        OnHookBreakpoint(address, hook->second, *thread, context);
    } else if (FPatches->IsIdle(address)) {
        // A return site no call waits at, run into by a jump or by the return of a call
        // we do not trace made at the same call instruction: it would cost a stop each
        // time, so it is given up for good and the thread runs the restored instruction.
        FPatches->LiftIdle(address);
    } else if (!RunOutOfLine(address, context)) {
        // The return site of another call, of this thread or another: not this one's.
        StepOver(address, *thread, context);
    }
    context.Flush();
    return TContinue::Handled;
}

TDebugThread::TContinue TDebugThread::OnForeignBreakpoint(TAddress address, TThreadInfo* thread, bool wx86)
{
    if (thread && FPatches->EverPatched(address)) {
        // One of ours that has been taken away since this thread ran into it: the thread
        // must run the restored instruction.
        BYTE byte = 0xCC;
        try {
            Process->ReadMemory(address, &byte, 1);
        } catch (const EOSError&) {
        }
        if (byte != 0xCC) {
            TThreadContext context = ContextOf(*thread);
            context.Read();
            context.SetIp(address);
            context.Flush();
            return TContinue::Handled;
        }
    }
    bool& systemSeen = wx86 ? FWx86BreakpointSeen : FSystemBreakpointSeen;
    if (!systemSeen) {
        systemSeen = true;
        return TContinue::Handled;
    }
    // The program's own int3: its handlers see it as they would without a debugger.
    return TContinue::ToProgram;
}

void TDebugThread::EnterCall(TAddress address, const THook& hook, TThreadInfo* thread, TCallFrame& frame,
                             bool catchReturn)
{
    // Calls of this thread at or below this stack position are over: unwound by an
    // exception or a long jump, they will never return.
    if (thread) {
        std::vector<TAddress> unwound;
        thread->DropCallsAtOrBelow(frame.Sp(), unwound);
        ReleaseReturns(unwound);
    }
    std::unique_ptr<TCallData> data = FTracer->CallEntered(*this, hook.Id, frame);
    if (!data || !thread)
        return;
    TCallInFlight call{0, frame.Sp(), address, hook.Id, std::move(data)};
    if (catchReturn) {
        call.ReturnAddress = frame.ReturnAddress();
        FPatches->Acquire(call.ReturnAddress);
        call.StartTicks = PerformanceTicks();
    }
    thread->Calls.push_back(std::move(call));
}

void TDebugThread::ReturnCall(TCallInFlight& call, const std::vector<TAddress>& unwound, uint32_t result,
                              int64_t elapsedTicks)
{
    // Calls of this thread deeper in the stack have been unwound and never return.
    ReleaseReturns(unwound);
    if (call.ReturnAddress)
        FPatches->Release(call.ReturnAddress, KeepsReturnIdle(call.ReturnAddress));
    FTracer->CallReturned(*this, call.HookId, *call.Data, result, elapsedTicks);
}

void TDebugThread::OnHookBreakpoint(TAddress address, THook& hook, TThreadInfo& thread, TThreadContext& context)
{
    TCallFrame frame(*Process, context, std::min(hook.Words, TCallFrame::MaxWords));
    frame.ThreadId = thread.ThreadId;
    EnterCall(address, hook, &thread, frame, true);
    // Out of line the first instruction costs a context write alone; carried out here, a
    // push costs a write to the stack as well.
    if (RunOutOfLine(address, context))
        return;
    if (!EmulatePrologues || !hook.PrologueKnown ||
        !EmulateFirstInstruction(*Process, context, address, hook.Prologue, sizeof(hook.Prologue)))
        StepOver(address, thread, context);
}

bool TDebugThread::OnReturnBreakpoint(TAddress address, TThreadInfo& thread, TThreadContext& context)
{
    TCallInFlight call;
    std::vector<TAddress> unwound;
    if (!thread.PopReturn(address, context.Sp(), call, unwound))
        return false;
    ReturnCall(call, unwound, context.Result(), PerformanceTicks() - call.StartTicks);
    // Other calls still return here, or the patch stays for the next: this thread passes
    // it without lifting it.
    if (FPatches->IsWritten(address) && !RunOutOfLine(address, context))
        StepOver(address, thread, context);
    return true;
}

// A thread stopped at a patch that must stay (other threads are to stop there) runs the
// instruction under it in a cell of ours that jumps back behind it: no step, and no other
// thread held up meanwhile. False when the instruction cannot run elsewhere (it is relative
// to where it stands) or when first instructions are to be stepped.
bool TDebugThread::RunOutOfLine(TAddress address, TThreadContext& context)
{
    TAddress cell = OutOfLineCell(address);
    if (!cell)
        return false;
    context.SetIp(cell);
    return true;
}

TAddress TDebugThread::OutOfLineCell(TAddress address) { return EmulatePrologues ? FCells->Cell(address) : 0; }

// Runs the original instruction at address on this thread with the patch lifted: the
// trap flag brings the thread back after one instruction to put the patch back.
void TDebugThread::StepOver(TAddress address, TThreadInfo& thread, TThreadContext& context)
{
    FPatches->Suspend(address);
    thread.PendingAddress = address;
    context.SetFlags(context.Flags() | TrapFlag);
    // This thread's event may have been queued before another step froze it.
    Thaw(thread);
    FreezeOtherThreads(thread.ThreadId);
}

TDebugThread::TContinue TDebugThread::OnSingleStep(DWORD threadId)
{
    TThreadInfo* thread = FThreads->FindThread(threadId);
    if (!thread || !thread->PendingAddress)
        return TContinue::Handled;
    TAddress address = thread->PendingAddress;
    thread->PendingAddress = 0;
    // Until the last step is done, a thread whose step is over waits with the others.
    if (!FThreads->AnyStepping())
        ThawThreads();
    else
        Freeze(*thread);
    FPatches->Resume(address);
    TThreadContext context = ContextOf(*thread);
    context.Read();
    context.SetFlags(context.Flags() & ~TrapFlag);
    context.Flush();
    return TContinue::Handled;
}

void TDebugThread::FreezeOtherThreads(DWORD threadId)
{
    for (const auto& thread : *FThreads)
        if (thread->ThreadId != threadId && !thread->PendingAddress)
            Freeze(*thread);
}

void TDebugThread::Freeze(TThreadInfo& thread)
{
    if (!thread.Frozen && SuspendThread(thread.Handle) != static_cast<DWORD>(-1))
        thread.Frozen = true;
}

void TDebugThread::Thaw(TThreadInfo& thread)
{
    if (thread.Frozen) {
        ResumeThread(thread.Handle);
        thread.Frozen = false;
    }
}

void TDebugThread::ThawThreads()
{
    for (const auto& thread : *FThreads)
        Thaw(*thread);
}

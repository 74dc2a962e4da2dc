// The calls in flight: entering a traced call at its entry breakpoint, catching its
// return with an int3 at the return address, and stepping threads over lifted patches.
#include "DebugCore.h"

#include "DebugContext.h"
#include "OCIBreaks.h"
#include "Utils.h"

#include <algorithm>

DWORD TDebugThread::OnBreakpoint(DWORD address, DWORD threadId)
{
    TBreakpoint* bp = Breakpoints->Find(address);
    if (!bp) {
        // Not ours now. If the byte there is no int3 any more, it was one of ours that has
        // been taken away since this thread ran into it: the thread must run the restored
        // instruction. Otherwise it is the system's or the program's own int3, passed over.
        BYTE byte = 0xCC;
        try {
            Process->ReadMemory(address, &byte, 1);
        } catch (const EOSError&) {
        }
        if (byte != 0xCC) {
            TThreadInfo* thread = Threads->ThreadById(threadId);
            CONTEXT context = ReadContext(thread->Handle, CONTEXT_CONTROL);
            context.Eip = address;
            WriteContext(thread->Handle, context);
        }
        return DBG_CONTINUE;
    }
    TThreadInfo* thread = Threads->ThreadById(threadId);
    CONTEXT context = ReadContext(thread->Handle, CONTEXT_FULL);
    context.Eip = address;
    if (dynamic_cast<TReturnBreakpoint*>(bp))
        ReturnFromCall(address, thread, context);
    else
        EnterCall(bp, thread, context);
    WriteContext(thread->Handle, context);
    return DBG_CONTINUE;
}

void TDebugThread::EnterCall(TBreakpoint* bp, TThreadInfo* thread, CONTEXT& context)
{
    TCallFrame frame(*Process, context.Esp);
    bp->Hit(context, frame);
    // Only a traced action needs its return: an untraced prepare has already done its
    // work (the registry) and a handle free makes no record.
    auto* notify = dynamic_cast<TOCINotifyBreakpoint*>(bp);
    if (notify && notify->Enabled) {
        DWORD returnAddress = frame.Word(0);
        auto* ret = Breakpoints->AddBreakpoint<TReturnBreakpoint>(Process.get(), returnAddress);
        ret->Owner = bp;
        ret->ThreadId = thread->ThreadId;
        ret->EntryEsp = context.Esp;
        ret->Data = std::move(notify->Data);
        ret->Arm();
    } else if (notify) {
        notify->Data.reset();
    }
    if (!EmulateFirstInstruction(bp, context))
        StepOver(bp->Address, thread, context);
}

void TDebugThread::ReturnFromCall(DWORD address, TThreadInfo* thread, CONTEXT& context)
{
    TReturnBreakpoint* ret = Breakpoints->FindReturn(address, thread->ThreadId, context.Esp);
    if (ret) {
        // Calls of this thread deeper in the stack have been unwound and never return.
        for (TReturnBreakpoint* other : Breakpoints->ReturnsOf(thread->ThreadId))
            if (other->Address == address && other->EntryEsp < ret->EntryEsp)
                Breakpoints->Remove(other);

        auto* owner = dynamic_cast<TOCINotifyBreakpoint*>(ret->Owner);
        if (owner && ret->Data) {
            ret->Data->Time = TimeStampDays() - ret->Data->Time;
            ret->Data->Result = static_cast<int32_t>(context.Eax);
            owner->PostRecord(ret->Data);
        }
        Breakpoints->Remove(ret);
    }
    // Other calls still return here: step this thread over the patch.
    if (Breakpoints->IsWritten(address))
        StepOver(address, thread, context);
}

// Runs the original instruction at address on this thread with the patch lifted: the
// trap flag brings the thread back after one instruction to put the patch back.
void TDebugThread::StepOver(DWORD address, TThreadInfo* thread, CONTEXT& context)
{
    Breakpoints->SuspendPatch(address);
    thread->PendingAddress = address;
    context.EFlags |= TrapFlag;
    // This thread's event may have been queued before another step froze it.
    Thaw(*thread);
    FreezeOtherThreads(thread->ThreadId);
}

// The first instruction of an entry point, when it is one that moves no flags and
// touches at most the stack, is carried out here: the thread then goes on behind it and
// the breakpoint stays armed, so that no other thread can pass unseen meanwhile.
bool TDebugThread::EmulateFirstInstruction(TBreakpoint* bp, CONTEXT& context)
{
    auto* entry = dynamic_cast<TOCIBreakpoint*>(bp);
    if (!EmulatePrologues || !entry || !entry->PrologueKnown)
        return false;
    const BYTE* code = entry->Prologue;
    if (code[0] >= 0x50 && code[0] <= 0x57 && code[0] != 0x54) {
        // push r32. A push that would reach into the next page of the stack is left to the
        // processor, which lets the system grow the stack.
        if ((context.Esp & 0xFFF) < 4)
            return false;
        DWORD value = *RegisterByIndex(context, code[0] - 0x50);
        try {
            Process->WriteMemory(context.Esp - 4, &value, 4);
        } catch (const EOSError&) {
            return false;
        }
        context.Esp -= 4;
        context.Eip = bp->Address + 1;
        return true;
    }
    if (code[0] == 0x8B && code[1] == 0xFF) { // mov edi, edi
        context.Eip = bp->Address + 2;
        return true;
    }
    if ((code[0] == 0x8B && code[1] == 0xEC) || (code[0] == 0x89 && code[1] == 0xE5)) { // mov ebp, esp
        context.Ebp = context.Esp;
        context.Eip = bp->Address + 2;
        return true;
    }
    return false;
}

DWORD TDebugThread::OnSingleStep(DWORD threadId)
{
    TThreadInfo* thread = Threads->ThreadById(threadId);
    if (!thread->PendingAddress)
        return DBG_CONTINUE;
    DWORD address = thread->PendingAddress;
    thread->PendingAddress = 0;
    // Until the last step is done, a thread whose step is over waits with the others.
    bool othersStepping = std::any_of(Threads->begin(), Threads->end(),
                                      [](const auto& t) { return t->PendingAddress != 0; });
    if (!othersStepping)
        ThawThreads();
    else
        Freeze(*thread);
    Breakpoints->ResumePatch(address);
    CONTEXT context = ReadContext(thread->Handle, CONTEXT_CONTROL | CONTEXT_INTEGER);
    context.EFlags &= ~TrapFlag;
    WriteContext(thread->Handle, context);
    return DBG_CONTINUE;
}

void TDebugThread::FreezeOtherThreads(DWORD threadId)
{
    for (const auto& thread : *Threads)
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
    for (const auto& thread : *Threads)
        Thaw(*thread);
}

// A thread stepping over a patch that goes away keeps its PendingAddress: its single
// step still has to clear the trap flag, and putting back a patch that is gone does nothing.
void TDebugThread::ClearBreakpoints() { Breakpoints->ClearAll(); }

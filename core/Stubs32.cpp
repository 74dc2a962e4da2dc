// The 32-bit stub (see Stubs.h). Arguments are on the stack; the original may be cdecl or
// stdcall: what it popped of the copied arguments is popped from the caller's on the way
// back. The frame: ebp, the saved ebx at [ebp-4], the counter at the call's start at
// [ebp-12].
#include "StubEmit.h"

#include <algorithm>

using namespace X86;

namespace {

class TStub32 {
public:
    explicit TStub32(const TStubContext& c) : C(c), W(c.W) {}
    void Emit();

private:
    // [ebp+4+4n]: 0 the return address, then the argument words.
    static int32_t Arg(int n) { return 4 + 4 * n; }
    void PushArgs(int count);
    void ReadCounter() { W.PutCallMem(At(C.Page + TStubPageLayout::CounterOffset)); }
    void Raise(uint32_t exceptionCode, int count, TAddress wanted);
    void TakeEntry(uint32_t kind, int full);
    void Late(int raise, int done);
    void CallOriginal();
    void LogReturn(int returned);
    void Return(int returned);

    const TStubContext& C;
    TX86Writer& W;
};

void TStub32::PushArgs(int count)
{
    for (int i = count; i >= 1; --i)
        W.PutPushMem(Mem(Ebp, Arg(i)));
}

// RaiseException(code, 0, count, esp) with the parameters just pushed, and the slot and
// page pushed here.
void TStub32::Raise(uint32_t exceptionCode, int count, TAddress wanted)
{
    W.PutPushImm32(static_cast<uint32_t>(C.Slot));
    W.PutPushImm32(static_cast<uint32_t>(C.Page));
    W.PutMovRegReg(Eax, Esp);
    W.PutPushReg(Eax);
    W.PutPushImm8(static_cast<int8_t>(count));
    W.PutPushImm8(0);
    W.PutPushImm32(exceptionCode);
    int skip = W.NewLabel(), done = W.NewLabel();
    TAddress from = EmitGuard(W, C.Page, skip, wanted);
    TAddress call = W.Here();
    W.PutCallMem(At(C.Page + TStubPageLayout::RaiseOffset));
    W.PutJmpLabel(done);
    W.PutLabel(skip);
    W.PutAluRegImm(TAlu::Add, Esp, 16);  // what RaiseException would have popped
    W.PutLabel(done);
    W.PutAluRegImm(TAlu::Add, Esp, 4 * count);  // the parameters
    C.Code.Windows.push_back({from, call, W.LabelAddress(skip)});
}

// Takes the log's next entry: ebx its address, its sequence word pushed (the caller pops
// it into the entry's first word when the entry is whole), and the fields every entry has
// written: kind, slot, page, thread and the stack pointer at the call's entry ([ebp+4]).
// A full log goes on at full, the stack as it was. Uses eax, edx.
void TStub32::TakeEntry(uint32_t kind, int full)
{
    using L = TStubLogLayout;
    const TStubLogRef& log = C.Log;
    int retry = W.NewLabel();
    W.PutMovRegMem(Eax, At(log.Base + L::HeadOffset));
    W.PutLabel(retry);
    W.PutMovRegReg(Edx, Eax);
    W.PutAluRegMem(TAlu::Sub, Edx, At(log.Base + L::TailOffset));
    W.PutAluRegImm32(TAlu::Cmp, Edx, log.Entries);
    W.PutJccLabel(AboveOrEqual, full);
    W.PutLeaRegMem(Edx, Mem(Eax, 1));
    W.PutLockCmpxchgMemReg(At(log.Base + L::HeadOffset), Edx);
    W.PutJccLabel(NotEqual, retry);
    W.PutMovRegReg(Ebx, Eax);
    W.PutAluRegImm32(TAlu::And, Ebx, log.Entries - 1);
    W.PutShlRegImm(Ebx, L::EntryShift);
    W.PutAluRegImm32(TAlu::Add, Ebx, static_cast<uint32_t>(log.Base + L::EntriesOffset));
    W.PutIncReg(Eax);
    W.PutPushReg(Eax);
    auto store = [&](size_t field, uint32_t value) { W.PutMovMemImm(Dword(Mem(Ebx, static_cast<int32_t>(field))), value); };
    store(L::KindOffset, kind);
    store(L::SlotOffset, static_cast<uint32_t>(C.Slot));
    store(L::PageOffset, static_cast<uint32_t>(C.Page));
    store(L::PageOffset + 4, 0);
    W.PutMovRegThreadBlock(Eax, 0x24);  // the thread's id
    W.PutMovMemReg(Mem(Ebx, L::ThreadOffset), Eax);
    W.PutLeaRegMem(Eax, Mem(Ebp, 4));
    W.PutMovMemReg(Mem(Ebx, L::SpOffset), Eax);
    store(L::SpOffset + 4, 0);
}

// The late path: unless the guard says otherwise or the log is full, the call's entry
// goes to the log and the stub goes on at done, leaving the entry's raise out; in any
// other case it goes on at raise. On entry to it the frame is set up and no argument has
// been touched.
void TStub32::Late(int raise, int done)
{
    using L = TStubLogLayout;
    const TLateEntry& late = C.Spec.Late;
    EmitGuard(W, C.Page, raise);
    int reserve = W.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(W, Arg(late.LengthArg), raise, reserve);
        W.PutAluMemImm8(TAlu::Cmp, Dword(Mem(Ebp, Arg(late.BytesArg))), 0);
        W.PutJccLabel(Equal, raise);
        // IsBadReadPtr(bytes, length)
        W.PutPushReg(Ecx);
        W.PutPushMem(Mem(Ebp, Arg(late.BytesArg)));
        W.PutCallMem(At(C.Page + TStubPageLayout::ReadableOffset));
        W.PutTestRegReg(Eax, Eax);
        W.PutJccLabel(NotEqual, raise);
    }
    W.PutLabel(reserve);
    TakeEntry(L::KindEntry, raise);
    for (int i = 0; i <= C.Spec.Words; ++i) {
        int32_t field = static_cast<int32_t>(L::FrameOffset + 8 * i);
        W.PutMovRegMem(Eax, Mem(Ebp, Arg(i)));
        W.PutMovMemReg(Mem(Ebx, field), Eax);
        W.PutMovMemImm(Dword(Mem(Ebx, field + 4)), 0);  // the high half
    }
    if (late.LengthArg) {
        W.PutMovRegMem(Ecx, Mem(Ebp, Arg(late.LengthArg)));
        W.PutMovMemReg(Mem(Ebx, L::LengthOffset), Ecx);
        W.PutPushReg(Esi);
        W.PutPushReg(Edi);
        W.PutMovRegMem(Esi, Mem(Ebp, Arg(late.BytesArg)));
        W.PutLeaRegMem(Edi, Mem(Ebx, L::BytesOffset));
        W.PutCld();
        W.PutRepMovsb();
        W.PutPopReg(Edi);
        W.PutPopReg(Esi);
    } else {
        W.PutMovMemImm(Dword(Mem(Ebx, L::LengthOffset)), 0);
    }
    W.PutPopReg(Eax);
    W.PutMovMemReg(Mem(Ebx), Eax);  // the entry is complete
    W.PutJmpLabel(done);
}

// The call itself, with the arguments copied, timed. Leaves ecx (bytes the original
// popped), the result (eax, edx) on the stack and the ticks since the start in edx:eax.
void TStub32::CallOriginal()
{
    W.PutLeaRegMem(Eax, Mem(Ebp, -12));
    W.PutPushReg(Eax);
    ReadCounter();
    W.PutMovRegReg(Ebx, Esp);
    PushArgs(C.Spec.Words);
    W.PutCallAddress(W.LabelAddress(C.Original));
    W.PutMovRegReg(Ecx, Esp);
    W.PutAluRegReg(TAlu::Sub, Ecx, Ebx);
    W.PutAluRegImm(TAlu::Add, Ecx, 4 * C.Spec.Words);
    W.PutMovRegReg(Esp, Ebx);
    W.PutPushReg(Edx);
    W.PutPushReg(Eax);
    W.PutPushReg(Ecx);
    W.PutAluRegImm(TAlu::Sub, Esp, 8);
    W.PutPushReg(Esp);
    ReadCounter();
    W.PutPopReg(Eax);
    W.PutPopReg(Edx);
    W.PutAluRegMem(TAlu::Sub, Eax, Mem(Ebp, -12));
    W.PutAluRegMem(TAlu::Sbb, Edx, Mem(Ebp, -8));
}

// The return to the log: nothing at all when no return is wanted or the tracer has gone
// (on at returned), a raise when the log is full. Stack: ecx, the result, edx.
void TStub32::LogReturn(int returned)
{
    using L = TStubLogLayout;
    int full = W.NewLabel();
    W.PutMovRegReg(Ebx, Eax);  // the guard needs eax
    EmitGuard(W, C.Page, returned, TStubPageLayout::ReturnWanted(C.Page, C.Slot));
    W.PutPushReg(Edx);  // the ticks
    W.PutPushReg(Ebx);
    TakeEntry(L::KindReturn, full);
    // The sequence word, the ticks, ecx, then the result.
    auto copy = [&](int32_t from, size_t field) {
        W.PutMovRegMem(Eax, Mem(Esp, from));
        W.PutMovMemReg(Mem(Ebx, static_cast<int32_t>(field)), Eax);
    };
    copy(16, L::FrameOffset);
    W.PutMovMemImm(Dword(Mem(Ebx, L::FrameOffset + 4)), 0);
    copy(4, L::FrameOffset + 8);
    copy(8, L::FrameOffset + 12);
    W.PutMovMemImm(Dword(Mem(Ebx, L::LengthOffset)), 0);
    W.PutPopReg(Eax);
    W.PutMovMemReg(Mem(Ebx), Eax);  // the entry is complete
    W.PutAluRegImm(TAlu::Add, Esp, 8);
    W.PutJmpLabel(returned);
    W.PutLabel(full);
    W.PutPopReg(Eax);
    W.PutPopReg(Edx);
}

// The return report (the ticks, the result, entry stack pointer, then slot and page), then back to the caller, popping as many of its argument bytes as the
// original popped of the copies.
void TStub32::Return(int returned)
{
    W.PutPushReg(Edx);
    W.PutPushReg(Eax);
    W.PutPushMem(Mem(Esp, 12));  // the result
    W.PutLeaRegMem(Ecx, Mem(Ebp, 4));
    W.PutPushReg(Ecx);
    Raise(StubReturnCode, StubReturnParams, TStubPageLayout::ReturnWanted(C.Page, C.Slot));
    W.PutLabel(returned);
    W.PutPopReg(Ecx);
    W.PutPopReg(Eax);
    W.PutPopReg(Edx);
    W.PutAluRegImm(TAlu::Add, Esp, 8);
    W.PutPopReg(Ebx);
    W.PutPopReg(Ebp);
    int plain = W.NewLabel();
    W.PutTestRegReg(Ecx, Ecx);
    W.PutJccLabel(Equal, plain);
    W.PutPushReg(Eax);
    W.PutMovRegMem(Eax, Mem(Esp, 4));
    W.PutMovMemReg(Mem(Esp, Ecx, 4), Eax);
    W.PutPopReg(Eax);
    W.PutAluRegReg(TAlu::Add, Esp, Ecx);
    W.PutLabel(plain);
    W.PutRet();
}

void TStub32::Emit()
{
    W.PutPushReg(Ebp);
    W.PutMovRegReg(Ebp, Esp);
    W.PutPushReg(Ebx);
    W.PutAluRegImm(TAlu::Sub, Esp, 8);
    int raiseEntry = W.NewLabel(), call = W.NewLabel();
    const bool late = C.Log.Base && C.Spec.Late.Allowed;
    if (late)
        Late(raiseEntry, call);
    W.PutLabel(raiseEntry);
    // Entry: the first arguments, return address, entry stack pointer, then slot and page.
    PushArgs(std::min(C.Spec.Words, StubReportArgs));
    W.PutPushMem(Mem(Ebp, 4));
    W.PutLeaRegMem(Eax, Mem(Ebp, 4));
    W.PutPushReg(Eax);
    Raise(StubEntryCode, StubEntryParams(C.Spec.Words), 0);
    W.PutLabel(call);
    CallOriginal();
    int returned = W.NewLabel();
    if (late && C.Spec.LogReturns)
        LogReturn(returned);
    Return(returned);
}

} // namespace

void EmitStub32(const TStubContext& c) { TStub32(c).Emit(); }

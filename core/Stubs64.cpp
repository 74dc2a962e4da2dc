// The 64-bit stub (see Stubs.h) and the page header's unwind data for it. The four
// register arguments go to the caller's home space, so that all arguments lie in a row
// above the return address; the call gets them back in registers and the fifth onwards
// in the outgoing area (TStub64Frame). Between its prologue and its epilogue the stub
// uses volatile registers only: its unwind data saves none.
#include "StubEmit.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

using namespace X86;

namespace {

constexpr const char* Unit = "DebugCore";

// The stub's frame, at rsp once its prologue has run (rbp is rsp + Size).
struct TStub64Frame {
    // Arguments 5 .. StubMaxWords of the call to the original, above the home space.
    static constexpr int32_t Outgoing = 0x20;
    // The performance counter at the call's start and at its end, and the call's result.
    static constexpr int32_t Start = Outgoing + 8 * (StubMaxWords - 4);
    static constexpr int32_t Now = Start + 8;
    static constexpr int32_t Result = Now + 8;
    // The reports' parameters.
    static constexpr int32_t Params = Result + 8;
    static constexpr int32_t Size = (Params + 8 * EXCEPTION_MAXIMUM_PARAMETERS + 15) / 16 * 16;
    // The prologue: four stores into the home space (20 bytes), push rbp, mov rbp, rsp,
    // sub rsp, Size (imm32); where each of the last three ends, for the unwind codes.
    static constexpr unsigned char PushEnd = 21, FrameEnd = 24, AllocEnd = 31;
};
static_assert(TStub64Frame::Size % 16 == 0, "rsp stays 16-aligned for the calls the stub makes");
static_assert(TStub64Frame::Size / 8 <= 0xFFFF, "the allocation fits one UWOP_ALLOC_LARGE slot");

class TStub64 {
public:
    explicit TStub64(const TStubContext& c) : C(c), W(c.W) {}
    void Emit();

private:
    using F = TStub64Frame;
    // [rbp+8+8n]: 0 the return address, then the argument words.
    static int32_t Arg(int n) { return 8 + 8 * n; }
    void Load(TReg base, int32_t disp) { W.PutMovRegMem(Rax, Mem(base, disp)); }
    void Store(int32_t disp) { W.PutMovMemReg(Mem(Rsp, disp), Rax); }
    void StoreParam(int index) { Store(F::Params + 8 * index); }
    void ReadCounter(int32_t at);
    void Header();
    void Raise(uint32_t exceptionCode, int count, TAddress wanted);
    void TakeEntry(uint32_t kind, int full);
    void Late(int raise, int done);
    void CopyBytes();
    void Prologue();
    void CallOriginal();
    void LogReturn(int returned);
    void Return(int returned);

    const TStubContext& C;
    TX86Writer& W;
};

// QueryPerformanceCounter(rsp+at)
void TStub64::ReadCounter(int32_t at)
{
    W.PutLeaRegMem(Rcx, Mem(Rsp, at));
    W.PutCallMem(At(C.Page + TStubPageLayout::CounterOffset));
}

// Page, slot and entry stack pointer, which every report starts with.
void TStub64::Header()
{
    W.PutMovRegImm(Rax, C.Page);
    StoreParam(StubParamPage);
    W.PutMovMemImm(Qword(Mem(Rsp, F::Params + 8 * StubParamSlot)), static_cast<uint32_t>(C.Slot));
    W.PutLeaRegMem(Rax, Mem(Rbp, 8));
    StoreParam(StubParamEntrySp);
}

void TStub64::Raise(uint32_t exceptionCode, int count, TAddress wanted)
{
    W.PutMovRegImm(Ecx, exceptionCode);
    W.PutAluRegReg(TAlu::Xor, Edx, Edx);
    W.PutMovRegImm(R8d, static_cast<uint32_t>(count));
    W.PutLeaRegMem(R9, Mem(Rsp, F::Params));
    int skip = W.NewLabel();
    TAddress from = EmitGuard(W, C.Page, skip, wanted);
    TAddress call = W.Here();
    W.PutCallMem(At(C.Page + TStubPageLayout::RaiseOffset));
    W.PutLabel(skip);
    C.Code.Windows.push_back({from, call, W.LabelAddress(skip)});
}

// Takes the log's next entry, as the 32-bit stub does, with volatile registers only:
// r10 the log, r11 the entry, r9d its sequence word (the caller stores it into the
// entry's first word). Uses rax, rdx.
void TStub64::TakeEntry(uint32_t kind, int full)
{
    using L = TStubLogLayout;
    const TStubLogRef& log = C.Log;
    int retry = W.NewLabel();
    W.PutMovRegImm(R10, log.Base);
    W.PutMovRegMem(Eax, Mem(R10, L::HeadOffset).AsDisp8());
    W.PutLabel(retry);
    W.PutMovRegReg(Edx, Eax);
    W.PutAluRegMem(TAlu::Sub, Edx, Mem(R10, L::TailOffset).AsDisp8());
    W.PutAluRegImm32(TAlu::Cmp, Edx, log.Entries);
    W.PutJccLabel(AboveOrEqual, full);
    W.PutLeaRegMem(Edx, Mem(Rax, 1));
    W.PutLockCmpxchgMemReg(Mem(R10, L::HeadOffset).AsDisp8(), Edx);
    W.PutJccLabel(NotEqual, retry);
    W.PutLeaRegMem(R9d, Mem(Rax, 1));
    W.PutMovRegReg(R11d, Eax);
    W.PutAluRegImm32(TAlu::And, R11d, log.Entries - 1);
    W.PutShlRegImm(R11, L::EntryShift);
    W.PutLeaRegMem(R11, Mem(R10, R11, L::EntriesOffset).AsDisp32());
    auto store = [&](size_t field, uint32_t value) { W.PutMovMemImm(Dword(Mem(R11, static_cast<int32_t>(field))), value); };
    store(L::KindOffset, kind);
    store(L::SlotOffset, static_cast<uint32_t>(C.Slot));
    W.PutMovRegImm(Rax, C.Page);
    W.PutMovMemReg(Mem(R11, L::PageOffset), Rax);
    W.PutMovRegThreadBlock(Eax, 0x48);  // the thread's id
    W.PutMovMemReg(Mem(R11, L::ThreadOffset), Eax);
    W.PutLeaRegMem(Rax, Mem(Rbp, 8));
    W.PutMovMemReg(Mem(R11, L::SpOffset), Rax);
}

// The late path, as in the 32-bit stub.
void TStub64::Late(int raise, int done)
{
    using L = TStubLogLayout;
    const TLateEntry& late = C.Spec.Late;
    EmitGuard(W, C.Page, raise);
    int reserve = W.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(W, Arg(late.LengthArg), raise, reserve);
        W.PutAluMemImm8(TAlu::Cmp, Qword(Mem(Rbp, Arg(late.BytesArg))), 0);
        W.PutJccLabel(Equal, raise);
        // IsBadReadPtr(bytes, length)
        W.PutMovRegMem(Rcx, Mem(Rbp, Arg(late.BytesArg)));
        W.PutMovRegMem(Edx, Mem(Rbp, Arg(late.LengthArg)));
        W.PutCallMem(At(C.Page + TStubPageLayout::ReadableOffset));
        W.PutTestRegReg(Eax, Eax);
        W.PutJccLabel(NotEqual, raise);
    }
    W.PutLabel(reserve);
    TakeEntry(L::KindEntry, raise);
    for (int i = 0; i <= C.Spec.Words; ++i) {
        Load(Rbp, Arg(i));
        W.PutMovMemReg(Mem(R11, static_cast<int32_t>(L::FrameOffset + 8 * i)), Rax);
    }
    if (late.LengthArg)
        CopyBytes();
    else
        W.PutMovMemImm(Dword(Mem(R11, L::LengthOffset)), 0);
    W.PutMovMemReg(Mem(R11), R9d);  // the entry is complete
    W.PutJmpLabel(done);
}

// The late call's bytes to the entry, a byte at a time.
void TStub64::CopyBytes()
{
    using L = TStubLogLayout;
    const TLateEntry& late = C.Spec.Late;
    int copied = W.NewLabel(), copy = W.NewLabel();
    W.PutMovRegMem(Ecx, Mem(Rbp, Arg(late.LengthArg)));
    W.PutMovMemReg(Mem(R11, L::LengthOffset), Ecx);
    W.PutMovRegMem(R8, Mem(Rbp, Arg(late.BytesArg)));
    W.PutLeaRegMem(Rdx, Mem(R11, L::BytesOffset));
    W.PutTestRegReg(Ecx, Ecx);
    W.PutJccLabel(Equal, copied);
    W.PutLabel(copy);
    W.PutMovRegMem(Al, Mem(R8));
    W.PutMovMemReg(Mem(Rdx), Al);
    W.PutIncReg(R8);
    W.PutIncReg(Rdx);
    W.PutDecReg(Ecx);
    W.PutJccLabel(NotEqual, copy);
    W.PutLabel(copied);
}

void TStub64::Prologue()
{
    TAddress start = W.Here();
    W.PutMovMemReg(Mem(Rsp, 8), Rcx);
    W.PutMovMemReg(Mem(Rsp, 16), Rdx);
    W.PutMovMemReg(Mem(Rsp, 24), R8);
    W.PutMovMemReg(Mem(Rsp, 32), R9);
    W.PutPushReg(Rbp);
    W.PutMovRegReg(Rbp, Rsp);
    W.PutAluRegImm32(TAlu::Sub, Rsp, F::Size);
    VASSERT(W.Here() - start == F::AllocEnd, Unit);
}

// The call, timed: arguments five onwards to the outgoing area, the first four to
// registers. Leaves the result at Result and the ticks in rax.
void TStub64::CallOriginal()
{
    ReadCounter(F::Start);
    for (int i = 5; i <= C.Spec.Words; ++i) {
        Load(Rbp, Arg(i));
        Store(F::Outgoing + 8 * (i - 5));
    }
    W.PutMovRegMem(Rcx, Mem(Rbp, Arg(1)));
    W.PutMovRegMem(Rdx, Mem(Rbp, Arg(2)));
    W.PutMovRegMem(R8, Mem(Rbp, Arg(3)));
    W.PutMovRegMem(R9, Mem(Rbp, Arg(4)));
    W.PutCallAddress(W.LabelAddress(C.Original));
    Store(F::Result);
    ReadCounter(F::Now);
    Load(Rsp, F::Now);
    W.PutAluRegMem(TAlu::Sub, Rax, Mem(Rsp, F::Start));
}

// The return to the log, as in the 32-bit stub; the ticks wait where the counter was.
void TStub64::LogReturn(int returned)
{
    using L = TStubLogLayout;
    int full = W.NewLabel();
    Store(F::Now);
    EmitGuard(W, C.Page, returned, TStubPageLayout::ReturnWanted(C.Page, C.Slot));
    TakeEntry(L::KindReturn, full);
    Load(Rsp, F::Result);
    W.PutMovMemReg(Mem(R11, L::FrameOffset), Rax);
    Load(Rsp, F::Now);
    W.PutMovMemReg(Mem(R11, L::FrameOffset + 8), Rax);
    W.PutMovMemImm(Dword(Mem(R11, L::LengthOffset)), 0);
    W.PutMovMemReg(Mem(R11), R9d);  // the entry is complete
    W.PutJmpLabel(returned);
    W.PutLabel(full);
    Load(Rsp, F::Now);
}

void TStub64::Return(int returned)
{
    // The ticks in two 32-bit halves.
    W.PutMovRegReg(Rdx, Rax);
    W.PutShrRegImm(Rdx, 32);
    W.PutMovRegReg(Eax, Eax);
    StoreParam(StubParamElapsedLow);
    W.PutMovRegReg(Rax, Rdx);
    StoreParam(StubParamElapsedHigh);
    Header();
    Load(Rsp, F::Result);
    StoreParam(StubParamReturn);
    Raise(StubReturnCode, StubReturnParams, TStubPageLayout::ReturnWanted(C.Page, C.Slot));
    W.PutLabel(returned);
    Load(Rsp, F::Result);
    W.PutLeave();
    W.PutRet();
}

void TStub64::Emit()
{
    Prologue();
    int raiseEntry = W.NewLabel(), call = W.NewLabel();
    const bool late = C.Log.Base && C.Spec.Late.Allowed;
    if (late)
        Late(raiseEntry, call);
    W.PutLabel(raiseEntry);
    // Entry: page, slot, entry stack pointer, return address, the first arguments.
    Header();
    Load(Rbp, Arg(0));
    StoreParam(StubParamReturn);
    for (int i = 1; i <= std::min(C.Spec.Words, StubReportArgs); ++i) {
        Load(Rbp, Arg(i));
        StoreParam(StubParamFirstArg + i - 1);
    }
    Raise(StubEntryCode, StubEntryParams(C.Spec.Words), 0);
    W.PutLabel(call);
    CallOriginal();
    int returned = W.NewLabel();
    if (late && C.Spec.LogReturns)
        LogReturn(returned);
    Return(returned);
}

} // namespace

void EmitStub64(const TStubContext& c) { TStub64(c).Emit(); }

void EmitPageHeader64(std::vector<unsigned char>& header, TAddress page, TAddress addFunctionTable)
{
    using L = TStubPageLayout;
    using F = TStub64Frame;
    auto put = [&header](size_t offset, uint64_t value, size_t size) {
        std::memcpy(&header[offset], &value, size);
    };
    put(L::AddTableOffset, addFunctionTable, 8);
    // The stub's prologue, its codes in reverse order. The filter lies outside the stub's
    // range: an unwind from there takes it for a leaf function, which it is (nothing is
    // pushed).
    const unsigned char unwind[] = {
        0x01, F::AllocEnd, 4, 0x05,  // version 1, prologue size, 4 code slots, frame register rbp
        F::AllocEnd, 0x01, F::Size / 8 & 0xFF, F::Size / 8 >> 8,  // UWOP_ALLOC_LARGE, Size / 8 in the next slot
        F::FrameEnd, 0x03,           // UWOP_SET_FPREG
        F::PushEnd, 0x50,            // UWOP_PUSH_NONVOL rbp
    };
    std::memcpy(&header[L::UnwindOffset], unwind, sizeof(unwind));
    for (int slot = 0; slot < L::SlotCount; ++slot) {
        size_t entry = L::TableOffset + 12u * slot;
        put(entry, L::Slot(0, slot) + L::StubOffset, 4);
        put(entry + 4, L::Slot(0, slot) + L::FilterOffset, 4);
        put(entry + 8, L::UnwindOffset, 4);
    }
    // RtlAddFunctionTable(page + TableOffset, SlotCount, page) as a thread routine.
    TX86Writer w(page + L::RegisterOffset, true);
    w.PutAluRegImm(TAlu::Sub, Rsp, 0x28);
    w.PutLeaRegMem(Rcx, At(page + L::TableOffset));
    w.PutMovRegImm(Edx, static_cast<uint32_t>(L::SlotCount));
    w.PutMovRegImm(R8, page);
    w.PutCallMem(At(page + L::AddTableOffset));
    w.PutAluRegImm(TAlu::Add, Rsp, 0x28);
    w.PutAluRegReg(TAlu::Xor, Eax, Eax);
    w.PutRet();
    w.Finish();
    std::copy(w.Bytes().begin(), w.Bytes().end(), header.begin() + L::RegisterOffset);
}

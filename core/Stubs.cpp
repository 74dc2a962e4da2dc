#include "Stubs.h"

#include "Emitter.h"
#include "Errors.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* Unit = "DebugCore";

// The length of the ModRM operand at code (the ModRM byte, a SIB byte, a displacement),
// or 0 when it addresses relative to the instruction pointer (x64) or runs past size.
size_t ModRMLength(const unsigned char* code, size_t size, bool x64)
{
    if (size < 1)
        return 0;
    unsigned mod = code[0] >> 6, rm = code[0] & 7;
    size_t length = 1;
    if (mod == 3)
        return length;
    if (rm == 4) {
        if (size < 2)
            return 0;
        ++length;
        if (mod == 0 && (code[1] & 7) == 5)
            length += 4;  // SIB without base: an absolute disp32
    } else if (mod == 0 && rm == 5) {
        if (x64)
            return 0;  // [rip+disp32]
        length += 4;   // [disp32]
    }
    if (mod == 1)
        length += 1;
    else if (mod == 2)
        length += 4;
    return length <= size ? length : 0;
}

// The length of one movable instruction at code, or 0.
size_t InstructionLength(const unsigned char* code, size_t size, bool x64)
{
    if (size < 1)
        return 0;
    size_t at = 0;
    bool rexW = false;
    if (x64 && (code[0] & 0xF0) == 0x40) {
        rexW = code[0] & 8;
        at = 1;
    }
    if (at >= size)
        return 0;
    unsigned char op = code[at];
    const unsigned char* rest = code + at + 1;
    size_t left = size - at - 1;
    auto withModRM = [&](size_t immediate) -> size_t {
        size_t m = ModRMLength(rest, left, x64);
        if (m == 0 || m + immediate > left)
            return 0;
        return at + 1 + m + immediate;
    };
    auto immediate = [&](size_t size) -> size_t { return left >= size ? at + 1 + size : 0; };
    if (op >= 0x50 && op <= 0x5F)  // push / pop reg
        return at + 1;
    switch (op) {
    case 0x90: case 0x98: case 0x99: case 0xC9:  // nop, cwde, cdq, leave
        return at + 1;
    // add, or, and, sub, xor, cmp, test, mov, lea with a ModRM operand (8- and 32-bit forms)
    case 0x00: case 0x01: case 0x02: case 0x03: case 0x08: case 0x09: case 0x0A: case 0x0B:
    case 0x20: case 0x21: case 0x22: case 0x23: case 0x28: case 0x29: case 0x2A: case 0x2B:
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x38: case 0x39: case 0x3A: case 0x3B:
    case 0x84: case 0x85: case 0x88: case 0x89: case 0x8A: case 0x8B: case 0x8D:
        return withModRM(0);
    case 0x80: case 0x83: case 0xC0: case 0xC1: case 0x6B:  // with imm8: arithmetic, shifts, imul
        return withModRM(1);
    case 0xD1: case 0xD3:  // shifts by 1 and by cl
        return withModRM(0);
    case 0x81: case 0x69:  // with imm32: arithmetic, imul
        return withModRM(4);
    case 0xC6:  // mov r/m8, imm8
        return (left >= 1 && ((rest[0] >> 3) & 7) == 0) ? withModRM(1) : 0;
    case 0xC7:  // mov r/m, imm32
        return (left >= 1 && ((rest[0] >> 3) & 7) == 0) ? withModRM(4) : 0;
    // the accumulator with an immediate: add, or, and, sub, xor, cmp, test
    case 0x04: case 0x0C: case 0x24: case 0x2C: case 0x34: case 0x3C: case 0xA8:
        return immediate(1);
    case 0x05: case 0x0D: case 0x25: case 0x2D: case 0x35: case 0x3D: case 0xA9:
        return immediate(4);
    case 0xA1: case 0xA3:  // mov eax to or from an absolute address (64-bit code: 8 bytes of it)
        return immediate(x64 ? 8 : 4);
    case 0x0F:  // movzx, movsx, imul r, r/m
        if (left >= 1 && (rest[0] == 0xB6 || rest[0] == 0xB7 || rest[0] == 0xBE || rest[0] == 0xBF || rest[0] == 0xAF)) {
            size_t m = ModRMLength(rest + 1, left - 1, x64);
            return m ? at + 2 + m : 0;
        }
        return 0;
    case 0x6A:  // push imm8
        return at == 0 ? immediate(1) : 0;
    case 0x68:  // push imm32
        return at == 0 ? immediate(4) : 0;
    default:
        break;
    }
    if (op >= 0xB8 && op <= 0xBF) {  // mov reg, imm32 / imm64
        size_t immediate = rexW ? 8 : 4;
        return left >= immediate ? at + 1 + immediate : 0;
    }
    return 0;
}

// Registers by encoding number.
enum : int { Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi, R8, R9, R10, R11 };

// The 64-bit stub's frame, at rsp once its prologue has run (rbp is rsp + Size).
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

// The guard before a raise: skip it unless the page's guard word is set, the process is
// being debugged (the PEB's BeingDebugged) and, where wanted is given, the byte there is
// set. Returns where the window of a thread that has passed the first test begins.
TAddress EmitGuard(TEmitter& e, TAddress page, bool x64, int skip, TAddress wanted = 0)
{
    auto testByte = [&](TAddress address) {
        e.Bytes({0x80, 0x3D});  // cmp byte [address], 0 (rip-relative in 64-bit code)
        if (x64)
            e.Rel32(address, 1);
        else
            e.Dword(static_cast<uint32_t>(address));
        e.Byte(0x00);
    };
    testByte(wanted ? wanted : page + TStubPageLayout::GuardOffset);
    TAddress passed = e.Here();
    e.JumpIfEqual(skip);
    if (wanted) {
        testByte(page + TStubPageLayout::GuardOffset);
        e.JumpIfEqual(skip);
    }
    if (x64)
        e.Bytes({0x65, 0x48, 0x8B, 0x04, 0x25, 0x60, 0x00, 0x00, 0x00});  // mov rax, gs:[0x60]
    else
        e.Bytes({0x64, 0xA1, 0x30, 0x00, 0x00, 0x00});  // mov eax, fs:[0x30]
    e.Bytes({0x80, 0x78, 0x02, 0x00});  // cmp byte [eax+2], 0
    e.JumpIfEqual(skip);
    return passed;
}

// cmp dword <argument word>, value: at the stub's entry, before anything is pushed. On
// x64 the first four are in ecx, edx, r8d, r9d.
void EmitCompareArg(TEmitter& e, bool x64, int word, uint32_t value)
{
    if (x64 && word <= 4) {
        const int registers[4] = {Rcx, Rdx, R8, R9};
        int reg = registers[word - 1];
        if (reg >= R8)
            e.Byte(0x41);
        e.Bytes({0x81, static_cast<unsigned char>(0xF8 | (reg & 7))});  // cmp r32, imm32
    } else {
        e.Byte(0x81);  // cmp dword [esp/rsp+word size*word], imm32
        e.Mem(7, Rsp, (x64 ? 8 : 4) * word);
    }
    e.Dword(value);
}

// The filter: a call it does not let pass goes to original with the stack and registers
// as the caller left them.
void EmitFilter(TEmitter& e, bool x64, const TEntryFilter& filter, int original)
{
    if (filter.Arg) {
        EmitCompareArg(e, x64, filter.Arg, filter.Value);
        e.JumpIf(TEmitter::NotEqual, original);
    }
    if (filter.ListArg) {
        int pass = e.NewLabel();
        for (int i = 0; i < filter.ListSize; ++i) {
            EmitCompareArg(e, x64, filter.ListArg, filter.List[i]);
            e.JumpIfEqual(pass);
        }
        e.Jump(original);
        e.Place(pass);
    }
}

// The length check of a late call's bytes, the same machine code for both bitnesses: a
// length over what an entry holds goes to raise, none at all to empty. lengthAt: the
// length argument's displacement from the frame pointer.
void EmitLengthCheck(TEmitter& e, int32_t lengthAt, int raise, int empty)
{
    e.Byte(0x8B);  // mov ecx, [ebp/rbp+lengthAt] (32 bits)
    e.Mem(Rcx, Rbp, lengthAt);
    e.Bytes({0x81, 0xF9});  // cmp ecx, MaxBytes
    e.Dword(static_cast<uint32_t>(TStubLogLayout::MaxBytes));
    e.JumpIf(TEmitter::Above, raise);
    e.Bytes({0x85, 0xC9});  // test ecx, ecx
    e.JumpIfEqual(empty);
}

// The late path of a stub: unless the guard says otherwise or the log is full, the call's
// entry goes to the log and the stub goes on at done, leaving the entry's raise out; in
// any other case it goes on at raise. On entry to it the stub's frame is set up (ebp/rbp)
// and no argument has been touched. Field offsets are those of TStubLogLayout.
void EmitLate32(TEmitter& e, TAddress page, int slot, TAddress log, const TStubSpec& spec, int raise, int done)
{
    using L = TStubLogLayout;
    const TLateEntry& late = spec.Late;
    auto arg = [](int n) { return 4 + 4 * n; };  // [ebp+4+4n]: 0 the return address
    EmitGuard(e, page, false, raise);
    int reserve = e.NewLabel(), retry = e.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(e, arg(late.LengthArg), raise, reserve);
        e.Byte(0x83);  // cmp dword [bytes], 0
        e.Mem(7, Rbp, arg(late.BytesArg));
        e.Byte(0x00);
        e.JumpIfEqual(raise);
        e.Bytes({0x51, 0xFF});  // push ecx; push dword [bytes]: IsBadReadPtr(bytes, length)
        e.Mem(6, Rbp, arg(late.BytesArg));
        e.Bytes({0xFF, 0x15});  // call [page+ReadableOffset]
        e.Dword(static_cast<uint32_t>(page + TStubPageLayout::ReadableOffset));
        e.Bytes({0x85, 0xC0});  // test eax, eax
        e.JumpIf(TEmitter::NotEqual, raise);
    }
    e.Place(reserve);
    e.Byte(0xA1);  // mov eax, [head]
    e.Dword(static_cast<uint32_t>(log + L::HeadOffset));
    e.Place(retry);
    e.Bytes({0x89, 0xC2, 0x2B, 0x15});  // mov edx, eax; sub edx, [tail]
    e.Dword(static_cast<uint32_t>(log + L::TailOffset));
    e.Bytes({0x81, 0xFA});  // cmp edx, EntryCount
    e.Dword(L::EntryCount);
    e.JumpIf(TEmitter::AboveOrEqual, raise);
    e.Bytes({0x8D, 0x50, 0x01});        // lea edx, [eax+1]
    e.Bytes({0xF0, 0x0F, 0xB1, 0x15});  // lock cmpxchg [head], edx
    e.Dword(static_cast<uint32_t>(log + L::HeadOffset));
    e.JumpIf(TEmitter::NotEqual, retry);
    // ebx: the entry; its sequence word waits on the stack.
    e.Bytes({0x89, 0xC3, 0x81, 0xE3});  // mov ebx, eax; and ebx, EntryCount - 1
    e.Dword(L::EntryCount - 1);
    e.Bytes({0xC1, 0xE3, static_cast<unsigned char>(L::EntryShift)});  // shl ebx, EntryShift
    e.Bytes({0x81, 0xC3});                                             // add ebx, entries
    e.Dword(static_cast<uint32_t>(log + L::EntriesOffset));
    e.Bytes({0x40, 0x50});  // inc eax; push eax
    auto store = [&](size_t field, uint32_t value) {  // mov dword [ebx+field], value
        e.Byte(0xC7);
        e.Mem(0, Rbx, static_cast<int32_t>(field));
        e.Dword(value);
    };
    auto storeEax = [&](size_t field) {  // the 64-bit field from eax, zero-extended
        e.Byte(0x89);
        e.Mem(Rax, Rbx, static_cast<int32_t>(field));
        store(field + 4, 0);
    };
    store(L::SlotOffset, static_cast<uint32_t>(slot));
    store(L::PageOffset, static_cast<uint32_t>(page));
    store(L::PageOffset + 4, 0);
    e.Bytes({0x64, 0xA1, 0x24, 0x00, 0x00, 0x00});  // mov eax, fs:[0x24]: the thread's id
    e.Byte(0x89);
    e.Mem(Rax, Rbx, L::ThreadOffset);
    e.Bytes({0x8D, 0x45, 0x04});  // lea eax, [ebp+4]
    storeEax(L::SpOffset);
    for (int i = 0; i <= spec.Words; ++i) {
        e.Byte(0x8B);  // mov eax, [ebp+4+4i]
        e.Mem(Rax, Rbp, arg(i));
        storeEax(L::FrameOffset + 8 * i);
    }
    if (late.LengthArg) {
        e.Byte(0x8B);  // mov ecx, length
        e.Mem(Rcx, Rbp, arg(late.LengthArg));
        e.Byte(0x89);  // mov [ebx+Length], ecx
        e.Mem(Rcx, Rbx, L::LengthOffset);
        e.Bytes({0x56, 0x57, 0x8B});  // push esi; push edi; mov esi, bytes
        e.Mem(Rsi, Rbp, arg(late.BytesArg));
        e.Byte(0x8D);  // lea edi, [ebx+BytesOffset]
        e.Mem(Rdi, Rbx, L::BytesOffset);
        e.Bytes({0xFC, 0xF3, 0xA4});  // cld; rep movsb
        e.Bytes({0x5F, 0x5E});        // pop edi; pop esi
    } else {
        store(L::LengthOffset, 0);
    }
    e.Bytes({0x58, 0x89, 0x03});  // pop eax; mov [ebx], eax: the entry is complete
    e.Jump(done);
}

// The same for a 64-bit program, with volatile registers only (the stub's unwind data
// saves none): r10 the log, r11 the entry, r9d its sequence word.
void EmitLate64(TEmitter& e, TAddress page, int slot, TAddress log, const TStubSpec& spec, int raise, int done)
{
    using L = TStubLogLayout;
    const TLateEntry& late = spec.Late;
    auto arg = [](int n) { return 8 + 8 * n; };  // [rbp+8+8n]: 0 the return address
    EmitGuard(e, page, true, raise);
    int reserve = e.NewLabel(), retry = e.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(e, arg(late.LengthArg), raise, reserve);
        e.Bytes({0x48, 0x83});  // cmp qword [bytes], 0
        e.Mem(7, Rbp, arg(late.BytesArg));
        e.Byte(0x00);
        e.JumpIfEqual(raise);
        e.Bytes({0x48, 0x8B});  // mov rcx, bytes; mov edx, length: IsBadReadPtr(bytes, length)
        e.Mem(Rcx, Rbp, arg(late.BytesArg));
        e.Byte(0x8B);
        e.Mem(Rdx, Rbp, arg(late.LengthArg));
        e.Bytes({0xFF, 0x15});  // call [rip+readable]
        e.Rel32(page + TStubPageLayout::ReadableOffset);
        e.Bytes({0x85, 0xC0});  // test eax, eax
        e.JumpIf(TEmitter::NotEqual, raise);
    }
    e.Place(reserve);
    e.Bytes({0x49, 0xBA});  // mov r10, log
    e.Qword(log);
    e.Bytes({0x41, 0x8B, 0x42, static_cast<unsigned char>(L::HeadOffset)});  // mov eax, [r10+Head]
    e.Place(retry);
    e.Bytes({0x89, 0xC2, 0x41, 0x2B, 0x52, static_cast<unsigned char>(L::TailOffset)});  // mov edx, eax; sub edx, [r10+Tail]
    e.Bytes({0x81, 0xFA});  // cmp edx, EntryCount
    e.Dword(L::EntryCount);
    e.JumpIf(TEmitter::AboveOrEqual, raise);
    e.Bytes({0x8D, 0x50, 0x01});                    // lea edx, [rax+1]
    e.Bytes({0xF0, 0x41, 0x0F, 0xB1, 0x52, static_cast<unsigned char>(L::HeadOffset)});  // lock cmpxchg [r10+Head], edx
    e.JumpIf(TEmitter::NotEqual, retry);
    e.Bytes({0x44, 0x8D, 0x48, 0x01});  // lea r9d, [rax+1]
    e.Bytes({0x41, 0x89, 0xC3, 0x41, 0x81, 0xE3});  // mov r11d, eax; and r11d, EntryCount - 1
    e.Dword(L::EntryCount - 1);
    e.Bytes({0x49, 0xC1, 0xE3, static_cast<unsigned char>(L::EntryShift)});  // shl r11, EntryShift
    e.Bytes({0x4F, 0x8D, 0x9C, 0x1A});  // lea r11, [r10+r11+entries]
    e.Dword(static_cast<uint32_t>(L::EntriesOffset));
    auto storeRax = [&](size_t field) {  // mov [r11+field], rax
        e.Bytes({0x49, 0x89});
        e.Mem(Rax, R11, static_cast<int32_t>(field));
    };
    e.Bytes({0x41, 0xC7});  // mov dword [r11+Slot], slot
    e.Mem(0, R11, L::SlotOffset);
    e.Dword(static_cast<uint32_t>(slot));
    e.Bytes({0x48, 0xB8});  // mov rax, page
    e.Qword(page);
    storeRax(L::PageOffset);
    e.Bytes({0x65, 0x8B, 0x04, 0x25, 0x48, 0x00, 0x00, 0x00});  // mov eax, gs:[0x48]: the thread's id
    e.Bytes({0x41, 0x89});  // mov [r11+Thread], eax
    e.Mem(Rax, R11, L::ThreadOffset);
    e.Bytes({0x48, 0x8D, 0x45, 0x08});  // lea rax, [rbp+8]
    storeRax(L::SpOffset);
    for (int i = 0; i <= spec.Words; ++i) {
        e.Bytes({0x48, 0x8B});  // mov rax, [rbp+8+8i]
        e.Mem(Rax, Rbp, arg(i));
        storeRax(L::FrameOffset + 8 * i);
    }
    if (late.LengthArg) {
        int copied = e.NewLabel(), copy = e.NewLabel();
        e.Byte(0x8B);  // mov ecx, length
        e.Mem(Rcx, Rbp, arg(late.LengthArg));
        e.Bytes({0x41, 0x89});  // mov [r11+Length], ecx
        e.Mem(Rcx, R11, L::LengthOffset);
        e.Bytes({0x4C, 0x8B});  // mov r8, bytes
        e.Mem(R8, Rbp, arg(late.BytesArg));
        e.Bytes({0x49, 0x8D});  // lea rdx, [r11+BytesOffset]
        e.Mem(Rdx, R11, L::BytesOffset);
        e.Bytes({0x85, 0xC9});  // test ecx, ecx
        e.JumpIfEqual(copied);
        e.Place(copy);
        e.Bytes({0x41, 0x8A, 0x00, 0x88, 0x02});  // mov al, [r8]; mov [rdx], al
        e.Bytes({0x49, 0xFF, 0xC0, 0x48, 0xFF, 0xC2, 0xFF, 0xC9});  // inc r8; inc rdx; dec ecx
        e.JumpIf(TEmitter::NotEqual, copy);
        e.Place(copied);
    } else {
        e.Bytes({0x41, 0xC7});  // mov dword [r11+Length], 0
        e.Mem(0, R11, L::LengthOffset);
        e.Dword(0);
    }
    e.Bytes({0x45, 0x89, 0x0B});  // mov [r11], r9d: the entry is complete
    e.Jump(done);
}

// The 32-bit stub. Arguments are on the stack; the original may be cdecl or stdcall: what
// it popped of the copied arguments is popped from the caller's on the way back.
void EmitStub32(TEmitter& e, TStubCode& code, TAddress page, int slot, int original, TAddress log,
                const TStubSpec& spec)
{
    auto pushArgs = [&](int count) {
        for (int i = count; i >= 1; --i) {
            e.Byte(0xFF);  // push dword [ebp+4+4i]
            e.Mem(6, Rbp, 4 + 4 * i);
        }
    };
    auto raise = [&](uint32_t exceptionCode, int count, TAddress wanted) {
        // RaiseException(code, 0, count, esp) with the parameters just pushed.
        e.Bytes({0x68});
        e.Dword(static_cast<uint32_t>(slot));
        e.Byte(0x68);
        e.Dword(static_cast<uint32_t>(page));
        e.Bytes({0x89, 0xE0, 0x50});  // mov eax, esp; push eax
        e.Bytes({0x6A, static_cast<unsigned char>(count)});
        e.Bytes({0x6A, 0x00});
        e.Byte(0x68);
        e.Dword(exceptionCode);
        int skip = e.NewLabel(), done = e.NewLabel();
        TAddress from = EmitGuard(e, page, false, skip, wanted);
        TAddress call = e.Here();
        e.Bytes({0xFF, 0x15});  // call [page+RaiseOffset]
        e.Dword(static_cast<uint32_t>(page + TStubPageLayout::RaiseOffset));
        e.Jump(done);
        e.Place(skip);
        e.Bytes({0x83, 0xC4, 0x10});  // add esp, 16: what RaiseException would have popped
        e.Place(done);
        e.Bytes({0x83, 0xC4, static_cast<unsigned char>(4 * count)});  // the parameters
        code.Windows.push_back({from, call, e.At(skip)});
    };

    auto pushHead = [&] {
        if (log) {
            e.Bytes({0xFF, 0x35});  // push dword [head]
            e.Dword(static_cast<uint32_t>(log + TStubLogLayout::HeadOffset));
        } else {
            e.Bytes({0x6A, 0x00});
        }
    };

    // The frame: the saved ebx at [ebp-4], the counter at the call's start at [ebp-12].
    e.Bytes({0x55, 0x89, 0xE5, 0x53});  // push ebp; mov ebp, esp; push ebx
    e.Bytes({0x83, 0xEC, 0x08});        // sub esp, 8
    auto readCounter = [&] {  // QueryPerformanceCounter(pushed address)
        e.Bytes({0xFF, 0x15});
        e.Dword(static_cast<uint32_t>(page + TStubPageLayout::CounterOffset));
    };
    int raiseEntry = e.NewLabel(), call = e.NewLabel();
    if (log && spec.Late.Allowed)
        EmitLate32(e, page, slot, log, spec, raiseEntry, call);
    e.Place(raiseEntry);
    // Entry: the first arguments, the log's head, return address, entry stack pointer,
    // then slot and page.
    pushArgs(std::min(spec.Words, StubReportArgs));
    pushHead();
    e.Bytes({0xFF, 0x75, 0x04});        // push [ebp+4]
    e.Bytes({0x8D, 0x45, 0x04, 0x50});  // lea eax, [ebp+4]; push eax
    raise(StubEntryCode, StubEntryParams(spec.Words), 0);
    // The call itself, with the arguments copied, timed.
    e.Place(call);
    e.Bytes({0x8D, 0x45, 0xF4, 0x50});  // lea eax, [ebp-12]; push eax
    readCounter();
    e.Bytes({0x89, 0xE3});  // mov ebx, esp
    pushArgs(spec.Words);
    e.Byte(0xE8);
    e.Rel32(e.At(original));
    // ecx = bytes the original popped; result kept in eax:edx.
    e.Bytes({0x89, 0xE1, 0x29, 0xD9, 0x83, 0xC1, static_cast<unsigned char>(4 * spec.Words)});
    e.Bytes({0x89, 0xDC, 0x52, 0x50, 0x51});  // mov esp, ebx; push edx; push eax; push ecx
    // The ticks since the start, in edx:eax.
    e.Bytes({0x83, 0xEC, 0x08, 0x54});  // sub esp, 8; push esp
    readCounter();
    e.Bytes({0x58, 0x5A, 0x2B, 0x45, 0xF4, 0x1B, 0x55, 0xF8});  // pop eax; pop edx; sub eax, [ebp-12]; sbb edx, [ebp-8]
    // Return: the ticks, the log's head, the result, entry stack pointer, then slot and page.
    e.Bytes({0x52, 0x50});  // push edx; push eax
    pushHead();
    e.Bytes({0xFF, 0x74, 0x24, 0x10});  // push dword [esp+16]: the result
    e.Bytes({0x8D, 0x4D, 0x04, 0x51});  // lea ecx, [ebp+4]; push ecx
    raise(StubReturnCode, StubReturnParams, TStubPageLayout::ReturnWanted(page, slot));
    e.Bytes({0x59, 0x58, 0x5A, 0x83, 0xC4, 0x08});  // pop ecx; pop eax; pop edx; add esp, 8
    e.Bytes({0x5B, 0x5D});                          // pop ebx; pop ebp
    // Pop as many of the caller's argument bytes as the original popped of the copies.
    int plain = e.NewLabel();
    e.Bytes({0x85, 0xC9});  // test ecx, ecx
    e.JumpIfEqual(plain);
    e.Bytes({0x50, 0x8B, 0x44, 0x24, 0x04});  // push eax; mov eax, [esp+4]
    e.Bytes({0x89, 0x44, 0x0C, 0x04});        // mov [esp+ecx+4], eax
    e.Bytes({0x58, 0x01, 0xCC});              // pop eax; add esp, ecx
    e.Place(plain);
    e.Byte(0xC3);
}

// The 64-bit stub. The four register arguments go to the caller's home space, so that
// all arguments lie in a row above the return address; the call gets them back in
// registers and the fifth onwards in the outgoing area (TStub64Frame).
void EmitStub64(TEmitter& e, TStubCode& code, TAddress page, int slot, int original, TAddress log,
                const TStubSpec& spec)
{
    using F = TStub64Frame;
    auto load = [&](int base, int32_t disp) {  // mov rax, [base+disp]
        e.Bytes({0x48, 0x8B});
        e.Mem(Rax, base, disp);
    };
    auto store = [&](int32_t disp) {  // mov [rsp+disp], rax
        e.Bytes({0x48, 0x89});
        e.Mem(Rax, Rsp, disp);
    };
    auto readCounter = [&](int32_t at) {  // QueryPerformanceCounter(rsp+at)
        e.Bytes({0x48, 0x8D});                // lea rcx, [rsp+at]
        e.Mem(Rcx, Rsp, at);
        e.Bytes({0xFF, 0x15});  // call [rip+counter]
        e.Rel32(page + TStubPageLayout::CounterOffset);
    };
    auto storeParam = [&](int index) { store(F::Params + 8 * index); };
    auto header = [&] {
        e.Bytes({0x48, 0xB8});  // mov rax, page
        e.Qword(page);
        storeParam(StubParamPage);
        e.Bytes({0x48, 0xC7});  // mov qword [rsp+..], slot
        e.Mem(0, Rsp, F::Params + 8 * StubParamSlot);
        e.Dword(static_cast<uint32_t>(slot));
        e.Bytes({0x48, 0x8D, 0x45, 0x08});  // lea rax, [rbp+8]
        storeParam(StubParamEntrySp);
    };
    auto storeHead = [&] {
        e.Bytes({0x48, 0xB8});  // mov rax, log
        e.Qword(log);
        if (log)
            e.Bytes({0x8B, 0x00});  // mov eax, [rax]
        storeParam(StubParamLogHead);
    };
    auto raise = [&](uint32_t exceptionCode, int count, TAddress wanted) {
        e.Byte(0xB9);  // mov ecx, code
        e.Dword(exceptionCode);
        e.Bytes({0x31, 0xD2});  // xor edx, edx
        e.Bytes({0x41, 0xB8});  // mov r8d, count
        e.Dword(static_cast<uint32_t>(count));
        e.Bytes({0x4C, 0x8D});  // lea r9, [rsp+Params]
        e.Mem(R9, Rsp, F::Params);
        int skip = e.NewLabel();
        TAddress from = EmitGuard(e, page, true, skip, wanted);
        TAddress call = e.Here();
        e.Bytes({0xFF, 0x15});  // call [rip+raise]
        e.Rel32(page + TStubPageLayout::RaiseOffset);
        e.Place(skip);
        code.Windows.push_back({from, call, e.At(skip)});
    };

    TAddress prologue = e.Here();
    e.Bytes({0x48, 0x89, 0x4C, 0x24, 0x08});  // mov [rsp+8], rcx
    e.Bytes({0x48, 0x89, 0x54, 0x24, 0x10});  // mov [rsp+16], rdx
    e.Bytes({0x4C, 0x89, 0x44, 0x24, 0x18});  // mov [rsp+24], r8
    e.Bytes({0x4C, 0x89, 0x4C, 0x24, 0x20});  // mov [rsp+32], r9
    e.Bytes({0x55, 0x48, 0x89, 0xE5});        // push rbp; mov rbp, rsp
    e.Bytes({0x48, 0x81, 0xEC});              // sub rsp, Size
    e.Dword(F::Size);
    VASSERT(e.Here() - prologue == F::AllocEnd, Unit);
    int raiseEntry = e.NewLabel(), call = e.NewLabel();
    if (log && spec.Late.Allowed)
        EmitLate64(e, page, slot, log, spec, raiseEntry, call);
    e.Place(raiseEntry);
    // Entry: page, slot, entry stack pointer, return address, the log's head, the first
    // arguments.
    header();
    load(Rbp, 8);
    storeParam(StubParamReturn);
    storeHead();
    for (int i = 1; i <= std::min(spec.Words, StubReportArgs); ++i) {
        load(Rbp, 8 + 8 * i);
        storeParam(StubParamFirstArg + i - 1);
    }
    raise(StubEntryCode, StubEntryParams(spec.Words), 0);
    // The call, timed: arguments five onwards to the outgoing area, the first four to registers.
    e.Place(call);
    readCounter(F::Start);
    for (int i = 5; i <= spec.Words; ++i) {
        load(Rbp, 8 + 8 * i);
        store(F::Outgoing + 8 * (i - 5));
    }
    e.Bytes({0x48, 0x8B, 0x4D, 0x10, 0x48, 0x8B, 0x55, 0x18});  // rcx, rdx
    e.Bytes({0x4C, 0x8B, 0x45, 0x20, 0x4C, 0x8B, 0x4D, 0x28});  // r8, r9
    e.Byte(0xE8);
    e.Rel32(e.At(original));
    store(F::Result);
    readCounter(F::Now);
    load(Rsp, F::Now);
    e.Bytes({0x48, 0x2B});  // sub rax, [rsp+Start]
    e.Mem(Rax, Rsp, F::Start);
    e.Bytes({0x48, 0x89, 0xC2, 0x48, 0xC1, 0xEA, 0x20, 0x89, 0xC0});  // mov rdx, rax; shr rdx, 32; mov eax, eax
    storeParam(StubParamElapsedLow);
    e.Bytes({0x48, 0x89, 0xD0});  // mov rax, rdx
    storeParam(StubParamElapsedHigh);
    header();
    load(Rsp, F::Result);
    storeParam(StubParamReturn);
    storeHead();
    raise(StubReturnCode, StubReturnParams, TStubPageLayout::ReturnWanted(page, slot));
    load(Rsp, F::Result);
    e.Bytes({0xC9, 0xC3});  // leave; ret
}

} // namespace

size_t MovableLength(const unsigned char* code, size_t size, bool x64, size_t jumpSize)
{
    size_t length = 0;
    while (length < jumpSize) {
        size_t n = InstructionLength(code + length, size - length, x64);
        if (n == 0)
            return 0;
        length += n;
    }
    return length;
}

TStubCode BuildStubCode(TAddress page, int slot, TAddress entry, const unsigned char* moved, size_t movedSize,
                        bool x64, TAddress log, const TStubSpec& spec)
{
    VASSERT(slot >= 0 && slot < TStubPageLayout::SlotCount, Unit);
    VASSERT(spec.Words >= 0 && spec.Words <= StubMaxWords, Unit);
    const TEntryFilter& filter = spec.Filter;
    VASSERT(filter.Arg >= 0 && filter.Arg <= spec.Words && filter.ListArg >= 0 && filter.ListArg <= spec.Words, Unit);
    VASSERT(filter.ListSize >= (filter.ListArg ? 1 : 0) && filter.ListSize <= TEntryFilter::MaxList, Unit);
    const TLateEntry& late = spec.Late;
    VASSERT(late.BytesArg <= spec.Words && late.LengthArg <= spec.Words, Unit);
    TStubCode code;
    TAddress base = TStubPageLayout::Slot(page, slot);
    TEmitter e(base);
    // The trampoline: the moved instructions, then on behind them in the entry point.
    code.Trampoline = e.Here();
    int original = e.LabelAt(code.Trampoline);
    for (size_t i = 0; i < movedSize; ++i)
        e.Byte(moved[i]);
    e.Byte(0xE9);
    e.Rel32(entry + movedSize);
    VASSERT(e.Here() - base <= TStubPageLayout::StubOffset, Unit);
    while (e.Here() - base < TStubPageLayout::StubOffset)
        e.Byte(0xCC);
    code.Stub = e.Here();
    if (x64)
        EmitStub64(e, code, page, slot, original, log, spec);
    else
        EmitStub32(e, code, page, slot, original, log, spec);
    VASSERT(e.Here() - base <= TStubPageLayout::FilterOffset, Unit);
    if (filter.Any()) {
        int body = e.LabelAt(code.Stub);
        while (e.Here() - base < TStubPageLayout::FilterOffset)
            e.Byte(0xCC);
        code.Stub = e.Here();
        EmitFilter(e, x64, filter, original);
        e.Jump(body);
    }
    e.Finish();
    VASSERT(e.Bytes().size() <= TStubPageLayout::SlotSize, Unit);
    code.Bytes = e.Bytes();
    return code;
}

std::vector<unsigned char> BuildPageHeader(TAddress page, TAddress raise, TAddress badReadPtr, TAddress counter,
                                           TAddress addFunctionTable, bool x64)
{
    using L = TStubPageLayout;
    std::vector<unsigned char> header(L::HeaderSize, 0xCC);
    auto put = [&header](size_t offset, uint64_t value, size_t size) {
        std::memcpy(&header[offset], &value, size);
    };
    std::fill(header.begin(), header.begin() + L::TableOffset, 0);
    header[L::GuardOffset] = 1;
    std::fill_n(header.begin() + L::ReturnWantedOffset, L::SlotCount, 1);
    put(L::RaiseOffset, raise, x64 ? 8 : 4);
    put(L::ReadableOffset, badReadPtr, x64 ? 8 : 4);
    put(L::CounterOffset, counter, x64 ? 8 : 4);
    if (!x64)
        return header;
    put(L::AddTableOffset, addFunctionTable, 8);
    // The stub's prologue (TStub64Frame), its codes in reverse order. The filter lies
    // outside the stub's range: an unwind from there takes it for a leaf function, which
    // it is (nothing is pushed).
    using F = TStub64Frame;
    const unsigned char unwind[] = {
        0x01, F::AllocEnd, 4, 0x05,  // version 1, prologue size, 4 code slots, frame register rbp
        F::AllocEnd, 0x01, F::Size / 8 & 0xFF, F::Size / 8 >> 8,  // UWOP_ALLOC_LARGE, Size / 8 in the next slot
        F::FrameEnd, 0x03,           // UWOP_SET_FPREG
        F::PushEnd, 0x50,            // UWOP_PUSH_NONVOL rbp
    };
    std::memcpy(&header[L::UnwindOffset], unwind, sizeof(unwind));
    for (int slot = 0; slot < L::SlotCount; ++slot) {
        size_t entry = L::TableOffset + 12u * slot;
        uint64_t begin = L::Slot(0, slot) + L::StubOffset;
        put(entry, begin, 4);
        put(entry + 4, L::Slot(0, slot) + L::FilterOffset, 4);
        put(entry + 8, L::UnwindOffset, 4);
    }
    // RtlAddFunctionTable(page + TableOffset, SlotCount, page) as a thread routine.
    TEmitter e(page + L::RegisterOffset);
    e.Bytes({0x48, 0x83, 0xEC, 0x28});  // sub rsp, 0x28
    e.Bytes({0x48, 0x8D, 0x0D});        // lea rcx, [rip+table]
    e.Rel32(page + L::TableOffset);
    e.Byte(0xBA);  // mov edx, count
    e.Dword(static_cast<uint32_t>(L::SlotCount));
    e.Bytes({0x49, 0xB8});  // mov r8, page
    e.Qword(page);
    e.Bytes({0xFF, 0x15});  // call [rip+addFunctionTable]
    e.Rel32(page + L::AddTableOffset);
    e.Bytes({0x48, 0x83, 0xC4, 0x28, 0x31, 0xC0, 0xC3});  // add rsp, 0x28; xor eax, eax; ret
    e.Finish();
    std::copy(e.Bytes().begin(), e.Bytes().end(), header.begin() + L::RegisterOffset);
    return header;
}

bool BuildEntryJump(TAddress entry, TAddress stub, unsigned char (&jump)[5])
{
    int64_t distance = static_cast<int64_t>(stub - (entry + 5));
    if (distance != static_cast<int32_t>(distance))
        return false;
    jump[0] = 0xE9;
    int32_t rel = static_cast<int32_t>(distance);
    std::memcpy(jump + 1, &rel, 4);
    return true;
}

std::vector<unsigned char> BuildOutOfLine(TAddress cell, TAddress address, const unsigned char* instruction,
                                          size_t length, bool x64)
{
    TEmitter e(cell);
    for (size_t i = 0; i < length; ++i)
        e.Byte(instruction[i]);
    TAddress back = address + length;
    if (x64) {
        e.Bytes({0xFF, 0x25, 0, 0, 0, 0});  // jmp [rip+0]: the address follows
        e.Qword(back);
    } else {
        // 32-bit addresses wrap round: any distance is a rel32.
        e.Byte(0xE9);
        e.Dword(static_cast<uint32_t>(back - (e.Here() + 4)));
    }
    VASSERT(e.Bytes().size() <= OutOfLineCellSize, Unit);
    return e.Bytes();
}

#include "Stubs.h"

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

// Machine code of a stub, written at a known address: labels and the jumps to them are
// settled when the code is done.
class TEmitter {
public:
    explicit TEmitter(TAddress base) : FBase(base) {}

    TAddress Here() const { return FBase + FBytes.size(); }
    const std::vector<unsigned char>& Bytes() const { return FBytes; }

    void Byte(unsigned char b) { FBytes.push_back(b); }
    void Bytes(std::initializer_list<unsigned char> bytes) { FBytes.insert(FBytes.end(), bytes); }
    void Dword(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<unsigned char>(v >> (8 * i)));
    }
    void Qword(uint64_t v)
    {
        Dword(static_cast<uint32_t>(v));
        Dword(static_cast<uint32_t>(v >> 32));
    }
    // A 32-bit displacement to target from the end of the instruction whose last field
    // this is (tail: bytes of the instruction that follow the displacement).
    void Rel32(TAddress target, size_t tail = 0)
    {
        TAddress next = Here() + 4 + tail;
        int64_t distance = static_cast<int64_t>(target - next);
        VASSERT(distance == static_cast<int32_t>(distance), Unit);
        Dword(static_cast<uint32_t>(distance));
    }

    // Labels: a jump to a label not yet placed is patched when it is.
    int NewLabel()
    {
        FLabels.push_back(0);
        return static_cast<int>(FLabels.size()) - 1;
    }
    void Place(int label) { FLabels[label] = Here(); }
    TAddress At(int label) const { return FLabels[label]; }
    // jcc label (near form), cc the condition's code: 3 above or equal, 4 equal, 5 not
    // equal, 7 above.
    enum : unsigned char { AboveOrEqual = 3, Equal = 4, NotEqual = 5, Above = 7 };
    void JumpIf(unsigned char cc, int label)
    {
        Bytes({0x0F, static_cast<unsigned char>(0x80 | cc)});
        FFixups.push_back({FBytes.size(), label});
        Dword(0);
    }
    void JumpIfEqual(int label) { JumpIf(Equal, label); }
    void Jump(int label)
    {
        Byte(0xE9);
        FFixups.push_back({FBytes.size(), label});
        Dword(0);
    }
    void Finish()
    {
        for (const auto& [offset, label] : FFixups) {
            int64_t distance = static_cast<int64_t>(FLabels[label] - (FBase + offset + 4));
            VASSERT(distance == static_cast<int32_t>(distance), Unit);
            std::memcpy(&FBytes[offset], &distance, 4);
        }
    }

private:
    TAddress FBase;
    std::vector<unsigned char> FBytes;
    std::vector<TAddress> FLabels;
    std::vector<std::pair<size_t, int>> FFixups;
};

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

// The length check of a late call's bytes, the same machine code for both bitnesses: a
// length over what an entry holds goes to raise, none at all to empty. lengthAt: the
// length argument's displacement from the frame pointer.
void EmitLengthCheck(TEmitter& e, unsigned char lengthAt, int raise, int empty)
{
    e.Bytes({0x8B, 0x4D, lengthAt});  // mov ecx, [ebp/rbp+lengthAt] (32 bits)
    e.Bytes({0x81, 0xF9});            // cmp ecx, MaxBytes
    e.Dword(static_cast<uint32_t>(TStubLogLayout::MaxBytes));
    e.JumpIf(TEmitter::Above, raise);
    e.Bytes({0x85, 0xC9});  // test ecx, ecx
    e.JumpIfEqual(empty);
}

// The late path of a stub: unless the guard says otherwise or the log is full, the call's
// entry goes to the log and the stub goes on at done, leaving the entry's raise out; in
// any other case it goes on at raise. On entry to it the stub's frame is set up (ebp/rbp)
// and no argument has been touched. Field offsets are those of TStubLogLayout.
void EmitLate32(TEmitter& e, TAddress page, int slot, TAddress log, const TLateEntry& late, int raise, int done)
{
    using L = TStubLogLayout;
    auto arg = [](int n) { return static_cast<unsigned char>(4 + 4 * n); };  // [ebp+4+4n]: 0 the return address
    EmitGuard(e, page, false, raise);
    int reserve = e.NewLabel(), retry = e.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(e, arg(late.LengthArg), raise, reserve);
        e.Bytes({0x83, 0x7D, arg(late.BytesArg), 0x00});  // cmp dword [bytes], 0
        e.JumpIfEqual(raise);
        e.Bytes({0x51, 0xFF, 0x75, arg(late.BytesArg)});  // IsBadReadPtr(bytes, length)
        e.Bytes({0xFF, 0x15});
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
        e.Bytes({0xC7, 0x43, static_cast<unsigned char>(field)});
        e.Dword(value);
    };
    auto storeEax = [&](size_t field) {  // the 64-bit field from eax, zero-extended
        e.Bytes({0x89, 0x43, static_cast<unsigned char>(field)});
        store(field + 4, 0);
    };
    store(L::SlotOffset, static_cast<uint32_t>(slot));
    store(L::PageOffset, static_cast<uint32_t>(page));
    store(L::PageOffset + 4, 0);
    e.Bytes({0x64, 0xA1, 0x24, 0x00, 0x00, 0x00});  // mov eax, fs:[0x24]: the thread's id
    e.Bytes({0x89, 0x43, static_cast<unsigned char>(L::ThreadOffset)});
    e.Bytes({0x8D, 0x45, 0x04});  // lea eax, [ebp+4]
    storeEax(L::SpOffset);
    for (int i = 0; i <= StubArgs; ++i) {
        e.Bytes({0x8B, 0x45, arg(i)});  // mov eax, [ebp+4+4i]
        storeEax(L::FrameOffset + 8 * i);
    }
    if (late.LengthArg) {
        e.Bytes({0x8B, 0x4D, arg(late.LengthArg)});                 // mov ecx, length
        e.Bytes({0x89, 0x4B, static_cast<unsigned char>(L::LengthOffset)});  // mov [ebx+Length], ecx
        e.Bytes({0x56, 0x57});                                      // push esi; push edi
        e.Bytes({0x8B, 0x75, arg(late.BytesArg)});                  // mov esi, bytes
        e.Bytes({0x8D, 0xBB});                                      // lea edi, [ebx+BytesOffset]
        e.Dword(static_cast<uint32_t>(L::BytesOffset));
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
void EmitLate64(TEmitter& e, TAddress page, int slot, TAddress log, const TLateEntry& late, int raise, int done)
{
    using L = TStubLogLayout;
    auto arg = [](int n) { return static_cast<unsigned char>(8 + 8 * n); };  // [rbp+8+8n]: 0 the return address
    EmitGuard(e, page, true, raise);
    int reserve = e.NewLabel(), retry = e.NewLabel();
    if (late.LengthArg) {
        EmitLengthCheck(e, arg(late.LengthArg), raise, reserve);
        e.Bytes({0x48, 0x83, 0x7D, arg(late.BytesArg), 0x00});  // cmp qword [bytes], 0
        e.JumpIfEqual(raise);
        e.Bytes({0x48, 0x8B, 0x4D, arg(late.BytesArg)});  // IsBadReadPtr(bytes, length)
        e.Bytes({0x8B, 0x55, arg(late.LengthArg)});
        e.Bytes({0xFF, 0x15});
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
        e.Bytes({0x49, 0x89, 0x43, static_cast<unsigned char>(field)});
    };
    e.Bytes({0x41, 0xC7, 0x43, static_cast<unsigned char>(L::SlotOffset)});  // mov dword [r11+Slot], slot
    e.Dword(static_cast<uint32_t>(slot));
    e.Bytes({0x48, 0xB8});  // mov rax, page
    e.Qword(page);
    storeRax(L::PageOffset);
    e.Bytes({0x65, 0x8B, 0x04, 0x25, 0x48, 0x00, 0x00, 0x00});  // mov eax, gs:[0x48]: the thread's id
    e.Bytes({0x41, 0x89, 0x43, static_cast<unsigned char>(L::ThreadOffset)});
    e.Bytes({0x48, 0x8D, 0x45, 0x08});  // lea rax, [rbp+8]
    storeRax(L::SpOffset);
    for (int i = 0; i <= StubArgs; ++i) {
        e.Bytes({0x48, 0x8B, 0x45, arg(i)});  // mov rax, [rbp+8+8i]
        storeRax(L::FrameOffset + 8 * i);
    }
    if (late.LengthArg) {
        int copied = e.NewLabel(), copy = e.NewLabel();
        e.Bytes({0x8B, 0x4D, arg(late.LengthArg)});                              // mov ecx, length
        e.Bytes({0x41, 0x89, 0x4B, static_cast<unsigned char>(L::LengthOffset)});  // mov [r11+Length], ecx
        e.Bytes({0x4C, 0x8B, 0x45, arg(late.BytesArg)});                         // mov r8, bytes
        e.Bytes({0x49, 0x8D, 0x93});                                             // lea rdx, [r11+BytesOffset]
        e.Dword(static_cast<uint32_t>(L::BytesOffset));
        e.Bytes({0x85, 0xC9});  // test ecx, ecx
        e.JumpIfEqual(copied);
        e.Place(copy);
        e.Bytes({0x41, 0x8A, 0x00, 0x88, 0x02});  // mov al, [r8]; mov [rdx], al
        e.Bytes({0x49, 0xFF, 0xC0, 0x48, 0xFF, 0xC2, 0xFF, 0xC9});  // inc r8; inc rdx; dec ecx
        e.JumpIf(TEmitter::NotEqual, copy);
        e.Place(copied);
    } else {
        e.Bytes({0x41, 0xC7, 0x43, static_cast<unsigned char>(L::LengthOffset)});  // mov dword [r11+Length], 0
        e.Dword(0);
    }
    e.Bytes({0x45, 0x89, 0x0B});  // mov [r11], r9d: the entry is complete
    e.Jump(done);
}

// The 32-bit stub. Arguments are on the stack; the original may be cdecl or stdcall: what
// it popped of the copied arguments is popped from the caller's on the way back.
void EmitStub32(TEmitter& e, TStubCode& code, TAddress page, int slot, TAddress trampoline, TAddress log,
                const TLateEntry& late)
{
    auto pushArgs = [&] {
        for (int i = StubArgs; i >= 1; --i)
            e.Bytes({0xFF, 0x75, static_cast<unsigned char>(4 + 4 * i)});  // push [ebp+4+4i]
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
    if (log && late.Allowed)
        EmitLate32(e, page, slot, log, late, raiseEntry, call);
    e.Place(raiseEntry);
    // Entry: the log's head, arguments, return address, entry stack pointer, then slot and page.
    pushHead();
    pushArgs();
    e.Bytes({0xFF, 0x75, 0x04});        // push [ebp+4]
    e.Bytes({0x8D, 0x45, 0x04, 0x50});  // lea eax, [ebp+4]; push eax
    raise(StubEntryCode, StubEntryParams, 0);
    // The call itself, with the arguments copied, timed.
    e.Place(call);
    e.Bytes({0x8D, 0x45, 0xF4, 0x50});  // lea eax, [ebp-12]; push eax
    readCounter();
    e.Bytes({0x89, 0xE3});  // mov ebx, esp
    pushArgs();
    e.Byte(0xE8);
    e.Rel32(trampoline);
    // ecx = bytes the original popped; result kept in eax:edx.
    e.Bytes({0x89, 0xE1, 0x29, 0xD9, 0x83, 0xC1, static_cast<unsigned char>(4 * StubArgs)});
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
// registers and the fifth onwards at [rsp+0x20].
void EmitStub64(TEmitter& e, TStubCode& code, TAddress page, int slot, TAddress trampoline, TAddress log,
                const TLateEntry& late)
{
    // The frame below rbp: the reports' parameters, the result, the counter at the call's
    // start and at its end, the outgoing arguments.
    constexpr unsigned char Params = 0x80, Result = 0x70, Now = 0x68, Start = 0x60;
    auto readCounter = [&](unsigned char at) {  // QueryPerformanceCounter(rsp+at)
        e.Bytes({0x48, 0x8D, 0x4C, 0x24, at});  // lea rcx, [rsp+at]
        e.Bytes({0xFF, 0x15});                  // call [rip+counter]
        e.Rel32(page + TStubPageLayout::CounterOffset);
    };
    auto storeParam = [&](int index) {  // mov [rsp+Params+8*index], rax
        e.Bytes({0x48, 0x89, 0x84, 0x24});
        e.Dword(Params + 8u * index);
    };
    auto header = [&] {
        e.Bytes({0x48, 0xB8});  // mov rax, page
        e.Qword(page);
        storeParam(StubParamPage);
        e.Bytes({0x48, 0xC7, 0x84, 0x24});  // mov qword [rsp+..], slot
        e.Dword(Params + 8u * StubParamSlot);
        e.Dword(static_cast<uint32_t>(slot));
        e.Bytes({0x48, 0x8D, 0x45, 0x08});  // lea rax, [rbp+8]
        storeParam(StubParamEntrySp);
    };
    auto storeHead = [&](int index) {
        e.Bytes({0x48, 0xB8});  // mov rax, log
        e.Qword(log);
        if (log)
            e.Bytes({0x8B, 0x00});  // mov eax, [rax]
        storeParam(index);
    };
    auto raise = [&](uint32_t exceptionCode, int count, TAddress wanted) {
        e.Byte(0xB9);  // mov ecx, code
        e.Dword(exceptionCode);
        e.Bytes({0x31, 0xD2});  // xor edx, edx
        e.Bytes({0x41, 0xB8});  // mov r8d, count
        e.Dword(static_cast<uint32_t>(count));
        e.Bytes({0x4C, 0x8D, 0x8C, 0x24});  // lea r9, [rsp+Params]
        e.Dword(Params);
        int skip = e.NewLabel();
        TAddress from = EmitGuard(e, page, true, skip, wanted);
        TAddress call = e.Here();
        e.Bytes({0xFF, 0x15});  // call [rip+raise]
        e.Rel32(page + TStubPageLayout::RaiseOffset);
        e.Place(skip);
        code.Windows.push_back({from, call, e.At(skip)});
    };

    e.Bytes({0x48, 0x89, 0x4C, 0x24, 0x08});  // mov [rsp+8], rcx
    e.Bytes({0x48, 0x89, 0x54, 0x24, 0x10});  // mov [rsp+16], rdx
    e.Bytes({0x4C, 0x89, 0x44, 0x24, 0x18});  // mov [rsp+24], r8
    e.Bytes({0x4C, 0x89, 0x4C, 0x24, 0x20});  // mov [rsp+32], r9
    e.Bytes({0x55, 0x48, 0x89, 0xE5});        // push rbp; mov rbp, rsp
    e.Bytes({0x48, 0x81, 0xEC, 0x00, 0x01, 0x00, 0x00});  // sub rsp, 0x100
    int raiseEntry = e.NewLabel(), call = e.NewLabel();
    if (log && late.Allowed)
        EmitLate64(e, page, slot, log, late, raiseEntry, call);
    e.Place(raiseEntry);
    // Entry: page, slot, entry stack pointer, return address, arguments, the log's head.
    header();
    storeHead(StubEntryLogHead);
    for (int i = 0; i <= StubArgs; ++i) {
        e.Bytes({0x48, 0x8B, 0x45, static_cast<unsigned char>(8 + 8 * i)});  // mov rax, [rbp+8+8i]
        storeParam(StubParamReturn + i);
    }
    raise(StubEntryCode, StubEntryParams, 0);
    // The call, timed: arguments five onwards to the outgoing area, the first four to registers.
    e.Place(call);
    readCounter(Start);
    for (int i = 5; i <= StubArgs; ++i) {
        e.Bytes({0x48, 0x8B, 0x45, static_cast<unsigned char>(8 + 8 * i)});
        e.Bytes({0x48, 0x89, 0x44, 0x24, static_cast<unsigned char>(0x20 + 8 * (i - 5))});
    }
    e.Bytes({0x48, 0x8B, 0x4D, 0x10, 0x48, 0x8B, 0x55, 0x18});  // rcx, rdx
    e.Bytes({0x4C, 0x8B, 0x45, 0x20, 0x4C, 0x8B, 0x4D, 0x28});  // r8, r9
    e.Byte(0xE8);
    e.Rel32(trampoline);
    e.Bytes({0x48, 0x89, 0x44, 0x24, Result});  // mov [rsp+Result], rax
    readCounter(Now);
    e.Bytes({0x48, 0x8B, 0x44, 0x24, Now, 0x48, 0x2B, 0x44, 0x24, Start});  // mov rax, [rsp+Now]; sub rax, [rsp+Start]
    e.Bytes({0x48, 0x89, 0xC2, 0x48, 0xC1, 0xEA, 0x20, 0x89, 0xC0});      // mov rdx, rax; shr rdx, 32; mov eax, eax
    storeParam(StubReturnElapsedLow);
    e.Bytes({0x48, 0x89, 0xD0});  // mov rax, rdx
    storeParam(StubReturnElapsedHigh);
    header();
    e.Bytes({0x48, 0x8B, 0x44, 0x24, Result});  // mov rax, [rsp+Result]
    storeParam(StubParamReturn);
    storeHead(StubReturnLogHead);
    raise(StubReturnCode, StubReturnParams, TStubPageLayout::ReturnWanted(page, slot));
    e.Bytes({0x48, 0x8B, 0x44, 0x24, Result});  // mov rax, [rsp+Result]
    e.Bytes({0xC9, 0xC3});                      // leave; ret
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
                        bool x64, TAddress log, const TLateEntry& late)
{
    VASSERT(slot >= 0 && slot < TStubPageLayout::SlotCount, Unit);
    TStubCode code;
    TAddress base = TStubPageLayout::Slot(page, slot);
    TEmitter e(base);
    // The trampoline: the moved instructions, then on behind them in the entry point.
    code.Trampoline = e.Here();
    for (size_t i = 0; i < movedSize; ++i)
        e.Byte(moved[i]);
    e.Byte(0xE9);
    e.Rel32(entry + movedSize);
    VASSERT(e.Here() - base <= TStubPageLayout::StubOffset, Unit);
    while (e.Here() - base < TStubPageLayout::StubOffset)
        e.Byte(0xCC);
    code.Stub = e.Here();
    if (x64)
        EmitStub64(e, code, page, slot, code.Trampoline, log, late);
    else
        EmitStub32(e, code, page, slot, code.Trampoline, log, late);
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
    // The stub's prologue: four stores into the home space (20 bytes), push rbp (ends at
    // 21), mov rbp, rsp (24), sub rsp, 0x100 (31). Codes in reverse order of the prologue.
    const unsigned char unwind[] = {
        0x01, 31, 4, 0x05,  // version 1, prologue size, 4 code slots, frame register rbp
        31, 0x01, 0x20, 0x00,  // at 31: UWOP_ALLOC_LARGE, 0x100 / 8 in the next slot
        24, 0x03,              // at 24: UWOP_SET_FPREG
        21, 0x50,              // at 21: UWOP_PUSH_NONVOL rbp
    };
    std::memcpy(&header[L::UnwindOffset], unwind, sizeof(unwind));
    for (int slot = 0; slot < L::SlotCount; ++slot) {
        size_t entry = L::TableOffset + 12u * slot;
        uint64_t begin = L::Slot(0, slot) + L::StubOffset;
        put(entry, begin, 4);
        put(entry + 4, L::Slot(0, slot) + L::SlotSize, 4);
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

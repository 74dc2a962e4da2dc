// Machine code written for a known address in the traced process (stubs, page headers,
// out-of-line cells), one named instruction at a time, for either machine: a writer made
// for 64-bit code adds the REX prefixes and takes an absolute operand rip-relative. Jumps
// go to labels that are settled when the code is done. The listing test disassembles
// what the writers make.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace X86 {

// A register: its encoding number and width in bytes (0: the machine's own, as wide as a
// pointer; 1: its low byte).
struct TReg {
    uint8_t Num;
    uint8_t Width;
};
constexpr TReg Eax{0, 4}, Ecx{1, 4}, Edx{2, 4}, Ebx{3, 4}, Esp{4, 4}, Ebp{5, 4}, Esi{6, 4}, Edi{7, 4};
constexpr TReg R8d{8, 4}, R9d{9, 4}, R10d{10, 4}, R11d{11, 4};
constexpr TReg Rax{0, 8}, Rcx{1, 8}, Rdx{2, 8}, Rbx{3, 8}, Rsp{4, 8}, Rbp{5, 8}, Rsi{6, 8}, Rdi{7, 8};
constexpr TReg R8{8, 8}, R9{9, 8}, R10{10, 8}, R11{11, 8};
constexpr TReg Xax{0, 0}, Xcx{1, 0}, Xdx{2, 0}, Xbx{3, 0}, Xsp{4, 0}, Xbp{5, 0}, Xsi{6, 0}, Xdi{7, 0};
constexpr TReg Al{0, 1};

// A memory operand: [base+index+disp], or an absolute address (rip-relative in 64-bit
// code). Size: of the operand, where no register gives it (0: the machine's own).
// Displacements take their shortest form unless one is asked for.
struct TMem {
    enum TForm : uint8_t { Shortest, Disp8, Disp32 };
    TReg Base{0, 0};
    bool HasIndex = false;
    TReg Index{0, 0};
    int32_t Disp = 0;
    bool Absolute = false;
    TAddress Address = 0;
    uint8_t Size = 0;
    TForm Form = Shortest;

    TMem AsDisp8() const { TMem m = *this; m.Form = Disp8; return m; }
    TMem AsDisp32() const { TMem m = *this; m.Form = Disp32; return m; }
};
inline TMem Mem(TReg base, int32_t disp = 0, uint8_t size = 0)
{
    TMem m;
    m.Base = base;
    m.Disp = disp;
    m.Size = size;
    return m;
}
inline TMem Mem(TReg base, TReg index, int32_t disp)
{
    TMem m = Mem(base, disp);
    m.HasIndex = true;
    m.Index = index;
    return m;
}
inline TMem At(TAddress address, uint8_t size = 0)
{
    TMem m;
    m.Absolute = true;
    m.Address = address;
    m.Size = size;
    return m;
}
inline TMem Byte(TMem m) { m.Size = 1; return m; }
inline TMem Dword(TMem m) { m.Size = 4; return m; }
inline TMem Qword(TMem m) { m.Size = 8; return m; }

// The arithmetic group, by the number it has in the opcode and the ModRM reg field.
enum class TAlu : uint8_t { Add = 0, Or = 1, Adc = 2, Sbb = 3, And = 4, Sub = 5, Xor = 6, Cmp = 7 };
// Jump conditions.
enum TCond : uint8_t { AboveOrEqual = 3, Equal = 4, NotEqual = 5, Above = 7 };

} // namespace X86

class TX86Writer {
public:
    TX86Writer(TAddress base, bool x64) : FBase(base), FX64(x64) {}

    TAddress Here() const { return FBase + FBytes.size(); }
    bool X64() const { return FX64; }
    const std::vector<unsigned char>& Bytes() const { return FBytes; }

    // Data and code copied as it stands.
    void PutU8(unsigned char b) { FBytes.push_back(b); }
    void PutU32(uint32_t v);
    void PutU64(uint64_t v);
    void PutBytes(const unsigned char* bytes, size_t size) { FBytes.insert(FBytes.end(), bytes, bytes + size); }
    // int3 up to offset from the writer's base.
    void PutPaddingTo(size_t offset);

    using TReg = X86::TReg;
    using TMem = X86::TMem;
    using TAlu = X86::TAlu;

    void PutMovRegReg(TReg dst, TReg src);
    void PutMovRegMem(TReg dst, const TMem& src);
    void PutMovMemReg(const TMem& dst, TReg src);
    // mov r32, imm32 or mov r64, imm64.
    void PutMovRegImm(TReg dst, uint64_t imm);
    // mov dword or qword [mem], imm32 (a qword takes it sign-extended).
    void PutMovMemImm(const TMem& dst, uint32_t imm);
    // mov reg, fs:[offset] (32-bit code, eax only) or gs:[offset]: a field of the
    // thread's own block.
    void PutMovRegThreadBlock(TReg dst, uint32_t offset);
    void PutLeaRegMem(TReg dst, const TMem& src);

    void PutAluRegReg(TAlu op, TReg dst, TReg src);
    void PutAluRegMem(TAlu op, TReg dst, const TMem& src);
    // The sign-extended imm8 form where the value fits it, else imm32.
    void PutAluRegImm(TAlu op, TReg dst, int32_t imm);
    // Always the imm32 form.
    void PutAluRegImm32(TAlu op, TReg dst, uint32_t imm);
    // imm8: a byte operand, or any other sign-extended; imm32: the imm32 form.
    void PutAluMemImm8(TAlu op, const TMem& dst, int8_t imm);
    void PutAluMemImm32(TAlu op, const TMem& dst, uint32_t imm);
    void PutTestRegReg(TReg a, TReg b);
    void PutShlRegImm(TReg reg, uint8_t count);
    void PutShrRegImm(TReg reg, uint8_t count);
    // The one-byte forms in 32-bit code.
    void PutIncReg(TReg reg);
    void PutDecReg(TReg reg);
    void PutLockCmpxchgMemReg(const TMem& dst, TReg src);

    void PutPushReg(TReg reg);
    void PutPopReg(TReg reg);
    void PutPushImm8(int8_t imm);
    void PutPushImm32(uint32_t imm);
    void PutPushMem(const TMem& src);

    void PutCallAddress(TAddress target);
    void PutCallMem(const TMem& target);
    void PutJmpAddress(TAddress target);
    void PutJmpMem(const TMem& target);
    // jmp rel32 in 32-bit code, where addresses wrap round and any distance reaches.
    void PutJmpAddressWrapping(TAddress target);
    void PutRet() { PutU8(0xC3); }
    void PutLeave() { PutU8(0xC9); }
    void PutCld() { PutU8(0xFC); }
    void PutRepMovsb()
    {
        PutU8(0xF3);
        PutU8(0xA4);
    }
    void PutBreakpoint() { PutU8(0xCC); }

    // Labels: a jump to a label not yet placed is patched when it is.
    int NewLabel();
    // A label at an address already known (code outside what this writer writes).
    int LabelAt(TAddress address);
    void PutLabel(int label) { FLabels[label] = Here(); }
    TAddress LabelAddress(int label) const { return FLabels[label]; }
    // jcc label, jmp label: the near forms.
    void PutJccLabel(X86::TCond cond, int label);
    void PutJmpLabel(int label);
    // Settles the jumps; every label they go to must have been placed.
    void Finish();

private:
    int WidthOf(TReg reg) const { return reg.Width ? reg.Width : FX64 ? 8 : 4; }
    int SizeOf(const TMem& m) const { return m.Size ? m.Size : FX64 ? 8 : 4; }
    // The REX prefix where one is needed (64-bit operand or a register from r8 on).
    void Rex(bool wide, int reg, int index, int base);
    void RexFor(int width, int reg, const TMem& m);
    // The ModRM byte, SIB and displacement of m with reg in the reg field; tail: the
    // bytes of the instruction after them (for rip-relative operands).
    void ModRm(int reg, const TMem& m, size_t tail = 0);
    void ModRmReg(int reg, int rm) { PutU8(static_cast<unsigned char>(0xC0 | (reg & 7) << 3 | (rm & 7))); }
    // An instruction on a register and memory: REX, opcode (one less for a byte
    // register), ModRM.
    void RegMem(unsigned char opcode, TReg reg, const TMem& m);
    void Rel32(TAddress target, size_t tail = 0);
    void Fixup(int label);

    TAddress FBase;
    bool FX64;
    std::vector<unsigned char> FBytes;
    std::vector<TAddress> FLabels;
    std::vector<std::pair<size_t, int>> FFixups;
};

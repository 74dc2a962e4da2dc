#include "X86Writer.h"

#include "Errors.h"

#include <cstring>

namespace {
constexpr const char* Unit = "DebugCore";
bool FitsInt8(int64_t v) { return v == static_cast<int8_t>(v); }
} // namespace

using namespace X86;

void TX86Writer::PutU32(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        PutU8(static_cast<unsigned char>(v >> (8 * i)));
}

void TX86Writer::PutU64(uint64_t v)
{
    PutU32(static_cast<uint32_t>(v));
    PutU32(static_cast<uint32_t>(v >> 32));
}

void TX86Writer::PutPaddingTo(size_t offset)
{
    VASSERT(FBytes.size() <= offset, Unit);
    FBytes.resize(offset, 0xCC);
}

void TX86Writer::Rex(bool wide, int reg, int index, int base)
{
    if (!FX64) {
        VASSERT(!wide && reg < 8 && index < 8 && base < 8, Unit);
        return;
    }
    unsigned char rex = static_cast<unsigned char>(0x40 | wide << 3 | (reg >> 3) << 2 | (index >> 3) << 1 | base >> 3);
    if (rex != 0x40)
        PutU8(rex);
}

void TX86Writer::RexFor(int width, int reg, const TMem& m)
{
    Rex(width == 8, reg, m.HasIndex ? m.Index.Num : 0, m.Absolute ? 0 : m.Base.Num);
}

void TX86Writer::ModRm(int reg, const TMem& m, size_t tail)
{
    auto modrm = [&](int mod, int rm) { PutU8(static_cast<unsigned char>(mod << 6 | (reg & 7) << 3 | rm)); };
    if (m.Absolute) {
        modrm(0, 5);
        if (FX64)
            Rel32(m.Address, tail);
        else
            PutU32(static_cast<uint32_t>(m.Address));
        return;
    }
    int base = m.Base.Num & 7;
    // [ebp] and [r13] have no form without a displacement.
    int mod = m.Form == TMem::Disp32 ? 2
              : m.Form == TMem::Disp8 ? 1
              : m.Disp == 0 && base != 5 ? 0
              : FitsInt8(m.Disp)       ? 1
                                       : 2;
    VASSERT(mod != 1 || FitsInt8(m.Disp), Unit);
    if (m.HasIndex) {
        modrm(mod, 4);
        PutU8(static_cast<unsigned char>((m.Index.Num & 7) << 3 | base));
    } else {
        modrm(mod, base);
        if (base == 4)
            PutU8(0x24);  // SIB: no index, the base alone
    }
    if (mod == 1)
        PutU8(static_cast<unsigned char>(m.Disp));
    else if (mod == 2)
        PutU32(static_cast<uint32_t>(m.Disp));
}

void TX86Writer::RegMem(unsigned char opcode, TReg reg, const TMem& m)
{
    int width = WidthOf(reg);
    RexFor(width, reg.Num, m);
    PutU8(width == 1 ? opcode - 1 : opcode);
    ModRm(reg.Num, m);
}

void TX86Writer::PutMovRegReg(TReg dst, TReg src)
{
    Rex(WidthOf(dst) == 8, src.Num, 0, dst.Num);
    PutU8(0x89);
    ModRmReg(src.Num, dst.Num);
}

void TX86Writer::PutMovRegMem(TReg dst, const TMem& src)
{
    if (!FX64 && src.Absolute && dst.Num == 0 && WidthOf(dst) == 4) {
        PutU8(0xA1);  // mov eax, moffs32
        PutU32(static_cast<uint32_t>(src.Address));
        return;
    }
    RegMem(0x8B, dst, src);
}

void TX86Writer::PutMovMemReg(const TMem& dst, TReg src) { RegMem(0x89, src, dst); }

void TX86Writer::PutMovRegImm(TReg dst, uint64_t imm)
{
    bool wide = WidthOf(dst) == 8;
    Rex(wide, 0, 0, dst.Num);
    PutU8(static_cast<unsigned char>(0xB8 + (dst.Num & 7)));
    if (wide) {
        PutU64(imm);
    } else {
        VASSERT(imm <= 0xFFFFFFFFu, Unit);
        PutU32(static_cast<uint32_t>(imm));
    }
}

void TX86Writer::PutMovMemImm(const TMem& dst, uint32_t imm)
{
    int size = SizeOf(dst);
    VASSERT(size == 4 || size == 8, Unit);
    RexFor(size, 0, dst);
    PutU8(0xC7);
    ModRm(0, dst, 4);
    PutU32(imm);
}

void TX86Writer::PutMovRegThreadBlock(TReg dst, uint32_t offset)
{
    if (!FX64) {
        VASSERT(dst.Num == 0 && WidthOf(dst) == 4, Unit);
        PutU8(0x64);  // mov eax, fs:moffs32
        PutU8(0xA1);
        PutU32(offset);
        return;
    }
    PutU8(0x65);  // gs:, then [disp32] with no base (SIB 0x25)
    Rex(WidthOf(dst) == 8, dst.Num, 0, 0);
    PutU8(0x8B);
    PutU8(static_cast<unsigned char>((dst.Num & 7) << 3 | 4));
    PutU8(0x25);
    PutU32(offset);
}

void TX86Writer::PutLeaRegMem(TReg dst, const TMem& src) { RegMem(0x8D, dst, src); }

void TX86Writer::PutAluRegReg(TAlu op, TReg dst, TReg src)
{
    int width = WidthOf(dst);
    Rex(width == 8, src.Num, 0, dst.Num);
    PutU8(static_cast<unsigned char>(static_cast<int>(op) * 8 + (width == 1 ? 0 : 1)));
    ModRmReg(src.Num, dst.Num);
}

void TX86Writer::PutAluRegMem(TAlu op, TReg dst, const TMem& src)
{
    RegMem(static_cast<unsigned char>(static_cast<int>(op) * 8 + 3), dst, src);
}

void TX86Writer::PutAluRegImm(TAlu op, TReg dst, int32_t imm)
{
    if (!FitsInt8(imm)) {
        PutAluRegImm32(op, dst, static_cast<uint32_t>(imm));
        return;
    }
    Rex(WidthOf(dst) == 8, 0, 0, dst.Num);
    PutU8(0x83);
    ModRmReg(static_cast<int>(op), dst.Num);
    PutU8(static_cast<unsigned char>(imm));
}

void TX86Writer::PutAluRegImm32(TAlu op, TReg dst, uint32_t imm)
{
    Rex(WidthOf(dst) == 8, 0, 0, dst.Num);
    PutU8(0x81);
    ModRmReg(static_cast<int>(op), dst.Num);
    PutU32(imm);
}

void TX86Writer::PutAluMemImm8(TAlu op, const TMem& dst, int8_t imm)
{
    int size = SizeOf(dst);
    RexFor(size, 0, dst);
    PutU8(size == 1 ? 0x80 : 0x83);
    ModRm(static_cast<int>(op), dst, 1);
    PutU8(static_cast<unsigned char>(imm));
}

void TX86Writer::PutAluMemImm32(TAlu op, const TMem& dst, uint32_t imm)
{
    int size = SizeOf(dst);
    VASSERT(size == 4 || size == 8, Unit);
    RexFor(size, 0, dst);
    PutU8(0x81);
    ModRm(static_cast<int>(op), dst, 4);
    PutU32(imm);
}

void TX86Writer::PutTestRegReg(TReg a, TReg b)
{
    Rex(WidthOf(a) == 8, b.Num, 0, a.Num);
    PutU8(0x85);
    ModRmReg(b.Num, a.Num);
}

void TX86Writer::PutShlRegImm(TReg reg, uint8_t count)
{
    Rex(WidthOf(reg) == 8, 0, 0, reg.Num);
    PutU8(0xC1);
    ModRmReg(4, reg.Num);
    PutU8(count);
}

void TX86Writer::PutShrRegImm(TReg reg, uint8_t count)
{
    Rex(WidthOf(reg) == 8, 0, 0, reg.Num);
    PutU8(0xC1);
    ModRmReg(5, reg.Num);
    PutU8(count);
}

void TX86Writer::PutIncReg(TReg reg)
{
    if (!FX64) {
        PutU8(static_cast<unsigned char>(0x40 + reg.Num));
        return;
    }
    Rex(WidthOf(reg) == 8, 0, 0, reg.Num);
    PutU8(0xFF);
    ModRmReg(0, reg.Num);
}

void TX86Writer::PutDecReg(TReg reg)
{
    if (!FX64) {
        PutU8(static_cast<unsigned char>(0x48 + reg.Num));
        return;
    }
    Rex(WidthOf(reg) == 8, 0, 0, reg.Num);
    PutU8(0xFF);
    ModRmReg(1, reg.Num);
}

void TX86Writer::PutLockCmpxchgMemReg(const TMem& dst, TReg src)
{
    PutU8(0xF0);
    RexFor(WidthOf(src), src.Num, dst);
    PutU8(0x0F);
    PutU8(0xB1);
    ModRm(src.Num, dst);
}

void TX86Writer::PutPushReg(TReg reg)
{
    Rex(false, 0, 0, reg.Num);
    PutU8(static_cast<unsigned char>(0x50 + (reg.Num & 7)));
}

void TX86Writer::PutPopReg(TReg reg)
{
    Rex(false, 0, 0, reg.Num);
    PutU8(static_cast<unsigned char>(0x58 + (reg.Num & 7)));
}

void TX86Writer::PutPushImm8(int8_t imm)
{
    PutU8(0x6A);
    PutU8(static_cast<unsigned char>(imm));
}

void TX86Writer::PutPushImm32(uint32_t imm)
{
    PutU8(0x68);
    PutU32(imm);
}

void TX86Writer::PutPushMem(const TMem& src)
{
    RexFor(4, 0, src);
    PutU8(0xFF);
    ModRm(6, src);
}

void TX86Writer::PutCallAddress(TAddress target)
{
    PutU8(0xE8);
    Rel32(target);
}

void TX86Writer::PutCallMem(const TMem& target)
{
    RexFor(4, 0, target);
    PutU8(0xFF);
    ModRm(2, target);
}

void TX86Writer::PutJmpAddress(TAddress target)
{
    PutU8(0xE9);
    Rel32(target);
}

void TX86Writer::PutJmpMem(const TMem& target)
{
    RexFor(4, 0, target);
    PutU8(0xFF);
    ModRm(4, target);
}

void TX86Writer::PutJmpAddressWrapping(TAddress target)
{
    VASSERT(!FX64, Unit);
    PutU8(0xE9);
    PutU32(static_cast<uint32_t>(target - (Here() + 4)));
}

void TX86Writer::Rel32(TAddress target, size_t tail)
{
    TAddress next = Here() + 4 + tail;
    int64_t distance = static_cast<int64_t>(target - next);
    VASSERT(distance == static_cast<int32_t>(distance), Unit);
    PutU32(static_cast<uint32_t>(distance));
}

int TX86Writer::NewLabel()
{
    FLabels.push_back(0);
    return static_cast<int>(FLabels.size()) - 1;
}

int TX86Writer::LabelAt(TAddress address)
{
    int label = NewLabel();
    FLabels[label] = address;
    return label;
}

void TX86Writer::Fixup(int label)
{
    FFixups.push_back({FBytes.size(), label});
    PutU32(0);
}

void TX86Writer::PutJccLabel(TCond cond, int label)
{
    PutU8(0x0F);
    PutU8(static_cast<unsigned char>(0x80 | cond));
    Fixup(label);
}

void TX86Writer::PutJmpLabel(int label)
{
    PutU8(0xE9);
    Fixup(label);
}

void TX86Writer::Finish()
{
    for (const auto& [offset, label] : FFixups) {
        VASSERT(FLabels[label] != 0, Unit);
        int64_t distance = static_cast<int64_t>(FLabels[label] - (FBase + offset + 4));
        VASSERT(distance == static_cast<int32_t>(distance), Unit);
        std::memcpy(&FBytes[offset], &distance, 4);
    }
}

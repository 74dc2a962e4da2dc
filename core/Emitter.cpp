#include "Emitter.h"

#include "Errors.h"

#include <cstring>

namespace {
constexpr const char* Unit = "DebugCore";
constexpr int Esp = 4, Ebp = 5;
}

void TEmitter::Dword(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        Byte(static_cast<unsigned char>(v >> (8 * i)));
}

void TEmitter::Qword(uint64_t v)
{
    Dword(static_cast<uint32_t>(v));
    Dword(static_cast<uint32_t>(v >> 32));
}

void TEmitter::Rel32(TAddress target, size_t tail)
{
    TAddress next = Here() + 4 + tail;
    int64_t distance = static_cast<int64_t>(target - next);
    VASSERT(distance == static_cast<int32_t>(distance), Unit);
    Dword(static_cast<uint32_t>(distance));
}

void TEmitter::Mem(int reg, int base, int32_t disp)
{
    auto modrm = [&](unsigned mod) { Byte(static_cast<unsigned char>(mod << 6 | (reg & 7) << 3 | (base & 7))); };
    // [ebp] and [r13] have no form without a displacement.
    bool short8 = disp == static_cast<int8_t>(disp);
    unsigned mod = disp == 0 && (base & 7) != Ebp ? 0 : short8 ? 1 : 2;
    modrm(mod);
    if ((base & 7) == Esp)
        Byte(0x24);  // SIB: no index, the base alone
    if (mod == 1)
        Byte(static_cast<unsigned char>(disp));
    else if (mod == 2)
        Dword(static_cast<uint32_t>(disp));
}

int TEmitter::NewLabel()
{
    FLabels.push_back(0);
    return static_cast<int>(FLabels.size()) - 1;
}

int TEmitter::LabelAt(TAddress address)
{
    int label = NewLabel();
    FLabels[label] = address;
    return label;
}

void TEmitter::Fixup(int label)
{
    FFixups.push_back({FBytes.size(), label});
    Dword(0);
}

void TEmitter::JumpIf(unsigned char cc, int label)
{
    Bytes({0x0F, static_cast<unsigned char>(0x80 | cc)});
    Fixup(label);
}

void TEmitter::Jump(int label)
{
    Byte(0xE9);
    Fixup(label);
}

void TEmitter::Finish()
{
    for (const auto& [offset, label] : FFixups) {
        VASSERT(FLabels[label] != 0, Unit);
        int64_t distance = static_cast<int64_t>(FLabels[label] - (FBase + offset + 4));
        VASSERT(distance == static_cast<int32_t>(distance), Unit);
        std::memcpy(&FBytes[offset], &distance, 4);
    }
}

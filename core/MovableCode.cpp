#include "MovableCode.h"

namespace {

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

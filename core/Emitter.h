// Machine code written for a known address in the traced process (stubs, page headers,
// out-of-line cells): bytes, absolute and relative fields, memory operands, and labels
// whose jumps are settled when the code is done. Instructions themselves are spelled out
// by the callers, each with its mnemonic beside it; the listing test disassembles the
// result.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

class TEmitter {
public:
    explicit TEmitter(TAddress base) : FBase(base) {}

    TAddress Here() const { return FBase + FBytes.size(); }
    const std::vector<unsigned char>& Bytes() const { return FBytes; }

    void Byte(unsigned char b) { FBytes.push_back(b); }
    void Bytes(std::initializer_list<unsigned char> bytes) { FBytes.insert(FBytes.end(), bytes); }
    void Dword(uint32_t v);
    void Qword(uint64_t v);
    // A 32-bit displacement to target from the end of the instruction whose last field
    // this is (tail: bytes of the instruction that follow the displacement).
    void Rel32(TAddress target, size_t tail = 0);
    // The ModRM byte (with a SIB byte where base is esp/rsp or r12) and the displacement
    // of the memory operand [base+disp], with reg in the reg field: the shortest form.
    // Registers by encoding number; their REX bits are the caller's.
    void Mem(int reg, int base, int32_t disp);

    // Labels: a jump to a label not yet placed is patched when it is.
    int NewLabel();
    // A label at an address already known (code outside what this emitter writes).
    int LabelAt(TAddress address);
    void Place(int label) { FLabels[label] = Here(); }
    TAddress At(int label) const { return FLabels[label]; }
    // jcc label (near form), cc the condition's code.
    enum : unsigned char { AboveOrEqual = 3, Equal = 4, NotEqual = 5, Above = 7 };
    void JumpIf(unsigned char cc, int label);
    void JumpIfEqual(int label) { JumpIf(Equal, label); }
    void Jump(int label);
    // Settles the jumps; every label they go to must have been placed.
    void Finish();

private:
    void Fixup(int label);
    TAddress FBase;
    std::vector<unsigned char> FBytes;
    std::vector<TAddress> FLabels;
    std::vector<std::pair<size_t, int>> FFixups;
};

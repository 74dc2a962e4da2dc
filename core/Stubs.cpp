// The parts of the stubs both machines share: the slot's layout (trampoline, stub,
// filter), the guard, the filter's compares, the page header, the entry jump and the
// out-of-line cells. Each machine's stub is written in a unit of its own.
#include "Stubs.h"

#include "Errors.h"
#include "StubEmit.h"

#include <algorithm>
#include <cstring>

using namespace X86;

namespace {

constexpr const char* Unit = "DebugCore";

// cmp dword <argument word>, value: at the stub's entry, before anything is pushed. On
// x64 the first four are in ecx, edx, r8d, r9d.
void EmitCompareArg(TX86Writer& w, int word, uint32_t value)
{
    if (w.X64() && word <= 4) {
        const TReg registers[4] = {Ecx, Edx, R8d, R9d};
        w.PutAluRegImm32(TAlu::Cmp, registers[word - 1], value);
    } else {
        w.PutAluMemImm32(TAlu::Cmp, Dword(Mem(Xsp, (w.X64() ? 8 : 4) * word)), value);
    }
}

// The filter: a call it does not let pass goes to original with the stack and registers
// as the caller left them.
void EmitFilter(TX86Writer& w, const TEntryFilter& filter, int original)
{
    if (filter.Arg) {
        EmitCompareArg(w, filter.Arg, filter.Value);
        w.PutJccLabel(NotEqual, original);
    }
    if (filter.ListArg) {
        int pass = w.NewLabel();
        for (int i = 0; i < filter.ListSize; ++i) {
            EmitCompareArg(w, filter.ListArg, filter.List[i]);
            w.PutJccLabel(Equal, pass);
        }
        w.PutJmpLabel(original);
        w.PutLabel(pass);
    }
}

} // namespace

TAddress EmitGuard(TX86Writer& w, TAddress page, int skip, TAddress wanted)
{
    w.PutAluMemImm8(TAlu::Cmp, At(wanted ? wanted : page + TStubPageLayout::GuardOffset, 1), 0);
    TAddress passed = w.Here();
    w.PutJccLabel(Equal, skip);
    if (wanted) {
        w.PutAluMemImm8(TAlu::Cmp, At(page + TStubPageLayout::GuardOffset, 1), 0);
        w.PutJccLabel(Equal, skip);
    }
    w.PutMovRegThreadBlock(Xax, w.X64() ? 0x60 : 0x30);  // the PEB
    w.PutAluMemImm8(TAlu::Cmp, Byte(Mem(Xax, 2)), 0);   // BeingDebugged
    w.PutJccLabel(Equal, skip);
    return passed;
}

void EmitLengthCheck(TX86Writer& w, int32_t lengthAt, int raise, int empty)
{
    w.PutMovRegMem(Ecx, Mem(Xbp, lengthAt));
    w.PutAluRegImm32(TAlu::Cmp, Ecx, static_cast<uint32_t>(TStubLogLayout::MaxBytes));
    w.PutJccLabel(Above, raise);
    w.PutTestRegReg(Ecx, Ecx);
    w.PutJccLabel(Equal, empty);
}

TStubCode BuildStubCode(TAddress page, int slot, TAddress entry, const unsigned char* moved, size_t movedSize,
                        bool x64, const TStubLogRef& log, const TStubSpec& spec)
{
    VASSERT(slot >= 0 && slot < TStubPageLayout::SlotCount, Unit);
    VASSERT(spec.Words >= 0 && spec.Words <= StubMaxWords, Unit);
    const TEntryFilter& filter = spec.Filter;
    VASSERT(filter.Arg >= 0 && filter.Arg <= spec.Words && filter.ListArg >= 0 && filter.ListArg <= spec.Words, Unit);
    VASSERT(filter.ListSize >= (filter.ListArg ? 1 : 0) && filter.ListSize <= TEntryFilter::MaxList, Unit);
    const TLateEntry& late = spec.Late;
    VASSERT(late.BytesArg <= spec.Words && late.LengthArg <= spec.Words, Unit);
    TStubCode code;
    TX86Writer w(TStubPageLayout::Slot(page, slot), x64);
    // The trampoline: the moved instructions, then on behind them in the entry point.
    code.Trampoline = w.Here();
    int original = w.LabelAt(code.Trampoline);
    w.PutBytes(moved, movedSize);
    w.PutJmpAddress(entry + movedSize);
    w.PutPaddingTo(TStubPageLayout::StubOffset);
    code.Stub = w.Here();
    TStubContext context{w, code, page, slot, original, log, spec};
    if (x64)
        EmitStub64(context);
    else
        EmitStub32(context);
    VASSERT(w.Bytes().size() <= TStubPageLayout::FilterOffset, Unit);
    if (filter.Any()) {
        int body = w.LabelAt(code.Stub);
        w.PutPaddingTo(TStubPageLayout::FilterOffset);
        code.Stub = w.Here();
        EmitFilter(w, filter, original);
        w.PutJmpLabel(body);
    }
    w.Finish();
    VASSERT(w.Bytes().size() <= TStubPageLayout::SlotSize, Unit);
    code.Bytes = w.Bytes();
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
    if (x64)
        EmitPageHeader64(header, page, addFunctionTable);
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
    TX86Writer w(cell, x64);
    w.PutBytes(instruction, length);
    TAddress back = address + length;
    if (x64) {
        w.PutJmpMem(At(w.Here() + 6));  // jmp [rip+0]: the address follows
        w.PutU64(back);
    } else {
        w.PutJmpAddressWrapping(back);
    }
    VASSERT(w.Bytes().size() <= OutOfLineCellSize, Unit);
    return w.Bytes();
}

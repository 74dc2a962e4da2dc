// Fast hooks: an entry point whose first instructions can be moved is patched with a
// jump to a stub of ours in the traced process. The stub reports the call by raising an
// exception that carries its arguments, calls the moved instructions (and through them
// the rest of the entry point) as an ordinary call, reports the result by raising again
// and returns to the caller. The debugger learns everything from the exception records:
// no context, no stack read, no patch at the return site.
//
// Each raise is guarded: it happens only while the word at the page's start is set and
// the process is being debugged, so a call still in flight when the tracer has gone runs
// on unharmed.
#pragma once

#include "SysProcs.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The exception codes of the two reports (customer codes, bit 29 set).
constexpr uint32_t StubEntryCode = 0xE0564C45;
constexpr uint32_t StubReturnCode = 0xE0564C52;

// What the reports carry, by position in the exception's parameters.
enum TStubParam : int {
    StubParamPage,      // the stub page's address: whose report it is
    StubParamSlot,      // the hook's slot in the page
    StubParamEntrySp,   // the stack pointer at the entry (the return address's place)
    StubParamReturn,    // entry: the return address; return: the call's result
    StubParamFirstArg,  // entry: arguments 1 .. StubArgs
};
// Arguments copied to the original and reported at the entry: enough for every watched call.
constexpr int StubArgs = 10;
constexpr int StubEntryParams = StubParamFirstArg + StubArgs;
constexpr int StubReturnParams = StubParamReturn + 1;

// The length of the whole instructions at the start of code that a jump of jumpSize bytes
// would cover, when each of them can run unchanged at another address: no relative
// branch or call, nothing addressed relative to the instruction pointer, no prefix but a
// REX one. 0 when that cannot be said.
size_t MovableLength(const unsigned char* code, size_t size, bool x64, size_t jumpSize = 5);

// The page of stubs: a header (the guard word, the addresses the stubs call, and for a
// 64-bit program the unwind data of the stubs with the code that registers it), then
// the slots, each a trampoline and, at a fixed place, a stub.
struct TStubPageLayout {
    static constexpr size_t Size = 0x2000;
    static constexpr size_t GuardOffset = 0;
    static constexpr size_t RaiseOffset = 8;
    static constexpr size_t AddTableOffset = 0x10;
    static constexpr size_t UnwindOffset = 0x20;
    static constexpr size_t TableOffset = 0x40;
    static constexpr size_t RegisterOffset = 0x100;
    // A byte per slot: its calls' returns are reported.
    static constexpr size_t ReturnWantedOffset = 0x1F0;
    static constexpr size_t HeaderSize = 0x200;
    static constexpr size_t SlotSize = 0x200;
    static constexpr size_t StubOffset = 0x20;
    static constexpr int SlotCount = static_cast<int>((Size - HeaderSize) / SlotSize);
    static TAddress Slot(TAddress page, int slot) { return page + HeaderSize + SlotSize * slot; }
    static TAddress ReturnWanted(TAddress page, int slot) { return page + ReturnWantedOffset + slot; }
};
static_assert(TStubPageLayout::ReturnWantedOffset + TStubPageLayout::SlotCount <= TStubPageLayout::HeaderSize);

// The page's header, every slot's returns wanted. raise: RaiseException in the traced program. For a 64-bit program,
// addFunctionTable is RtlAddFunctionTable there, and the code at RegisterOffset (a thread
// routine) registers the unwind data of every slot's stub, so that an exception passing
// through a call in flight unwinds through the stub's frame like any other.
std::vector<unsigned char> BuildPageHeader(TAddress page, TAddress raise, TAddress addFunctionTable, bool x64);

// The code of one slot: the moved instructions and a jump back behind them (the
// trampoline), then the stub. entry: the hooked entry point; moved: its first movedSize
// bytes, which the trampoline runs.
struct TStubCode {
    std::vector<unsigned char> Bytes;
    // The stub's address, where the entry's jump goes.
    TAddress Stub = 0;
    // The trampoline, where a thread that stood inside the moved bytes continues.
    TAddress Trampoline = 0;
    // Guard windows: a thread whose instruction pointer lies in [From, To] has passed the
    // guard's first test and is about to raise; moving it to Skip leaves the raise out.
    struct TWindow {
        TAddress From, To, Skip;
    };
    std::vector<TWindow> Windows;
};
TStubCode BuildStubCode(TAddress page, int slot, TAddress entry, const unsigned char* moved, size_t movedSize,
                        bool x64);

// The 5-byte jump from the entry point to its stub; false when the stub is out of reach.
bool BuildEntryJump(TAddress entry, TAddress stub, unsigned char (&jump)[5]);

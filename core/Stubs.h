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
//
// A call's entry need not stop the program at all when the tracer can take it late: its
// stub writes the entry to a log in the program (with the bytes one argument points to,
// which the program may reuse as soon as the call returns), and the debugger reads the
// log before it handles the next report. A call traced that way stops the program once, at its return; one
// that only feeds the tracer's bookkeeping does not stop it at all. Logged hooks go the
// whole way: the return goes to the log as well, which the debugger reads while the
// program runs, and such a call stops nothing (TStubSpec::LogReturns).
//
// The stub times the call itself, with the program's performance counter just before and
// just after the original: the return report carries the ticks in between.
//
// The stub copies the entry point's own number of argument words to the original. A hook
// on an entry point called far more often than it is of interest may have a filter in
// front of its stub: a few compares of two arguments send the other calls straight to the
// original, untimed and unreported.
#pragma once

#include "MovableCode.h"
#include "SysProcs.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The exception codes of the two reports (customer codes, bit 29 set).
constexpr uint32_t StubEntryCode = 0xE0564C45;
constexpr uint32_t StubReturnCode = 0xE0564C52;

// The most argument words a stub copies to the original (an 8-byte argument of a 32-bit
// program takes two words, on x64 every argument takes one). An entry point that takes
// more is hooked with an int3.
constexpr int StubMaxWords = 15;

// What the reports carry, by position in the exception's parameters.
enum TStubParam : int {
    StubParamPage,      // the stub page's address: whose report it is
    StubParamSlot,      // the hook's slot in the page
    StubParamEntrySp,   // the stack pointer at the entry (the return address's place)
    StubParamReturn,    // entry: the return address; return: the call's result
    StubParamFirstArg,  // entry: the first arguments, as many as there are room for
    StubParamElapsedLow = StubParamFirstArg,  // return: performance-counter ticks since the
    StubParamElapsedHigh,                     // entry, in two 32-bit halves
};
// The arguments an entry report has room for. The others lie on the stack above the entry
// stack pointer, where they stay while the reported call waits for the debugger.
constexpr int StubReportArgs = EXCEPTION_MAXIMUM_PARAMETERS - StubParamFirstArg;
constexpr int StubEntryParams(int words) { return StubParamFirstArg + (words < StubReportArgs ? words : StubReportArgs); }
constexpr int StubReturnParams = StubParamElapsedHigh + 1;

// The page of stubs: a header (the guard word, the addresses the stubs call, and for a
// 64-bit program the unwind data of the stubs with the code that registers it), then
// the slots, each a trampoline and, at fixed places, a stub and the filter of a hook
// that has one (where the entry's jump then goes).
struct TStubPageLayout {
    static constexpr size_t Size = 0x8000;
    static constexpr size_t GuardOffset = 0;
    static constexpr size_t RaiseOffset = 8;
    static constexpr size_t AddTableOffset = 0x10;
    static constexpr size_t ReadableOffset = 0x18;
    static constexpr size_t UnwindOffset = 0x20;
    static constexpr size_t CounterOffset = 0x30;
    static constexpr size_t TableOffset = 0x40;
    static constexpr size_t RegisterOffset = 0x100;
    // A byte per slot: its calls' returns are reported.
    static constexpr size_t ReturnWantedOffset = 0x1F0;
    static constexpr size_t HeaderSize = 0x200;
    static constexpr size_t SlotSize = 0x800;
    static constexpr size_t StubOffset = 0x20;
    static constexpr size_t FilterOffset = SlotSize - 0x90;
    static constexpr int SlotCount = static_cast<int>((Size - HeaderSize) / SlotSize);
    static TAddress Slot(TAddress page, int slot) { return page + HeaderSize + SlotSize * slot; }
    static TAddress ReturnWanted(TAddress page, int slot) { return page + ReturnWantedOffset + slot; }
};
static_assert(TStubPageLayout::ReturnWantedOffset + TStubPageLayout::SlotCount <= TStubPageLayout::HeaderSize);
static_assert(TStubPageLayout::TableOffset + 12 * TStubPageLayout::SlotCount <= TStubPageLayout::RegisterOffset,
              "one RUNTIME_FUNCTION per slot");

// The log of late entries, one per traced process, shared by all stub pages. Entries are
// numbered from 0; entry n lives at Entry(log, n). A stub takes the next number by a locked
// compare-exchange on the head, as long as fewer than the log's entries lie between the
// tail and the head, else it reports the call by raising as usual. It writes the entry's
// sequence word (its number + 1) last: an entry whose sequence word is not yet its own is
// still being written. The debugger moves the tail now and then; a tail that lags behind
// only makes the log look fuller than it is.
//
// An entry is a call's entry (the return address, the argument words and the bytes
// named), or, from a stub that logs returns too, a call's return: the stack pointer at
// its entry (which names the call on its thread), the result in the first frame word and
// the performance-counter ticks the call took in the second.
struct TStubLogLayout {
    static constexpr size_t HeadOffset = 0;  // 32-bit: numbers taken
    static constexpr size_t TailOffset = 4;  // 32-bit: numbers the debugger has done with
    static constexpr size_t EntriesOffset = 0x40;
    // The entries of a log, unless it is made with another power of two.
    static constexpr uint32_t EntryCount = 64;
    static constexpr int EntryShift = 11;
    static constexpr size_t EntrySize = size_t(1) << EntryShift;
    static constexpr size_t Size(uint32_t entries = EntryCount) { return EntriesOffset + entries * EntrySize; }
    // An entry's fields; values of a 32-bit program are stored zero-extended.
    static constexpr size_t SeqOffset = 0;     // 32-bit: the entry's number + 1
    static constexpr size_t SlotOffset = 4;    // 32-bit: the stub's slot
    static constexpr size_t PageOffset = 8;    // the stub's page
    static constexpr size_t LengthOffset = 0x10;  // 32-bit: bytes copied
    static constexpr size_t ThreadOffset = 0x14;  // 32-bit: the calling thread's id
    static constexpr size_t SpOffset = 0x18;   // the stack pointer at the entry
    static constexpr size_t KindOffset = 0x20;  // 32-bit: KindEntry or KindReturn
    static constexpr size_t FrameOffset = 0x28;   // the return address, then every argument word
    static constexpr size_t BytesOffset = FrameOffset + 8 * (StubMaxWords + 1);
    static constexpr size_t MaxBytes = EntrySize - BytesOffset;
    static constexpr uint32_t KindEntry = 0, KindReturn = 1;
    static TAddress Entry(TAddress log, uint32_t number, uint32_t entries = EntryCount)
    {
        return log + EntriesOffset + EntrySize * (number & (entries - 1));
    }
};

// A log as the stubs address it: where it lies in the program and how many entries it
// holds (a power of two).
struct TStubLogRef {
    TAddress Base = 0;
    uint32_t Entries = TStubLogLayout::EntryCount;
    TStubLogRef() = default;
    // A log of the usual size.
    TStubLogRef(TAddress base, uint32_t entries = TStubLogLayout::EntryCount) : Base(base), Entries(entries) {}
};

// Whether a hook's calls may be logged instead of raised at their entry, and which bytes
// go with them: BytesArg points to them and LengthArg counts them (32 bits), both counted
// from 1, 0 for none. A call whose bytes do not fit in an entry, or point nowhere, is
// raised as usual. Whether its return is reported is a matter of its own.
struct TLateEntry {
    bool Allowed = false;
    int BytesArg = 0;
    int LengthArg = 0;
};

// Calls a hook wants to hear of at all, for entry points called far more often than they
// are of interest: those whose argument Arg has the low 32 bits Value and whose argument
// ListArg has low 32 bits among the first ListSize of List. Arguments are counted in words
// from 1, as TCallFrame counts them; 0 leaves that test out. Any other call goes straight
// to the original: no report, no log entry, no timing, a few compares.
struct TEntryFilter {
    static constexpr int MaxList = 8;
    int Arg = 0;
    uint32_t Value = 0;
    int ListArg = 0;
    int ListSize = 0;
    uint32_t List[MaxList] = {};
    bool Any() const { return Arg != 0 || ListArg != 0; }
};

// What one slot's stub is built for: the argument words of its entry point (copied to the
// original), whether its calls may be logged, and which calls it reports at all. With
// LogReturns, a call whose entry may be logged has its return logged too (when its
// returns are wanted at all): such a call does not stop the program unless the log is
// full, its bytes do not fit or cannot be read.
struct TStubSpec {
    int Words = 0;
    TLateEntry Late;
    TEntryFilter Filter;
    bool LogReturns = false;
};

// The page's header, every slot's returns wanted. raise: RaiseException in the traced
// program; badReadPtr: IsBadReadPtr there, which a late call's stub asks before it copies
// bytes (bytes it cannot read make it raise instead, so that the tracer meets the failure,
// not the program); counter: QueryPerformanceCounter there. For a 64-bit program,
// addFunctionTable is RtlAddFunctionTable there, and the code at RegisterOffset (a thread
// routine) registers the unwind data of every slot's stub, so that an exception passing
// through a call in flight unwinds through the stub's frame like any other.
std::vector<unsigned char> BuildPageHeader(TAddress page, TAddress raise, TAddress badReadPtr, TAddress counter,
                                           TAddress addFunctionTable, bool x64);

// The code of one slot: the moved instructions and a jump back behind them (the
// trampoline), then the stub. entry: the hooked entry point; moved: its first movedSize
// bytes, which the trampoline runs. log: the process's log of late entries (no base:
// none). spec.Words may not exceed StubMaxWords, nor the filter's arguments
// spec.Words.
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
                        bool x64, const TStubLogRef& log, const TStubSpec& spec);

// The 5-byte jump from the entry point to its stub; false when the stub is out of reach.
bool BuildEntryJump(TAddress entry, TAddress stub, unsigned char (&jump)[5]);

// Code that runs the instruction at address out of line, at cell: the instruction's
// length bytes (which MovableLength must allow), then a jump back behind it. A thread
// sent to cell goes on as if it had run the instruction in place, while the int3 there
// stays for other threads.
constexpr size_t OutOfLineCellSize = 32;
std::vector<unsigned char> BuildOutOfLine(TAddress cell, TAddress address, const unsigned char* instruction,
                                          size_t length, bool x64);

// The log of late entries in the traced process (TStubLogLayout), as the debugger reads
// it: the entries written up to a head, decoded and handed over in the order of their
// numbers, entries still being written held back until they are whole. The log is memory
// shared with the program: reading it costs no call into the system, so the debugger may
// look at it as often as it likes, and what the program logged just before it ended is
// still there to read.
#pragma once

#include "RemoteBlock.h"
#include "Stubs.h"
#include "SysProcs.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One entry of the log.
struct TStubLogEntry {
    // A call's entry, or (Return) its return.
    bool Return = false;
    // The stub that wrote it: its page and slot.
    TAddress Page = 0;
    uint32_t Slot = 0;
    DWORD ThreadId = 0;
    // The stack pointer at the call's entry. An entry: the words above it, the return
    // address, then the argument words (as many as the slot's entry point takes). A
    // return: the result, then the performance-counter ticks the call took.
    TAddress Sp = 0;
    uint64_t Frame[StubMaxWords + 1] = {};
    // The bytes copied with the call.
    std::string Bytes;
};

class TStubLog {
public:
    using TTake = std::function<void(const TStubLogEntry&)>;

    // low: the log must lie below 4 GiB in the program (a 32-bit program).
    TStubLog(TProcessInfo& process, bool low) : FProcess(process), FLow(low) {}

    // The log in the traced process with entries entries (a power of two, at least 2),
    // made at the first asking; no base when it cannot be made.
    TStubLogRef Make(uint32_t entries = TStubLogLayout::EntryCount);
    TStubLogRef Ref() const { return {FBlock.get(), FEntries}; }

    // Hands the entries numbered below head to take, in order; an entry found still being
    // written is kept and handed over first the next time it is whole. A head already
    // passed (a report raised before others that came in first) reads nothing new.
    // Returns the entries handed over.
    size_t Read(uint32_t head, const TTake& take);
    // The same up to the head the log holds now.
    size_t Read(const TTake& take);

    // Left in the program on purpose: stubs of calls in flight may still write to it.
    void Keep() { FBlock.Keep(); }

private:
    // Decodes the entry of that number; false when it is not whole yet.
    bool Decode(uint32_t number, TStubLogEntry& entry) const;
    volatile uint32_t& Word(size_t offset) const;

    TProcessInfo& FProcess;
    bool FLow;
    TSharedBlock FBlock;
    uint32_t FEntries = TStubLogLayout::EntryCount;
    // The number of the next entry to read, and entries found half written (read again
    // next time).
    uint32_t FRead = 0;
    std::vector<uint32_t> FUnfinished;
};

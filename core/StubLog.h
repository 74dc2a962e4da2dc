// The log of late entries in the traced process (TStubLogLayout), as the debugger reads
// it: the entries written up to a head, decoded and handed over in the order of their
// numbers, entries still being written held back until they are whole.
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
    uint32_t Number = 0;
    // The stub that wrote it: its page and slot.
    TAddress Page = 0;
    uint32_t Slot = 0;
    DWORD ThreadId = 0;
    // The stack pointer at the call's entry, and the words above it: the return address,
    // then the argument words (as many as the slot's entry point takes).
    TAddress Sp = 0;
    uint64_t Frame[StubMaxWords + 1] = {};
    // The bytes copied with the call.
    std::string Bytes;
};

class TStubLog {
public:
    using TTake = std::function<void(const TStubLogEntry&)>;

    explicit TStubLog(TProcessInfo& process) : FProcess(process) {}

    // The log in the traced process, made at the first asking; 0 when it cannot be made.
    TAddress Make();
    TAddress Base() const { return FBase; }

    // Hands the entries numbered below head to take, in order; an entry found still being
    // written is kept and handed over first the next time it is whole. A head already
    // passed (a report raised before others that came in first) reads nothing new. Raises
    // EOSError when the log cannot be read.
    void Read(uint32_t head, const TTake& take);
    // The same up to the head the log holds now.
    void Read(const TTake& take);

    // Left in the program on purpose: stubs of calls in flight may still write to it.
    void Keep() { FBlock.Release(); }

private:
    // Decodes the entry of that number; false when it is not whole yet.
    static bool Decode(const unsigned char* bytes, uint32_t number, TStubLogEntry& entry);

    TProcessInfo& FProcess;
    TRemoteBlock FBlock;
    // Known after the block is kept too.
    TAddress FBase = 0;
    // The number of the next entry to read, entries found half written (read again next
    // time), and the tail as last written to the log.
    uint32_t FRead = 0;
    std::vector<uint32_t> FUnfinished;
    uint32_t FTail = 0;
};

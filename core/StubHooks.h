// Fast and logged hooks in one traced process (see Stubs.h): the pages of stubs, each
// within a jump's reach of the entry points it serves, with their guard words and (for a
// 64-bit program) registered unwind data; the log their late calls go to; the entries'
// jumps; and what the stubs' reports say. The pages and the log are memory of ours in the
// program, freed with their owners unless they are kept on purpose.
#pragma once

#include "Errors.h"
#include "RemoteBlock.h"
#include "StubLog.h"
#include "Stubs.h"
#include "SysProcs.h"
#include "Threads.h"

#include <windows.h>

#include <memory>
#include <unordered_map>
#include <vector>

// A report of a stub, decoded.
struct TStubReport {
    bool Entry = false;
    // The entry point of the stub's hook; 0 when the hook has gone (a call that came in
    // before its hook was dropped).
    TAddress Hook = 0;
    TAddress EntrySp = 0;
    // Entry: the return address and the arguments reported (Known slots in all), the
    // others to be read from the stack. Return: the result in Frame[0].
    uint64_t Frame[StubMaxWords + 1] = {};
    int Known = 0;
    int64_t ElapsedTicks = 0;
};

class TStubHooks {
public:
    // threads: the process's threads, moved on where code changes under them (read as
    // 32-bit threads of a 64-bit tracer where wow64 says so). logEntries: the size of the
    // log of late calls (a power of two).
    TStubHooks(TProcessInfo& process, const TThreadInfos& threads, bool x64, bool wow64,
               uint32_t logEntries = TStubLogLayout::EntryCount);
    TStubHooks(const TStubHooks&) = delete;
    TStubHooks& operator=(const TStubHooks&) = delete;
    ~TStubHooks();

    // Hooks the entry point at address, whose first code bytes are prologue, through a
    // stub built for spec; returnWanted: whether its calls' returns are reported. False
    // when it cannot be hooked so (first instructions that cannot be moved, no page in
    // reach, more argument words than a stub copies): it is then the caller's to hook.
    bool Add(TAddress address, const unsigned char (&prologue)[16], const TStubSpec& spec, bool returnWanted);
    // Writes the entry's jump, or its first bytes back. A thread stopped inside the bytes
    // the jump covers goes on at the same instruction in the trampoline.
    void SetArmed(TAddress address, bool armed);

    // True for a report of one of our stubs; anything else with our codes is the
    // program's own exception.
    bool IsReport(const EXCEPTION_RECORD& record) const;
    TStubReport Report(const EXCEPTION_RECORD& record) const;
    // The entry point hooked by the stub in slot of page; 0 when it has gone.
    TAddress HookOf(TAddress page, uint64_t slot) const;
    TStubLog& Log() { return FLog; }
    bool Empty() const { return FPages.empty(); }

    // Forgets the hooks in [base, base + size): their module has been unmapped. A page
    // that served only them goes.
    void Drop(TAddress base, uint64_t size);
    // Leaves the process with the stubs in place: every armed entry gets its bytes back,
    // the guard words are cleared, and a thread that has passed a guard but not yet
    // raised is moved past the raise. The pages and the log stay in the program: calls
    // in flight return through them. Failures go to errors; every step is tried.
    void Lift(TFirstError& errors);

private:
    struct TSlot {
        TAddress Entry;
        int Words;
    };
    struct TPage {
        // The page's address stays known after the block is kept: reports raised before
        // the guards were cleared still name it.
        TAddress Base = 0;
        TRemoteBlock Block;
        std::vector<TSlot> Slots;
        std::vector<TStubCode::TWindow> Windows;
    };
    // A hooked entry point: its jump, the bytes the jump covers, and the trampoline that
    // runs the Moved bytes behind them.
    struct TEntry {
        bool Armed = false;
        size_t Moved = 0;
        TAddress Trampoline = 0;
        unsigned char Jump[5] = {};
        unsigned char Original[5] = {};
    };

    // A page with a free slot within reach of entry, made when there is none.
    TPage* PageFor(TAddress entry);
    TRemoteBlock MakePage(TAddress entry);
    const TPage* FindPage(TAddress base) const;

    TProcessInfo& FProcess;
    const TThreadInfos& FThreads;
    bool FX64;
    bool FWow64;
    std::vector<std::unique_ptr<TPage>> FPages;
    std::unordered_map<TAddress, TEntry> FEntries;
    TStubLog FLog;
    uint32_t FLogEntries;
    // What the stubs call in the program, looked up with the first page.
    TAddress FRaiseException = 0;
    TAddress FBadReadPtr = 0;
    TAddress FCounter = 0;
    TAddress FAddFunctionTable = 0;
};

// Instructions run out of line: a thread stopped at an int3 that must stay (other threads
// are to stop there) runs the instruction under it in a cell of ours, a copy of it with a
// jump back behind it, and goes on as if it had run the instruction in place. No step,
// and no other thread held up meanwhile. The cells are memory of ours in the program.
#pragma once

#include "Patches.h"
#include "RemoteBlock.h"
#include "SysProcs.h"
#include "Threads.h"

#include <unordered_map>
#include <vector>

class TOutOfLineCells {
public:
    // patches: what the code under our int3s is; threads: moved out of the cells when
    // they go (read as 32-bit threads of a 64-bit tracer where wow64 says so).
    TOutOfLineCells(TProcessInfo& process, TPatchTable& patches, const TThreadInfos& threads, bool x64, bool wow64);
    TOutOfLineCells(const TOutOfLineCells&) = delete;
    TOutOfLineCells& operator=(const TOutOfLineCells&) = delete;

    // The cell of the instruction at address, made at the first asking; 0 when it cannot
    // run elsewhere (it is relative to where it stands) or its cell cannot be made.
    TAddress Cell(TAddress address);
    // Forgets which instructions have cells: their code may have been unmapped and other
    // code mapped in its place. The cells themselves stay: a thread may stand in one.
    void Forget() { FCells.clear(); }
    // Every cell goes. A thread that stands in one (it is held with the others) goes back
    // to the instruction's own place, whose bytes are the program's again, or on behind
    // it once it has run the copy. Should a thread not be moved, the cells stay and the
    // failure is raised.
    void Free();

private:
    TAddress Make(TAddress address);

    // Each cell's instruction: where it stands in the program, and its length.
    struct TOrigin {
        TAddress Address;
        size_t Length;
    };
    static constexpr size_t BlockSize = 0x10000;
    TProcessInfo& FProcess;
    TPatchTable& FPatches;
    const TThreadInfos& FThreads;
    bool FX64;
    bool FWow64;
    // Instructions asked about, with their cell (0: none).
    std::unordered_map<TAddress, TAddress> FCells;
    std::unordered_map<TAddress, TOrigin> FOrigins;
    // Cells are never reused (a thread may still stand in one): taken in turn from the
    // last block, FUsed bytes of which are taken.
    std::vector<TRemoteBlock> FBlocks;
    size_t FUsed = 0;
};

// The int3 patches written into the traced program's code. One patch per address
// however many users stand there: the original byte is read when the first of them
// arms it and written back when the last lets go, so 0xCC is never taken for an
// original byte. A patch may also be lifted for a moment while a thread steps over it.
// A return site's patch may stay written when the last call waiting there has returned
// (idle): the next call through the same site then costs no write.
#pragma once

#include "SysProcs.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

class TPatchTable {
public:
    explicit TPatchTable(TProcessInfo& process) : FProcess(process) {}
    TPatchTable(const TPatchTable&) = delete;
    TPatchTable& operator=(const TPatchTable&) = delete;

    // Takes one hold on the patch at address, writing 0xCC at the first (an idle patch
    // is taken as it stands); returns the original byte. A failed read or write raises
    // EOSError and changes nothing.
    BYTE Acquire(TAddress address);
    // Lets go of one hold; the last one writes the original byte back, unless keepIdle
    // leaves the patch written with no holds, which an address lifted for good never
    // is. A failed write raises EOSError after the patch is forgotten.
    void Release(TAddress address, bool keepIdle = false);
    // Lifts an idle patch for good: the original byte goes back, and the address is
    // released eagerly from then on (something other than our calls runs into it).
    void LiftIdle(TAddress address);
    // Lift the patch at address while a thread steps over it, and put it back.
    void Suspend(TAddress address);
    void Resume(TAddress address);
    // Writes every original byte back, going on past a failed write, forgets every
    // patch, then raises the first error.
    void RestoreAll();
    // Forgets the patches in [base, base + size) without writing, idle ones included:
    // their module has been unmapped, and the bytes went with it.
    void Abandon(TAddress base, uint64_t size);
    // Forgets the original bytes kept from earlier patches: the code they came from may
    // have been unmapped (a module unloaded), and another put in its place.
    void ForgetOriginals() { FOriginals.clear(); }

    // size bytes of code at address as they are without our patches.
    void ReadCode(TAddress address, unsigned char* buffer, size_t size);

    // Idle patches are ours as much as held ones.
    bool IsPatched(TAddress address) const { return FPatches.count(address) != 0; }
    bool IsIdle(TAddress address) const;
    // True while 0xCC stands at address because of a patch.
    bool IsWritten(TAddress address) const;
    bool Empty() const { return FPatches.empty(); }
    // True for every address patched in this session, held or long gone: an int3 a thread
    // met there that is no longer ours was ours when the thread ran into it.
    bool EverPatched(TAddress address) const { return FEver.count(address) != 0; }

private:
    struct TPatch {
        BYTE Original;
        int Holds;
        int Suspends;
        bool Written;
    };
    // Forgets the patch, then writes its original byte back if 0xCC stands there.
    void Remove(std::unordered_map<TAddress, TPatch>::iterator it);
    TProcessInfo& FProcess;
    std::unordered_map<TAddress, TPatch> FPatches;
    // The original bytes of addresses patched before: a return site is patched and
    // restored at every call, and its byte need not be read each time.
    std::unordered_map<TAddress, BYTE> FOriginals;
    // Addresses whose idle patch was run into by something else: never kept idle again.
    std::unordered_set<TAddress> FLifted;
    std::unordered_set<TAddress> FEver;
};

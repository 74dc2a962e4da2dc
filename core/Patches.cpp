#include "Patches.h"

#include "Errors.h"

namespace {
constexpr const char* Unit = "SysProcs";
constexpr BYTE Int3 = 0xCC;
}

BYTE TPatchTable::Acquire(TAddress address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end()) {
        auto known = FOriginals.find(address);
        BYTE original = 0;
        if (known != FOriginals.end())
            original = known->second;
        else
            FProcess.ReadMemory(address, &original, 1);
        FProcess.WriteMemory(address, &Int3, 1);
        FPatches.emplace(address, TPatch{original, 1, 0, true});
        FEver.insert(address);
        FOriginals[address] = original;
        return original;
    }
    TPatch& patch = it->second;
    if (!patch.Written && patch.Suspends == 0) {
        FProcess.WriteMemory(address, &Int3, 1);
        patch.Written = true;
    }
    ++patch.Holds;
    return patch.Original;
}

void TPatchTable::Release(TAddress address, bool keepIdle)
{
    auto it = FPatches.find(address);
    VASSERT(it != FPatches.end(), Unit);
    TPatch& patch = it->second;
    VASSERT(patch.Holds > 0, Unit);
    if (--patch.Holds > 0)
        return;
    // Lifted for a step, the patch comes back when the step ends, and stays.
    if (keepIdle && (patch.Written || patch.Suspends > 0) && !FLifted.count(address))
        return;
    Remove(it);
}

void TPatchTable::LiftIdle(TAddress address)
{
    auto it = FPatches.find(address);
    VASSERT(it != FPatches.end() && it->second.Holds == 0, Unit);
    FLifted.insert(address);
    Remove(it);
}

void TPatchTable::Remove(std::unordered_map<TAddress, TPatch>::iterator it)
{
    TAddress address = it->first;
    TPatch last = it->second;
    FPatches.erase(it);
    if (last.Written)
        FProcess.WriteMemory(address, &last.Original, 1);
}

void TPatchTable::Suspend(TAddress address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end())
        return;
    TPatch& patch = it->second;
    if (patch.Written) {
        FProcess.WriteMemory(address, &patch.Original, 1);
        patch.Written = false;
    }
    ++patch.Suspends;
}

void TPatchTable::Resume(TAddress address)
{
    auto it = FPatches.find(address);
    if (it == FPatches.end() || it->second.Suspends == 0)
        return;
    TPatch& patch = it->second;
    if (--patch.Suspends == 0 && !patch.Written) {
        FProcess.WriteMemory(address, &Int3, 1);
        patch.Written = true;
    }
}

void TPatchTable::RestoreAll()
{
    TFirstError firstError;
    for (const auto& [address, patch] : FPatches)
        if (patch.Written)
            firstError.Attempt([&, address = address] { FProcess.WriteMemory(address, &patch.Original, 1); });
    FPatches.clear();
    firstError.Rethrow();
}

void TPatchTable::Abandon(TAddress base, uint64_t size)
{
    for (auto it = FOriginals.begin(); it != FOriginals.end();)
        it = it->first - base < size ? FOriginals.erase(it) : std::next(it);
    for (auto it = FPatches.begin(); it != FPatches.end();)
        it = it->first - base < size ? FPatches.erase(it) : std::next(it);
    for (auto it = FLifted.begin(); it != FLifted.end();)
        it = *it - base < size ? FLifted.erase(it) : std::next(it);
}

void TPatchTable::ReadCode(TAddress address, unsigned char* buffer, size_t size)
{
    FProcess.ReadMemory(address, buffer, size);
    for (size_t i = 0; i < size; ++i) {
        auto it = FPatches.find(address + i);
        if (it != FPatches.end() && it->second.Written)
            buffer[i] = it->second.Original;
    }
}

bool TPatchTable::IsIdle(TAddress address) const
{
    auto it = FPatches.find(address);
    return it != FPatches.end() && it->second.Holds == 0;
}

bool TPatchTable::IsWritten(TAddress address) const
{
    auto it = FPatches.find(address);
    return it != FPatches.end() && it->second.Written;
}

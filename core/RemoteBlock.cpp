#include "RemoteBlock.h"

#include <utility>

TRemoteBlock::TRemoteBlock(TRemoteBlock&& other) noexcept
    : FProcess(other.FProcess), FBase(std::exchange(other.FBase, 0))
{
}

TRemoteBlock& TRemoteBlock::operator=(TRemoteBlock&& other) noexcept
{
    if (this != &other) {
        reset();
        FProcess = other.FProcess;
        FBase = std::exchange(other.FBase, 0);
    }
    return *this;
}

TRemoteBlock TRemoteBlock::Allocate(HANDLE process, size_t size, DWORD protect, TAddress at)
{
    return TRemoteBlock(process,
                        PointerAddress(VirtualAllocEx(process, AddressPointer(at), size, MEM_RESERVE | MEM_COMMIT, protect)));
}

void TRemoteBlock::reset()
{
    if (FBase)
        VirtualFreeEx(FProcess, AddressPointer(FBase), 0, MEM_RELEASE);
    FBase = 0;
}

TAddress TRemoteBlock::Release() { return std::exchange(FBase, 0); }

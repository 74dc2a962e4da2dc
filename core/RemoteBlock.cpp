#include "RemoteBlock.h"

#include <utility>

namespace {

// The native calls that map a section into another process: the documented ones map
// into the caller alone.
using TMapViewOfSection = LONG(NTAPI*)(HANDLE, HANDLE, PVOID*, ULONG_PTR, SIZE_T, PLARGE_INTEGER, PSIZE_T, DWORD,
                                       ULONG, ULONG);
using TUnmapViewOfSection = LONG(NTAPI*)(HANDLE, PVOID);

template <class T>
T NtDllFunction(const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

constexpr DWORD ViewUnmap = 2;  // SECTION_INHERIT: the view is not handed to child processes

} // namespace

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

TSharedBlock::TSharedBlock(TSharedBlock&& other) noexcept
    : FProcess(other.FProcess), FSection(std::move(other.FSection)), FLocal(std::exchange(other.FLocal, nullptr)),
      FBase(std::exchange(other.FBase, 0)), FKept(other.FKept)
{
}

TSharedBlock& TSharedBlock::operator=(TSharedBlock&& other) noexcept
{
    if (this != &other) {
        reset();
        FProcess = other.FProcess;
        FSection = std::move(other.FSection);
        FLocal = std::exchange(other.FLocal, nullptr);
        FBase = std::exchange(other.FBase, 0);
        FKept = other.FKept;
    }
    return *this;
}

TSharedBlock TSharedBlock::Map(HANDLE process, size_t size, bool low)
{
    static const auto mapView = NtDllFunction<TMapViewOfSection>("NtMapViewOfSection");
    TSharedBlock block;
    block.FProcess = process;
    block.FSection.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                            static_cast<DWORD>(static_cast<uint64_t>(size) >> 32),
                                            static_cast<DWORD>(size), nullptr));
    if (!block.FSection || !mapView)
        return {};
    block.FLocal = static_cast<unsigned char*>(MapViewOfFile(block.FSection.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (!block.FLocal)
        return {};
    PVOID base = nullptr;
    SIZE_T viewSize = 0;
    if (mapView(block.FSection.get(), process, &base, 0, 0, nullptr, &viewSize, ViewUnmap, 0, PAGE_READWRITE) < 0 ||
        !base)
        return {};
    block.FBase = PointerAddress(base);
    if (low && block.FBase + size > 0x100000000ull)
        return {};
    return block;
}

void TSharedBlock::reset()
{
    static const auto unmapView = NtDllFunction<TUnmapViewOfSection>("NtUnmapViewOfSection");
    if (FBase && !FKept && unmapView)
        unmapView(FProcess, AddressPointer(FBase));
    if (FLocal)
        UnmapViewOfFile(FLocal);
    FBase = 0;
    FLocal = nullptr;
    FKept = false;
    FSection.reset();
}

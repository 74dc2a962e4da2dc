#include "SysProcs.h"

#include "Errors.h"

#include <algorithm>

namespace {
constexpr const char* Unit = "SysProcs";

HANDLE OpenProcessOrRaise(DWORD processId)
{
    HANDLE handle = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
    if (!handle)
        RaiseLastOSError();
    return handle;
}
} // namespace

TModuleInfo::TModuleInfo(TAddress base, HANDLE fileHandle, std::string fileName)
    : Base(base), FileHandle(fileHandle), FileName(std::move(fileName))
{
}

TProcessInfo::TProcessInfo(DWORD processId, std::string fileName)
    : TProcessInfo(processId, std::move(fileName), OpenProcessOrRaise(processId))
{
}

TProcessInfo::TProcessInfo(DWORD processId, std::string fileName, HANDLE handle)
    : FileName(std::move(fileName)), ProcessId(processId), Handle(handle)
{
}

void TProcessInfo::AddModule(TAddress base, HANDLE fileHandle, const std::string& fileName)
{
    TUniqueHandle owned(fileHandle);
    VASSERT(IndexOfModule(base) == -1, Unit);
    Add(std::make_unique<TModuleInfo>(base, owned.release(), fileName));
}

int TProcessInfo::IndexOfModule(TAddress base) const
{
    return IndexOfIf([base](const TModuleInfo& m) { return m.Base == base; });
}

TModuleInfo* TProcessInfo::FindModule(TAddress base) const
{
    int index = IndexOfModule(base);
    return index == -1 ? nullptr : Items(index);
}

uint32_t TProcessInfo::ReadDword(TAddress address)
{
    uint32_t value = 0;
    ReadMemory(address, &value, sizeof(value));
    return value;
}

uint64_t TProcessInfo::ReadQword(TAddress address)
{
    uint64_t value = 0;
    ReadMemory(address, &value, sizeof(value));
    return value;
}

std::string TProcessInfo::ReadString(TAddress address, uint64_t size)
{
    if (size > MaxStringRead)
        RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
    std::string text(static_cast<size_t>(size), '\0');
    constexpr size_t Piece = 64 * 1024;
    for (size_t done = 0; done < text.size();) {
        size_t chunk = std::min(Piece, text.size() - done);
        ReadMemory(address + done, text.data() + done, chunk);
        done += chunk;
    }
    return text;
}

void TProcessInfo::ReadMemory(TAddress address, void* buffer, size_t size)
{
    SIZE_T done = 0;
    if (!ReadProcessMemory(Handle.get(), AddressPointer(address), buffer, size, &done))
        RaiseLastOSError();
    if (done != size)
        RaiseOSError(ERROR_PARTIAL_COPY);
}

void TProcessInfo::WriteMemory(TAddress address, const void* buffer, size_t size)
{
    SIZE_T done = 0;
    if (!WriteProcessMemory(Handle.get(), AddressPointer(address), buffer, size, &done))
        RaiseLastOSError();
    if (done != size)
        RaiseOSError(ERROR_PARTIAL_COPY);
}

bool TProcessInfo::IsRunning() { return Handle && WaitForSingleObject(Handle.get(), 0) == WAIT_TIMEOUT; }

bool TProcessInfo::IsExecutable(TAddress address)
{
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQueryEx(Handle.get(), AddressPointer(address), &info, sizeof(info)))
        return false;
    constexpr DWORD Executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && (info.Protect & Executable) != 0;
}

TAddress TProcessInfo::ReadableEnd(TAddress address)
{
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQueryEx(Handle.get(), AddressPointer(address), &info, sizeof(info)))
        return address;
    constexpr DWORD Readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || !(info.Protect & Readable))
        return address;
    return PointerAddress(info.BaseAddress) + info.RegionSize;
}

// ---------------------------------------------------------------------------
// TSafeReader

bool TSafeReader::Readable(TAddress address, TAddress& end)
{
    for (const auto& [first, last] : FSpans)
        if (address >= first && address < last) {
            end = last;
            return true;
        }
    end = FProcess.ReadableEnd(address);
    if (end <= address)
        return false;
    FSpans.emplace_back(address, end);
    return true;
}

bool TSafeReader::Read(TAddress address, void* buffer, size_t size)
{
    if (size == 0)
        return true;
    // The whole range must lie in readable spans, which may follow one another.
    for (TAddress at = address, last = address + size; at < last;) {
        if (at < address)
            return false;  // wrapped round the address space
        TAddress end = 0;
        if (!Readable(at, end))
            return false;
        at = end;
    }
    try {
        FProcess.ReadMemory(address, buffer, size);
    } catch (const EOSError&) {
        return false;
    }
    return true;
}

bool TSafeReader::Read(TAddress address, size_t size, std::string& bytes)
{
    bytes.assign(size, '\0');
    if (Read(address, bytes.data(), size))
        return true;
    bytes.clear();
    return false;
}

std::string TSafeReader::ReadPrefix(TAddress address, size_t size)
{
    TAddress at = address, last = address + size;
    while (at < last && at >= address) {
        TAddress end = 0;
        if (!Readable(at, end))
            break;
        at = end;
    }
    size_t readable = at > address ? static_cast<size_t>(std::min(at, last) - address) : 0;
    std::string bytes;
    Read(address, readable, bytes);
    return bytes;
}

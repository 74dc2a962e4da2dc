#include "ProcessList.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------
// The process snapshot

std::vector<TSnapshotEntry> ParseProcessSnapshot(const BYTE* buffer, size_t size)
{
    // SYSTEM_PROCESS_INFORMATION of this process's bitness: NextEntryOffset at 0,
    // ImageName.Length at 56, then ImageName.Buffer and UniqueProcessId at 60 and 68
    // (32-bit) or at 64 and 80 (64-bit).
    constexpr bool Wide = sizeof(void*) == 8;
    constexpr size_t NameLengthOffset = 56, NameOffset = Wide ? 64 : 60, IdOffset = Wide ? 80 : 68,
                     MinRecord = Wide ? 88 : 72;
    std::vector<TSnapshotEntry> entries;
    size_t at = 0;
    while (at + MinRecord <= size) {
        const BYTE* record = buffer + at;
        DWORD next, pid;
        uintptr_t nameAddress;
        USHORT nameBytes;
        std::memcpy(&next, record, 4);
        std::memcpy(&nameBytes, record + NameLengthOffset, 2);
        std::memcpy(&nameAddress, record + NameOffset, sizeof(nameAddress));
        std::memcpy(&pid, record + IdOffset, 4);

        TSnapshotEntry entry{pid, nameAddress != 0, {}};
        if (nameAddress) {
            // The name lies in the same buffer; take it only where it does.
            uintptr_t base = reinterpret_cast<uintptr_t>(buffer);
            if (nameAddress >= base && nameAddress < base + size) {
                size_t offset = nameAddress - base;
                size_t maxChars = (size - offset) / sizeof(wchar_t);
                size_t chars = std::min<size_t>(nameBytes / sizeof(wchar_t), maxChars);
                const BYTE* p = buffer + offset;
                entry.Name.resize(chars);
                std::memcpy(entry.Name.data(), p, chars * sizeof(wchar_t));
                size_t zero = entry.Name.find(L'\0');
                if (zero != std::wstring::npos)
                    entry.Name.resize(zero);
            }
        }
        entries.push_back(std::move(entry));
        if (next == 0 || next > size - at)
            break;
        at += next;
    }
    return entries;
}

static std::string ToAnsi(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}

// ---------------------------------------------------------------------------
// TProcessInfos

TProcessInfos::TProcessInfos()
{
    FNtDll.reset(LoadLibraryA("ntdll.dll"));
    if (FNtDll)
        FQuerySystemInformation =
            reinterpret_cast<TQuery>(reinterpret_cast<void*>(GetProcAddress(FNtDll.get(), "NtQuerySystemInformation")));
}

TProcessInfos::~TProcessInfos()
{
    FItems.Clear();
}

bool TProcessInfos::QuerySnapshot(std::vector<BYTE>& buffer)
{
    constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    constexpr ULONG SystemProcessInformation = 5;
    size_t size = 1 << 20;
    for (int attempt = 0; attempt < 6; ++attempt, size *= 2) {
        buffer.assign(size, 0);
        ULONG needed = 0;
        LONG status = FQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(size), &needed);
        if (status >= 0)
            return true;
        if (status != StatusInfoLengthMismatch)
            return false;
        while (needed > size * 2)
            size *= 2;
    }
    return false;
}

TProcessInfos::TRecord TProcessInfos::OpenProcessRecord(DWORD processId, const std::string& fileName)
{
    auto record = std::make_shared<TProcessInfo>(processId, fileName);
    record->Is64 = IsProcess64(record->Handle.get());
    return record;
}

bool IsProcess64(HANDLE process)
{
    // On a 64-bit system every process that is not under WOW64 is 64-bit; this program
    // itself runs under WOW64 there when it is the 32-bit build.
    BOOL selfWow64 = FALSE, wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    bool system64 = sizeof(void*) == 8 || selfWow64;
    return system64 && IsWow64Process(process, &wow64) && !wow64;
}

void TProcessInfos::Refresh()
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    if (!FQuerySystemInformation)
        throw std::runtime_error("This feature is enabled on NT-like platforms only");
    // The buffer is kept from one refresh to the next: a megabyte is not worth making anew.
    std::vector<BYTE>& buffer = FSnapshot;
    if (!QuerySnapshot(buffer))
        return;

    for (const TRecord& record : FItems)
        record->Seen = false;
    for (const TSnapshotEntry& entry : ParseProcessSnapshot(buffer.data(), buffer.size())) {
        int index = IndexOfProcess(entry.ProcessId);
        if (index == -1 && entry.HasName) {
            try {
                FItems.Add(OpenProcessRecord(entry.ProcessId, ToAnsi(entry.Name)));
                index = FItems.Count() - 1;
            } catch (const std::exception&) {
                // A process we may not open is simply not listed.
            }
        }
        if (index != -1)
            FItems.Items(index)->Seen = true;
    }
    for (int i = FItems.Count() - 1; i >= 0; --i)
        if (!FItems.Items(i)->Seen)
            FItems.Delete(i);
}

int TProcessInfos::Count() const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FItems.Count();
}

TProcessInfos::TRecord TProcessInfos::Items(int index) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    FItems.Items(index);  // raises the index error
    return *(FItems.begin() + index);
}

int TProcessInfos::IndexOfProcess(DWORD processId) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return FItems.IndexOfIf([processId](const TProcessInfo& p) { return p.ProcessId == processId; });
}

TProcessInfos::TRecord TProcessInfos::FindProcess(DWORD processId) const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    int index = IndexOfProcess(processId);
    return index == -1 ? nullptr : Items(index);
}

std::vector<TProcessInfos::TRecord> TProcessInfos::Snapshot() const
{
    std::lock_guard<std::recursive_mutex> lock(FLock);
    return std::vector<TRecord>(FItems.begin(), FItems.end());
}

TProcessInfos& ProcessList()
{
    static TProcessInfos instance;
    return instance;
}


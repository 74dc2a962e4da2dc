// The machine's processes, as the attach dialog and the capture tool list them.
#pragma once

#include "Handles.h"
#include "OwningList.h"
#include "SysProcs.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Calls back for each record of a SYSTEM_PROCESS_INFORMATION chain, never reading
// outside the buffer: a record or a NextEntryOffset that would leave it ends the walk.
// name is empty when the record has no image name.
struct TSnapshotEntry {
    DWORD ProcessId;
    bool HasName;
    std::wstring Name;
};
std::vector<TSnapshotEntry> ParseProcessSnapshot(const BYTE* buffer, size_t size);

// The machine's processes that the tracer can open, in the order first listed.
// Refreshes are serialised; a record stays alive while anyone holds it, also after a
// refresh has dropped it.
class TProcessInfos {
public:
    using TRecord = std::shared_ptr<TProcessInfo>;

    TProcessInfos();
    virtual ~TProcessInfos();
    TProcessInfos(const TProcessInfos&) = delete;
    TProcessInfos& operator=(const TProcessInfos&) = delete;

    void Refresh();
    int Count() const;
    TRecord Items(int index) const;
    int IndexOfProcess(DWORD processId) const;
    TRecord FindProcess(DWORD processId) const;
    // The records as they stand now, kept alive by the copy.
    std::vector<TRecord> Snapshot() const;

protected:
    // The native snapshot; false when it could not be taken (the list then stays as it is).
    virtual bool QuerySnapshot(std::vector<BYTE>& buffer);
    // A new record for a process that appeared; raises when the process cannot be opened.
    virtual TRecord OpenProcessRecord(DWORD processId, const std::string& fileName);

private:
    using TQuery = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    TUniqueModule FNtDll;
    TQuery FQuerySystemInformation = nullptr;
    mutable std::recursive_mutex FLock;
    TOwningList<TProcessInfo, TRecord> FItems;
    std::vector<BYTE> FSnapshot;
};

// The one process list of the program.
TProcessInfos& ProcessList();

// Whether an open process is a 64-bit program.
bool IsProcess64(HANDLE process);

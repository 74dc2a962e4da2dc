// The traced process and the modules it loaded during a session. Addresses in the
// traced process are 64-bit values whatever the bitness of the tracer or the target.
#pragma once

#include "Handles.h"
#include "OwningList.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using TAddress = uint64_t;

// An address of the traced process as a pointer of this process's Win32 calls. A 32-bit
// tracer only ever traces 32-bit programs, so nothing is cut off there.
inline void* AddressPointer(TAddress address) { return reinterpret_cast<void*>(static_cast<uintptr_t>(address)); }
inline TAddress PointerAddress(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

class TModuleInfo {
public:
    // The record owns fileHandle (none: nothing to close).
    TModuleInfo(TAddress base, HANDLE fileHandle, std::string fileName = {});

    TAddress Base;
    TUniqueHandle FileHandle;
    // Full file name, taken when the module loaded: at unload it can no longer be asked for.
    std::string FileName;
};

// One process of the machine, with the modules it loaded during a session.
class TProcessInfo : public TOwningList<TModuleInfo> {
public:
    // Opens the process with all access rights; raises EOSError when that fails.
    TProcessInfo(DWORD processId, std::string fileName);
    // Adopts an already opened handle (none for a process made of bytes in tests).
    TProcessInfo(DWORD processId, std::string fileName, HANDLE handle);

    std::string FileName;
    DWORD ProcessId;
    TUniqueHandle Handle;
    bool Seen = false;
    // A 64-bit program (on a 64-bit system, one that does not run under WOW64).
    bool Is64 = false;

    // Assertion failure of unit SysProcs for a base already listed.
    void AddModule(TAddress base, HANDLE fileHandle, const std::string& fileName = {});
    int IndexOfModule(TAddress base) const;
    TModuleInfo* FindModule(TAddress base) const;

    uint32_t ReadDword(TAddress address);
    uint64_t ReadQword(TAddress address);
    // Exactly size bytes from address. Long texts are read in bounded pieces and a
    // size beyond MaxStringRead is refused, so a garbage length costs neither
    // gigabytes nor a crash; every failure raises EOSError.
    std::string ReadString(TAddress address, uint64_t size);
    static constexpr uint64_t MaxStringRead = 16u << 20;

    // Memory and state of the process; virtual so that bookkeeping can be tested
    // against a process made of bytes. Failures raise EOSError.
    virtual void ReadMemory(TAddress address, void* buffer, size_t size);
    virtual void WriteMemory(TAddress address, const void* buffer, size_t size);
    virtual bool IsRunning();
    // True when address lies in committed memory the program may execute.
    virtual bool IsExecutable(TAddress address);
    // The end of the memory the program may read from address on (the end of its
    // region), or address itself when the program could not read the byte there.
    virtual TAddress ReadableEnd(TAddress address);
};

// Reads of the traced program's memory that give only what the program itself could
// read. Under Wine ReadProcessMemory of another process succeeds on a reserved page
// (giving zeros) and on a no-access page (giving its real bytes), so a read alone proves
// nothing: the pages' state and protection are asked first. What they say holds while
// the program stands still, so one reader serves one stop of the program and keeps what
// it learnt for the reads after.
class TSafeReader {
public:
    explicit TSafeReader(TProcessInfo& process) : FProcess(process) {}
    // Exactly size bytes at address into buffer; false when any of them cannot be read.
    bool Read(TAddress address, void* buffer, size_t size);
    bool Read(TAddress address, size_t size, std::string& bytes);
    // Up to size bytes at address: as many as can be read in a row from address on.
    std::string ReadPrefix(TAddress address, size_t size);

private:
    // The readable span that begins at or before address and goes beyond it, asked for
    // once; false when address cannot be read.
    bool Readable(TAddress address, TAddress& end);
    TProcessInfo& FProcess;
    // Readable spans [first, second) learnt so far.
    std::vector<std::pair<TAddress, TAddress>> FSpans;
};

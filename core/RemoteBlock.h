// Memory of ours in the traced process: a move-only owner of one block that
// VirtualAllocEx made there. The owner frees the block when it is reset or destroyed; a
// block that must outlive the session (code a thread may still be running through) is
// kept only by saying so, with Release.
#pragma once

#include "SysProcs.h"

#include <windows.h>

#include "Handles.h"

#include <cstddef>

class TRemoteBlock {
public:
    TRemoteBlock() = default;
    TRemoteBlock(const TRemoteBlock&) = delete;
    TRemoteBlock& operator=(const TRemoteBlock&) = delete;
    TRemoteBlock(TRemoteBlock&& other) noexcept;
    TRemoteBlock& operator=(TRemoteBlock&& other) noexcept;
    ~TRemoteBlock() { reset(); }

    // size bytes committed in process with protection protect, at address at (0: where
    // the system likes); an empty owner when the system refuses. process must outlive
    // the owner.
    static TRemoteBlock Allocate(HANDLE process, size_t size, DWORD protect, TAddress at = 0);

    TAddress get() const { return FBase; }
    explicit operator bool() const { return FBase != 0; }
    // Frees the block (a failure, as in a process that has ended, is of no concern).
    void reset();
    // Left in the program on purpose: calls in flight may still return through it, or
    // the system holds on to it (a 64-bit program's registered unwind data). The owner
    // is empty afterwards; the block's address is returned.
    TAddress Release();

private:
    TRemoteBlock(HANDLE process, TAddress base) : FProcess(process), FBase(base) {}
    HANDLE FProcess = nullptr;
    TAddress FBase = 0;
};

// Memory shared with the traced process: one section, mapped into the program and into
// the debugger. The debugger reads and writes it as its own memory, with no call into
// the system per access, and still reads it after the program has ended. The owner
// unmaps both views; Keep leaves the program's view in place on purpose (stubs of calls
// in flight may still write there), the debugger's own goes with the owner.
class TSharedBlock {
public:
    TSharedBlock() = default;
    TSharedBlock(const TSharedBlock&) = delete;
    TSharedBlock& operator=(const TSharedBlock&) = delete;
    TSharedBlock(TSharedBlock&& other) noexcept;
    TSharedBlock& operator=(TSharedBlock&& other) noexcept;
    ~TSharedBlock() { reset(); }

    // size bytes of zeros, readable and writable in both processes; low: the program's
    // view must lie below 4 GiB (a 32-bit program of a 64-bit debugger). An empty owner
    // when the system refuses. process must outlive the owner.
    static TSharedBlock Map(HANDLE process, size_t size, bool low);

    // The program's address of the block, and ours.
    TAddress get() const { return FBase; }
    unsigned char* Local() const { return FLocal; }
    explicit operator bool() const { return FBase != 0; }
    void reset();
    void Keep() { FKept = true; }

private:
    HANDLE FProcess = nullptr;
    TUniqueHandle FSection;
    unsigned char* FLocal = nullptr;
    TAddress FBase = 0;
    bool FKept = false;
};

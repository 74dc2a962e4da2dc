// Memory of ours in the traced process: a move-only owner of one block that
// VirtualAllocEx made there. The owner frees the block when it is reset or destroyed; a
// block that must outlive the session (code a thread may still be running through) is
// kept only by saying so, with Release.
#pragma once

#include "SysProcs.h"

#include <windows.h>

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

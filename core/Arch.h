// What differs between the machines the tracer debugs: the register context of a
// stopped thread, where a call's arguments are, and the stack after a return.
#pragma once

#include "SysProcs.h"

#include <windows.h>

#include <cstdint>
#include <string>

constexpr uint32_t TrapFlag = 0x100;

// The register context of one stopped thread, read once per event and written back
// only when something in it changed.
class TThreadContext {
public:
    // wow64: the thread is a 32-bit thread of a 64-bit tracer.
    TThreadContext(HANDLE thread, bool wow64);

    // Reads the control and integer registers; raises EOSError on failure.
    void Read();
    // Writes them back if anything changed; raises EOSError on failure.
    void Flush();
    bool Changed() const { return FChanged; }

    bool Is64() const;

    TAddress Ip() const;
    void SetIp(TAddress ip);
    TAddress Sp() const;
    void SetSp(TAddress sp);
    uint32_t Flags() const;
    void SetFlags(uint32_t flags);
    // A general register by its encoding index (ax, cx, dx, bx, sp, bp, si, di, r8...).
    uint64_t Reg(int index) const;
    void SetReg(int index, uint64_t value);
    // The 32-bit return value of a call that has just returned.
    uint32_t Result() const { return static_cast<uint32_t>(Reg(0)); }

private:
    HANDLE FThread;
    bool FWow64;
    bool FChanged = false;
#ifdef _WIN64
    CONTEXT FContext;
    WOW64_CONTEXT FWowContext;
#else
    CONTEXT FContext;
#endif
};

// The arguments of a call stopped at its entry, counted in machine words (an 8-byte
// argument of a 32-bit program takes two).
class TCallFrame {
public:
    // The most argument words a frame holds; its slots are the return address and they.
    static constexpr int MaxWords = 15;
    static constexpr int SlotCount = MaxWords + 1;
    // A call of words argument words stopped at its entry: the return address and those
    // words are read in one read; should that fail, each is read alone when asked,
    // raising that read's error.
    TCallFrame(TProcessInfo& process, const TThreadContext& context, int words);
    // A frame whose first known slots are already known (the return address, then the
    // arguments), as a stub reports or logs them. Slots beyond are read from the stack at
    // sp when asked, which holds them only while the call waits at its entry.
    TCallFrame(TProcessInfo& process, bool is64, TAddress sp, const uint64_t* slots, int known);

    // The thread that made the call.
    DWORD ThreadId = 0;

    TAddress Sp() const { return FSp; }
    TAddress ReturnAddress() { return Slot(0); }
    // Argument word n, counted from 1.
    uint64_t Arg(int n);
    // The same, cut to its low 32 bits (a ub4, a sword or a 32-bit pointer).
    uint32_t Arg32(int n) { return static_cast<uint32_t>(Arg(n)); }
    // A pointer-sized argument.
    TAddress Pointer(int n) { return Arg(n); }
    bool Is64() const { return FIs64; }

    // The stack pointer after the call has returned to its caller.
    TAddress SpAfterReturn() const { return FSp + (FIs64 ? 8 : 4); }

    // size bytes at address in the traced process, or as they were copied at the time of
    // the call (Capture) for a call that reaches the tracer late.
    std::string Bytes(TAddress address, uint64_t size);
    void Capture(TAddress address, std::string bytes);

private:
    uint64_t Slot(int index);
    TProcessInfo& FProcess;
    TAddress FSp;
    bool FIs64;
    // x64 at an int3: the first four arguments as the registers held them. A stub puts
    // them in the caller's home space, where they are slots like the others.
    bool FInRegisters = false;
    uint64_t FRegisterArgs[4] = {};
    unsigned char FSlots[SlotCount * 8] = {};
    // Slots held in FSlots, from the first.
    int FKnown = 0;
    // Nothing captured reads as an empty capture at 0: what reading no bytes gives anyway.
    TAddress FCapturedAt = 0;
    std::string FCapturedBytes;
};

// The first instruction of an entry point, carried out by the tracer instead of being
// single-stepped when it moves no flags and touches at most the stack: the thread then
// goes on behind it and the breakpoint stays armed, so that no other thread can pass
// unseen meanwhile. code holds the instruction's first bytes. False when the
// instruction is not one of those (it must then be stepped).
bool EmulateFirstInstruction(TProcessInfo& process, TThreadContext& context, TAddress address,
                             const unsigned char* code, size_t size);

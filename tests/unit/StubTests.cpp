// The fast hooks' machine code: which first instructions may be moved, and the stubs
// themselves, run in this process on functions written here (in this build's bitness).
// A vectored handler plays the debugger: it sees the reports and lets them continue.
#include "Stubs.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr bool X64 = sizeof(void*) == 8;

size_t Movable(const std::string& bytes, bool x64)
{
    return MovableLength(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), x64);
}

} // namespace

TEST(StubCode, UsualProloguesAreMovedByWholeInstructions)
{
    // 32-bit: push ebp; mov ebp, esp; push edi ...
    EXPECT_EQ(Movable(std::string("\x55\x89\xE5\x57\x56\x53", 6), false), 5u);
    // mov edi, edi; push ebp; mov ebp, esp (the hot-patchable form)
    EXPECT_EQ(Movable(std::string("\x8B\xFF\x55\x8B\xEC\x90", 6), false), 5u);
    // mov eax, [esp+4]; sub esp, 0x1C: SIB and disp8, then imm8
    EXPECT_EQ(Movable(std::string("\x8B\x44\x24\x04\x83\xEC\x1C", 7), false), 7u);
    // push ebp; mov ebp, esp; sub esp, 0x200 (imm32): the jump ends inside the sub
    EXPECT_EQ(Movable(std::string("\x55\x89\xE5\x81\xEC\x00\x02\x00\x00", 9), false), 9u);
    // push ebp; push ebx; mov eax, [0x1234] (an absolute disp32 runs anywhere)
    EXPECT_EQ(Movable(std::string("\x55\x53\x8B\x05\x34\x12\x00\x00", 8), false), 8u);

    // 64-bit: mov [rsp+8], rbx; push rdi
    EXPECT_EQ(Movable(std::string("\x48\x89\x5C\x24\x08\x57", 6), true), 5u);
    // push rbp; mov rbp, rsp; pop rbp (a thunk's prologue)
    EXPECT_EQ(Movable(std::string("\x55\x48\x89\xE5\x5D\xE9\x00\x00\x00\x00", 10), true), 5u);
    // sub rsp, 0x28; mov rax, imm64
    EXPECT_EQ(Movable(std::string("\x48\x83\xEC\x28\x48\xB8\x01\x02\x03\x04\x05\x06\x07\x08", 14), true), 14u);
    // REX push: push rbx (40 53); push r12 (41 54); sub rsp, 0x20
    EXPECT_EQ(Movable(std::string("\x40\x53\x41\x54\x48\x83\xEC\x20", 8), true), 8u);
}

TEST(StubCode, InstructionsThatDependOnWhereTheyRunAreNotMoved)
{
    // Relative call and jumps within the first five bytes.
    EXPECT_EQ(Movable(std::string("\x55\xE8\x00\x00\x00\x00", 6), false), 0u);
    EXPECT_EQ(Movable(std::string("\xE9\x10\x00\x00\x00", 5), false), 0u);
    EXPECT_EQ(Movable(std::string("\x55\x89\xE5\x74\x02\x90", 6), false), 0u);
    // An int3 of another debugger, a prefix, an indirect jump through memory.
    EXPECT_EQ(Movable(std::string("\xCC\x89\xE5\x57\x56\x53", 6), false), 0u);
    EXPECT_EQ(Movable(std::string("\x66\x90\x55\x89\xE5\x57", 6), false), 0u);
    EXPECT_EQ(Movable(std::string("\xFF\x25\x00\x10\x40\x00", 6), false), 0u);
    // 64-bit: mov rax, [rip+X] and lea rcx, [rip+X] mean another place elsewhere.
    EXPECT_EQ(Movable(std::string("\x48\x8B\x05\x10\x00\x00\x00\x90", 8), true), 0u);
    EXPECT_EQ(Movable(std::string("\x55\x48\x8D\x0D\x10\x00\x00\x00", 8), true), 0u);
    // The same bytes in 32-bit code are an absolute address: movable there.
    EXPECT_EQ(Movable(std::string("\x8B\x05\x10\x00\x00\x00", 6), false), 6u);
    // An instruction cut off by the end of what was read.
    EXPECT_EQ(Movable(std::string("\x55\x81\xEC\x00", 4), false), 0u);
}

TEST(StubCode, EntryJumpsReachTwoGigabytesEitherWay)
{
    unsigned char jump[5];
    int32_t rel;
    ASSERT_TRUE(BuildEntryJump(0x10000000, 0x10001000, jump));
    EXPECT_EQ(jump[0], 0xE9);
    std::memcpy(&rel, jump + 1, 4);
    EXPECT_EQ(rel, 0x1000 - 5);
    // Backwards, just within reach.
    ASSERT_TRUE(BuildEntryJump(0x7FF000000000, 0x7FEF80000010, jump));
    std::memcpy(&rel, jump + 1, 4);
    EXPECT_EQ(rel, -0x7FFFFFF0 - 5);
    EXPECT_FALSE(BuildEntryJump(0x7FF000000000, 0x7FE000000000, jump)) << "64 GiB away";
    EXPECT_FALSE(BuildEntryJump(0x10000000, 0x90000010, jump)) << "just over 2 GiB ahead";
}

// ---------------------------------------------------------------------------
// Stubs at work

namespace {

struct TReport {
    DWORD Code;
    std::vector<uint64_t> Params;
    std::vector<uint64_t> Frames;
};
std::vector<TReport> Reports;

LONG CALLBACK CatchReport(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != StubEntryCode && record->ExceptionCode != StubReturnCode)
        return EXCEPTION_CONTINUE_SEARCH;
    TReport report{record->ExceptionCode, {}, {}};
    for (DWORD i = 0; i < record->NumberParameters; ++i)
        report.Params.push_back(record->ExceptionInformation[i]);
#ifdef _WIN64
    // The first frames as an unwinder sees them from the raise, through the stub.
    CONTEXT context = *pointers->ContextRecord;
    for (int i = 0; i < 4 && context.Rip; ++i) {
        DWORD64 base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData, &establisher,
                             nullptr);
        } else {
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
        }
        report.Frames.push_back(context.Rip);
    }
#endif
    Reports.push_back(report);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Hand-written functions, each with a movable prologue, hooked through a stub page in
// one allocation with them (within a jump's reach).
class StubRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        FMemory = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, TStubPageLayout::Size + 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
        ASSERT_NE(FMemory, nullptr);
        FPage = reinterpret_cast<uintptr_t>(FMemory);
        auto address = [](const char* module, const char* name) {
            return reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA(module), name));
        };
        std::vector<unsigned char> header = BuildPageHeader(FPage, address("kernel32.dll", "RaiseException"),
                                                            address("ntdll.dll", "RtlAddFunctionTable"), X64);
        std::memcpy(FMemory, header.data(), header.size());
        if (X64) {
            // What the tracer has a thread of the program do.
            FlushInstructionCache(GetCurrentProcess(), FMemory, header.size());
            reinterpret_cast<DWORD(WINAPI*)(void*)>(FMemory + TStubPageLayout::RegisterOffset)(nullptr);
        }
        FHandler = AddVectoredExceptionHandler(1, CatchReport);
        Reports.clear();
    }
    void TearDown() override
    {
#ifdef _WIN64
        RtlDeleteFunctionTable(reinterpret_cast<PRUNTIME_FUNCTION>(FMemory + TStubPageLayout::TableOffset));
#endif
        RemoveVectoredExceptionHandler(FHandler);
        VirtualFree(FMemory, 0, MEM_RELEASE);
    }

    // Writes code as function number n and hooks it through slot n; returns its address.
    uintptr_t Hook(int n, const std::string& code)
    {
        unsigned char* entry = FMemory + TStubPageLayout::Size + 0x100 * n;
        std::memcpy(entry, code.data(), code.size());
        size_t moved = MovableLength(entry, code.size(), X64);
        EXPECT_GE(moved, 5u);
        TStubCode stub = BuildStubCode(FPage, n, reinterpret_cast<uintptr_t>(entry), entry, moved, X64);
        std::memcpy(FMemory + (TStubPageLayout::Slot(FPage, n) - FPage), stub.Bytes.data(), stub.Bytes.size());
        unsigned char jump[5];
        EXPECT_TRUE(BuildEntryJump(reinterpret_cast<uintptr_t>(entry), stub.Stub, jump));
        std::memcpy(entry, jump, 5);
        FlushInstructionCache(GetCurrentProcess(), FMemory, TStubPageLayout::Size + 0x1000);
        return reinterpret_cast<uintptr_t>(entry);
    }

    // Runs body as if a debugger were attached (the stubs look at the PEB's flag).
    template <class TBody>
    void Debugged(TBody body)
    {
        BOOLEAN& flag = NtCurrentTeb()->ProcessEnvironmentBlock->BeingDebugged;
        BOOLEAN before = flag;
        flag = 1;
        body();
        flag = before;
    }

    unsigned char* FMemory = nullptr;
    uintptr_t FPage = 0;
    void* FHandler = nullptr;
};

#ifdef _WIN64
using TArg = int64_t;
// a + b + c + e - j: registers, the fifth and the tenth argument.
const std::string Sum(
    "\x55\x48\x89\xE5"      // push rbp; mov rbp, rsp
    "\x48\x8D\x04\x11"      // lea rax, [rcx+rdx]
    "\x4C\x01\xC0"          // add rax, r8
    "\x48\x03\x45\x30"      // add rax, [rbp+0x30]
    "\x48\x2B\x45\x58"      // sub rax, [rbp+0x58]
    "\x5D\xC3", 21);
TArg Expected(const TArg (&a)[10]) { return a[0] + a[1] + a[2] + a[4] - a[9]; }
#else
using TArg = int32_t;
// a + b + c + e - j, cdecl.
const std::string Sum(
    "\x55\x89\xE5"          // push ebp; mov ebp, esp
    "\x8B\x45\x08"          // mov eax, [ebp+8]
    "\x03\x45\x0C"          // add eax, [ebp+0xC]
    "\x03\x45\x10"          // add eax, [ebp+0x10]
    "\x03\x45\x18"          // add eax, [ebp+0x18]
    "\x2B\x45\x2C"          // sub eax, [ebp+0x2C]
    "\x5D\xC3", 20);
TArg Expected(const TArg (&a)[10]) { return a[0] + a[1] + a[2] + a[4] - a[9]; }
#endif
using TSum = TArg (*)(TArg, TArg, TArg, TArg, TArg, TArg, TArg, TArg, TArg, TArg);

TArg CallSum(uintptr_t entry, const TArg (&a)[10])
{
    return reinterpret_cast<TSum>(entry)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
}

} // namespace

TEST_F(StubRun, ACallIsReportedWithItsArgumentsAndResult)
{
    uintptr_t entry = Hook(0, Sum);
    const TArg args[10] = {1000, 200, 30, 4, 50000, 6, 7, 8, 9, 123};
    TArg result = 0;
    Debugged([&] { result = CallSum(entry, args); });
    EXPECT_EQ(result, Expected(args));
    ASSERT_EQ(Reports.size(), 2u);

    const TReport& in = Reports[0];
    ASSERT_EQ(in.Code, StubEntryCode);
    ASSERT_EQ(in.Params.size(), static_cast<size_t>(StubEntryParams));
    EXPECT_EQ(in.Params[StubParamPage], FPage);
    EXPECT_EQ(in.Params[StubParamSlot], 0u);
    EXPECT_NE(in.Params[StubParamReturn], 0u) << "the caller's return address";
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(static_cast<TArg>(in.Params[StubParamFirstArg + i]), args[i]) << "argument " << i + 1;

    const TReport& out = Reports[1];
    ASSERT_EQ(out.Code, StubReturnCode);
    ASSERT_EQ(out.Params.size(), static_cast<size_t>(StubReturnParams));
    EXPECT_EQ(out.Params[StubParamEntrySp], in.Params[StubParamEntrySp]) << "one call, one stack position";
    EXPECT_EQ(static_cast<TArg>(out.Params[StubParamReturn]), Expected(args));

    // An exception raised inside the call unwinds through the stub to its caller.
    if (X64) {
        const auto& frames = in.Frames;
        EXPECT_NE(std::find(frames.begin(), frames.end(), in.Params[StubParamReturn]), frames.end())
            << "the caller's return address is not on the unwound stack (" << frames.size() << " frames)";
    }
}

TEST_F(StubRun, WithoutADebuggerOrWithTheGuardClearedTheCallRunsUnreported)
{
    uintptr_t entry = Hook(1, Sum);
    const TArg args[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    // Guard set, no debugger: the tracer has gone.
    EXPECT_EQ(CallSum(entry, args), Expected(args));
    // Debugger there, guard cleared: the tracer has let go of the process.
    FMemory[TStubPageLayout::GuardOffset] = 0;
    TArg result = 0;
    Debugged([&] { result = CallSum(entry, args); });
    EXPECT_EQ(result, Expected(args));
    EXPECT_TRUE(Reports.empty());
}

#ifndef _WIN64
// The stub takes from the caller's stack what the original took from the copies: nothing
// for cdecl, its arguments for stdcall.
TEST_F(StubRun, AStdcallOriginalHasItsArgumentsPoppedFromTheCallersStack)
{
    const std::string sum3("\x55\x89\xE5\x8B\x45\x08\x03\x45\x0C\x03\x45\x10\x5D\xC2\x0C\x00", 16);  // ret 12
    using TSum3 = int(__stdcall*)(int, int, int);
    auto sum = reinterpret_cast<TSum3>(Hook(2, sum3));
    Debugged([&] {
        for (int i = 0; i < 100; ++i) {
            uintptr_t before, after;
            asm volatile("mov %%esp, %0" : "=r"(before));
            int result = sum(i, 20, 300);
            asm volatile("mov %%esp, %0" : "=r"(after));
            ASSERT_EQ(result, i + 320);
            ASSERT_EQ(after, before) << "the stack pointer after a stdcall call";
        }
    });
    EXPECT_EQ(Reports.size(), 200u);
}
#endif

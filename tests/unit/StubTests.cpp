// The fast hooks' machine code: which first instructions may be moved, and the stubs
// themselves, run in this process on functions written here (in this build's bitness).
// A vectored handler plays the debugger: it sees the reports and lets them continue.
#include "Stubs.h"
#include "X86Writer.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr bool X64 = sizeof(void*) == 8;

TStubSpec Spec(int words, const TLateEntry& late = {}, const TEntryFilter& filter = {})
{
    return TStubSpec{words, late, filter, false};
}

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

// Single instructions as they stand behind calls (where a thread runs one out of line):
// the length of the first instruction, or 0.
TEST(StubCode, InstructionsBehindCallsHaveTheirLengths)
{
    struct TCase {
        const char* Bytes;
        size_t Size;
        bool X64;
        size_t Length;
    };
    const TCase cases[] = {
        {"\xC6\x46\x1C\x01", 4, false, 4},                  // mov byte [esi+0x1C], 1
        {"\x83\xF8\xFF", 3, false, 3},                      // cmp eax, -1
        {"\x8B\x95\xD8\xFE\xFF\xFF", 6, false, 6},          // mov edx, [ebp-0x128]
        {"\xA3\x00\x33\x53\x00", 5, false, 5},              // mov [0x533300], eax
        {"\xA1\x00\x33\x53\x00\x00\x00\x00\x00", 9, true, 9},  // 64-bit: mov eax, [abs64]
        {"\x85\xC0", 2, false, 2},                          // test eax, eax
        {"\x84\xC0", 2, false, 2},                          // test al, al
        {"\x3D\x64\x00\x00\x00", 5, false, 5},              // cmp eax, 100
        {"\x3C\x01", 2, false, 2},                          // cmp al, 1
        {"\xA9\x00\x01\x00\x00", 5, false, 5},              // test eax, 0x100
        {"\x0F\xB6\xC0", 3, false, 3},                      // movzx eax, al
        {"\x0F\xBF\x44\x24\x08", 5, false, 5},              // movsx eax, word [esp+8]
        {"\x0F\x84\x00\x01\x00\x00", 6, false, 0},          // je rel32: relative
        {"\x6B\xC0\x0C", 3, false, 3},                      // imul eax, eax, 12
        {"\xC1\xE0\x04", 3, false, 3},                      // shl eax, 4
        {"\xD1\xF8", 2, false, 2},                          // sar eax, 1
        {"\xC9", 1, false, 1},                               // leave
        {"\x99", 1, false, 1},                               // cdq
        {"\x48\x98", 2, true, 2},                           // cdqe
        {"\x80\x7D\xF0\x00", 4, false, 4},                  // cmp byte [ebp-0x10], 0
        {"\x48\x63\xC8", 3, true, 0},                       // movsxd: not among the known
        {"\x88\x05\x10\x00\x00\x00", 6, true, 0},          // 64-bit mov [rip+X], al
        {"\xC6\x46\x1C", 3, false, 0},                      // cut off
        {"\xC6\x4E\x1C\x01", 4, false, 0},                  // C6 /1: no such instruction
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MovableLength(reinterpret_cast<const unsigned char*>(c.Bytes), c.Size, c.X64, 1), c.Length)
            << "bytes of case " << (&c - cases);
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

// The encoders, one instruction each, at a known address: the forms where encodings go
// wrong (REX bits, rsp/r12 needing a SIB, rbp/r13 needing a displacement, rip-relative
// operands with an immediate behind them, eax's short forms in 32-bit code, the forms
// asked for). The mnemonics are objdump's for the bytes.
TEST(X86Writer, EachEncoderMakesItsInstructionsBytes)
{
    using namespace X86;
    constexpr TAddress Base32 = 0x10000000, Base64 = 0x7FFB00000000;
    struct TCase {
        bool X64;
        const char* Mnemonic;
        std::function<void(TX86Writer&)> Put;
        std::vector<unsigned char> Bytes;
    };
    using W = TX86Writer&;
    const TCase cases[] = {
        {false, "mov ebp, esp", [](W w) { w.PutMovRegReg(Xbp, Xsp); }, {0x89, 0xE5}},
        {true, "mov rbp, rsp", [](W w) { w.PutMovRegReg(Xbp, Xsp); }, {0x48, 0x89, 0xE5}},
        {true, "mov r11d, eax", [](W w) { w.PutMovRegReg(R11d, Eax); }, {0x41, 0x89, 0xC3}},
        {false, "mov eax, ds:0xc00000", [](W w) { w.PutMovRegMem(Eax, At(0xC00000)); }, {0xA1, 0x00, 0x00, 0xC0, 0x00}},
        {false, "mov ecx, [ebp-0xc]", [](W w) { w.PutMovRegMem(Ecx, Mem(Ebp, -12)); }, {0x8B, 0x4D, 0xF4}},
        {false, "mov eax, [esp+0x4]", [](W w) { w.PutMovRegMem(Eax, Mem(Esp, 4)); }, {0x8B, 0x44, 0x24, 0x04}},
        {false, "mov [ebx], eax", [](W w) { w.PutMovMemReg(Mem(Ebx), Eax); }, {0x89, 0x03}},
        {false, "mov [esp+ecx*1+0x4], eax", [](W w) { w.PutMovMemReg(Mem(Esp, Ecx, 4), Eax); }, {0x89, 0x44, 0x0C, 0x04}},
        {false, "mov esi, [ebp+0x200]", [](W w) { w.PutMovRegMem(Esi, Mem(Ebp, 0x200)); }, {0x8B, 0xB5, 0x00, 0x02, 0x00, 0x00}},
        {true, "mov eax, [r10+0x0]", [](W w) { w.PutMovRegMem(Eax, Mem(R10, 0).AsDisp8()); }, {0x41, 0x8B, 0x42, 0x00}},
        {true, "mov r9, [rsp+0x20]", [](W w) { w.PutMovRegMem(R9, Mem(Rsp, 32)); }, {0x4C, 0x8B, 0x4C, 0x24, 0x20}},
        {true, "mov [r11], r9d", [](W w) { w.PutMovMemReg(Mem(R11), R9d); }, {0x45, 0x89, 0x0B}},
        {true, "mov al, [r8]", [](W w) { w.PutMovRegMem(Al, Mem(R8)); }, {0x41, 0x8A, 0x00}},
        {true, "mov [rdx], al", [](W w) { w.PutMovMemReg(Mem(Rdx), Al); }, {0x88, 0x02}},
        {true, "movabs r10, 0x1122334455667788", [](W w) { w.PutMovRegImm(R10, 0x1122334455667788); },
         {0x49, 0xBA, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
        {true, "mov r8d, 0xf", [](W w) { w.PutMovRegImm(R8d, 15); }, {0x41, 0xB8, 0x0F, 0x00, 0x00, 0x00}},
        {true, "mov QWORD PTR [rsp+0x98], 0x3", [](W w) { w.PutMovMemImm(Qword(Mem(Rsp, 0x98)), 3); },
         {0x48, 0xC7, 0x84, 0x24, 0x98, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00}},
        {true, "mov DWORD PTR [r11+0x10], 0x0", [](W w) { w.PutMovMemImm(Dword(Mem(R11, 0x10)), 0); },
         {0x41, 0xC7, 0x43, 0x10, 0x00, 0x00, 0x00, 0x00}},
        {false, "mov eax, fs:0x30", [](W w) { w.PutMovRegThreadBlock(Xax, 0x30); }, {0x64, 0xA1, 0x30, 0x00, 0x00, 0x00}},
        {true, "mov rax, gs:0x60", [](W w) { w.PutMovRegThreadBlock(Xax, 0x60); },
         {0x65, 0x48, 0x8B, 0x04, 0x25, 0x60, 0x00, 0x00, 0x00}},
        {true, "lea r11, [r10+r11*1+0x40]", [](W w) { w.PutLeaRegMem(R11, Mem(R10, R11, 0x40).AsDisp32()); },
         {0x4F, 0x8D, 0x9C, 0x1A, 0x40, 0x00, 0x00, 0x00}},
        {true, "lea r9d, [rax+0x1]", [](W w) { w.PutLeaRegMem(R9d, Mem(Rax, 1)); }, {0x44, 0x8D, 0x48, 0x01}},
        {true, "lea rcx, [rip+0xff9] (the 0x1000 after the base)", [](W w) { w.PutLeaRegMem(Rcx, At(Base64 + 0x1000)); },
         {0x48, 0x8D, 0x0D, 0xF9, 0x0F, 0x00, 0x00}},
        {false, "sub ecx, ebx", [](W w) { w.PutAluRegReg(TAlu::Sub, Ecx, Ebx); }, {0x29, 0xD9}},
        {false, "sbb edx, [ebp-0x8]", [](W w) { w.PutAluRegMem(TAlu::Sbb, Edx, Mem(Ebp, -8)); }, {0x1B, 0x55, 0xF8}},
        {false, "add esp, 0x10", [](W w) { w.PutAluRegImm(TAlu::Add, Xsp, 16); }, {0x83, 0xC4, 0x10}},
        {true, "sub rsp, 0x110", [](W w) { w.PutAluRegImm(TAlu::Sub, Xsp, 0x110); }, {0x48, 0x81, 0xEC, 0x10, 0x01, 0x00, 0x00}},
        {true, "cmp r9d, 0x4", [](W w) { w.PutAluRegImm32(TAlu::Cmp, R9d, 4); }, {0x41, 0x81, 0xF9, 0x04, 0x00, 0x00, 0x00}},
        {false, "cmp BYTE PTR ds:0x10000000, 0x0", [](W w) { w.PutAluMemImm8(TAlu::Cmp, At(Base32, 1), 0); },
         {0x80, 0x3D, 0x00, 0x00, 0x00, 0x10, 0x00}},
        {true, "cmp BYTE PTR [rip+0xff9], 0x0 (the 0x1000 after the base)",
         [](W w) { w.PutAluMemImm8(TAlu::Cmp, At(Base64 + 0x1000, 1), 0); }, {0x80, 0x3D, 0xF9, 0x0F, 0x00, 0x00, 0x00}},
        {true, "cmp QWORD PTR [rbp+0x20], 0x0", [](W w) { w.PutAluMemImm8(TAlu::Cmp, Qword(Mem(Rbp, 32)), 0); },
         {0x48, 0x83, 0x7D, 0x20, 0x00}},
        {true, "cmp DWORD PTR [rsp+0x28], 0x4", [](W w) { w.PutAluMemImm32(TAlu::Cmp, Dword(Mem(Rsp, 40)), 4); },
         {0x81, 0x7C, 0x24, 0x28, 0x04, 0x00, 0x00, 0x00}},
        {true, "test ecx, ecx", [](W w) { w.PutTestRegReg(Ecx, Ecx); }, {0x85, 0xC9}},
        {true, "shl r11, 0xb", [](W w) { w.PutShlRegImm(R11, 11); }, {0x49, 0xC1, 0xE3, 0x0B}},
        {true, "shr rdx, 0x20", [](W w) { w.PutShrRegImm(Rdx, 32); }, {0x48, 0xC1, 0xEA, 0x20}},
        {false, "inc eax", [](W w) { w.PutIncReg(Eax); }, {0x40}},
        {true, "inc r8", [](W w) { w.PutIncReg(R8); }, {0x49, 0xFF, 0xC0}},
        {true, "dec ecx", [](W w) { w.PutDecReg(Ecx); }, {0xFF, 0xC9}},
        {true, "lock cmpxchg [r10+0x0], edx", [](W w) { w.PutLockCmpxchgMemReg(Mem(R10, 0).AsDisp8(), Edx); },
         {0xF0, 0x41, 0x0F, 0xB1, 0x52, 0x00}},
        {true, "push r9", [](W w) { w.PutPushReg(R9); }, {0x41, 0x51}},
        {false, "pop esi", [](W w) { w.PutPopReg(Esi); }, {0x5E}},
        {false, "push 0xf", [](W w) { w.PutPushImm8(15); }, {0x6A, 0x0F}},
        {false, "push 0x3", [](W w) { w.PutPushImm32(3); }, {0x68, 0x03, 0x00, 0x00, 0x00}},
        {false, "push DWORD PTR [ebp+0x8]", [](W w) { w.PutPushMem(Mem(Ebp, 8)); }, {0xFF, 0x75, 0x08}},
        {false, "call DWORD PTR ds:0x10000008", [](W w) { w.PutCallMem(At(Base32 + 8)); }, {0xFF, 0x15, 0x08, 0x00, 0x00, 0x10}},
        {false, "call 0x10001000", [](W w) { w.PutCallAddress(Base32 + 0x1000); }, {0xE8, 0xFB, 0x0F, 0x00, 0x00}},
        {true, "jmp QWORD PTR [rip+0x0]", [](W w) { w.PutJmpMem(At(w.Here() + 6)); }, {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00}},
        {false, "jmp 0x8000 (round past the top of 4 GiB)", [](W w) { w.PutJmpAddressWrapping(0x8000); },
         {0xE9, 0xFB, 0x7F, 0x00, 0xF0}},
        {true, "je forward over a nop, jmp back to it",
         [](W w) {
             int ahead = w.NewLabel(), back = w.NewLabel();
             w.PutLabel(back);
             w.PutJccLabel(Equal, ahead);
             w.PutU8(0x90);
             w.PutLabel(ahead);
             w.PutJmpLabel(back);
         },
         {0x0F, 0x84, 0x01, 0x00, 0x00, 0x00, 0x90, 0xE9, 0xF4, 0xFF, 0xFF, 0xFF}},
    };
    for (const TCase& c : cases) {
        TX86Writer w(c.X64 ? Base64 : Base32, c.X64);
        c.Put(w);
        w.Finish();
        EXPECT_EQ(w.Bytes(), c.Bytes) << (c.X64 ? "x64: " : "x86: ") << c.Mnemonic;
    }
}

// ---------------------------------------------------------------------------
// Stubs at work

namespace {

struct TReport {
    DWORD Code;
    std::vector<uint64_t> Params;
    std::vector<uint64_t> Frames;
    // Entry: the argument words on the stack above the entry stack pointer, as they are
    // while the call waits at its entry.
    std::vector<uint64_t> Stack;
    // The log's head when the report was raised: the calls logged before it.
    uint32_t LogHead;
};
std::vector<TReport> Reports;
std::mutex ReportsLock;
const volatile uint32_t* LogHeadWord = nullptr;

LONG CALLBACK CatchReport(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode != StubEntryCode && record->ExceptionCode != StubReturnCode)
        return EXCEPTION_CONTINUE_SEARCH;
    TReport report{record->ExceptionCode, {}, {}, {}, LogHeadWord ? *LogHeadWord : 0};
    for (DWORD i = 0; i < record->NumberParameters; ++i)
        report.Params.push_back(record->ExceptionInformation[i]);
    if (record->ExceptionCode == StubEntryCode) {
        const auto* words = reinterpret_cast<const uintptr_t*>(record->ExceptionInformation[StubParamEntrySp]);
        report.Stack.assign(words + 1, words + 1 + StubMaxWords);
    }
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
    std::lock_guard<std::mutex> lock(ReportsLock);
    Reports.push_back(report);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Hand-written functions, each with a movable prologue, hooked through a stub page in
// one allocation with them (within a jump's reach).
class StubRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        FMemory = static_cast<unsigned char*>(VirtualAlloc(nullptr, FunctionsEnd + TStubLogLayout::Size(),
                                                           MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
        ASSERT_NE(FMemory, nullptr);
        FPage = reinterpret_cast<uintptr_t>(FMemory);
        FLog = FPage + FunctionsEnd;
        LogHeadWord = reinterpret_cast<const volatile uint32_t*>(FLog + TStubLogLayout::HeadOffset);
        auto address = [](const char* module, const char* name) {
            return reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA(module), name));
        };
        std::vector<unsigned char> header = BuildPageHeader(
            FPage, address("kernel32.dll", "RaiseException"), address("kernel32.dll", "IsBadReadPtr"),
            address("kernel32.dll", "QueryPerformanceCounter"), address("ntdll.dll", "RtlAddFunctionTable"), X64);
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
        LogHeadWord = nullptr;
        VirtualFree(FMemory, 0, MEM_RELEASE);
    }

    // Writes code as function number n and hooks it through slot n; returns its address.
    // late: whether and how its calls go to the log instead.
    uintptr_t Hook(int n, const std::string& code, const TStubSpec& spec = Spec(10))
    {
        unsigned char* entry = FMemory + TStubPageLayout::Size + 0x100 * n;
        std::memcpy(entry, code.data(), code.size());
        size_t moved = MovableLength(entry, code.size(), X64);
        EXPECT_GE(moved, 5u);
        TStubCode stub = BuildStubCode(FPage, n, reinterpret_cast<uintptr_t>(entry), entry, moved, X64, FLog, spec);
        std::memcpy(FMemory + (TStubPageLayout::Slot(FPage, n) - FPage), stub.Bytes.data(), stub.Bytes.size());
        unsigned char jump[5];
        EXPECT_TRUE(BuildEntryJump(reinterpret_cast<uintptr_t>(entry), stub.Stub, jump));
        std::memcpy(entry, jump, 5);
        FlushInstructionCache(GetCurrentProcess(), FMemory, FunctionsEnd);
        return reinterpret_cast<uintptr_t>(entry);
    }

    // The log's words and entries.
    uint32_t& LogWord(size_t offset) { return *reinterpret_cast<uint32_t*>(FLog + offset); }
    const unsigned char* LogEntry(uint32_t number)
    {
        return reinterpret_cast<const unsigned char*>(TStubLogLayout::Entry(FLog, number));
    }
    static uint64_t Field(const unsigned char* entry, size_t offset, size_t size = 8)
    {
        uint64_t value = 0;
        std::memcpy(&value, entry + offset, size);
        return value;
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

    static constexpr size_t FunctionsEnd = TStubPageLayout::Size + 0x1000;
    unsigned char* FMemory = nullptr;
    uintptr_t FPage = 0;
    uintptr_t FLog = 0;
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
    ASSERT_EQ(in.Params.size(), static_cast<size_t>(StubEntryParams(10)));
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
    EXPECT_EQ(in.LogHead, 0u) << "nothing logged yet";
    EXPECT_EQ(out.LogHead, 0u);
    EXPECT_EQ(out.Params[StubParamElapsedHigh], 0u) << "a call of a few instructions";

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

// The return carries the original's own time, taken by the stub around it: at least the
// time the original sleeps, at most the time the caller saw the call take.
TEST_F(StubRun, TheReturnCarriesTheTimeTheCallTook)
{
    const auto sleep = reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
    std::string code;
    auto bytes = [&code](const char* text, size_t size) { code.append(text, size); };
    auto word = [&code](uint64_t value, size_t size) { code.append(reinterpret_cast<const char*>(&value), size); };
#ifdef _WIN64
    bytes("\x55\x48\x89\xE5\x48\x83\xEC\x20", 8);  // push rbp; mov rbp, rsp; sub rsp, 0x20
    bytes("\x8B\xCA", 2);                            // mov ecx, edx: the second argument
    bytes("\x48\xB8", 2);                            // mov rax, Sleep
    word(sleep, 8);
    bytes("\xFF\xD0\xC9\xC3", 4);                    // call rax; leave; ret
#else
    bytes("\x55\x89\xE5\x8B\x45\x0C\x50", 7);  // push ebp; mov ebp, esp; mov eax, [ebp+0xC]; push eax
    bytes("\xB9", 1);                           // mov ecx, Sleep
    word(sleep, 4);
    bytes("\xFF\xD1\x5D\xC3", 4);               // call ecx; pop ebp; ret
#endif
    uintptr_t entry = Hook(8, code);
    const TArg args[10] = {0, 60};
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    Debugged([&] {
        QueryPerformanceCounter(&before);
        CallSum(entry, args);
        QueryPerformanceCounter(&after);
    });
    ASSERT_EQ(Reports.size(), 2u);
    const TReport& out = Reports[1];
    ASSERT_EQ(out.Code, StubReturnCode);
    int64_t ticks = static_cast<int64_t>((out.Params[StubParamElapsedHigh] << 32) |
                                         static_cast<uint32_t>(out.Params[StubParamElapsedLow]));
    EXPECT_GE(ticks * 1000 / frequency.QuadPart, 55) << "ms: the original sleeps 60";
    EXPECT_LE(ticks, after.QuadPart - before.QuadPart) << "the stub's time lies within the caller's";
}

#ifndef _WIN64
// The stub takes from the caller's stack what the original took from the copies: nothing
// for cdecl, its arguments for stdcall.
TEST_F(StubRun, AStdcallOriginalHasItsArgumentsPoppedFromTheCallersStack)
{
    const std::string sum3("\x55\x89\xE5\x8B\x45\x08\x03\x45\x0C\x03\x45\x10\x5D\xC2\x0C\x00", 16);  // ret 12
    using TSum3 = int(__stdcall*)(int, int, int);
    auto sum = reinterpret_cast<TSum3>(Hook(2, sum3, Spec(3)));
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

// ---------------------------------------------------------------------------
// Arity and filters

namespace {

// What Take15 was last given.
TArg Taken[15];

#define VT_ARGS15 TArg a1, TArg a2, TArg a3, TArg a4, TArg a5, TArg a6, TArg a7, TArg a8, TArg a9, TArg a10, \
                  TArg a11, TArg a12, TArg a13, TArg a14, TArg a15
#define VT_TAKE15                                                                          \
    {                                                                                      \
        const TArg all[15] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15}; \
        std::copy(all, all + 15, Taken);                                                   \
        return Mix(all);                                                                   \
    }

// A result that changes with every argument and with their order.
TArg Mix(const TArg (&a)[15])
{
    TArg result = 0;
    for (TArg v : a)
        result = result * 31 + v;
    return result;
}

__attribute__((noinline)) TArg Take15(VT_ARGS15) VT_TAKE15
#ifndef _WIN64
__attribute__((noinline, stdcall)) TArg Take15Stdcall(VT_ARGS15) VT_TAKE15
#endif

using TTake15 = TArg (*)(VT_ARGS15);

TArg Call15(uintptr_t entry, const TArg (&a)[15])
{
    return reinterpret_cast<TTake15>(entry)(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11],
                                            a[12], a[13], a[14]);
}

// A jump on to a compiled function whose first instruction a stub can move: mov eax/rax,
// target; jmp eax/rax.
std::string Thunk(const void* target)
{
    std::string code = X64 ? std::string("\x48\xB8") : std::string("\xB8");
    auto address = reinterpret_cast<uintptr_t>(target);
    code.append(reinterpret_cast<const char*>(&address), sizeof(address));
    return code + "\xFF\xE0";
}

// Fifteen arguments, each with bits of its own (in the upper half too on x64).
struct TArgs15 {
    TArg Args[15];
    explicit TArgs15(int seed)
    {
        for (int i = 0; i < 15; ++i)
            Args[i] = static_cast<TArg>((uint64_t(0x1111 * (i + 1)) << (X64 ? 32 : 8)) + seed * 100 + i + 1);
    }
};

} // namespace

// A stub copies every word of a 15-word call to the original; the entry report holds the
// first ones and the stack above the entry stack pointer the rest; a logged call has them
// all in its log entry.
TEST_F(StubRun, FifteenArgumentWordsReachTheOriginalAndTheTracer)
{
    const TArgs15 call(1);
    uintptr_t raised = Hook(9, Thunk(reinterpret_cast<const void*>(&Take15)), Spec(15));
    TArg result = 0;
    Debugged([&] { result = Call15(raised, call.Args); });
    EXPECT_EQ(result, Mix(call.Args));
    EXPECT_TRUE(std::equal(call.Args, call.Args + 15, Taken)) << "the original's arguments";
    ASSERT_EQ(Reports.size(), 2u);
    const TReport& in = Reports[0];
    ASSERT_EQ(in.Params.size(), static_cast<size_t>(EXCEPTION_MAXIMUM_PARAMETERS));
    for (int i = 0; i < 15; ++i) {
        TArg reported = static_cast<TArg>(i < StubReportArgs ? in.Params[StubParamFirstArg + i] : in.Stack[i]);
        EXPECT_EQ(reported, call.Args[i]) << "argument " << i + 1;
        EXPECT_EQ(static_cast<TArg>(in.Stack[i]), call.Args[i]) << "argument " << i + 1 << " on the stack";
    }
    EXPECT_EQ(static_cast<TArg>(Reports[1].Params[StubParamReturn]), Mix(call.Args));

    Reports.clear();
    const TArgs15 logged(2);
    uintptr_t late = Hook(10, Thunk(reinterpret_cast<const void*>(&Take15)), Spec(15, {true, 0, 0}));
    Debugged([&] { result = Call15(late, logged.Args); });
    EXPECT_EQ(result, Mix(logged.Args));
    ASSERT_EQ(LogWord(TStubLogLayout::HeadOffset), 1u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(static_cast<TArg>(Field(LogEntry(0), TStubLogLayout::FrameOffset + 8 * (i + 1))), logged.Args[i])
            << "logged argument " << i + 1;

#ifndef _WIN64
    // A stdcall original pops its 60 bytes of the copies: as many go from the caller's stack.
    using TTake15Stdcall = TArg(__stdcall*)(VT_ARGS15);
    auto stdcall = reinterpret_cast<TTake15Stdcall>(Hook(11, Thunk(reinterpret_cast<const void*>(&Take15Stdcall)), Spec(15)));
    const TArg* a = call.Args;
    Debugged([&] {
        uintptr_t before, after;
        asm volatile("mov %%esp, %0" : "=r"(before));
        result = stdcall(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14]);
        asm volatile("mov %%esp, %0" : "=r"(after));
        EXPECT_EQ(after, before) << "the stack pointer after a stdcall call";
    });
    EXPECT_EQ(result, Mix(call.Args));
#endif
}

// A filtered call reaches the original with all its arguments and its result reaches the
// caller, with nothing reported or logged; calls the filter lets pass are traced as ever.
// Arguments in registers and on the stack (x64), in both tests of the filter.
TEST_F(StubRun, CallsTheFilterDoesNotLetPassGoStraightToTheOriginal)
{
    TEntryFilter onStack{6, 0x1006, 2, 3, {0x4002, 0x5002, 0x6002}};
    TEntryFilter inRegisters{2, 0x4002, 7, 2, {0x1007, 0x2007}};
    uintptr_t raised = Hook(12, Thunk(reinterpret_cast<const void*>(&Take15)), Spec(15, {}, onStack));
    uintptr_t logged = Hook(13, Thunk(reinterpret_cast<const void*>(&Take15)), Spec(15, {true, 0, 0}, inRegisters));
    struct TCase {
        uintptr_t Entry;
        TArg Second, Sixth, Seventh;
        bool Traced;
    } cases[] = {
        {raised, 0x4002, 0x1006, 0, true},
        {raised, 0x6002, 0x1006, 0, true},    // the last of the list
        {raised, 0x7002, 0x1006, 0, false},   // not in the list
        {raised, 0x4002, 0x1106, 0, false},   // the value differs
        {logged, 0x4002, 0, 0x2007, true},
        {logged, 0x4003, 0, 0x2007, false},
        {logged, 0x4002, 0, 0x3007, false},
    };
    uint32_t head = 0;
    for (const TCase& c : cases) {
        TArgs15 call(static_cast<int>(&c - cases));
        call.Args[1] = c.Second;
        call.Args[5] = c.Sixth;
        call.Args[6] = c.Seventh;
        // Only the low 32 bits are compared.
        if (X64)
            call.Args[1] += static_cast<TArg>(uint64_t(1) << 40);
        Reports.clear();
        TArg result = 0;
        Debugged([&] { result = Call15(c.Entry, call.Args); });
        EXPECT_EQ(result, Mix(call.Args)) << "case " << (&c - cases);
        EXPECT_TRUE(std::equal(call.Args, call.Args + 15, Taken)) << "case " << (&c - cases);
        size_t reports = c.Traced ? (c.Entry == logged ? 1 : 2) : 0;
        EXPECT_EQ(Reports.size(), reports) << "case " << (&c - cases);
        head += c.Traced && c.Entry == logged;
        EXPECT_EQ(LogWord(TStubLogLayout::HeadOffset), head) << "case " << (&c - cases);
    }
}

// ---------------------------------------------------------------------------
// Late entries: calls logged instead of raised

namespace {

// Sum's calls logged with the text its third argument points to and its fourth counts.
const TStubSpec TextLate = Spec(10, {true, 3, 4});

// Arguments of a call whose third argument points to text and whose fourth counts it.
struct TTextCall {
    TArg Args[10] = {};
    TTextCall(const std::string& text, int seed)
    {
        for (int i = 0; i < 10; ++i)
            Args[i] = seed * 100 + i;
        Args[2] = static_cast<TArg>(reinterpret_cast<uintptr_t>(text.data()));
        Args[3] = static_cast<TArg>(text.size());
    }
};

// A thread making calls with texts First .. First + Calls.
struct TextWorker {
    static constexpr int Calls = 100;
    uintptr_t Entry;
    const std::vector<std::string>* Texts;
    int First;
    static DWORD WINAPI Run(void* self)
    {
        auto* w = static_cast<TextWorker*>(self);
        for (int i = w->First; i < w->First + Calls; ++i) {
            TTextCall call((*w->Texts)[i], i);
            CallSum(w->Entry, call.Args);
        }
        return 0;
    }
};

} // namespace

TEST_F(StubRun, ALateCallIsLoggedWithItsArgumentsAndBytesBeforeTheNextReport)
{
    using L = TStubLogLayout;
    uintptr_t late = Hook(3, Sum, TextLate);
    uintptr_t plain = Hook(4, Sum);
    const std::string text = "select name from staff where id = :1";
    TTextCall call(text, 7);
    TArg result = 0;
    Debugged([&] { result = CallSum(late, call.Args); });
    EXPECT_EQ(result, Expected(call.Args)) << "the call itself runs as ever";
    // The return is still reported (the page wants every slot's returns here); the entry is not.
    ASSERT_EQ(Reports.size(), 1u);
    EXPECT_EQ(Reports[0].Code, StubReturnCode);
    EXPECT_EQ(Reports[0].LogHead, 1u);

    ASSERT_EQ(LogWord(L::HeadOffset), 1u);
    const unsigned char* entry = LogEntry(0);
    EXPECT_EQ(Field(entry, L::SeqOffset, 4), 1u) << "complete";
    EXPECT_EQ(Field(entry, L::SlotOffset, 4), 3u);
    EXPECT_EQ(Field(entry, L::PageOffset), FPage);
    EXPECT_EQ(Field(entry, L::ThreadOffset, 4), GetCurrentThreadId());
    EXPECT_EQ(Field(entry, L::SpOffset), Reports[0].Params[StubParamEntrySp]) << "the same stack position";
    EXPECT_NE(Field(entry, L::FrameOffset), 0u) << "the return address";
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(static_cast<TArg>(Field(entry, L::FrameOffset + 8 * (i + 1))), call.Args[i]) << "argument " << i + 1;
    ASSERT_EQ(Field(entry, L::LengthOffset, 4), text.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry + L::BytesOffset), text.size()), text);

    // The next call raised comes after it in the log.
    Reports.clear();
    Debugged([&] { CallSum(plain, call.Args); });
    ASSERT_EQ(Reports.size(), 2u);
    EXPECT_EQ(Reports[0].LogHead, 1u);
}

TEST_F(StubRun, ALateCallIsRaisedWhenItsBytesDoNotFitOrPointNowhereOrTheLogIsFull)
{
    using L = TStubLogLayout;
    uintptr_t late = Hook(5, Sum, TextLate);
    FMemory[TStubPageLayout::ReturnWantedOffset + 5] = 0;
    auto entriesRaised = [&](TTextCall& call) {
        Reports.clear();
        Debugged([&] { CallSum(late, call.Args); });
        return std::count_if(Reports.begin(), Reports.end(), [](const TReport& r) { return r.Code == StubEntryCode; });
    };
    const std::string longest(L::MaxBytes, 'x'), tooLong(L::MaxBytes + 1, 'y');
    TTextCall fits(longest, 1), over(tooLong, 2), nowhere("", 3), empty("", 4), unreadable("", 5);
    nowhere.Args[2] = 0;
    nowhere.Args[3] = 10;
    empty.Args[2] = 0;
    unreadable.Args[2] = 0x100;  // the first page is never mapped
    unreadable.Args[3] = 10;
    EXPECT_EQ(entriesRaised(fits), 0);
    EXPECT_EQ(entriesRaised(over), 1);
    EXPECT_EQ(entriesRaised(nowhere), 1);
    EXPECT_EQ(entriesRaised(unreadable), 1) << "the tracer, not the program, meets the bad pointer";
    EXPECT_EQ(entriesRaised(empty), 0) << "no bytes to copy: nothing to point to";
    EXPECT_EQ(LogWord(L::HeadOffset), 2u);
    EXPECT_EQ(Field(LogEntry(1), L::LengthOffset, 4), 0u);

    // The log holds EntryCount entries beyond the tail the debugger last wrote.
    for (uint32_t n = LogWord(L::HeadOffset); n < L::EntryCount; ++n)
        ASSERT_EQ(entriesRaised(fits), 0) << "entry " << n;
    EXPECT_EQ(entriesRaised(fits), 1) << "full";
    LogWord(L::TailOffset) = 10;
    EXPECT_EQ(entriesRaised(fits), 0) << "room again once the tail moves";
    EXPECT_EQ(LogWord(L::HeadOffset), L::EntryCount + 1);
    // Entry EntryCount went where entry 0 was.
    EXPECT_EQ(Field(LogEntry(L::EntryCount), L::SeqOffset, 4), L::EntryCount + 1);
    EXPECT_EQ(LogEntry(L::EntryCount), LogEntry(0));
}

TEST_F(StubRun, WithoutADebuggerOrWithTheGuardClearedALateCallLeavesNoTrace)
{
    uintptr_t late = Hook(6, Sum, TextLate);
    TTextCall call("select 1 from dual", 5);
    EXPECT_EQ(CallSum(late, call.Args), Expected(call.Args));
    FMemory[TStubPageLayout::GuardOffset] = 0;
    Debugged([&] { EXPECT_EQ(CallSum(late, call.Args), Expected(call.Args)); });
    EXPECT_EQ(LogWord(TStubLogLayout::HeadOffset), 0u);
    EXPECT_TRUE(Reports.empty());
}

// A stub that logs returns too: the entry and the return in the log, in that order, with
// the same thread and stack position, and no report at all; nothing of the return when no
// return is wanted; a return raised when the log is full when it returns; nothing at all
// once the guard is cleared.
TEST_F(StubRun, ALoggedCallWritesItsReturnToTheLogUnlessTheLogIsFull)
{
    using L = TStubLogLayout;
    TStubSpec spec = TextLate;
    spec.LogReturns = true;
    uintptr_t logged = Hook(8, Sum, spec);
    const std::string text = "update staff set pay = pay * 2";
    const struct {
        const char* Name;
        bool Wanted;
        uint32_t Tail;  // the tail before the call, the head being 20
        bool Guard;
        int Entries;    // entries the call logs
        bool ReturnRaised;
    } cases[] = {
        {"room", true, 20, true, 2, false},
        {"no return wanted", false, 20, true, 1, false},
        {"room for the entry alone", true, 20 - (L::EntryCount - 1), true, 1, true},
        {"guard cleared", true, 20, false, 0, false},
    };
    for (const auto& c : cases) {
        LogWord(L::HeadOffset) = 20;
        LogWord(L::TailOffset) = c.Tail;
        FMemory[TStubPageLayout::ReturnWantedOffset + 8] = c.Wanted;
        FMemory[TStubPageLayout::GuardOffset] = c.Guard;
        Reports.clear();
        TTextCall call(text, 3);
        TArg result = 0;
        Debugged([&] { result = CallSum(logged, call.Args); });
        EXPECT_EQ(result, Expected(call.Args)) << c.Name;
        EXPECT_EQ(LogWord(L::HeadOffset), 20u + c.Entries) << c.Name;
        ASSERT_EQ(Reports.size(), c.ReturnRaised ? 1u : 0u) << c.Name;
        if (c.Entries >= 1) {
            const unsigned char* entry = LogEntry(20);
            EXPECT_EQ(Field(entry, L::SeqOffset, 4), 21u) << c.Name;
            EXPECT_EQ(Field(entry, L::KindOffset, 4), L::KindEntry) << c.Name;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry + L::BytesOffset), Field(entry, L::LengthOffset, 4)),
                      text)
                << c.Name;
            if (c.ReturnRaised) {
                EXPECT_EQ(Reports[0].Code, StubReturnCode) << c.Name;
                EXPECT_EQ(Reports[0].LogHead, 21u) << "the entry comes first: " << c.Name;
                EXPECT_EQ(Reports[0].Params[StubParamEntrySp], Field(entry, L::SpOffset)) << c.Name;
            }
        }
        if (c.Entries == 2) {
            const unsigned char* entry = LogEntry(20);
            const unsigned char* ret = LogEntry(21);
            EXPECT_EQ(Field(ret, L::SeqOffset, 4), 22u) << c.Name;
            EXPECT_EQ(Field(ret, L::KindOffset, 4), L::KindReturn) << c.Name;
            EXPECT_EQ(Field(ret, L::SlotOffset, 4), 8u) << c.Name;
            EXPECT_EQ(Field(ret, L::PageOffset), FPage) << c.Name;
            EXPECT_EQ(Field(ret, L::ThreadOffset, 4), GetCurrentThreadId()) << c.Name;
            EXPECT_EQ(Field(ret, L::SpOffset), Field(entry, L::SpOffset)) << "names the same call: " << c.Name;
            EXPECT_EQ(static_cast<uint32_t>(Field(ret, L::FrameOffset)), static_cast<uint32_t>(Expected(call.Args)))
                << "the result: " << c.Name;
            EXPECT_LT(Field(ret, L::FrameOffset + 8), 1000000000u) << "the ticks of one short call: " << c.Name;
            EXPECT_EQ(Field(ret, L::LengthOffset, 4), 0u) << c.Name;
        }
    }
}

// Threads logging at once each get entries of their own: every call is either in the log,
// whole and with its own bytes, or raised; never both, never neither.
TEST_F(StubRun, ThreadsLoggingAtOnceNeverShareAnEntry)
{
    using L = TStubLogLayout;
    uintptr_t late = Hook(7, Sum, TextLate);
    FMemory[TStubPageLayout::ReturnWantedOffset + 7] = 0;
    constexpr int Threads = 4;
    std::vector<std::string> texts;
    for (int i = 0; i < Threads * TextWorker::Calls; ++i)
        texts.push_back("call " + std::to_string(i) + std::string(static_cast<size_t>(i % 50), '.'));
    std::vector<TextWorker> workers;
    for (int t = 0; t < Threads; ++t)
        workers.push_back({late, &texts, t * TextWorker::Calls});
    Debugged([&] {
        std::vector<HANDLE> handles;
        for (auto& w : workers)
            handles.push_back(CreateThread(nullptr, 0, TextWorker::Run, &w, 0, nullptr));
        ASSERT_EQ(WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, 60000),
                  WAIT_OBJECT_0);
        for (HANDLE h : handles)
            CloseHandle(h);
    });
    std::vector<int> seen(texts.size(), 0);
    ASSERT_EQ(LogWord(L::HeadOffset), L::EntryCount) << "the log fills and stays full (the tail never moves)";
    for (uint32_t n = 0; n < L::EntryCount; ++n) {
        const unsigned char* entry = LogEntry(n);
        ASSERT_EQ(Field(entry, L::SeqOffset, 4), n + 1);
        auto index = static_cast<size_t>(Field(entry, L::FrameOffset + 8, X64 ? 8 : 4) / 100);
        ASSERT_LT(index, texts.size());
        ++seen[index];
        std::string bytes(reinterpret_cast<const char*>(entry + L::BytesOffset), Field(entry, L::LengthOffset, 4));
        EXPECT_EQ(bytes, texts[index]) << "entry " << n;
    }
    for (const TReport& report : Reports) {
        ASSERT_EQ(report.Code, StubEntryCode);
        auto index = static_cast<size_t>(static_cast<TArg>(report.Params[StubParamFirstArg]) / 100);
        ASSERT_LT(index, texts.size());
        ++seen[index];
    }
    for (size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], 1) << "call " << i;
}

// An instruction run out of line: the code goes on behind the original as if it had run
// there. Here the first instruction of a function runs in a cell and the rest in place.
TEST_F(StubRun, AnInstructionRunOutOfLineGoesOnBehindItsPlace)
{
    unsigned char* function = FMemory + TStubPageLayout::Size + 0x800;
    unsigned char* cell = FMemory + TStubPageLayout::Size + 0xC00;
#ifdef _WIN64
    // mov rax, imm64; add rax, rcx; ret
    const std::string code("\x48\xB8\x00\x00\x00\x00\x01\x00\x00\x00\x48\x01\xC8\xC3", 14);
    using TFunction = int64_t (*)(int64_t);
    const int64_t expected = 0x100000000LL + 5;
#else
    // mov eax, 7; add eax, [esp+4]; ret
    const std::string code("\xB8\x07\x00\x00\x00\x03\x44\x24\x04\xC3", 10);
    using TFunction = int32_t (*)(int32_t);
    const int32_t expected = 7 + 5;
#endif
    std::memcpy(function, code.data(), code.size());
    auto address = reinterpret_cast<uintptr_t>(function);
    size_t length = MovableLength(function, code.size(), X64, 1);
    ASSERT_EQ(length, X64 ? 10u : 5u) << "the first instruction's length";
    std::vector<unsigned char> bytes =
        BuildOutOfLine(reinterpret_cast<uintptr_t>(cell), address, function, length, X64);
    ASSERT_LE(bytes.size(), OutOfLineCellSize);
    std::memcpy(cell, bytes.data(), bytes.size());
    // The original instruction spoiled: only the cell's copy can give the right result.
    std::memset(function, 0xCC, length);
    FlushInstructionCache(GetCurrentProcess(), FMemory, FunctionsEnd);
    EXPECT_EQ(reinterpret_cast<TFunction>(cell)(5), expected);
}

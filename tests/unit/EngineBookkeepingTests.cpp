// The engine's bookkeeping without a live process: the patch table, the calls in flight
// of a thread, a call's arguments, the owner of memory in the traced process (here this
// one) and the queue that carries a session's events.
#include "Application.h"
#include "Arch.h"
#include "EventQueue.h"
#include "FakeProcess.h"
#include "Patches.h"
#include "RemoteBlock.h"
#include "TargetCheck.h"
#include "Threads.h"

#include <gtest/gtest.h>

namespace {

constexpr TAddress Code = 0x401000;

// The context of a 32-bit thread: native in the 32-bit build, WOW64 in the 64-bit one.
TThreadContext X86Context() { return TThreadContext(nullptr, Tracer64); }

class PatchTableTest : public ::testing::Test {
protected:
    void SetUp() override { process.Poke(Code, std::string("\x55\x8B\xEC\x83\xEC\x10\xC3\x90", 8)); }

    TFakeProcess process;
    TPatchTable patches{process};
};

} // namespace

TEST_F(PatchTableTest, HoldsShareOneWriteAndTheLastReleaseRestores)
{
    EXPECT_EQ(patches.Acquire(Code + 1), 0x8B);
    int reads = process.Reads, writes = process.Writes;
    EXPECT_EQ(patches.Acquire(Code + 1), 0x8B) << "0xCC must never be taken for the original byte";
    EXPECT_EQ(process.Reads, reads) << "a shared patch is not read again";
    EXPECT_EQ(process.Writes, writes);
    EXPECT_EQ(process.Peek(Code + 1), 0xCC);

    patches.Release(Code + 1);
    EXPECT_EQ(process.Peek(Code + 1), 0xCC) << "the other hold still needs the patch";
    patches.Release(Code + 1);
    EXPECT_EQ(process.Peek(Code + 1), 0x8B);
    EXPECT_FALSE(patches.IsPatched(Code + 1));
    EXPECT_THROW(patches.Release(Code + 1), EAssertionFailed) << "a release without a hold is a bookkeeping fault";
}

// Code read for running elsewhere shows the original bytes under written patches only.
TEST_F(PatchTableTest, CodeIsReadWithoutThePatchesInIt)
{
    patches.Acquire(Code + 1);
    patches.Acquire(Code + 3);
    patches.Suspend(Code + 3);  // lifted for a step: the byte in memory is the original
    unsigned char code[6];
    patches.ReadCode(Code, code, sizeof(code));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(code), 6), std::string("\x55\x8B\xEC\x83\xEC\x10", 6));
    EXPECT_EQ(process.Peek(Code + 1), 0xCC) << "the patch itself stays";
}

TEST_F(PatchTableTest, AReturnSitePatchedAgainIsNotReadAgainUntilItsCodeMayHaveGone)
{
    patches.Acquire(Code + 2);
    patches.Release(Code + 2);
    int reads = process.Reads;
    EXPECT_EQ(patches.Acquire(Code + 2), 0xEC);
    EXPECT_EQ(process.Reads, reads) << "its original byte is known";
    patches.Release(Code + 2);
    // Another module where the old code was: read afresh.
    process.Poke(Code + 2, "\x90");
    patches.ForgetOriginals();
    EXPECT_EQ(patches.Acquire(Code + 2), 0x90);
    patches.Release(Code + 2);
    process.Poke(Code + 2, "\x91");
    patches.Abandon(Code, 8);
    EXPECT_EQ(patches.Acquire(Code + 2), 0x91) << "an abandoned range is read afresh too";
}

TEST_F(PatchTableTest, FailedReadsAndWritesLeaveNoPatch)
{
    process.ReadOnly.insert(Code);
    EXPECT_THROW(patches.Acquire(Code), EOSError);
    EXPECT_FALSE(patches.IsPatched(Code));
    EXPECT_EQ(process.Peek(Code), 0x55);
    EXPECT_THROW(patches.Acquire(0x900000), EOSError) << "unreadable code";
    EXPECT_FALSE(patches.IsPatched(0x900000));
}

TEST_F(PatchTableTest, RestoringGoesOnPastAFailedWriteAndReportsTheFirstError)
{
    for (TAddress a : {Code, Code + 2, Code + 4})
        patches.Acquire(a);
    process.ReadOnly.insert(Code + 2);  // the module went away under it, say
    EXPECT_THROW(patches.RestoreAll(), EOSError);
    EXPECT_TRUE(patches.Empty());
    EXPECT_EQ(process.Peek(Code), 0x55);
    EXPECT_EQ(process.Peek(Code + 4), 0xEC) << "patches after the failed one are still restored";
}

TEST_F(PatchTableTest, SteppingLiftsThePatchUntilTheLastStepEnds)
{
    patches.Acquire(Code);
    patches.Suspend(Code);
    patches.Suspend(Code);
    EXPECT_EQ(process.Peek(Code), 0x55);
    EXPECT_FALSE(patches.IsWritten(Code));
    patches.Resume(Code);
    EXPECT_EQ(process.Peek(Code), 0x55) << "another thread is still stepping over it";
    patches.Resume(Code);
    EXPECT_EQ(process.Peek(Code), 0xCC);

    // A hold taken while the patch is lifted does not write it under the stepping thread.
    patches.Suspend(Code);
    patches.Acquire(Code);
    EXPECT_EQ(process.Peek(Code), 0x55);
    patches.Resume(Code);
    EXPECT_EQ(process.Peek(Code), 0xCC);

    // A patch released while a thread steps over it is not put back by that step.
    patches.Suspend(Code);
    patches.Release(Code);
    patches.Release(Code);
    patches.Resume(Code);
    EXPECT_EQ(process.Peek(Code), 0x55);
}

TEST_F(PatchTableTest, AbandonedPatchesAreForgottenWithoutWriting)
{
    patches.Acquire(Code);
    patches.Acquire(Code + 6);
    process.Poke(0x500000, "\x90");
    patches.Acquire(0x500000);
    int writes = process.Writes;
    patches.Abandon(Code, 8);
    EXPECT_EQ(process.Writes, writes);
    EXPECT_FALSE(patches.IsPatched(Code));
    EXPECT_FALSE(patches.IsPatched(Code + 6));
    EXPECT_TRUE(patches.IsPatched(0x500000)) << "outside the range";
}

// A return site's patch stays written between calls: the next call takes it without a
// write, and it is still ours to read around, restore and abandon.
TEST_F(PatchTableTest, AnIdleReturnPatchStaysWrittenAndIsTakenAgainWithoutAWrite)
{
    const TAddress site = Code + 2;
    patches.Acquire(site);
    int writes = process.Writes;
    patches.Release(site, true);
    EXPECT_EQ(process.Writes, writes) << "the last release keeps the patch";
    EXPECT_EQ(process.Peek(site), 0xCC);
    EXPECT_TRUE(patches.IsPatched(site));
    EXPECT_TRUE(patches.IsIdle(site));
    EXPECT_TRUE(patches.IsWritten(site));
    EXPECT_THROW(patches.Release(site), EAssertionFailed) << "an idle patch has no hold to let go of";

    unsigned char code[4];
    patches.ReadCode(Code, code, sizeof(code));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(code), 4), std::string("\x55\x8B\xEC\x83", 4));

    int reads = process.Reads;
    EXPECT_EQ(patches.Acquire(site), 0xEC);
    EXPECT_EQ(process.Reads, reads);
    EXPECT_EQ(process.Writes, writes);
    EXPECT_FALSE(patches.IsIdle(site));

    // An entry point's patch is lifted when its hook goes, even at an address a return
    // patch was kept idle at before.
    patches.Acquire(site);
    patches.Release(site, true);
    patches.Release(site);
    EXPECT_EQ(process.Peek(site), 0xEC);
    EXPECT_FALSE(patches.IsPatched(site));

    // Released while a thread steps over it: the step's end puts it back, and it stays.
    patches.Acquire(site);
    patches.Suspend(site);
    patches.Release(site, true);
    EXPECT_EQ(process.Peek(site), 0xEC);
    EXPECT_TRUE(patches.IsIdle(site));
    patches.Resume(site);
    EXPECT_EQ(process.Peek(site), 0xCC);

    // The end of a session writes idle patches back; an unmapped module's are forgotten.
    patches.Acquire(Code + 4);
    patches.Release(Code + 4, true);
    process.Poke(0x500000, "\x90");
    patches.Acquire(0x500000);
    patches.Release(0x500000, true);
    writes = process.Writes;
    patches.Abandon(0x500000, 1);
    EXPECT_EQ(process.Writes, writes);
    EXPECT_FALSE(patches.IsPatched(0x500000));
    EXPECT_EQ(process.Peek(0x500000), 0xCC) << "the fake keeps the byte that a real unload takes away";
    patches.RestoreAll();
    EXPECT_EQ(process.Peek(site), 0xEC);
    EXPECT_EQ(process.Peek(Code + 4), 0xEC);
    EXPECT_TRUE(patches.Empty());
}

// Something other than our calls ran into an idle patch: it goes for good, and the
// address is released eagerly for the rest of the session (or until its code goes).
TEST_F(PatchTableTest, AnIdlePatchLiftedForGoodIsNeverKeptIdleAgain)
{
    const TAddress site = Code + 2;
    patches.Acquire(site);
    EXPECT_THROW(patches.LiftIdle(site), EAssertionFailed) << "a call still waits there";
    patches.Release(site, true);
    patches.LiftIdle(site);
    EXPECT_EQ(process.Peek(site), 0xEC);
    EXPECT_FALSE(patches.IsPatched(site));

    for (int call = 0; call < 2; ++call) {
        patches.Acquire(site);
        EXPECT_EQ(process.Peek(site), 0xCC);
        patches.Release(site, true);
        EXPECT_EQ(process.Peek(site), 0xEC) << "call " << call;
        EXPECT_FALSE(patches.IsPatched(site));
    }

    // Lifted while a thread steps over it (the byte is already the original): no write,
    // and the step's end puts nothing back.
    patches.Acquire(Code + 4);
    patches.Suspend(Code + 4);
    patches.Release(Code + 4, true);
    int writes = process.Writes;
    patches.LiftIdle(Code + 4);
    EXPECT_EQ(process.Writes, writes);
    patches.Resume(Code + 4);
    EXPECT_EQ(process.Peek(Code + 4), 0xEC);

    // Other code mapped where it was may keep its patches idle again.
    patches.Abandon(Code, 8);
    patches.Acquire(site);
    patches.Release(site, true);
    EXPECT_TRUE(patches.IsIdle(site));
}

// Memory of ours in the program goes with its owner, unless it is kept on purpose (code
// a thread may still run through); a move hands it over without freeing it.
TEST(RemoteBlock, FreedWithItsOwnerUnlessKeptOnPurpose)
{
    auto state = [](TAddress at) {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(AddressPointer(at), &info, sizeof(info));
        return info.State;
    };
    HANDLE self = GetCurrentProcess();
    TAddress freed = 0, kept = 0;
    {
        TRemoteBlock block = TRemoteBlock::Allocate(self, 0x1000, PAGE_READWRITE);
        ASSERT_TRUE(block);
        freed = block.get();
        TRemoteBlock owner = std::move(block);
        EXPECT_FALSE(block);
        EXPECT_EQ(state(freed), static_cast<DWORD>(MEM_COMMIT)) << "a move frees nothing";
        TRemoteBlock other = TRemoteBlock::Allocate(self, 0x1000, PAGE_READWRITE);
        kept = other.Release();
        EXPECT_FALSE(other);
    }
    EXPECT_EQ(state(freed), static_cast<DWORD>(MEM_FREE));
    EXPECT_EQ(state(kept), static_cast<DWORD>(MEM_COMMIT));
    VirtualFree(AddressPointer(kept), 0, MEM_RELEASE);
    EXPECT_FALSE(TRemoteBlock::Allocate(self, 0x1000, PAGE_READWRITE, 0x100)) << "below what can be mapped";
}

TEST(CallsInFlight, ReturnsMatchTheInnermostCallAndDropWhatWasUnwound)
{
    TThreadInfo thread(1, nullptr);
    auto call = [](TAddress ret, TAddress sp, int id) {
        TCallInFlight c;
        c.ReturnAddress = ret;
        c.EntrySp = sp;
        c.HookId = id;
        return c;
    };
    thread.Calls.push_back(call(Code, 0x12FF00, 1));      // outer
    thread.Calls.push_back(call(Code + 8, 0x12FE00, 2));  // nested, from a callback
    thread.Calls.push_back(call(Code, 0x12FD00, 3));      // deeper still, same call site

    TCallInFlight found;
    std::vector<TAddress> dropped;
    EXPECT_FALSE(thread.PopReturn(Code + 16, 0x12FD04, found, dropped)) << "no call returns there";
    EXPECT_FALSE(thread.PopReturn(Code, 0x12FC00, found, dropped)) << "below every entry: not a return";

    // Returning from the outer call: the two inside it were unwound.
    ASSERT_TRUE(thread.PopReturn(Code, 0x12FF04, found, dropped));
    EXPECT_EQ(found.HookId, 1);
    EXPECT_EQ(dropped, (std::vector<TAddress>{Code, Code + 8}));
    EXPECT_TRUE(thread.Calls.empty());

    // Entering a call at or above the stack position of calls still open: they are over.
    thread.Calls.push_back(call(Code, 0x12FF00, 1));
    thread.Calls.push_back(call(Code + 8, 0x12FE00, 2));
    dropped.clear();
    thread.DropCallsAtOrBelow(0x12FDF0, dropped);
    EXPECT_TRUE(dropped.empty()) << "a call made from inside both leaves them open";
    thread.DropCallsAtOrBelow(0x12FE00, dropped);
    EXPECT_EQ(dropped, (std::vector<TAddress>{Code + 8}));
    ASSERT_EQ(thread.Calls.size(), 1u);
    EXPECT_EQ(thread.Calls[0].HookId, 1);
}

TEST(CallFrame, ArgumentsComeFromOneReadOrFailOneByOne)
{
    TFakeProcess process;
    constexpr TAddress Esp = 0x12F000;
    for (uint32_t i = 0; i < TCallFrame::SlotCount; ++i)
        process.PokeDword(Esp + 4 * i, 0x100 + i);
    TThreadContext context = X86Context();
    context.SetSp(Esp);
    {
        TCallFrame frame(process, context, 10);
        EXPECT_EQ(process.Reads, 1);
        EXPECT_EQ(frame.ReturnAddress(), 0x100u);
        EXPECT_EQ(frame.Arg(1), 0x101u);
        EXPECT_EQ(frame.Arg(10), 0x10Au);
        EXPECT_EQ(process.Reads, 1);
        EXPECT_EQ(frame.Arg(15), 0x10Fu) << "a word beyond those the call was said to take";
        EXPECT_EQ(frame.SpAfterReturn(), Esp + 4);
    }
    // The top of the readable stack: the words below it are still there, one read each.
    for (TAddress a = Esp + 12; a < Esp + 4 * TCallFrame::SlotCount; ++a)
        process.Memory.erase(a);
    TCallFrame frame(process, context, 10);
    EXPECT_EQ(frame.Arg(2), 0x102u);
    EXPECT_THROW(frame.Arg(3), EOSError);
}

TEST(FirstInstruction, CarriedOutOnlyWhereItTouchesNoMoreThanTheStack)
{
    TFakeProcess process;
    constexpr TAddress Esp = 0x12F010, Entry = 0x10001000;
    process.PokeDword(Esp - 4, 0);
    struct {
        std::string Code;
        bool Emulated;
        TAddress Ip;
        TAddress Sp;
    } cases[] = {
        {"\x55\x89", true, Entry + 1, Esp - 4},   // push ebp
        {"\x8B\xFF", true, Entry + 2, Esp},       // mov edi, edi
        {"\x8B\xEC", true, Entry + 2, Esp},       // mov ebp, esp
        {"\x89\xE5", true, Entry + 2, Esp},       // mov ebp, esp
        {"\x54\x90", false, Entry, Esp},          // push esp: stepped
        {"\x8B\x44", false, Entry, Esp},          // mov eax, [esp+4]: stepped
    };
    for (const auto& c : cases) {
        TThreadContext context = X86Context();
        context.SetSp(Esp);
        context.SetReg(5, 0xBB);
        context.SetIp(Entry);
        std::string bytes = c.Code + std::string(16 - c.Code.size(), '\xCC');
        auto code = reinterpret_cast<const unsigned char*>(bytes.data());
        EXPECT_EQ(EmulateFirstInstruction(process, context, Entry, code, bytes.size()), c.Emulated) << c.Code;
        EXPECT_EQ(context.Ip(), c.Ip);
        EXPECT_EQ(context.Sp(), c.Sp);
    }
    EXPECT_EQ(process.ReadDword(Esp - 4), 0xBBu) << "push ebp stored the register";
}

#ifdef _WIN64
// x64: arguments in rcx, rdx, r8, r9 and from [rsp+0x28] on; the usual first instructions
// carried out, flags and all; anything addressed by rip stepped.
TEST(FirstInstruction, X64ArgumentsAndPrologues)
{
    TFakeProcess process;
    constexpr TAddress Rsp = 0x14F010, Entry = 0x180001000;
    for (uint32_t i = 0; i < TCallFrame::SlotCount; ++i)
        process.PokeValue<uint64_t>(Rsp + 8 * i, 0x100 + i);
    process.PokeValue<uint64_t>(Rsp - 8, 0);
    TThreadContext context(nullptr, false);
    context.SetSp(Rsp);
    for (int reg : {1, 2, 8, 9})
        context.SetReg(reg, 0xA0 + reg);
    TCallFrame frame(process, context, 9);
    EXPECT_EQ(frame.ReturnAddress(), 0x100u);
    EXPECT_EQ((std::vector<uint64_t>{frame.Arg(1), frame.Arg(2), frame.Arg(3), frame.Arg(4), frame.Arg(5), frame.Arg(9)}),
              (std::vector<uint64_t>{0xA1, 0xA2, 0xA8, 0xA9, 0x105, 0x109}));
    EXPECT_EQ(frame.SpAfterReturn(), Rsp + 8);

    struct {
        std::string Code;
        bool Emulated;
        TAddress Ip;
        TAddress Sp;
    } cases[] = {
        {"\x55", true, Entry + 1, Rsp - 8},                  // push rbp
        {"\x41\x54", true, Entry + 2, Rsp - 8},              // push r12
        {"\x48\x89\xE5", true, Entry + 3, Rsp},              // mov rbp, rsp
        {"\x48\x8B\xEC", true, Entry + 3, Rsp},              // mov rbp, rsp
        {"\x48\x83\xEC\x28", true, Entry + 4, Rsp - 0x28},   // sub rsp, 0x28
        {std::string("\x48\x81\xEC\x00\x01\x00\x00", 7), true, Entry + 7, Rsp - 0x100},  // sub rsp, 0x100
        {"\x48\x89\x5C\x24\x08", true, Entry + 5, Rsp},      // mov [rsp+8], rbx
        {"\x4C\x89\x44\x24\x18", true, Entry + 5, Rsp},      // mov [rsp+0x18], r8
        {"\x54", false, Entry, Rsp},                        // push rsp
        {std::string("\x48\x8B\x05\x10\x00\x00\x00", 7), false, Entry, Rsp}, // mov rax, [rip+0x10]
    };
    for (const auto& c : cases) {
        TThreadContext ctx(nullptr, false);
        ctx.SetSp(Rsp);
        ctx.SetIp(Entry);
        ctx.SetReg(3, 0xBBBB);
        ctx.SetReg(5, 0x5555);
        ctx.SetReg(8, 0x8888);
        ctx.SetReg(12, 0xCCCC);
        std::string bytes = c.Code + std::string(16 - c.Code.size(), '\xCC');
        auto code = reinterpret_cast<const unsigned char*>(bytes.data());
        EXPECT_EQ(EmulateFirstInstruction(process, ctx, Entry, code, bytes.size()), c.Emulated) << testing::PrintToString(c.Code);
        EXPECT_EQ(ctx.Ip(), c.Ip) << testing::PrintToString(c.Code);
        EXPECT_EQ(ctx.Sp(), c.Sp) << testing::PrintToString(c.Code);
        if (c.Code == "\x48\x89\xE5") {
            EXPECT_EQ(ctx.Reg(5), Rsp);
        }
        if (c.Code == "\x41\x54") {
            EXPECT_EQ(process.ReadQword(Rsp - 8), 0xCCCCu);
        }
        if (c.Code == "\x48\x89\x5C\x24\x08") {
            EXPECT_EQ(process.ReadQword(Rsp + 8), 0xBBBBu);
        }
        if (c.Code == "\x4C\x89\x44\x24\x18") {
            EXPECT_EQ(process.ReadQword(Rsp + 0x18), 0x8888u);
        }
        if (c.Code == "\x48\x83\xEC\x28") {
            EXPECT_EQ(ctx.Flags() & 0x8D5, 0x14u) << "parity (0xE8 is even) and the borrow out of bit 3; no carry, zero, sign or overflow";
        }
    }
}
#endif

namespace {

// Records what a queue delivers, and can show an error in a nested message loop, as the
// window's message box does.
class TRecorder : public ITraceEvents {
public:
    void SessionStarted(DWORD processId, const std::string& image) override
    {
        Log.push_back("started " + std::to_string(processId) + " " + image);
    }
    void TraceRecord(TTraceRecord record) override { Log.push_back("record " + record.Statement); }
    void TraceRecordUpdated(TTraceRecord record) override { Log.push_back("update " + record.Statement); }
    void SessionError(const std::string& text) override
    {
        Log.push_back("error " + text);
        if (NestedEvents) {
            NestedEvents();
            Pump();
        }
    }
    void SessionWarning(const std::string& text) override { Log.push_back("warning " + text); }
    void SessionFinished(DWORD exitCode) override { Log.push_back("finished " + std::to_string(exitCode)); }

    static void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }

    std::vector<std::string> Log;
    std::function<void()> NestedEvents;
};

struct TQueueWindow {
    static LRESULT CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<TQueueWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && msg == WM_APP) {
            ++self->Messages;
            self->Queue->Deliver(self->Target);
            return 0;
        }
        return DefWindowProcA(window, msg, wParam, lParam);
    }
    explicit TQueueWindow(DWORD holdMs = TEventQueue::DefaultHoldMs)
        : Window(CreateMessageWindow("VelloranQueueTest", Proc, this)), Queue(new TEventQueue(Window, WM_APP, holdMs))
    {
    }
    ~TQueueWindow()
    {
        DestroyWindow(Window);
        delete Queue;
    }
    HWND Window;
    TEventQueue* Queue;
    TRecorder Target;
    int Messages = 0;
};

TTraceRecord Record(const std::string& statement)
{
    TTraceRecord record;
    record.Statement = statement;
    return record;
}

} // namespace

TEST(EventQueue, ABurstCostsOneMessageAndArrivesInOrder)
{
    TQueueWindow w;
    w.Queue->SessionStarted(7, "client.exe");
    for (int i = 0; i < 1000; ++i)
        w.Queue->TraceRecord(Record(std::to_string(i)));
    w.Queue->TraceRecordUpdated(Record("499"));
    w.Queue->SessionFinished(3);
    TRecorder::Pump();
    EXPECT_EQ(w.Messages, 1);
    ASSERT_EQ(w.Target.Log.size(), 1003u);
    EXPECT_EQ(w.Target.Log.front(), "started 7 client.exe");
    EXPECT_EQ(w.Target.Log[500], "record 499");
    EXPECT_EQ(w.Target.Log[1001], "update 499");
    EXPECT_EQ(w.Target.Log.back(), "finished 3");
}

// Records soon after a message wait for the next one; other events, a flush of a quiet
// program and the end of the hold time send them.
TEST(EventQueue, RecordsSoonAfterAMessageAreHeldUntilTheHoldEndsOrTheProgramFallsQuiet)
{
    TQueueWindow w(60000);
    w.Queue->TraceRecord(Record("first"));
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log, (std::vector<std::string>{"record first"})) << "the first record goes at once";
    w.Queue->TraceRecord(Record("held"));
    w.Queue->Flush(false);
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log.size(), 1u) << "within the hold time, and the program still busy";
    w.Queue->Flush(true);
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log.back(), "record held");
    w.Queue->TraceRecord(Record("second"));
    w.Queue->SessionError("failed");
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log.back(), "error failed") << "an error goes at once, the record before it first";
    w.Queue->SessionWarning("not traced");
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log.back(), "warning not traced") << "a warning goes at once, as what it is";
    EXPECT_EQ(w.Messages, 4);

    TQueueWindow soon(1);
    soon.Queue->TraceRecord(Record("a"));
    TRecorder::Pump();
    Sleep(20);
    soon.Queue->TraceRecord(Record("b"));
    TRecorder::Pump();
    EXPECT_EQ(soon.Target.Log.size(), 2u) << "a record after the hold time goes at once";
}

TEST(EventQueue, EventsArrivingWhileAnErrorIsShownKeepTheirPlace)
{
    TQueueWindow w;
    w.Target.NestedEvents = [&] {
        w.Target.NestedEvents = nullptr;
        w.Queue->TraceRecord(Record("late"));
    };
    w.Queue->TraceRecord(Record("first"));
    w.Queue->SessionError("failed");
    w.Queue->TraceRecord(Record("second"));
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log, (std::vector<std::string>{"record first", "error failed", "record second", "record late"}));

    w.Queue->TraceRecord(Record("dropped"));
    w.Queue->Discard();
    TRecorder::Pump();
    EXPECT_EQ(w.Target.Log.size(), 4u) << "discarded events are not delivered";
}

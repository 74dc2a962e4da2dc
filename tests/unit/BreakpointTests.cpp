#include "FakeProcess.h"
#include "OCIBreaks.h"
#include "SysProcs.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD Code = 0x401000;

class BreakpointsTest : public ::testing::Test {
protected:
    void SetUp() override { process.Poke(Code, std::string("\x55\x8B\xEC\x83\xEC\x10\xC3\x90", 8)); }

    TFakeProcess process;
    TBreakpoints list;
};

} // namespace

TEST_F(BreakpointsTest, ArmingTwiceWritesOnceAndDisarmingUnarmedWritesNothing)
{
    auto* bp = list.AddBreakpoint<TReturnBreakpoint>(&process, Code + 1);
    EXPECT_FALSE(bp->Armed);
    EXPECT_EQ(process.Writes, 0) << "creation only records the place";

    bp->Arm();
    bp->Arm();
    EXPECT_EQ(process.Writes, 1);
    EXPECT_EQ(process.Peek(Code + 1), 0xCC);
    EXPECT_EQ(bp->SavedByte, 0x8B);

    bp->Disarm();
    bp->Disarm();
    EXPECT_EQ(process.Writes, 2);
    EXPECT_EQ(process.Peek(Code + 1), 0x8B);
}

TEST_F(BreakpointsTest, SecondBreakpointAtArmedAddressKeepsOriginalByte)
{
    auto* first = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    auto* second = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    first->Arm();
    int reads = process.Reads, writes = process.Writes;
    second->Arm();
    EXPECT_EQ(process.Reads, reads) << "the shared patch is not read again";
    EXPECT_EQ(process.Writes, writes);
    EXPECT_EQ(second->SavedByte, 0x55) << "0xCC must never be taken for the original byte";

    first->Disarm();
    EXPECT_EQ(process.Peek(Code), 0xCC) << "the other breakpoint still needs the patch";
    second->Disarm();
    EXPECT_EQ(process.Peek(Code), 0x55);
    EXPECT_FALSE(list.IsPatched(Code));
    EXPECT_EQ(list.Find(Code), first) << "Find returns the breakpoint created first";
}

TEST_F(BreakpointsTest, FailedWritesLeaveTheStateAsItWas)
{
    auto* bp = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    process.ReadOnly.insert(Code);
    EXPECT_THROW(bp->Arm(), EOSError);
    EXPECT_FALSE(bp->Armed);
    EXPECT_FALSE(list.IsPatched(Code));
    EXPECT_EQ(process.Peek(Code), 0x55);

    auto* unreadable = list.AddBreakpoint<TReturnBreakpoint>(&process, 0x900000);
    EXPECT_THROW(unreadable->Arm(), EOSError);
    EXPECT_FALSE(unreadable->Armed);
}

TEST_F(BreakpointsTest, ClearingGoesOnPastAFailedWriteAndReportsTheFirstError)
{
    auto* a = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    auto* b = list.AddBreakpoint<TReturnBreakpoint>(&process, Code + 2);
    auto* c = list.AddBreakpoint<TReturnBreakpoint>(&process, Code + 4);
    a->Arm();
    b->Arm();
    c->Arm();
    process.ReadOnly.insert(Code + 2);  // the module went away under b, say

    EXPECT_THROW(list.ClearAll(), EOSError);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(process.Peek(Code), 0x55);
    EXPECT_EQ(process.Peek(Code + 4), 0xEC) << "breakpoints after the failed one are still disarmed";
    EXPECT_FALSE(list.IsPatched(Code + 2));
}

TEST_F(BreakpointsTest, NothingIsWrittenToAProcessThatHasEnded)
{
    auto* a = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    auto* b = list.AddBreakpoint<TReturnBreakpoint>(&process, Code + 2);
    a->Arm();
    b->Arm();
    process.Running = false;
    int writes = process.Writes;
    list.Remove(a);
    EXPECT_NO_THROW(list.ClearAll());
    EXPECT_EQ(process.Writes, writes);
    EXPECT_EQ(list.Count(), 0);

    auto* c = list.AddBreakpoint<TReturnBreakpoint>(&process, Code + 4);
    process.Running = true;
    c->Arm();
    process.Running = false;
    writes = process.Writes;
    {
        TBreakpoints doomed;
        auto* d = doomed.AddBreakpoint<TReturnBreakpoint>(&process, Code + 5);
        process.Running = true;
        d->Arm();
        process.Running = false;
        writes = process.Writes;
    }
    EXPECT_EQ(process.Writes, writes) << "destroying the list after the end writes nothing";
}

TEST_F(BreakpointsTest, ReturnsMatchTheirThreadInnermostCallFirst)
{
    auto add = [&](DWORD thread, DWORD esp) {
        auto* ret = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
        ret->ThreadId = thread;
        ret->EntryEsp = esp;
        ret->Arm();
        return ret;
    };
    auto* outer = add(1, 0x12FF00);
    auto* inner = add(1, 0x12FE00);
    auto* other = add(2, 0x22FE00);

    // Returning from the inner call the stack pointer sits just above its entry value.
    EXPECT_EQ(list.FindReturn(Code, 1, 0x12FE04), inner);
    EXPECT_EQ(list.FindReturn(Code, 1, 0x12FF04), outer);
    EXPECT_EQ(list.FindReturn(Code, 2, 0x22FE04), other);
    EXPECT_EQ(list.FindReturn(Code, 3, 0x32FE04), nullptr) << "a thread without a call of its own here";
    EXPECT_EQ(list.FindReturn(Code + 1, 1, 0x12FE04), nullptr);
}

TEST_F(BreakpointsTest, SteppingLiftsThePatchUntilTheLastStepEnds)
{
    auto* bp = list.AddBreakpoint<TReturnBreakpoint>(&process, Code);
    bp->Arm();
    list.SuspendPatch(Code);
    list.SuspendPatch(Code);
    EXPECT_EQ(process.Peek(Code), 0x55);
    list.ResumePatch(Code);
    EXPECT_EQ(process.Peek(Code), 0x55) << "another thread is still stepping over it";
    list.ResumePatch(Code);
    EXPECT_EQ(process.Peek(Code), 0xCC);

    // A patch removed while a thread steps over it is not put back by that step.
    list.SuspendPatch(Code);
    list.Remove(bp);
    list.ResumePatch(Code);
    EXPECT_EQ(process.Peek(Code), 0x55);
}

TEST(CallFrame, ArgumentsComeFromOneReadOrFailOneByOne)
{
    TFakeProcess process;
    constexpr DWORD Esp = 0x12F000;
    for (DWORD i = 0; i < TCallFrame::WordCount; ++i)
        process.PokeDword(Esp + 4 * i, 0x100 + i);
    {
        TCallFrame frame(process, Esp);
        EXPECT_EQ(process.Reads, 1);
        EXPECT_EQ(frame.Word(0), 0x100u);
        EXPECT_EQ(frame.Word(8), 0x108u);
        EXPECT_EQ(process.Reads, 1);
    }
    // The top of the readable stack: the words below it are still there, one read each.
    for (DWORD a = Esp + 12; a < Esp + 4 * TCallFrame::WordCount; ++a)
        process.Memory.erase(a);
    TCallFrame frame(process, Esp);
    EXPECT_EQ(frame.Word(2), 0x102u);
    EXPECT_THROW(frame.Word(3), EOSError);
}

TEST(TraceRecords, NotifyBreakpointPostsOnlyTracedActions)
{
    TFakeProcess process;
    process.Poke(Code, "\x55");
    TBreakpoints list;
    auto* bp = list.AddBreakpoint<TOCIStmtExecuteBreakpoint>(&process, Code);
    bp->SetEnabled(false);
    EXPECT_FALSE(bp->Armed);
    bp->SetEnabled(true);
    EXPECT_TRUE(bp->Armed);

    auto* prepare = list.AddBreakpoint<TOCIStmtPrepareBreakpoint>(&process, Code + 0x10);
    process.Poke(Code + 0x10, "\x55");
    prepare->SetEnabled(false);
    EXPECT_TRUE(prepare->Armed) << "prepares feed the registry whatever the mask";

    std::unique_ptr<TBreakpointData> record = std::make_unique<TOCIStmtPrepareData>();
    prepare->PostRecord(record);
    EXPECT_FALSE(record) << "an untraced action's record is destroyed, not posted";
}

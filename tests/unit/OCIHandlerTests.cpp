#include "FakeProcess.h"
#include "OCIBreaks.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD Entry = 0x10001000;
constexpr DWORD Esp = 0x0012F000;
constexpr DWORD Text = 0x00500000;

// One OCI call stopped at its entry: the stack holds the return address and arguments.
class OCIHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Statements().Clear();
        process.Poke(Entry, "\x55");
    }
    void TearDown() override { Statements().Clear(); }

    void Stack(std::vector<DWORD> args)
    {
        process.PokeDword(Esp, 0x00401234);
        for (size_t i = 0; i < TCallFrame::WordCount - 1; ++i)
            process.PokeDword(Esp + 4 * static_cast<DWORD>(i + 1), i < args.size() ? args[i] : 0);
    }

    template <class T>
    std::unique_ptr<TBreakpointData> Call(std::vector<DWORD> args)
    {
        Stack(std::move(args));
        auto* bp = list.AddBreakpoint<T>(&process, Entry);
        CONTEXT context{};
        context.Esp = Esp;
        TCallFrame frame(process, Esp);
        bp->Hit(context, frame);
        std::unique_ptr<TBreakpointData> record;
        if (auto* notify = dynamic_cast<TOCINotifyBreakpoint*>(bp))
            record = std::move(notify->Data);
        list.Remove(bp);
        return record;
    }

    std::unique_ptr<TBreakpointData> Prepare(DWORD handle, const std::string& text)
    {
        process.Poke(Text, text);
        return Call<TOCIStmtPrepareBreakpoint>({handle, 0xE, Text, static_cast<DWORD>(text.size()), 1, 0});
    }

    std::string Registered(DWORD handle)
    {
        TOCIStmt* stmt = Statements().FindHandle(handle);
        return stmt ? stmt->Text : "(none)";
    }

    TFakeProcess process;
    TBreakpoints list;
};

} // namespace

TEST_F(OCIHandlerTest, PrepareTakesExactlyStmtLenBytesIntoRecordAndRegistry)
{
    const std::string text("SELECT a\r\nFROM t\nWHERE x = '\0'", 30);
    auto record = Prepare(0xAA, text);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->GetActionText(), "Prepare");
    EXPECT_EQ(record->Statement, text);
    EXPECT_GT(record->Time, 0.0) << "the start time is stamped";
    EXPECT_EQ(Registered(0xAA), text);

    process.Poke(Text, "SELECT 1 FROM dual");
    Call<TOCIStmtPrepareBreakpoint>({0xAA, 0xE, Text, 6, 1, 0});
    EXPECT_EQ(Registered(0xAA), "SELECT") << "a re-prepared handle holds only the new text";
    EXPECT_EQ(Statements().Count(), 1);

    auto empty = Call<TOCIStmtPrepareBreakpoint>({0xBB, 0xE, Text, 0, 1, 0});
    EXPECT_EQ(empty->Statement, "");
    EXPECT_EQ(Registered(0xBB), "");
}

TEST_F(OCIHandlerTest, UnreadableTextBecomesTheStatementAndKeepsTheOldEntry)
{
    Prepare(0xAA, "SELECT old FROM t");
    const std::string readError = EOSError(ERROR_PARTIAL_COPY).what();

    auto unmapped = Call<TOCIStmtPrepareBreakpoint>({0xAA, 0xE, 0x7FFF0000, 10, 1, 0});
    EXPECT_EQ(unmapped->Statement, readError);
    EXPECT_EQ(Registered(0xAA), "SELECT old FROM t");

    auto garbage = Call<TOCIStmtPrepareBreakpoint>({0xAA, 0xE, Text, 0xFFFFFFF0, 1, 0});
    EXPECT_EQ(garbage->Statement, EOSError(ERROR_NOT_ENOUGH_MEMORY).what());
    auto runsOff = Call<TOCIStmtPrepareBreakpoint>({0xAA, 0xE, Text, 100000, 1, 0});
    EXPECT_EQ(runsOff->Statement, readError);
    EXPECT_EQ(Registered(0xAA), "SELECT old FROM t");
}

TEST_F(OCIHandlerTest, ExecuteAndFetchShowTheRegisteredTextOrUnavailable)
{
    Prepare(0, "SELECT zero FROM t");  // handle value 0 is registered like any other
    Prepare(0xAA, "SELECT a FROM t");

    struct {
        DWORD Handle;
        const char* Statement;
    } cases[] = {{0xAA, "SELECT a FROM t"}, {0, "SELECT zero FROM t"}, {0xCC, "<unavailable>"}};
    for (const auto& c : cases) {
        auto execute = Call<TOCIStmtExecuteBreakpoint>({0x5C, c.Handle, 0xE, 1, 0, 0, 0, 0});
        EXPECT_EQ(execute->GetActionText(), "Execute");
        EXPECT_EQ(execute->Statement, c.Statement);
        auto fetch = Call<TOCIStmtFetchBreakpoint>({c.Handle, 0xE, 10, 2, 0});
        EXPECT_EQ(fetch->GetActionText(), "Fetch (10)");
        EXPECT_EQ(fetch->Statement, c.Statement);
    }
    auto negative = Call<TOCIStmtFetchBreakpoint>({0xAA, 0xE, static_cast<DWORD>(-5), 2, 0});
    EXPECT_EQ(negative->GetActionText(), "Fetch (-5)");
}

TEST_F(OCIHandlerTest, HandleFreeDropsTheEntryAndAReprepareAppendsANewOne)
{
    Prepare(0xAA, "SELECT a FROM t");
    Prepare(0xBB, "SELECT b FROM t");
    EXPECT_FALSE(Call<TOCIHandleFreeBreakpoint>({0xAA, 4})) << "a handle free makes no record";
    EXPECT_EQ(Registered(0xAA), "(none)");
    auto execute = Call<TOCIStmtExecuteBreakpoint>({0x5C, 0xAA, 0xE, 1});
    EXPECT_EQ(execute->Statement, "<unavailable>");

    Call<TOCIHandleFreeBreakpoint>({0xDD, 4});
    EXPECT_EQ(Statements().Count(), 1) << "freeing an unknown handle changes nothing";

    Prepare(0xAA, "SELECT again FROM t");
    ASSERT_EQ(Statements().Count(), 2);
    EXPECT_EQ(Statements().Items(1)->Handle, 0xAAu) << "the new entry goes to the end";
    EXPECT_EQ(Statements().Items(1)->Text, "SELECT again FROM t");
}

TEST_F(OCIHandlerTest, DecodingFailuresKeepFieldsSetBeforeThem)
{
    auto* bp = list.AddBreakpoint<TOCIStmtFetchBreakpoint>(&process, Entry);
    CONTEXT context{};
    context.Esp = 0x00700000;  // an unreadable stack
    TCallFrame frame(process, context.Esp);
    bp->Hit(context, frame);
    ASSERT_TRUE(bp->Data);
    EXPECT_EQ(bp->Data->GetActionText(), "Fetch (0)");
    EXPECT_EQ(bp->Data->Statement, EOSError(ERROR_PARTIAL_COPY).what());

    auto* free = list.AddBreakpoint<TOCIHandleFreeBreakpoint>(&process, Entry + 8);
    EXPECT_THROW(free->Hit(context, frame), EOSError) << "a handle free that cannot be read ends the session";
}

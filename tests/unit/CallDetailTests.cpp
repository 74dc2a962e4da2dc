// The details of calls against a process made of bytes: the binds a statement is given
// and the Binds cell of its executes, bad input in them, and the rule by which a record
// waits for the error text and the rows the program reads after the call.
#include "BindValues.h"
#include "FakeTracerHost.h"
#include "OCIBreaks.h"
#include "OCITexts.h"
#include "StatementTotals.h"
#include "TargetCheck.h"
#include "TraceMask.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <tuple>

namespace {

constexpr TAddress Esp = 0x0012F000;
constexpr uint32_t Svc = 0x5C, Err = 0xE0, Err2 = 0xE2;
constexpr uint32_t Unmapped = 0x7FFF0000;

template <class T>
std::string Raw(T value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

uint32_t Lo(int64_t v) { return static_cast<uint32_t>(v); }
uint32_t Hi(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32); }

// A bind call's arguments.
struct TBind {
    std::string Name;       // by name when not empty
    uint32_t Position = 0;  // else by position
    bool Second = false;    // OCIBindBy...2: an 8-byte size, ub4 lengths
    TAddress Value = 0;
    int64_t Size = 0;
    uint16_t Type = 0;
    TAddress Indicator = 0;
    TAddress Lengths = 0;
    uint32_t Mode = 0;
    uint32_t Handle = 0xB0;
    // What the program passes in *bindpp: a bind handle made before, bound anew.
    uint32_t Previous = 0;
    TAddress NameAt = 0;       // where the name lies; 0: put there by Bind
    int32_t NameLength = -2;   // -2: the name's size
};

class CallDetailTest : public ::testing::Test {
protected:
    void Use(TTraceMask mask, bool hide = false) { tracer = std::make_unique<TOCITracer>(mask, events, hide); }

    // Calls entry on thread with its 32-bit stack words (an 8-byte argument as two, low
    // first); work runs while the call is under way, as the library fills its out buffers.
    void Call(const char* entry, std::vector<uint32_t> words, int32_t result = 0, DWORD thread = 1,
              const std::function<void()>& work = {})
    {
        CallTraced(*tracer, host, Esp, entry, words, result, thread, work);
    }

    // Bytes somewhere of their own in the program's memory.
    TAddress Put(const std::string& bytes)
    {
        TAddress at = FNext;
        host.Process.Poke(at, bytes);
        FNext += (bytes.size() + 0x20) & ~TAddress(0xF);
        return at;
    }

    void Prepare(uint32_t stmt, const std::string& sql, DWORD thread = 1)
    {
        Call("OCIStmtPrepare", {stmt, Err, static_cast<uint32_t>(Put(sql)), static_cast<uint32_t>(sql.size()), 1, 0},
             0, thread);
    }

    void Bind(uint32_t stmt, TBind b)
    {
        TAddress out = Put(Raw<uint32_t>(b.Previous));
        if (!b.NameAt && !b.Name.empty())
            b.NameAt = Put(b.Name);
        auto name = static_cast<uint32_t>(b.NameAt);
        auto nameLength = static_cast<uint32_t>(b.NameLength == -2 ? static_cast<int32_t>(b.Name.size()) : b.NameLength);
        std::vector<uint32_t> words{stmt, static_cast<uint32_t>(out), Err};
        if (b.Name.empty())
            words.push_back(b.Position);
        else
            words.insert(words.end(), {name, nameLength});
        words.push_back(static_cast<uint32_t>(b.Value));
        words.push_back(Lo(b.Size));
        if (b.Second)
            words.push_back(Hi(b.Size));
        words.insert(words.end(), {b.Type, static_cast<uint32_t>(b.Indicator), static_cast<uint32_t>(b.Lengths), 0, 0,
                                   0, b.Mode});
        std::string entry = std::string("OCIBindBy") + (b.Name.empty() ? "Pos" : "Name") + (b.Second ? "2" : "");
        Call(entry.c_str(), words, 0, 1, [&] { host.Process.PokeDword(out, b.Handle); });
    }

    // The Binds cell of an execute of stmt.
    std::string Execute(uint32_t stmt, uint32_t iters = 1, uint32_t rowOffset = 0)
    {
        Call("OCIStmtExecute", {Svc, stmt, Err, iters, rowOffset, 0, 0, 0});
        return BindsText(events.Records.back().Binds);
    }

    TFakeHost host;
    TRecords events;
    std::unique_ptr<TOCITracer> tracer = std::make_unique<TOCITracer>(TraceMaskAll, events);

private:
    TAddress FNext = 0x00500000;
};

std::string Varnum(std::initializer_list<int> number)
{
    std::string bytes(1, static_cast<char>(number.size()));
    for (int b : number)
        bytes += static_cast<char>(b);
    return bytes + std::string(22 - bytes.size(), '\xEE');
}

} // namespace

TEST_F(CallDetailTest, BindsShowTheirValuesAsEachExecuteFindsThemInBindOrder)
{
    const uint32_t S = 0x51;
    Prepare(S, "INSERT INTO t VALUES (:a, :b, :3, :4)");
    TAddress a = Put(Raw<int32_t>(1));
    TAddress b = Put(Varnum({0xC2, 0x02})), bInd = Put(Raw<int16_t>(0));
    TAddress c = Put("xJUNKJUNKJ"), cLen = Put(Raw<uint16_t>(1));
    TAddress d = Put("yzJUNKJU"), dLen = Put(Raw<uint32_t>(2));
    Bind(S, {":a", 0, false, a, 4, Sqlt::Int, 0, 0, 0, 0xB1});
    Bind(S, {"b", 0, true, b, 22, Sqlt::Vnu, bInd, 0, 0, 0xB2});
    Bind(S, {"", 3, false, c, 10, Sqlt::Chr, 0, cLen, 0, 0xB3});
    Bind(S, {"", 4, true, d, 8, Sqlt::Chr, 0, dLen, 0, 0xB4});
    EXPECT_EQ(Execute(S), ":a=1, :b=100, :3='x', :4='yz'") << "the 8-byte size of the second generation is two words";

    // Values as they are at each execute; a NULL indicator.
    host.Process.Poke(a, Raw<int32_t>(2));
    host.Process.Poke(bInd, Raw<int16_t>(-1));
    EXPECT_EQ(Execute(S, 0), ":a=2, :b=NULL, :3='x', :4='yz'") << "a query's iters 0 is one set of values";

    // Bound again: by the same placeholder in another spelling, in its place; through the
    // bind handle made before for another placeholder (one variable reused for every
    // bind): both stay, the new one last.
    Bind(S, {":A", 0, false, Put(std::string("hi\0", 3)), 3, Sqlt::Str, 0, 0, 0, 0xB5});
    Bind(S, {"z", 0, false, Put(Raw<int32_t>(7)), 4, Sqlt::Int, 0, 0, 0, 0xB6, 0xB2});
    Call("OCIBindDynamic", {0xB3, Err, 0, 0, 0, 0});
    EXPECT_EQ(Execute(S), ":A='hi', :b=NULL, :3=<at execute>, :4='yz', :z=7");
    // A handle handed out again names the latest bind made with it.
    Bind(S, {"q", 0, false, Put(Raw<int32_t>(8)), 4, Sqlt::Int, 0, 0, 0, 0xB4});
    Call("OCIBindDynamic", {0xB4, Err, 0, 0, 0, 0});
    EXPECT_EQ(Execute(S), ":A='hi', :b=NULL, :3=<at execute>, :4='yz', :z=7, :q=<at execute>");

    // Prepared again on the same handle, or freed: the binds go.
    Prepare(S, "SELECT 1 FROM dual");
    EXPECT_EQ(Execute(S), "");
    Bind(S, {":a", 0, false, a, 4, Sqlt::Int});
    Call("OCIHandleFree", {S, 4});
    EXPECT_EQ(Execute(S), "");

    // Hidden values: the names stay.
    Use(TraceMaskAll, true);
    Bind(S, {":a", 0, false, a, 4, Sqlt::Int});
    Bind(S, {":b", 0, false, a, 4, Sqlt::Int, Put(Raw<int16_t>(-1))});
    EXPECT_EQ(Execute(S), ":a=?, :b=?");
}

TEST_F(CallDetailTest, AnArrayExecuteShowsItsFirstRowsAtTheirStrides)
{
    const uint32_t S = 0x52;
    Prepare(S, "INSERT INTO t VALUES (:1, :n)");
    std::string ints;
    for (int32_t v : {10, 20, 30, 40, 50})
        ints += Raw(v);
    Bind(S, {"", 1, false, Put(ints), 4, Sqlt::Int});
    // An array of structs: indicator, length, then the text, 10 bytes a row.
    std::string rows;
    for (auto [ind, text] : {std::pair{0, "a"}, {0, "bb"}, {-1, ""}, {0, "dddd"}, {0, "e"}}) {
        std::string value = std::string(text) + std::string(6 - std::strlen(text), '#');
        rows += Raw<int16_t>(static_cast<int16_t>(ind)) + Raw<uint16_t>(static_cast<uint16_t>(std::strlen(text))) + value;
    }
    TAddress base = Put(rows);
    Bind(S, {":n", 0, false, base + 4, 6, Sqlt::Chr, base, base + 2, 0, 0xB7});
    Call("OCIBindArrayOfStruct", {0xB7, Err, 10, 10, 10, 0});
    EXPECT_EQ(Execute(S, 5), ":1=10, :n='a'; :1=20, :n='bb'; :1=30, :n=NULL; ... (5 rows)");
    EXPECT_EQ(Execute(S, 2, 3), ":1=40, :n='dddd'; :1=50, :n='e'") << "from the row offset on";

    int readsBefore = host.Process.Reads;
    EXPECT_EQ(Execute(S, 1000000), ":1=10, :n='a'; :1=20, :n='bb'; :1=30, :n=NULL; ... (1000000 rows)");
    EXPECT_LE(host.Process.Reads - readsBefore, 30) << "a million rows cost what three do";
}

// Bad input gives a clear cell: never a byte the program did not declare or could not read.
TEST_F(CallDetailTest, BadBindInputGivesAClearCell)
{
    TAddress noAccess = Put(Raw<int32_t>(42));
    host.Process.NoAccess.push_back({noAccess, noAccess + 4});
    TAddress half = Put("abcd");  // a buffer of 8 whose second half is not mapped
    TAddress longText = Put("hello" + std::string(1200, 'x'));
    TAddress shortOfHuge = Put(std::string("tail\0", 5) + std::string(1200, 'q'));
    TAddress lengthNoAccess = Put(Raw<uint16_t>(2));
    host.Process.NoAccess.push_back({lengthNoAccess, lengthNoAccess + 2});
    TAddress five = Put(Raw<int32_t>(5));
    struct TCase {
        const char* Name;
        TBind Bind;
        const char* Shown;
    } cases[] = {
        {"unmapped value", {":v", 0, false, Unmapped, 4, Sqlt::Int}, ":v=<unreadable>"},
        {"value on a no-access page", {":v", 0, false, noAccess, 4, Sqlt::Int}, ":v=<unreadable>"},
        {"value only partly readable", {":v", 0, false, half, 8, Sqlt::Chr}, ":v=<unreadable>"},
        {"length beyond the buffer", {":v", 0, false, half, 3, Sqlt::Chr, 0, Put(Raw<uint16_t>(60))}, ":v='abc'"},
        {"negative size", {":v", 0, false, five, -4, Sqlt::Int}, ":v=<unreadable>"},
        {"unknown type", {":v", 0, false, five, 4, 77}, ":v=<type 77>"},
        {"unmapped indicator", {":v", 0, false, five, 4, Sqlt::Int, Unmapped}, ":v=<unreadable>"},
        {"length on a no-access page", {":v", 0, false, half, 4, Sqlt::Chr, 0, lengthNoAccess}, ":v=<unreadable>"},
        {"unreadable name", {":v", 0, false, five, 4, Sqlt::Int, 0, 0, 0, 0xB0, 0, Unmapped}, ":<unreadable>=5"},
        {"name ended by its NUL", {"nm", 0, false, five, 4, Sqlt::Int, 0, 0, 0, 0xB0, 0, Put(std::string("nm\0x", 4)), 0},
         ":nm=5"},
    };
    uint32_t stmt = 0x100;
    for (const TCase& c : cases) {
        ++stmt;
        Bind(stmt, c.Bind);
        EXPECT_EQ(Execute(stmt), c.Shown) << c.Name;
    }
    EXPECT_EQ(Execute(0x7777), "") << "a statement without binds";
    // Huge sizes: no more read than the cell shows, the count as declared.
    Bind(0x200, {":v", 0, false, longText, 0x7FFFFFFF, Sqlt::Chr});
    EXPECT_EQ(Execute(0x200), ":v='hello" + std::string(195, 'x') + "...' (2147483647 characters)");
    Bind(0x201, {":v", 0, true, shortOfHuge, 0x100000010LL, Sqlt::Str});
    EXPECT_EQ(Execute(0x201), ":v='tail'");
}

// The same bind from a 64-bit program: every argument a word of its own, the first four
// in registers.
TEST_F(CallDetailTest, A64BitProgramsBindIsReadFromItsOwnArgumentWords)
{
    host.Is64 = true;
    TAddress value = Put(Raw<int64_t>(-9)), out = Put(std::string(8, '\0')), name = Put("lo");
    uint64_t slots[16] = {0x401234, 0x53, out, Err, name, 2, value, 8, Sqlt::Int, 0, 0, 0, 0, 0, 0};
    TCallFrame frame(host.Process, true, Esp, slots, 15);
    frame.ThreadId = 1;
    int id = HookId("OCIBindByName2");
    auto data = tracer->CallEntered(host, id, frame);
    ASSERT_TRUE(data);
    host.Process.PokeValue<uint64_t>(out, 0x1234567890ULL);
    tracer->CallReturned(host, id, *data, 0, 0);
    host.Is64 = false;
    EXPECT_EQ(Execute(0x53), ":lo=-9");
}

// The waits of OCIWaits.h, call by call: what each delivery and update says.
TEST_F(CallDetailTest, ARecordWaitsForWhatItsThreadReadsNextAndNoLonger)
{
    TAddress text = Put(std::string("ORA-00942: table or view does not exist \r\n") + std::string(22, '\0'));
    TAddress small = Put("ORA-00942" + std::string(55, 'J'));
    TAddress buffer = Put(std::string(64, '\0'));
    TAddress code = Put(Raw<int32_t>(0));
    auto errorGet = [&](uint32_t handle, uint32_t record, TAddress from, uint32_t size, int32_t result, DWORD thread) {
        // No size: no buffer at all.
        uint32_t bufp = size ? static_cast<uint32_t>(buffer) : 0;
        Call("OCIErrorGet", {handle, record, 0, static_cast<uint32_t>(code), bufp, size, 2},
             result, thread, [&] {
                 if (from)
                     host.Process.Poke(buffer, host.Process.ReadString(from, size));
             });
    };
    TAddress count = Put(std::string(8, '\0'));
    auto attrGet = [&](uint32_t stmt, uint32_t attribute, uint64_t value, DWORD thread = 1) {
        Call("OCIAttrGet", {stmt, 4, static_cast<uint32_t>(count), 0, attribute, Err}, 0, thread,
             [&] { host.Process.PokeValue<uint64_t>(count, value); });
    };
    auto execute = [&](uint32_t stmt, int32_t result, DWORD thread = 1) {
        Call("OCIStmtExecute", {Svc, stmt, Err, 1, 0, 0, 0, 0}, result, thread);
    };
    auto fetch = [&](uint32_t stmt, int32_t result = 0) { Call("OCIStmtFetch2", {stmt, Err, 10, 2, 0, 0}, result); };
    // What was delivered and updated since the last look: "serial:pending rows 'error'".
    auto seen = [&] {
        std::string s;
        for (const TTraceRecord& r : events.Log)
            s += (s.empty() ? "" : " | ") + std::to_string(r.Serial) + (r.Pending ? ":pending " : ":done ") +
                 std::to_string(r.Rows) + " '" + r.Error + "'";
        events.Log.clear();
        return s;
    };

    Use(TraceMaskExecute | TraceMaskFetch | TraceMaskErrors);
    execute(0x51, OCI_SUCCESS);
    EXPECT_EQ(seen(), "1:done -1 ''") << "a success leaves no error to wait for";
    execute(0x51, OCI_ERROR);
    errorGet(Err, 2, text, 64, OCI_SUCCESS, 1);
    errorGet(Err2, 1, text, 64, OCI_SUCCESS, 1);
    errorGet(Err, 1, text, 64, OCI_SUCCESS, 2);
    errorGet(Err, 1, 0, 0, OCI_SUCCESS, 1);
    Call("OCIBindByName", {0x51, static_cast<uint32_t>(Put("")), Err, 0, 0, 0, 4, 3});
    Call("OCIHandleFree", {0x51, 4});
    Call("OCIStmtRelease", {0x51, Err, 0, 0, 0});
    EXPECT_EQ(seen(), "2:pending -1 ''") << "record 2, another handle, another thread, no buffer, binds, frees and "
                                            "releases complete nothing";
    errorGet(Err, 1, text, 64, OCI_SUCCESS, 1);
    errorGet(Err, 1, small, 64, OCI_SUCCESS, 1);
    EXPECT_EQ(seen(), "2:done -1 'ORA-00942: table or view does not exist'") << "trailing blanks and breaks go; "
                                                                                "one answer";
    execute(0x51, OCI_SUCCESS_WITH_INFO);
    errorGet(Err, 1, small, 9, OCI_SUCCESS, 1);
    execute(0x51, OCI_ERROR);
    errorGet(Err, 1, 0, 64, OCI_NO_DATA, 1);
    execute(0x51, OCI_ERROR);
    Prepare(0x51, "SELECT 1 FROM dual");
    execute(0x51, OCI_ERROR);
    Call("OCIHandleFree", {Err, 2});
    execute(0x51, OCI_ERROR, 3);
    Call("OCIStmtExecute", {Svc, 0x51, Err, 1, 0, 0, 0, 0}, OCI_ERROR, 4);
    tracer->ThreadEnded(host, 3);
    tracer->SessionEnding(host);
    EXPECT_EQ(seen(), "3:pending -1 '' | 3:done -1 'ORA-00942' | "  // a warning; a buffer too small
                      "4:pending -1 '' | 4:done -1 '' | "           // no error recorded
                      "5:pending -1 '' | 5:done -1 '' | "           // never asked: the next statement call
                      "6:pending -1 '' | 6:done -1 '' | "           // its error handle freed
                      "7:pending -1 '' | 8:pending -1 '' | "        // on threads 3 and 4:
                      "7:done -1 '' | 8:done -1 ''");               // the thread's end, the session's

    Use(TraceMaskExecute | TraceMaskFetch | TraceMaskRows);
    execute(0x51, OCI_SUCCESS);
    attrGet(0x51, OCI_ATTR_ROWS_FETCHED, 9);
    attrGet(0x52, OCI_ATTR_UB8_ROW_COUNT, 9);
    attrGet(0x51, OCI_ATTR_UB8_ROW_COUNT, 0x100000002ULL, 2);
    attrGet(0x51, OCI_ATTR_UB8_ROW_COUNT, 0x100000002ULL);
    // A fetch takes rows fetched, or the growth of the row count since the execute.
    fetch(0x51);
    attrGet(0x51, OCI_ATTR_ROWS_FETCHED, 3);
    execute(0x51, OCI_SUCCESS);
    fetch(0x51);
    attrGet(0x51, OCI_ATTR_ROW_COUNT, 20);
    fetch(0x51, OCI_NO_DATA);
    attrGet(0x51, OCI_ATTR_ROW_COUNT, 25);
    fetch(0x51);
    Call("OCIStmtRelease", {0x51, Err, 0, 0, 0});
    EXPECT_EQ(seen(), "1:pending -1 '' | 1:done 4294967298 '' | "  // rows fetched, another statement, another
                                                                    // thread: not an execute's
                      "2:pending -1 '' | 2:done 3 '' | "
                      "3:pending -1 '' | 3:done -1 '' | "  // an execute nobody asks about
                      "4:pending -1 '' | 4:done 20 '' | 5:pending -1 '' | 5:done 5 '' | "
                      "6:pending -1 '' | 6:done -1 ''");  // its statement released

    // Both at once: the record is done when both are.
    Use(TraceMaskExecute | TraceMaskErrors | TraceMaskRows);
    execute(0x51, OCI_SUCCESS_WITH_INFO);
    errorGet(Err, 1, text, 64, OCI_SUCCESS, 1);
    attrGet(0x51, OCI_ATTR_ROW_COUNT, 2);
    EXPECT_EQ(seen(), "1:pending -1 '' | 1:pending -1 'ORA-00942: table or view does not exist' | "
                      "1:done 2 'ORA-00942: table or view does not exist'");
}

// The totals per statement count a record's rows once it is complete: its first delivery
// and its updates, as the window and the capture tool take them, add up to the rows the
// program was told of, a fetch's by the growth of the row count.
TEST_F(CallDetailTest, TotalsCountTheRowsTheRecordsAreCompletedWith)
{
    Use(TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch | TraceMaskErrors | TraceMaskRows);
    TAddress count = Put(std::string(8, '\0')), text = Put("ORA-00001: unique constraint violated");
    TAddress buffer = Put(std::string(64, '\0'));
    auto rowCount = [&](uint32_t stmt, uint32_t attribute, uint64_t value) {
        Call("OCIAttrGet", {stmt, OCI_HTYPE_STMT, static_cast<uint32_t>(count), 0, attribute, Err}, 0, 1,
             [&] { host.Process.PokeValue<uint64_t>(count, value); });
    };
    Prepare(0x51, "SELECT id FROM t");
    Call("OCIStmtExecute", {Svc, 0x51, Err, 2, 0, 0, 0, 0});
    rowCount(0x51, OCI_ATTR_ROW_COUNT, 2);
    Call("OCIStmtFetch2", {0x51, Err, 10, 2, 0, 0});
    rowCount(0x51, OCI_ATTR_ROW_COUNT, 12);
    Call("OCIStmtFetch2", {0x51, Err, 10, 2, 0, 0}, OCI_NO_DATA);
    rowCount(0x51, OCI_ATTR_ROWS_FETCHED, 3);
    Prepare(0x52, "UPDATE t SET x = 1");
    Call("OCIStmtExecute", {Svc, 0x52, Err, 1, 0, 0, 0, 0}, OCI_ERROR);
    rowCount(0x52, OCI_ATTR_UB8_ROW_COUNT, 4);
    Call("OCIErrorGet", {Err, 1, 0, static_cast<uint32_t>(count), static_cast<uint32_t>(buffer), 64, 2}, 0, 1,
         [&] { host.Process.Poke(buffer, host.Process.ReadString(text, 37)); });
    Call("OCIStmtExecute", {Svc, 0x52, Err, 1, 0, 0, 0, 0});  // never asked: no rows
    tracer->SessionEnding(host);

    TStatementTotals totals;
    std::set<uint64_t> seen;
    for (const TTraceRecord& r : events.Log)
        if (seen.insert(r.Serial).second)
            totals.Add(r);
        else
            totals.Update(r);
    const TStatementTotal& query = totals.Item(totals.Find("SELECT id FROM t"));
    const TStatementTotal& update = totals.Item(totals.Find("UPDATE t SET x = 1"));
    EXPECT_EQ(std::make_tuple(query.Executes, query.Fetches, query.Rows, query.Errors),
              std::make_tuple(int64_t(1), int64_t(2), int64_t(15), int64_t(0)));
    EXPECT_EQ(std::make_tuple(update.Executes, update.Fetches, update.Rows, update.Errors),
              std::make_tuple(int64_t(2), int64_t(0), int64_t(4), int64_t(1)));
}

// With fast hooks a stub's filter sends OCIAttrGet and OCIErrorGet calls straight to the
// original: it must pass every call that can complete a waiting record, and should pass
// few others.
TEST_F(CallDetailTest, AStubsFilterPassesEveryReadThatCanCompleteARecord)
{
    TAddress buffer = Put(std::string(64, '\0')), text = Put("ORA-01403: no data found");
    const struct {
        const char* Entry;
        std::vector<uint32_t> Words;
        bool Passes;
    } calls[] = {
        {"OCIAttrGet", {0x51, OCI_HTYPE_STMT, static_cast<uint32_t>(buffer), 0, OCI_ATTR_ROW_COUNT, Err}, true},
        {"OCIAttrGet", {0x51, OCI_HTYPE_STMT, static_cast<uint32_t>(buffer), 0, OCI_ATTR_ROWS_FETCHED, Err}, true},
        {"OCIAttrGet", {0x51, OCI_HTYPE_STMT, static_cast<uint32_t>(buffer), 0, OCI_ATTR_UB8_ROW_COUNT, Err}, true},
        {"OCIAttrGet", {0x51, OCI_HTYPE_STMT, static_cast<uint32_t>(buffer), 0, 24, Err}, false},  // its type
        {"OCIAttrGet", {Err, 2, static_cast<uint32_t>(buffer), 0, OCI_ATTR_ROW_COUNT, Err}, false},
        {"OCIErrorGet", {Err, 1, 0, static_cast<uint32_t>(Put(Raw<int32_t>(0))), static_cast<uint32_t>(buffer), 64, 2},
         true},
        {"OCIErrorGet", {Err, 2, 0, static_cast<uint32_t>(Put(Raw<int32_t>(0))), static_cast<uint32_t>(buffer), 64, 2},
         false},
    };
    for (const auto& c : calls) {
        Use(TraceMaskFetch | TraceMaskErrors | TraceMaskRows);
        TEntryFilter filter = tracer->EntryFilter(HookId(c.Entry));
        auto word = [&](int n) { return c.Words[static_cast<size_t>(n - 1)]; };
        bool passes = (!filter.Arg || word(filter.Arg) == filter.Value) &&
                      (!filter.ListArg || std::count(filter.List, filter.List + filter.ListSize, word(filter.ListArg)));
        // A fetch that failed waits for both: every row attribute and the error text complete it.
        Call("OCIStmtFetch2", {0x51, Err, 10, 2, 0, 0}, OCI_ERROR);
        size_t before = events.Log.size();
        Call(c.Entry, c.Words, OCI_SUCCESS, 1, [&] {
            if (std::strcmp(c.Entry, "OCIErrorGet") == 0)
                host.Process.Poke(buffer, host.Process.ReadString(text, 24));
            else
                host.Process.PokeValue<uint64_t>(buffer, 7);
        });
        bool completes = events.Log.size() > before;
        EXPECT_EQ(passes, c.Passes) << c.Entry << " " << c.Words[1] << " " << c.Words[4];
        EXPECT_EQ(completes, c.Passes) << c.Entry << " " << c.Words[1] << " " << c.Words[4];
    }
}

// A kind not traced costs nothing: its entries are not planted. An execute reads bind
// values while the program waits, so it cannot come late.
TEST(CallDetails, EntriesArePlantedByKindWithTheirArgumentWords)
{
    TRecords events;
    for (TTraceMask mask : {TraceMaskExecute, TraceMaskBinds, TraceMaskErrors, TraceMaskRows, TraceMaskConnect,
                            TraceMaskCommit, TraceMaskLobs, TraceMaskFetch, TraceMaskAll}) {
        TOCITracer tracer(mask, events);
        for (int id = 0; id < OCIEntryCount; ++id) {
            TTraceMask kind = 0;
            switch (OCIEntries[id].Call) {
            case TOCICall::Bind:
            case TOCICall::Bind2:
            case TOCICall::BindArray:
            case TOCICall::BindDynamic: kind = TraceMaskBinds; break;
            case TOCICall::ErrorGet: kind = TraceMaskErrors; break;
            case TOCICall::AttrGet: kind = TraceMaskRows; break;
            case TOCICall::TransCommit:
            case TOCICall::TransRollback:
            case TOCICall::TransBranch:
            case TOCICall::TransPrepare: kind = TraceMaskCommit; break;
            case TOCICall::Define:
            case TOCICall::Lob:
            case TOCICall::Lob2: kind = TraceMaskLobs; break;
            case TOCICall::Ping: kind = TraceMaskConnect; break;
            case TOCICall::NextResult: kind = TraceMaskFetch; break;
            // The calls that hand over a password tell the binds where not to look.
            case TOCICall::AttrSet:
            case TOCICall::PoolCreate:
            case TOCICall::Logon:
            case TOCICall::Logon2: kind = TraceMaskConnect | TraceMaskCommit | TraceMaskBinds; break;
            // Connects, disconnects and the calls that name a session's parts: commits
            // show the labels too.
            default: kind = TSessionCalls::IsSessionCall(OCIEntries[id].Call) ? TraceMaskConnect | TraceMaskCommit : 0;
            }
            EXPECT_EQ(tracer.Planted(id), !kind || (mask & kind)) << OCIEntries[id].Name << ", mask " << int(mask);
        }
        EXPECT_EQ(tracer.LateEntry(HookId("OCIStmtExecute")).Allowed, !(mask & TraceMaskBinds)) << int(mask);
    }
    // The published argument lists, in words: all of them a stub hands on.
    const struct {
        const char* Name;
        int Words32, Words64;
    } words[] = {{"OCIBindByName", 14, 14},     {"OCIBindByName2", 15, 14}, {"OCIBindByPos2", 14, 13},
                 {"OCIBindArrayOfStruct", 6, 6}, {"OCIErrorGet", 7, 7},       {"OCIAttrGet", 6, 6},
                 {"OCIStmtExecute", 8, 8},       {"OCISessionGet", 12, 12},   {"OCISessionPoolCreate", 15, 15},
                 {"OCILobRead2", 15, 13},        {"OCILobWriteAppend2", 13, 12}, {"OCILobTrim2", 5, 4},
                 {"OCILobRead", 11, 11},         {"OCIDefineByPos2", 12, 11}, {"OCITransStart", 4, 4}};
    for (const auto& w : words) {
        EXPECT_EQ(OCIEntries[HookId(w.Name)].Words(false), w.Words32) << w.Name;
        EXPECT_EQ(OCIEntries[HookId(w.Name)].Words(true), w.Words64) << w.Name;
    }
}

// The texts of a branch's calls and of implicit results, from the bytes a program set.
TEST(RoundTripTexts, XidsFlagsAndImplicitResultsDecode)
{
    auto xid = [](int32_t format, int32_t gtrid, int32_t bqual, const std::string& data) {
        std::string bytes(12, '\0');
        const int32_t header[3] = {format, gtrid, bqual};
        std::memcpy(bytes.data(), header, sizeof header);
        return bytes + data;
    };
    const struct {
        std::string Bytes, Text;
    } xids[] = {
        {xid(4660, 2, 1, "ab\x01"), "XID 4660, gtrid 6162, bqual 01"},
        {xid(-1, 0, 0, ""), "XID -1, gtrid , bqual "},
        {xid(1, 2, 2, "abc"), ""},    // lengths beyond the bytes
        {xid(1, -1, 0, "abc"), ""},   // a negative length
        {xid(1, 65, 0, std::string(65, 'x')), ""},
        {std::string(11, '\0'), ""},  // no whole header
    };
    for (const auto& x : xids)
        EXPECT_EQ(XidText(x.Bytes), x.Text) << x.Text;
    EXPECT_EQ(TransFlagsText(0x1 | 0x100 | 0x01000000), "new, readonly, two-phase");
    EXPECT_EQ(TransFlagsText(0x20000 | 0x8 | 0x80000000), "tight, 0x80000008");
    EXPECT_EQ(BranchText(0x4, "XID 1, gtrid 00, bqual "), "resume; XID 1, gtrid 00, bqual ");
    EXPECT_EQ(BranchText(0, "XID 1, gtrid 00, bqual "), "XID 1, gtrid 00, bqual ");
    const struct {
        const char* Text;
        const char* Parent;
    } implicit[] = {{"BEGIN p; END; (implicit result 12)", "BEGIN p; END;"},
                    {"SELECT ' (implicit result x)' FROM dual", "SELECT ' (implicit result x)' FROM dual"},
                    {"x (implicit result )", "x (implicit result )"},
                    {" (implicit result 1)", ""}};
    for (const auto& i : implicit)
        EXPECT_EQ(WithoutImplicitResult(i.Text), i.Parent) << i.Text;
}

// A LOB call shows the statement whose define received its locator, as far as the
// statement's fetches filled the array; a redefined or freed statement delivers none.
TEST(RoundTripTexts, LocatorsBelongToTheStatementThatDefinedAndFetchedThem)
{
    std::map<TAddress, std::vector<TAddress>> memory = {{0x1000, {0x51, 0x52, 0x53, 0x54}}, {0x2000, {0x61}}};
    auto read = [&](TAddress array, uint32_t count, std::vector<TAddress>& pointers) {
        auto found = memory.find(array);
        if (found == memory.end() || found->second.size() < count)
            return false;
        pointers.assign(found->second.begin(), found->second.begin() + count);
        return true;
    };
    auto textOf = [](TAddress stmt) { return Format("stmt %llx", static_cast<unsigned long long>(stmt)); };
    TLobLocators lobs;
    lobs.Defined(0xA, 2, 0x1000, true);
    lobs.Defined(0xB, 1, 0x2000, true);
    lobs.Defined(0xC, 1, 0x3000, true);  // an array that cannot be read
    EXPECT_EQ(lobs.StatementOf(0x51, read, textOf), "stmt a");
    EXPECT_EQ(lobs.StatementOf(0x52, read, textOf), "") << "one row fetched so far";
    lobs.Fetched(0xA, 3);
    EXPECT_EQ(lobs.StatementOf(0x53, read, textOf), "stmt a");
    EXPECT_EQ(lobs.StatementOf(0x54, read, textOf), "");
    EXPECT_EQ(lobs.StatementOf(0x61, read, textOf), "stmt b");
    EXPECT_EQ(lobs.StatementOf(0, read, textOf), "");
    lobs.Defined(0xA, 2, 0x1000, false);
    EXPECT_EQ(lobs.StatementOf(0x51, read, textOf), "") << "the column is no LOB any more";
    lobs.Forget(0xB);
    EXPECT_EQ(lobs.StatementOf(0x61, read, textOf), "");
    EXPECT_EQ(LobNote(TLobCall{0x51, 0x10, 0x18, true, 1, 2, -1}, 300), "offset 1, piece next, 300 characters");
    EXPECT_EQ(LobNote(TLobCall{0x51, 0x10, 0, false, 11, -1, -1}, -1), "offset 11");
    EXPECT_EQ(LobNote(TLobCall{0x51, 0x10, 0x18, true, -1, 7, -1}, -1), "piece 7");
}

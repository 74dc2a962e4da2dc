// The OCI tracer against a process made of bytes: which entry points it hooks in a
// module, and the records and registry that calls at those entries make.
#include "FakeTracerHost.h"
#include "OCIBreaks.h"
#include "OCITexts.h"
#include "TargetCheck.h"
#include "TraceMask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

namespace {

constexpr TAddress OciBase = 0x10000000;
constexpr TAddress OtherBase = 0x20000000;
constexpr uint32_t ImageSize = 0x3000;
constexpr uint32_t ExportRva = 0x1000, ExportSize = 0x400, CodeRva = 0x2000;
constexpr TAddress Esp = 0x0012F000;
constexpr TAddress Text = 0x00500000;
constexpr TAddress Out = 0x00600000;

// A 32-bit DLL image with an export table: each export is code at its own place in the
// image, or a forwarder string.
void PokeImage(TFakeProcess& process, TAddress base, const std::vector<std::pair<std::string, std::string>>& exports)
{
    process.Poke(base, std::string(ImageSize, '\0'));
    process.Poke(base, "MZ");
    process.PokeDword(base + 0x3C, 0x80);
    process.Poke(base + 0x80, std::string("PE\0\0", 4));
    const TAddress optional = base + 0x80 + 4 + 20;
    process.PokeValue<uint16_t>(optional, 0x10B);
    process.PokeDword(optional + 56, ImageSize);
    process.PokeDword(optional + 92, 16);
    process.PokeDword(optional + 96, ExportRva);
    process.PokeDword(optional + 100, ExportSize);
    const uint32_t n = static_cast<uint32_t>(exports.size());
    const TAddress directory = base + ExportRva;
    process.PokeDword(directory + 20, n);
    process.PokeDword(directory + 24, n);
    process.PokeDword(directory + 28, ExportRva + 0x40);
    process.PokeDword(directory + 32, ExportRva + 0x80);
    process.PokeDword(directory + 36, ExportRva + 0xC0);
    uint32_t strings = ExportRva + 0x100;
    for (uint32_t i = 0; i < n; ++i) {
        const auto& [name, forward] = exports[i];
        process.PokeDword(base + ExportRva + 0x80 + 4 * i, strings);
        process.Poke(base + strings, name + '\0');
        strings += static_cast<uint32_t>(name.size()) + 1;
        process.PokeValue<uint16_t>(base + ExportRva + 0xC0 + 2 * i, static_cast<uint16_t>(i));
        if (forward.empty()) {
            process.PokeDword(base + ExportRva + 0x40 + 4 * i, CodeRva + 0x10 * i);
        } else {
            process.PokeDword(base + ExportRva + 0x40 + 4 * i, strings);
            process.Poke(base + strings, forward + '\0');
            strings += static_cast<uint32_t>(forward.size()) + 1;
        }
    }
    process.Executable.push_back({base + CodeRva, base + ImageSize});
}

TAddress CodeOf(TAddress base, int index) { return base + CodeRva + 0x10 * index; }

const std::vector<std::pair<std::string, std::string>> AllExports = {
    {"OCIStmtPrepare", ""}, {"OCIStmtExecute", ""}, {"OCIStmtFetch", ""},  {"OCIHandleFree", ""},
    {"OCIStmtPrepare2", ""}, {"OCIStmtRelease", ""}, {"OCIStmtFetch2", ""}, {"OCIEnvCreate", ""},
    {"OCIEnvNlsCreate", ""}, {"OCIHandleAlloc", ""},
};

// One OCI call stopped at its entry: the stack holds the return address and arguments.
class OCITracerTest : public ::testing::Test {
protected:
    // Calls entry with args and lets it return result; the record it made, if any.
    std::optional<TTraceRecord> Call(const char* entry, std::vector<uint32_t> args, int32_t result = 0)
    {
        size_t before = events.Records.size();
        CallTraced(*active, host, Esp, entry, args, result);
        if (events.Records.size() == before)
            return std::nullopt;
        return events.Records.back();
    }

    std::optional<TTraceRecord> Prepare(uint32_t handle, const std::string& text)
    {
        host.Process.Poke(Text, text);
        return Call("OCIStmtPrepare", {handle, 0xE, static_cast<uint32_t>(Text), static_cast<uint32_t>(text.size()), 1, 0});
    }

    // OCIStmtPrepare2 that hands out handle (stored in *Out by "the library").
    std::optional<TTraceRecord> Prepare2(uint32_t svc, uint32_t handle, const std::string& text, const std::string& key,
                                         int32_t result = 0)
    {
        host.Process.PokeDword(Out, handle);
        host.Process.Poke(Text, text);
        host.Process.Poke(Text + 0x1000, key);
        return Call("OCIStmtPrepare2", {svc, static_cast<uint32_t>(Out), 0xE, text.empty() ? 0 : static_cast<uint32_t>(Text),
                                        static_cast<uint32_t>(text.size()), key.empty() ? 0 : static_cast<uint32_t>(Text + 0x1000),
                                        static_cast<uint32_t>(key.size()), 1, 0},
                    result);
    }

    std::string Registered(uint32_t handle)
    {
        TOCIStmt* stmt = tracer.Statements.FindHandle(handle);
        return stmt ? stmt->Text : "(none)";
    }

    TFakeHost host;
    TRecords events;
    TOCITracer tracer{TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch | TraceMaskConnect | TraceMaskCommit, events};
    // The tracer Call hands calls to.
    TOCITracer* active = &tracer;
};

} // namespace

TEST(OCIModule, EveryExportedEntryIsHookedAndArmedAsTheMaskNeeds)
{
    TFakeHost host;
    TRecords events;
    TOCITracer tracer(TraceMaskExecute, events);
    PokeImage(host.Process, OciBase, AllExports);
    tracer.ModuleLoaded(host, TModuleInfo(OciBase, nullptr, "C:\\app\\oci.dll"));
    ASSERT_EQ(host.Hooks.size(), AllExports.size());
    std::map<std::string, bool> armed;
    for (size_t i = 0; i < AllExports.size(); ++i) {
        const auto& hook = host.Hooks.at(CodeOf(OciBase, static_cast<int>(i)));
        EXPECT_EQ(OCIEntries[hook.Id].Name, AllExports[i].first);
        armed[AllExports[i].first] = hook.Armed;
    }
    EXPECT_EQ(armed, (std::map<std::string, bool>{{"OCIStmtPrepare", true}, {"OCIStmtExecute", true},
                                                  {"OCIStmtFetch", false}, {"OCIHandleFree", true},
                                                  {"OCIStmtPrepare2", true}, {"OCIStmtRelease", true},
                                                  {"OCIStmtFetch2", false}, {"OCIEnvCreate", true},
                                                  {"OCIEnvNlsCreate", true}, {"OCIHandleAlloc", false}}))
        << "the registry needs every prepare and release; handles are followed only under UTF-16";
    // A stub hands the original only the words its hook was given: all of a 32-bit
    // program's words of the entry.
    for (const auto& [id, words] : host.Words)
        EXPECT_EQ(words, OCIEntries[id].Words(false)) << OCIEntries[id].Name;

    host.Hooks.clear();
    tracer.ModuleLoaded(host, TModuleInfo(OtherBase, nullptr, "C:\\app\\XOCI.DLL"));
    EXPECT_TRUE(host.Hooks.empty()) << "only OCI.DLL by its file name";
    tracer.ModuleUnloaded(host, TModuleInfo(OciBase, nullptr, "C:\\app\\oci.dll"));
}

TEST(OCIModule, AnOlderLibraryIsTracedAndOneWithoutARequiredEntryIsRefused)
{
    TFakeHost host;
    TRecords events;
    TOCITracer tracer(TraceMaskExecute, events);
    PokeImage(host.Process, OciBase, {AllExports.begin(), AllExports.begin() + 4});
    tracer.ModuleLoaded(host, TModuleInfo(OciBase, nullptr, "OCI.DLL"));
    EXPECT_EQ(host.Hooks.size(), 4u) << "the newer entries are skipped where they are missing";
    EXPECT_TRUE(host.Warnings.empty());

    TFakeHost noFetch;
    PokeImage(noFetch.Process, OciBase, {{"OCIStmtPrepare", ""}, {"OCIStmtExecute", ""}, {"OCIHandleFree", ""}});
    try {
        tracer.ModuleLoaded(noFetch, TModuleInfo(OciBase, nullptr, "OCI.DLL"));
        FAIL() << "a library without OCIStmtFetch cannot be traced";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Code(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
}

TEST(OCIModule, AForwardedEntryIsHookedInTheModuleThatImplementsItNeverInTheForwarder)
{
    auto exports = AllExports;
    exports[2].second = "OTHER.OCIStmtFetch";
    for (bool otherFirst : {false, true}) {
        TFakeHost host;
        TRecords events;
        TOCITracer tracer(TraceMaskFetch, events);
        PokeImage(host.Process, OciBase, exports);
        PokeImage(host.Process, OtherBase, {{"Helper", ""}, {"OCIStmtFetch", ""}});
        if (otherFirst) {
            host.Process.AddModule(OtherBase, nullptr, "C:\\app\\other.dll");
            tracer.ModuleLoaded(host, *host.Process.FindModule(OtherBase));
        }
        host.Process.AddModule(OciBase, nullptr, "C:\\app\\OCI.DLL");
        tracer.ModuleLoaded(host, *host.Process.FindModule(OciBase));
        if (!otherFirst) {
            for (const auto& [address, hook] : host.Hooks)
                EXPECT_NE(OCIEntries[hook.Id].Name, std::string("OCIStmtFetch")) << "nothing to hook until OTHER loads";
            host.Process.AddModule(OtherBase, nullptr, "C:\\app\\other.dll");
            tracer.ModuleLoaded(host, *host.Process.FindModule(OtherBase));
        }
        for (const auto& [address, hook] : host.Hooks)
            EXPECT_FALSE(address >= OciBase + ExportRva && address < OciBase + ExportRva + ExportSize)
                << "a forwarder string is no code";
        ASSERT_TRUE(host.Hooks.count(CodeOf(OtherBase, 1))) << (otherFirst ? "loaded before" : "loaded after");
        EXPECT_EQ(OCIEntries[host.Hooks.at(CodeOf(OtherBase, 1)).Id].Name, std::string("OCIStmtFetch"));
        EXPECT_TRUE(host.Hooks.at(CodeOf(OtherBase, 1)).Armed);
        EXPECT_TRUE(host.Warnings.empty());

        // Unloading the module that implements it drops its hook.
        tracer.ModuleUnloaded(host, *host.Process.FindModule(OtherBase));
        EXPECT_FALSE(host.Hooks.count(CodeOf(OtherBase, 1)));
    }

    TFakeHost host;
    TRecords events;
    TOCITracer tracer(TraceMaskFetch, events);
    exports[2].second = "OTHER.#7";
    PokeImage(host.Process, OciBase, exports);
    tracer.ModuleLoaded(host, TModuleInfo(OciBase, nullptr, "OCI.DLL"));
    ASSERT_EQ(host.Warnings.size(), 1u) << "a forward by ordinal cannot be followed: said so";
    EXPECT_NE(host.Warnings[0].find("OTHER.#7"), std::string::npos);
}

TEST(OCIModule, AMappingThatIsNotLoadedAsCodeIsLeftAlone)
{
    TFakeHost host;
    TRecords events;
    TOCITracer tracer(TraceMaskExecute, events);
    PokeImage(host.Process, OciBase, {{"OCIStmtExecute", ""}});  // no other entry at all
    host.Process.Executable.clear();                            // mapped to read its resources
    EXPECT_NO_THROW(tracer.ModuleLoaded(host, TModuleInfo(OciBase, nullptr, "OCI.DLL")));
    EXPECT_TRUE(host.Hooks.empty());
}

TEST_F(OCITracerTest, PrepareTakesExactlyStmtLenBytesIntoRecordAndRegistry)
{
    const std::string text("SELECT a\r\nFROM t\nWHERE x = '\0'", 30);
    auto record = Prepare(0xAA, text);
    ASSERT_TRUE(record);
    EXPECT_EQ(ActionText(*record), "Prepare");
    EXPECT_EQ(record->Statement, text);
    EXPECT_NE(record->StartTicks, 0) << "the start is stamped";
    EXPECT_EQ(Registered(0xAA), text);

    host.Process.Poke(Text, "SELECT 1 FROM dual");
    Call("OCIStmtPrepare", {0xAA, 0xE, static_cast<uint32_t>(Text), 6, 1, 0});
    EXPECT_EQ(Registered(0xAA), "SELECT") << "a re-prepared handle holds only the new text";
    EXPECT_EQ(tracer.Statements.Count(), 1);

    auto empty = Call("OCIStmtPrepare", {0xBB, 0xE, static_cast<uint32_t>(Text), 0, 1, 0});
    EXPECT_EQ(empty->Statement, "");
    EXPECT_EQ(Registered(0xBB), "");
}

TEST_F(OCITracerTest, UnreadableTextBecomesTheStatementAndKeepsTheOldEntry)
{
    Prepare(0xAA, "SELECT old FROM t");
    const std::string readError = EOSError(ERROR_PARTIAL_COPY).what();
    auto unmapped = Call("OCIStmtPrepare", {0xAA, 0xE, 0x7FFF0000, 10, 1, 0});
    EXPECT_EQ(unmapped->Statement, readError);
    EXPECT_EQ(Registered(0xAA), "SELECT old FROM t");
    auto garbage = Call("OCIStmtPrepare", {0xAA, 0xE, static_cast<uint32_t>(Text), 0xFFFFFFF0, 1, 0});
    EXPECT_EQ(garbage->Statement, EOSError(ERROR_NOT_ENOUGH_MEMORY).what());
    auto runsOff = Call("OCIStmtPrepare", {0xAA, 0xE, static_cast<uint32_t>(Text), 100000, 1, 0});
    EXPECT_EQ(runsOff->Statement, readError);
    EXPECT_EQ(Registered(0xAA), "SELECT old FROM t");
    // The same bounds hold for the second prepare, its key included.
    auto badKey = Call("OCIStmtPrepare2", {0x5C, static_cast<uint32_t>(Out), 0xE, 0, 0, static_cast<uint32_t>(Text), 0xFFFFFFF0});
    EXPECT_EQ(badKey->Statement, EOSError(ERROR_NOT_ENOUGH_MEMORY).what());
}

TEST_F(OCITracerTest, ExecuteAndBothFetchesShowTheRegisteredTextOrUnavailable)
{
    Prepare(0, "SELECT zero FROM t");  // handle value 0 is registered like any other
    Prepare(0xAA, "SELECT a FROM t");
    struct {
        uint32_t Handle;
        const char* Statement;
    } cases[] = {{0xAA, "SELECT a FROM t"}, {0, "SELECT zero FROM t"}, {0xCC, "<unavailable>"}};
    for (const auto& c : cases) {
        auto execute = Call("OCIStmtExecute", {0x5C, c.Handle, 0xE, 1, 0, 0, 0, 0}, OCI_ERROR);
        EXPECT_EQ(ActionText(*execute), "Execute");
        EXPECT_EQ(execute->Statement, c.Statement);
        EXPECT_EQ(execute->Result, OCI_ERROR);
        for (const char* fetch : {"OCIStmtFetch", "OCIStmtFetch2"}) {
            auto record = Call(fetch, {c.Handle, 0xE, 10, 2, 0, 0}, OCI_NO_DATA);
            EXPECT_EQ(ActionText(*record), "Fetch (10)") << fetch;
            EXPECT_EQ(record->Statement, c.Statement) << fetch;
            EXPECT_EQ(record->Result, OCI_NO_DATA);
        }
    }
    auto negative = Call("OCIStmtFetch2", {0xAA, 0xE, static_cast<uint32_t>(-5), 2, 0, 0});
    EXPECT_EQ(ActionText(*negative), "Fetch (-5)");
}

TEST_F(OCITracerTest, RecordsCarryTheirThreadAndAStartCountedFromTheTracersStart)
{
    Prepare(0xAA, "SELECT a FROM t");
    int64_t last = -1;
    for (DWORD thread : {7u, 0x1234u, 7u}) {
        CallTraced(tracer, host, Esp, "OCIStmtExecute", {0x5C, 0xAA, 0xE, 1, 0, 0, 0, 0}, 0, thread);
        const TTraceRecord& record = events.Records.back();
        EXPECT_EQ(record.Thread, thread);
        EXPECT_GE(record.StartMicroseconds, last) << "starts never go back";
        EXPECT_LT(record.StartMicroseconds, 60 * 1000000) << "counted from the tracer's start, not the machine's";
        last = record.StartMicroseconds;
    }
}

TEST_F(OCITracerTest, HandleFreeAndReleaseDropTheEntryAndAReprepareAppendsANewOne)
{
    Prepare(0xAA, "SELECT a FROM t");
    Prepare(0xBB, "SELECT b FROM t");
    EXPECT_FALSE(Call("OCIHandleFree", {0xAA, 4})) << "a handle free makes no record";
    EXPECT_EQ(Registered(0xAA), "(none)");
    EXPECT_EQ(Call("OCIStmtExecute", {0x5C, 0xAA, 0xE, 1})->Statement, "<unavailable>");
    EXPECT_FALSE(Call("OCIStmtRelease", {0xBB, 0xE, 0, 0, 0})) << "a release makes no record";
    EXPECT_EQ(Registered(0xBB), "(none)");

    Call("OCIHandleFree", {0xDD, 4});
    EXPECT_EQ(tracer.Statements.Count(), 0) << "freeing an unknown handle changes nothing";
    Prepare(0xBB, "SELECT c FROM t");
    Prepare(0xAA, "SELECT again FROM t");
    ASSERT_EQ(tracer.Statements.Count(), 2);
    EXPECT_EQ(tracer.Statements.Items(1)->Handle, 0xAAu) << "the new entry goes to the end";
}

// Fast hooks skip the return of every call whose hook the tracer says needs none: that
// must hold for every call of such a hook, whatever the mask.
TEST(OCIModule, ReturnsSaidToBeUnneededAreNeverKeptFor)
{
    for (TTraceMask mask : {TTraceMask(0), TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch,
                            TTraceMask(TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch)}) {
        TFakeHost host;
        TRecords events;
        TOCITracer tracer(mask, events);
        host.Process.Poke(Text, "SELECT 1 FROM dual");
        int unneeded = 0;
        for (int id = 0; id < OCIEntryCount; ++id) {
            if (tracer.ReturnWanted(id))
                continue;
            ++unneeded;
            host.Process.PokeDword(Esp, 0x00401234);
            const uint32_t args[] = {0xAA, 0xE, static_cast<uint32_t>(Text), 18, 1, 0, 0, 0, 0, 0};
            for (size_t i = 0; i < std::size(args); ++i)
                host.Process.PokeDword(Esp + 4 * (i + 1), args[i]);
            TThreadContext context(nullptr, Tracer64);
            context.SetSp(Esp);
            TCallFrame frame(host.Process, context, OCIEntries[id].Words(false));
            EXPECT_EQ(tracer.CallEntered(host, id, frame), nullptr) << OCIEntries[id].Name << ", mask " << int(mask);
        }
        EXPECT_GE(unneeded, (mask & TraceMaskPrepare) ? 2 : 3) << "mask " << int(mask);
    }
}

// A call whose entry may come late is handled when the program has moved on: its entry
// must read nothing of the program's memory but the bytes copied at the time of the call,
// and its row must show those bytes, not what the buffer holds by then. So must the
// return of a call said to take it late as well (logged hooks), whatever details are read.
TEST(OCIModule, LateEntriesReadOnlyTheBytesCopiedAtTheCall)
{
    const std::string said = "SELECT said FROM t", reused = "DELETE FROM reused";
    const TTraceMask details = TraceMaskErrors | TraceMaskRows;
    for (TTraceMask mask : {TTraceMask(0), TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch,
                            TTraceMask(TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch), TraceMaskAll}) {
        TFakeHost host;
        TRecords events;
        TOCITracer tracer(mask, events);
        host.Process.Poke(Text, reused);
        host.Process.Poke(Out, reused);
        // The calls that drop the handle come last.
        std::vector<int> ids;
        for (int id = 0; id < OCIEntryCount; ++id)
            ids.push_back(id);
        std::stable_partition(ids.begin(), ids.end(), [](int id) {
            return OCIEntries[id].Call != TOCICall::HandleFree && OCIEntries[id].Call != TOCICall::Release;
        });
        int late = 0, lateReturns = 0;
        for (int id : ids) {
            TLateEntry entry = tracer.LateEntry(id);
            if (!entry.Allowed)
                continue;
            ++late;
            const TOCIEntry& oci = OCIEntries[id];
            uint64_t slots[TCallFrame::SlotCount] = {0x00401234};
            slots[oci.Arg(TOCIArg::Handle)] = 0xAA;
            // Texts and keys in buffers of their own, which hold other bytes by now.
            const std::tuple<int, int, TAddress> buffers[] = {
                {oci.Arg(TOCIArg::Text), oci.Arg(TOCIArg::Length), Text},
                {oci.Arg(TOCIArg::Key), oci.Arg(TOCIArg::KeyLength), Out}};
            for (auto [bytes, length, at] : buffers)
                if (bytes) {
                    slots[bytes] = at;
                    slots[length] = said.size();
                }
            if (entry.BytesArg && !slots[entry.BytesArg]) {
                slots[entry.BytesArg] = Text;
                slots[entry.LengthArg] = said.size();
            }
            TCallFrame frame(host.Process, false, Esp, slots, oci.Words(false) + 1);
            if (entry.BytesArg)
                frame.Capture(frame.Pointer(entry.BytesArg), said);
            int readsBefore = host.Process.Reads;
            std::unique_ptr<TCallData> data = tracer.CallEntered(host, id, frame);
            EXPECT_EQ(host.Process.Reads, readsBefore) << OCIEntries[id].Name << ", mask " << int(mask);
            lateReturns += tracer.LateReturn(id);
            if (data)
                tracer.CallReturned(host, id, *data, 0, 0);
            // Calls that read what they filled in do so at their return: never late.
            if (tracer.LateReturn(id) || !(mask & details)) {
                EXPECT_EQ(host.Process.Reads, readsBefore) << OCIEntries[id].Name << " returned, mask " << int(mask);
            }
            if (oci.Call == TOCICall::Prepare) {
                EXPECT_EQ(tracer.Statements.FindHandle(0xAA)->Text, said) << "mask " << int(mask);
            }
        }
        EXPECT_GE(late, 5) << "prepare, execute, both fetches and free at least; mask " << int(mask);
        EXPECT_GE(lateReturns, 3) << "prepare and both fetches at least; mask " << int(mask);
        for (const TTraceRecord& record : events.Records) {
            if (record.Action <= TTraceAction::Fetch) {
                EXPECT_EQ(record.Statement, said) << ActionText(record) << ", mask " << int(mask);
            }
        }
    }
}

TEST_F(OCITracerTest, DecodingFailuresKeepFieldsSetBeforeThemAndAnUnreadableFreeEndsTheSession)
{
    TThreadContext context(nullptr, Tracer64);
    context.SetSp(0x00700000);  // an unreadable stack
    int fetch = HookId("OCIStmtFetch");
    TCallFrame frame(host.Process, context, OCIEntries[fetch].Words(false));
    auto data = tracer.CallEntered(host, fetch, frame);
    ASSERT_TRUE(data);
    tracer.CallReturned(host, fetch, *data, 0, 0);
    ASSERT_EQ(events.Records.size(), 1u);
    EXPECT_EQ(ActionText(events.Records[0]), "Fetch (0)");
    EXPECT_EQ(events.Records[0].Statement, EOSError(ERROR_PARTIAL_COPY).what());
    EXPECT_THROW(tracer.CallEntered(host, HookId("OCIHandleFree"), frame), EOSError);
}

TEST_F(OCITracerTest, TheSecondPrepareRegistersTheHandleItHandsOutAndOnlyOnSuccess)
{
    auto record = Prepare2(0x5C, 0x700, "SELECT cached FROM t", "");
    ASSERT_TRUE(record);
    EXPECT_EQ(ActionText(*record), "Prepare");
    EXPECT_EQ(record->Statement, "SELECT cached FROM t");
    EXPECT_EQ(Registered(0x700), "SELECT cached FROM t");

    // A failed prepare hands out nothing: the registry stays as it was.
    auto failed = Prepare2(0x5C, 0x700, "SELECT broken FROM", "", OCI_ERROR);
    EXPECT_EQ(failed->Statement, "SELECT broken FROM");
    EXPECT_EQ(failed->Result, OCI_ERROR);
    EXPECT_EQ(Registered(0x700), "SELECT cached FROM t");

    // Released to the cache and handed out again with other SQL: the new text.
    Call("OCIStmtRelease", {0x700, 0xE, 0, 0, 0});
    Prepare2(0x5C, 0x700, "UPDATE t SET x = 1", "");
    EXPECT_EQ(Call("OCIStmtExecute", {0x5C, 0x700, 0xE, 1})->Statement, "UPDATE t SET x = 1");

    // Prepared under a key, then by the key alone, also after a release under the key.
    Prepare2(0x5C, 0x710, "SELECT keyed FROM t", "k1");
    auto byKey = Prepare2(0x5C, 0x720, "", "k1");
    EXPECT_EQ(byKey->Statement, "SELECT keyed FROM t");
    EXPECT_EQ(Registered(0x720), "SELECT keyed FROM t");
    host.Process.Poke(Text + 0x1000, "k2");
    Call("OCIStmtRelease", {0x720, 0xE, static_cast<uint32_t>(Text + 0x1000), 2, 0});
    EXPECT_EQ(Prepare2(0x5C, 0x730, "", "k2")->Statement, "SELECT keyed FROM t");
    auto unknownKey = Prepare2(0x5C, 0x740, "", "nokey", OCI_ERROR);
    EXPECT_EQ(unknownKey->Statement, "<unavailable>");
    EXPECT_EQ(Registered(0x740), "(none)");
}

TEST_F(OCITracerTest, TextOfAUtf16EnvironmentIsFollowedDownToItsStatements)
{
    auto utf16 = [](const std::u16string& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    };
    const std::string sql = "select 'Gr\xC3\xBC\xC3\x9F" "e, \xE6\x9D\xB1\xE4\xBA\xAC' from dual";
    const std::string wide = utf16(u"select 'Grüße, 東京' from dual");

    // A narrow environment changes nothing and follows no handles.
    host.Process.PokeDword(Out, 0xE0);
    EXPECT_FALSE(Call("OCIEnvNlsCreate", {static_cast<uint32_t>(Out), 0, 0, 0, 0, 0, 0, 0, 873, 873}));
    // OCIEnvCreate in UTF-16 mode; OCIEnvNlsCreate with the UTF-16 character set.
    host.Process.PokeDword(Out, 0xE1);
    Call("OCIEnvCreate", {static_cast<uint32_t>(Out), OCI_UTF16, 0, 0, 0, 0, 0, 0});
    host.Process.PokeDword(Out, 0xE2);
    Call("OCIEnvNlsCreate", {static_cast<uint32_t>(Out), 0, 0, 0, 0, 0, 0, 0, OCI_UTF16ID, OCI_UTF16ID});
    // Handles under them: a statement, and a service context for the second prepare.
    host.Process.PokeDword(Out, 0x51);
    Call("OCIHandleAlloc", {0xE1, static_cast<uint32_t>(Out), 4, 0, 0});
    host.Process.PokeDword(Out, 0x5C);
    Call("OCIHandleAlloc", {0xE2, static_cast<uint32_t>(Out), 3, 0, 0});
    host.Process.PokeDword(Out, 0x52);
    Call("OCIHandleAlloc", {0xE0, static_cast<uint32_t>(Out), 4, 0, 0});

    EXPECT_EQ(Prepare(0x51, wide)->Statement, sql) << "length in bytes, text in UTF-16";
    EXPECT_EQ(Prepare2(0x5C, 0x53, wide, "")->Statement, sql);
    EXPECT_EQ(Call("OCIStmtExecute", {0x5C, 0x53, 0xE, 1})->Statement, sql);
    EXPECT_EQ(Prepare(0x52, sql)->Statement, sql) << "a statement of the narrow environment: UTF-8";

    // Freed, the environment's handles are narrow again.
    Call("OCIHandleFree", {0x51, 4});
    EXPECT_EQ(Prepare(0x51, "SELECT 1")->Statement, "SELECT 1");
}

TEST(StatementText, NarrowTextIsUtf8WhereValidElseTheCodePage)
{
    struct {
        std::string Bytes;
        bool Valid;
    } cases[] = {
        {"SELECT 1", true},
        {std::string("a\0b", 3), true},
        {"Gr\xC3\xBC\xC3\x9F" "e", true},
        {"\xF0\x9F\x98\x80", true},   // a character outside the BMP
        {"caf\xE9", false},            // Latin-1
        {"\xC3", false},               // cut short
        {"\xC0\x80", false},           // overlong
        {"\xED\xA0\x80", false},       // a surrogate
        {"\xFF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.Bytes), c.Valid) << c.Bytes;
        std::string text = NarrowTextToUtf8(c.Bytes);
        EXPECT_TRUE(IsValidUtf8(text)) << c.Bytes;
        if (c.Valid) {
            EXPECT_EQ(text, c.Bytes);
        }
    }
    // The code page's reading of an invalid text, whatever the code page is.
    wchar_t e = 0;
    MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, &e, 1);
    char expected[8] = {};
    int n = WideCharToMultiByte(CP_UTF8, 0, &e, 1, expected, sizeof(expected), nullptr, nullptr);
    EXPECT_EQ(NarrowTextToUtf8("caf\xE9"), "caf" + std::string(expected, n));
    EXPECT_EQ(WideTextToUtf8(std::string("A\0B\0C", 5)), "AB") << "an odd last byte is dropped";
}

// ---------------------------------------------------------------------------
// Sessions and transactions

// Not traced, the session entries are not hooked at all.
TEST(OCIModule, SessionEntriesAreHookedOnlyForTheKindsThatNeedThem)
{
    std::vector<std::pair<std::string, std::string>> exports(AllExports.begin(), AllExports.begin() + 4);
    const std::string sessionCalls[] = {"OCIServerAttach", "OCIAttrSet",        "OCISessionBegin",
                                        "OCISessionEnd",   "OCISessionGet",     "OCISessionRelease",
                                        "OCISessionPoolCreate", "OCILogon",     "OCILogon2",
                                        "OCILogoff",       "OCITransCommit",    "OCITransRollback"};
    for (const std::string& name : sessionCalls)
        exports.emplace_back(name, "");
    const struct {
        TTraceMask Mask;
        bool Labels;        // the calls that connect, disconnect and name a session's parts
        bool Transactions;  // commit and rollback
    } cases[] = {
        {TraceMaskPrepare | TraceMaskExecute | TraceMaskFetch, false, false},
        {TraceMaskConnect, true, false},
        {TraceMaskCommit, true, true},
        {TraceMaskConnect | TraceMaskCommit, true, true},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        TRecords events;
        TOCITracer tracer(c.Mask, events);
        PokeImage(host.Process, OciBase, exports);
        tracer.ModuleLoaded(host, TModuleInfo(OciBase, nullptr, "OCI.DLL"));
        for (size_t i = 4; i < exports.size(); ++i) {
            bool transaction = exports[i].first.rfind("OCITrans", 0) == 0;
            auto hook = host.Hooks.find(CodeOf(OciBase, static_cast<int>(i)));
            bool armed = hook != host.Hooks.end() && hook->second.Armed;
            EXPECT_EQ(armed, transaction ? c.Transactions : c.Labels) << exports[i].first << ", mask " << int(c.Mask);
        }
    }
}

namespace {

constexpr TAddress Names = 0x00800000;
// The password's bytes: no read may touch them.
constexpr TAddress Secret = 0x00900000;

} // namespace

// Everything traced, binds and error texts included.
TEST_F(OCITracerTest, SessionRowsShowTheirLabelAndNoPasswordIsEverRead)
{
    TOCITracer all(TraceMaskAll, events);
    active = &all;
    const std::string password = "pW0rd-5ecret-77";
    host.Process.Poke(Secret, password);
    const auto pw = static_cast<uint32_t>(Secret), pwLength = static_cast<uint32_t>(password.size());
    auto name = [&](TAddress at, const std::string& text) {
        host.Process.Poke(at, text);
        return static_cast<uint32_t>(at);
    };
    const uint32_t connect = name(Names, "localhost/orclpdb"), user = name(Names + 0x100, "scott"),
                   driver = name(Names + 0x200, "node-oracledb : 6.0.0 thk"), pool = name(Names + 0x300, "OCI:SP:1");
    const std::string label = "scott@localhost/orclpdb (node-oracledb : 6.0.0 thk)";
    auto row = [](const std::optional<TTraceRecord>& r) { return r ? ActionText(*r) + " " + r->Statement : "(none)"; };

    // A standalone session in the first library's order.
    EXPECT_FALSE(Call("OCIServerAttach", {0x5E, 0xE, connect, 17, 0}));
    Call("OCIAttrSet", {0x5C, 3, 0x5E, 0, 6, 0xE});
    Call("OCIAttrSet", {0x55, 9, driver, 25, 424, 0xE});
    Call("OCIAttrSet", {0x55, 9, user, 5, 22, 0xE});
    EXPECT_FALSE(Call("OCIAttrSet", {0x55, 9, pw, pwLength, 23, 0xE}));
    Call("OCIAttrSet", {0x5C, 3, 0x55, 0, 7, 0xE});
    EXPECT_EQ(row(Call("OCISessionBegin", {0x5C, 0xE, 0x55, 1, 0x40})), "Connect " + label);
    EXPECT_EQ(row(Call("OCITransCommit", {0x5C, 0xE, 0})), "Commit " + label);
    EXPECT_EQ(row(Call("OCITransRollback", {0x5C, 0xE, 0}, OCI_ERROR)), "Rollback " + label);
    // An execute that commits on success says so; one that does not, does not.
    EXPECT_TRUE(Call("OCIStmtExecute", {0x5C, 0xAA, 0xE, 1, 0, 0, 0, 0x20})->CommitsOnSuccess);
    EXPECT_FALSE(Call("OCIStmtExecute", {0x5C, 0xAA, 0xE, 1, 0, 0, 0, 0x80})->CommitsOnSuccess);
    // A text bound where the password lies is hidden, one bound elsewhere is not; an error
    // text asked for into that place is not read.
    auto bind = [&](uint32_t handle, const std::string& placeholder, uint32_t value, uint32_t size) {
        host.Process.PokeDword(Out + 0x40, handle);
        Call("OCIBindByName", {0xAA, static_cast<uint32_t>(Out + 0x40), 0xE, name(Names + 0x400 + handle, placeholder),
                               static_cast<uint32_t>(placeholder.size()), value, size, 1, 0, 0, 0, 0, 0, 0});
    };
    bind(0xB1, ":pw", pw, pwLength);
    bind(0xB2, ":u", user, 5);
    EXPECT_EQ(BindsText(Call("OCIStmtExecute", {0x5C, 0xAA, 0xE, 1, 0, 0, 0, 0}, OCI_ERROR)->Binds), ":pw=?, :u='scott'");
    Call("OCIErrorGet", {0xE, 1, 0, static_cast<uint32_t>(Out + 0x50), pw, 64, 2});
    EXPECT_EQ(events.Records.back().Error, "");
    EXPECT_EQ(row(Call("OCISessionEnd", {0x5C, 0xE, 0x55, 0})), "Disconnect " + label);
    EXPECT_EQ(row(Call("OCITransCommit", {0x5C, 0xE, 0})), "Commit ") << "a context disconnected keeps no label";

    // A logon, then a pool and a session from it: their password arguments are never read.
    host.Process.PokeDword(Out, 0x60);
    EXPECT_EQ(row(Call("OCILogon", {0xE0, 0xE, static_cast<uint32_t>(Out), user, 5, pw, pwLength, connect, 17})),
              "Connect scott@localhost/orclpdb");
    EXPECT_EQ(row(Call("OCITransCommit", {0x60, 0xE, 0})), "Commit scott@localhost/orclpdb");
    EXPECT_EQ(row(Call("OCILogoff", {0x60, 0xE})), "Disconnect scott@localhost/orclpdb");
    host.Process.PokeDword(Out + 0x10, pool);
    host.Process.PokeDword(Out + 0x20, 8);
    EXPECT_FALSE(Call("OCISessionPoolCreate", {0xE0, 0xE, 0x70, static_cast<uint32_t>(Out + 0x10),
                                               static_cast<uint32_t>(Out + 0x20), connect, 17, 1, 4, 1, user, 5, pw,
                                               pwLength, 2}));
    host.Process.PokeDword(Out + 0x30, 0x61);
    EXPECT_EQ(row(Call("OCISessionGet", {0xE0, 0xE, static_cast<uint32_t>(Out + 0x30), 0, pool, 8, 0, 0, 0, 0, 0, 1})),
              "Connect scott@localhost/orclpdb");
    EXPECT_EQ(row(Call("OCISessionRelease", {0x61, 0xE, 0, 0, 0})), "Disconnect scott@localhost/orclpdb");

    for (const auto& [at, size] : host.Process.ReadRanges)
        EXPECT_FALSE(at < Secret + password.size() && Secret < at + size) << "a read of " << size << " bytes at " << at;
}

TEST_F(OCITracerTest, SessionNamesAreReadInTheEnvironmentsEncodingAndUnreadableOnesStayEmpty)
{
    auto utf16 = [](const std::u16string& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    };
    host.Process.PokeDword(Out, 0xE1);
    Call("OCIEnvCreate", {static_cast<uint32_t>(Out), OCI_UTF16, 0, 0, 0, 0, 0, 0});
    for (uint32_t handle : {0x5E, 0x55}) {
        host.Process.PokeDword(Out, handle);
        Call("OCIHandleAlloc", {0xE1, static_cast<uint32_t>(Out), handle == 0x5E ? 8u : 9u, 0, 0});
    }
    const std::string connect = utf16(u"東京/db"), user = utf16(u"Jürgen");
    host.Process.Poke(Names, connect);
    host.Process.Poke(Names + 0x100, user);
    Call("OCIServerAttach", {0x5E, 0xE, static_cast<uint32_t>(Names), static_cast<uint32_t>(connect.size()), 0});
    Call("OCIAttrSet", {0x5C, 3, 0x5E, 0, 6, 0xE});
    Call("OCIAttrSet", {0x55, 9, static_cast<uint32_t>(Names + 0x100), static_cast<uint32_t>(user.size()), 22, 0xE});
    EXPECT_EQ(Call("OCISessionBegin", {0x5C, 0xE, 0x55, 1, 0})->Statement, "J\xC3\xBCrgen@\xE6\x9D\xB1\xE4\xBA\xAC/db");

    // A user name that cannot be read, or with a length no name has, is not known.
    for (uint32_t length : {5u, 0xFFFFFFF0u}) {
        Call("OCIAttrSet", {0x56, 9, length == 5 ? 0x7FFF0000u : static_cast<uint32_t>(Names), length, 22, 0xE});
        EXPECT_EQ(Call("OCISessionBegin", {0x5C, 0xE, 0x56, 1, 0})->Statement, "@\xE6\x9D\xB1\xE4\xBA\xAC/db");
    }
}

TEST_F(OCITracerTest, KindsNotTracedMakeNoRowsYetCommitsStillShowTheirSession)
{
    TOCITracer commitOnly(TraceMaskCommit, events);
    active = &commitOnly;
    host.Process.Poke(Names, "scott");
    host.Process.PokeDword(Out, 0x60);
    EXPECT_FALSE(Call("OCILogon", {0xE0, 0xE, static_cast<uint32_t>(Out), static_cast<uint32_t>(Names), 5, 0, 0, 0, 0}));
    EXPECT_EQ(Call("OCITransCommit", {0x60, 0xE, 0})->Statement, "scott@");
    EXPECT_FALSE(Call("OCILogoff", {0x60, 0xE}));
    EXPECT_EQ(Call("OCITransRollback", {0x60, 0xE, 0})->Statement, "");
    // A failed logon hands out no context: none is labelled.
    host.Process.PokeDword(Out, 0x62);
    Call("OCILogon", {0xE0, 0xE, static_cast<uint32_t>(Out), static_cast<uint32_t>(Names), 5, 0, 0, 0, 0}, OCI_ERROR);
    EXPECT_EQ(Call("OCITransCommit", {0x62, 0xE, 0})->Statement, "");
}

// The entry table holds each call's behaviour; a row that disagrees with itself or with its
// handlers fails here. A call with nothing to read (every argument 0) still makes its row
// where the table says it makes one, and only there.
TEST(OCIEntries, EveryEntryAgreesWithItsHandlersKindsAndSignature)
{
    std::set<std::string> names;
    for (int id = 0; id < OCIEntryCount; ++id) {
        const TOCIEntry& entry = OCIEntries[id];
        SCOPED_TRACE(entry.Name);
        EXPECT_TRUE(names.insert(entry.Name).second) << "one row per export";
        ASSERT_NE(entry.Handlers.Enter, nullptr);
        TOCIArgSet named = 0;
        for (int a = 0; a < static_cast<int>(TOCIArg::Count); ++a)
            named |= entry.Args.Position[a] ? TOCIArgSet(1) << a : 0;
        EXPECT_EQ(entry.Handlers.Reads & ~named, 0u) << "the signature gives what the handler reads";
        EXPECT_EQ(entry.PlantedBy & ~TraceMaskAll, 0u);
        if (entry.Row) {
            // A row's record is delivered at the return, and it reports on the error handle.
            EXPECT_NE(entry.Handlers.Return, nullptr);
            EXPECT_TRUE(entry.Arg(TOCIArg::Handle) && entry.Arg(TOCIArg::Error));
        }
        EXPECT_TRUE(!entry.ReturnOnlyWithRow || entry.Row);
        EXPECT_TRUE(!entry.LateReturn || entry.Late.Allowed) << "only a call taken late returns late";
        for (TOCIArg late : {entry.Late.Bytes, entry.Late.Length})
            EXPECT_TRUE(late == NoArg || (entry.Late.Allowed && entry.Arg(late)));
        const TOCIFilter& filter = entry.Filter;
        EXPECT_EQ(filter.Arg != NoArg, entry.Arg(filter.Arg) != 0);
        EXPECT_EQ(filter.ListArg != NoArg, entry.Arg(filter.ListArg) != 0);
        EXPECT_EQ(filter.ListArg != NoArg, !filter.List.empty());
        EXPECT_LE(filter.List.size(), size_t(TEntryFilter::MaxList));
        if (filter.Arg != NoArg || filter.ListArg != NoArg)
            EXPECT_EQ(entry.Words(false), entry.Words(true)) << "a stub compares words, not arguments";
    }
    const std::map<TTraceAction, TTraceMask> rowKinds = {
        {TTraceAction::Prepare, TraceMaskPrepare}, {TTraceAction::Execute, TraceMaskExecute},
        {TTraceAction::Fetch, TraceMaskFetch},     {TTraceAction::Connect, TraceMaskConnect},
        {TTraceAction::Disconnect, TraceMaskConnect}, {TTraceAction::Commit, TraceMaskCommit},
        {TTraceAction::Rollback, TraceMaskCommit}, {TTraceAction::LobRead, TraceMaskLobs},
        {TTraceAction::LobWrite, TraceMaskLobs},  {TTraceAction::LobLength, TraceMaskLobs},
        {TTraceAction::LobTrim, TraceMaskLobs},   {TTraceAction::Ping, TraceMaskConnect},
        {TTraceAction::Begin, TraceMaskCommit},   {TTraceAction::PrepareCommit, TraceMaskCommit},
        {TTraceAction::Forget, TraceMaskCommit},  {TTraceAction::Detach, TraceMaskCommit}};
    for (TTraceMask mask = 0; mask <= TraceMaskAll; ++mask) {
        TFakeHost host;
        TRecords events;
        TOCITracer tracer(mask, events);
        for (int id = 0; id < OCIEntryCount; ++id) {
            const TOCIEntry& entry = OCIEntries[id];
            bool rowTraced = entry.Row && (mask & rowKinds.at(*entry.Row));
            EXPECT_TRUE(!tracer.Armed(id) || tracer.Planted(id)) << entry.Name << ", mask " << mask;
            // A traced row's calls stop, and their returns are heard of.
            if (!rowTraced)
                continue;
            EXPECT_TRUE(tracer.Armed(id) && tracer.ReturnWanted(id)) << entry.Name << ", mask " << mask;
            size_t before = events.Records.size();
            CallTraced(tracer, host, Esp, entry.Name, {}, OCI_SUCCESS);
            ASSERT_EQ(events.Records.size(), before + 1) << entry.Name << ", mask " << mask;
            EXPECT_EQ(events.Records.back().Action, *entry.Row) << entry.Name;
        }
        if (mask == TraceMaskAll)
            for (int id = 0; id < OCIEntryCount; ++id)
                if (!OCIEntries[id].Row && tracer.ReturnWanted(id)) {
                    size_t before = events.Records.size();
                    CallTraced(tracer, host, Esp, OCIEntries[id].Name, {}, OCI_SUCCESS);
                    EXPECT_EQ(events.Records.size(), before) << OCIEntries[id].Name << " makes no row";
                }
    }
}

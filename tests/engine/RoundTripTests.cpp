// Round trips beyond statements traced end to end: LOB reads, writes, lengths and trims
// under the query that delivered their locators, pings, the calls of distributed
// transactions with their flags and XIDs, and the fetches of implicit results under the
// statement that handed them out; each held to the script's own log of its calls.
#include "SessionRunner.h"

#include "OCITexts.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

namespace {

// Action, result, statement, rows (LOB rows only), note.
using TRoundTrip = std::tuple<std::string, int32_t, std::string, int64_t, std::string>;

const std::set<std::string> RoundTripActions = {"LOB read", "LOB write",      "LOB length", "LOB trim", "Ping",
                                                "Begin",    "Prepare commit", "Forget",     "Detach",   "Commit",
                                                "Rollback"};

bool IsImplicitFetch(const TTraceRow& row)
{
    return row.Action.rfind("Fetch", 0) == 0 && row.Statement.find(" (implicit result ") != std::string::npos;
}

std::vector<TRoundTrip> Traced(const std::vector<TTraceRow>& rows)
{
    std::vector<TRoundTrip> kept;
    for (const TTraceRow& r : rows)
        if (RoundTripActions.count(r.Action) || IsImplicitFetch(r))
            kept.emplace_back(r.Action, r.Result, r.Statement, r.Action.rfind("LOB", 0) == 0 ? r.Rows : -1, r.Note);
    return kept;
}

std::string HexToBytes(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<std::vector<std::string>> ScriptLobLines(const std::string& script)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(script);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (!w.empty() && w[0] == "lob")
            lines.push_back(w);
    }
    return lines;
}

std::string FlagNames(uint32_t flags)
{
    const std::pair<uint32_t, const char*> names[] = {{0x1, "new"},      {0x2, "join"},      {0x4, "resume"},
                                                      {0x100, "readonly"}, {0x400, "serializable"}, {0x10000, "loose"},
                                                      {0x20000, "tight"}, {0x01000000, "two-phase"}};
    std::string text;
    for (const auto& [bit, name] : names)
        if (flags & bit)
            text += (text.empty() ? "" : ", ") + std::string(name);
    return text;
}

// LOB rows: their action, the bytes moved and the memo's note follow from the script's
// line; the script log gives the result and the amount.
TRoundTrip LobRow(const std::vector<std::string>& line, const TTruthCall& c, const std::string& statement)
{
    const std::string& op = line[1];
    const int64_t bytes = std::stoll(c.Fields.at(5));
    const std::string chars = Format(", %lld characters", static_cast<long long>(bytes));
    std::string action = "LOB write", note;
    if (op == "read2")
        action = "LOB read", note = "offset " + line[5] + ", piece " + (line.back() == "next" ? "next" : "one") + chars;
    else if (op == "read")
        action = "LOB read", note = "offset " + line[5];
    else if (op == "write2")
        note = "offset " + line[4] + ", piece one" + chars;
    else if (op == "write")
        note = "offset " + line[4] + ", piece one";
    else if (op == "append2")
        note = "piece one" + chars;
    else
        action = op.rfind("length", 0) == 0 ? "LOB length" : "LOB trim";
    return {action, c.Result, statement, bytes, note};
}

std::vector<TRoundTrip> Expected(const std::vector<TTruthCall>& truth, const std::string& script, TTraceMask mask,
                                 const std::string& label)
{
    const auto lobLines = ScriptLobLines(script);
    size_t lobLine = 0;
    std::map<uint64_t, std::string> texts, children;
    std::map<uint64_t, int> counts;
    std::set<uint64_t> temporary;
    std::string query, xid;
    std::vector<TRoundTrip> rows;
    for (const TTruthCall& c : truth) {
        const auto& f = c.Fields;
        if (c.Kind == "PREPARE2") {
            texts[c.Handle] = ShownText(c.Text, c.Utf16);
            if (texts[c.Handle].find("lobtype=") != std::string::npos)
                query = texts[c.Handle];
        } else if (c.Kind == "EXECUTE") {
            counts.erase(c.Handle);
        } else if (c.Kind == "LOB") {
            const auto& line = lobLines.at(lobLine++);
            if (line[1] == "temp")
                temporary.insert(c.Handle);
            else if (mask & TraceMaskLobs)
                rows.push_back(LobRow(line, c, temporary.count(c.Handle) ? "" : query));
        } else if (c.Kind == "PING" && (mask & TraceMaskConnect)) {
            rows.emplace_back("Ping", c.Result, label, -1, "");
        } else if (c.Kind == "XID") {
            xid = "XID " + f.at(4) + ", gtrid " + f.at(5) + ", bqual " + f.at(6);
        } else if (c.Kind == "TRANS" && (mask & TraceMaskCommit)) {
            const std::string& op = f.at(4);
            if (op == "commit" || op == "rollback") {
                rows.emplace_back(op == "commit" ? "Commit" : "Rollback", c.Result, label, -1, "");
                continue;
            }
            const std::map<std::string, std::string> actions = {
                {"start", "Begin"}, {"prepare", "Prepare commit"}, {"forget", "Forget"}, {"detach", "Detach"}};
            std::string flags = FlagNames(static_cast<uint32_t>(std::stoul(f.at(5), nullptr, 16)));
            rows.emplace_back(actions.at(op), c.Result, flags.empty() ? xid : flags + "; " + xid, -1,
                              op == "prepare" && c.Result == OCI_SUCCESS_WITH_INFO ? "read-only: no commit needed" : "");
        } else if (c.Kind == "RESULT" && c.Result == OCI_SUCCESS) {
            children[std::stoull(f.at(4), nullptr, 16)] =
                texts[c.Handle] + " (implicit result " + std::to_string(++counts[c.Handle]) + ")";
        } else if (c.Kind == "FETCH2" && children.count(c.Handle) && (mask & TraceMaskFetch)) {
            rows.emplace_back(Format("Fetch (%lu)", static_cast<unsigned long>(c.Count)), c.Result,
                              children[c.Handle], -1, "");
        }
    }
    return rows;
}

} // namespace

TEST(RoundTrips, LobsPingsBranchesAndImplicitResultsMatchTheScriptsLog)
{
    const std::string script = ReadFileBytes(FixtureScript("roundtrips.txt"));
    const struct {
        const char* Name;
        TTraceMask Mask;
        bool Utf16;
    } cases[] = {
        {"every kind", TraceMaskAll, false},
        {"every kind, UTF-16", TraceMaskAll, true},
        // The locators are found without the fetches traced.
        {"lobs alone", TraceMaskLobs, false},
        {"sessions, transactions and fetches", TraceMaskConnect | TraceMaskCommit | TraceMaskFetch, false},
    };
    for (const auto& c : cases) {
        const std::string text = c.Utf16 ? ReplaceAll(script, "\nenv E\n", "\nenv E utf16\n") : script;
        TFixtureRun run = RunScriptText(text, c.Mask);
        ASSERT_TRUE(run.Session.Errors.empty()) << c.Name << ": " << run.Session.Errors.front();
        EXPECT_EQ(run.Session.ExitCode, 0u) << c.Name;
        std::string label;
        for (const TTraceRow& row : run.Session.Records)
            if (row.Action == "Connect")
                label = row.Statement;
        if (!(c.Mask & TraceMaskConnect))
            for (const TTraceRow& row : run.Session.Records)
                if (row.Action == "Commit")
                    label = row.Statement;
        const std::vector<TRoundTrip> expected = Expected(run.Truth, text, c.Mask, label);
        EXPECT_FALSE(expected.empty()) << c.Name;
        EXPECT_EQ(Traced(run.Session.Records), expected) << c.Name << "\n" << Describe(run.Session.Records);

        // The SQL id the program read after an execute (rows traced) completes that
        // execute's record; a statement not prepared asking for one gives none.
        std::vector<std::string> read, carried;
        for (const TTruthCall& call : run.Truth)
            if (call.Kind == "SQLID" && call.Fields.size() > 4 && !call.Fields[4].empty())
                read.push_back(TextToUtf8(HexToBytes(call.Fields[4]), c.Utf16));
        for (const TTraceRow& row : run.Session.Records)
            if (row.Action == "Execute" && !row.ServerSqlId.empty())
                carried.push_back(row.ServerSqlId);
        EXPECT_EQ(read.size(), 1u) << c.Name;
        EXPECT_EQ(carried, (c.Mask & TraceMaskRows) ? read : std::vector<std::string>{}) << c.Name;
    }
}

// Sessions and transactions traced end to end: standalone sessions, pools and logons of
// the stand-in, committed and rolled back, each row with the label of its session; and a
// password that no row holds and of which the program finds no copy in itself.
#include "SessionRunner.h"

#include "OCITexts.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string Update = "UPDATE orders SET state = 'done' /*vt rows=2*/";

// Every row of fixtures/scripts/sessions.txt with execute, connect and commit traced.
std::vector<TRowKey> SessionRows()
{
    const std::string scott = "scott@localhost/orclpdb (vt-fixture : 1.0)", other = "scott@otherhost/xe (vt-fixture : 1.0)",
                      external = "@otherhost/xe (vt-fixture : 1.0)", pool = "poolman@pooldb:1521/svc (pool driver)",
                      own = "j\xC3\xBCrgen@pooldb:1521/svc (j\xC3\xBCrgen's driver)";
    return {
        {"Connect", OCI_ERROR, "dave@some/db"},
        {"Connect", OCI_SUCCESS, scott},
        {"Execute", OCI_SUCCESS, Update},
        {"Execute", OCI_SUCCESS, Update},
        {"Commit", OCI_SUCCESS, scott},
        {"Rollback", OCI_SUCCESS, scott},
        {"Disconnect", OCI_SUCCESS, scott},
        {"Commit", OCI_SUCCESS, ""},
        {"Connect", OCI_SUCCESS, other},
        {"Disconnect", OCI_SUCCESS, other},
        {"Connect", OCI_SUCCESS, external},
        {"Disconnect", OCI_SUCCESS, external},
        {"Connect", OCI_SUCCESS, pool},
        {"Commit", OCI_SUCCESS, pool},
        {"Disconnect", OCI_SUCCESS, pool},
        {"Connect", OCI_SUCCESS, own},
        {"Rollback", OCI_SUCCESS, own},
        {"Disconnect", OCI_SUCCESS, own},
        {"Connect", OCI_SUCCESS, "bob@direct/db"},
        {"Disconnect", OCI_SUCCESS, "bob@direct/db"},
        {"Connect", OCI_SUCCESS, "carol@logon/db"},
        {"Commit", OCI_SUCCESS, "carol@logon/db"},
        {"Disconnect", OCI_SUCCESS, "carol@logon/db"},
        {"Connect", OCI_SUCCESS, pool},
        {"Disconnect", OCI_SUCCESS, pool},
    };
}

std::vector<TRowKey> OnlyActions(const std::vector<TRowKey>& rows, const std::vector<std::string>& actions)
{
    std::vector<TRowKey> kept;
    for (const TRowKey& row : rows)
        if (std::find(actions.begin(), actions.end(), std::get<0>(row)) != actions.end())
            kept.push_back(row);
    return kept;
}

} // namespace

TEST(Connections, SessionsOfEveryKindShowTheirLabelsAndOnlyTheKindsTraced)
{
    const std::string script = ReadFileBytes(FixtureScript("sessions.txt"));
    ASSERT_TRUE(ScriptPassesSessionsPassword(script));
    const std::vector<TRowKey> all = SessionRows();
    const struct {
        const char* Name;
        TTraceMask Mask;
        bool Utf16;
        std::vector<TRowKey> Rows;
    } cases[] = {
        {"all three", TraceMaskExecute | TraceMaskConnect | TraceMaskCommit, false, all},
        {"all three, UTF-16", TraceMaskExecute | TraceMaskConnect | TraceMaskCommit, true, all},
        {"every kind but prepare", TraceMaskAll & ~TraceMaskPrepare, false, all},
        {"every kind but prepare, UTF-16", TraceMaskAll & ~TraceMaskPrepare, true, all},
        {"execute", TraceMaskExecute, false, OnlyActions(all, {"Execute"})},
        {"binds without sessions", TraceMaskExecute | TraceMaskBinds, false, OnlyActions(all, {"Execute"})},
        {"commit", TraceMaskCommit, false, OnlyActions(all, {"Commit", "Rollback"})},
    };
    for (const auto& c : cases) {
        TFixtureRun run = RunScriptText(c.Utf16 ? ReplaceAll(script, "\nenv E\n", "\nenv E utf16\n") : script, c.Mask);
        EXPECT_TRUE(run.Session.Errors.empty()) << c.Name << ": " << run.Session.Errors.front();
        EXPECT_EQ(run.Session.ExitCode, 0u) << c.Name << ": the script's checks, and no copy of its password";
        EXPECT_EQ(RowKeys(run.Session.Records), c.Rows) << c.Name << "\n" << Describe(run.Session.Records);
        std::vector<bool> commits;
        for (const TTraceRow& row : run.Session.Records) {
            if (row.Action == "Execute") {
                commits.push_back(row.CommitsOnSuccess);
                // The password bound as a value is hidden; the number beside it is not.
                EXPECT_EQ(row.Binds, c.Mask & TraceMaskBinds ? ":pw=?, :n=7" : "") << c.Name;
            }
            EXPECT_FALSE(HoldsSessionsPassword(row.Action + row.Statement + row.Binds + row.Error)) << c.Name;
        }
        ASSERT_FALSE(run.Session.Records.empty()) << c.Name;
        EXPECT_EQ(run.Session.Records.front().Error,
                  c.Mask & TraceMaskErrors ? "ORA-01005: null password given; logon denied" : "")
            << c.Name << ": a failed connect's error text, as the program read it";
        if (c.Mask & TraceMaskExecute) {
            EXPECT_EQ(commits, (std::vector<bool>{true, false})) << c.Name << ": only the first execute commits";
        }
    }
}

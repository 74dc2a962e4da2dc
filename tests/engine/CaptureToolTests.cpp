// velloran-trace run as a user runs it: a child process whose output and exit status
// are checked.
#include "SessionRunner.h"
#include "VelloranBuild.h"

#include "CommandLine.h"
#include "Errors.h"
#include "RowExport.h"
#include "Utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace {

struct TToolRun {
    DWORD ExitCode = STILL_ACTIVE;
    std::string Out;
    std::string Err;
};

// Runs velloran-trace with args; onOutput sees standard output as it grows (a chance to
// act while the session runs).
TToolRun RunTool(const std::vector<std::string>& args, const std::function<void(const std::string&)>& onOutput = {},
                 const std::string& tool = BinDir() + "\\" VELLORAN_TRACE_EXE)
{
    // A name of its own per run: Wine may keep an inherited handle open a moment longer.
    static int serial = 0;
    std::string errFile = TempFile("tool-err" + std::to_string(++serial) + ".txt");
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readOut = nullptr, writeOut = nullptr;
    CreatePipe(&readOut, &writeOut, &inherit, 0);
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    std::vector<std::string> all{tool};
    all.insert(all.end(), args.begin(), args.end());
    std::string line = JoinCommandLine(all);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeOut;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    TToolRun run;
    // Wine, with other tests starting programs at the same time, now and then fails a
    // process creation with an internal error (seen once in a full run); a second try
    // starts it.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
            break;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3)
            RaiseLastOSError();
        Sleep(100);
    }
    CloseHandle(writeOut);
    CloseHandle(err);
    CloseHandle(nul);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readOut, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
        run.Out.append(buffer, n);
        if (onOutput)
            onOutput(run.Out);
    }
    CloseHandle(readOut);
    if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 99);
    GetExitCodeProcess(info.hProcess, &run.ExitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    run.Err = ReadFileBytes(errFile);
    DeleteFileA(errFile.c_str());
    return run;
}

// Rows of tab- or comma-separated output with the Time column blanked: times vary.
std::vector<std::string> RowsWithoutTimes(const std::string& out, char separator)
{
    std::vector<std::string> rows;
    size_t from = 0;
    while (from < out.size()) {
        size_t end = out.find("\r\n", from);
        std::string row = out.substr(from, end - from);
        size_t first = row.find(separator);
        if (first != std::string::npos) {
            size_t second = row.find(separator, first + 1);
            row.replace(first + 1, second - first - 1, "T");
        }
        rows.push_back(row);
        if (end == std::string::npos)
            break;
        from = end + 2;
    }
    return rows;
}

const char* const Script = "load; alloc S; prepare S SELECT a, b FROM t /*vt result=1*/; execute S; fetchall S 5";

} // namespace

TEST(CaptureTool, WritesTheTraceInEachFormat)
{
    TToolRun tsv = RunTool({"--trace", "prepare,execute,fetch", "--", FixtureDir() + "\\ocirun.exe", "-e", Script});
    EXPECT_EQ(tsv.ExitCode, 0u) << tsv.Err;
    EXPECT_EQ(RowsWithoutTimes(tsv.Out, '\t'),
              (std::vector<std::string>{"Start", "Prepare\tT\tOCI_SUCCESS\tSELECT a, b FROM t /*vt result=1*/",
                                        "Execute\tT\tOCI_SUCCESS_WITH_INFO\tSELECT a, b FROM t /*vt result=1*/",
                                        "Fetch (5)\tT\tOCI_SUCCESS\tSELECT a, b FROM t /*vt result=1*/",
                                        "Fetch (5)\tT\tOCI_NO_DATA\tSELECT a, b FROM t /*vt result=1*/", "Finish"}));

    std::string csvFile = TempFile("out.csv");
    TToolRun csv = RunTool({"--format", "csv", "--output", csvFile, "--trace", "fetch", "--", FixtureDir() + "\\ocirun.exe", "-e", Script});
    EXPECT_EQ(csv.ExitCode, 0u);
    EXPECT_EQ(csv.Out, "");
    EXPECT_EQ(RowsWithoutTimes(ReadFileBytes(csvFile), ','),
              (std::vector<std::string>{"Start", "Fetch (5),T,OCI_SUCCESS,\"SELECT a, b FROM t /*vt result=1*/\"",
                                        "Fetch (5),T,OCI_NO_DATA,\"SELECT a, b FROM t /*vt result=1*/\"", "Finish"}));
    DeleteFileA(csvFile.c_str());

    TToolRun html = RunTool({"--format", "html", "--", FixtureDir() + "\\ocirun.exe", "-e", Script});
    EXPECT_EQ(html.ExitCode, 0u);
    EXPECT_EQ(html.Out.rfind(HtmlHead(), 0), 0u);
    EXPECT_NE(html.Out.find("<tr><td>Start</td></tr>\r\n<tr><td>Execute</td><td>"), std::string::npos) << html.Out;
    EXPECT_NE(html.Out.find("<td>OCI_SUCCESS_WITH_INFO</td><td>SELECT a, b FROM t /*vt result=1*/</td></tr>\r\n"
                            "<tr><td>Finish</td></tr>\r\n" + HtmlTail()),
              std::string::npos);
}

TEST(CaptureTool, SummaryWritesTheTotalsPerStatementAsTabSeparatedTextWhateverTheFormat)
{
    std::string summary = TempFile("summary.txt");
    TToolRun run = RunTool({"--trace", "prepare,execute,fetch", "--format", "csv", "--summary", summary, "--",
                            FixtureDir() + "\\ocirun.exe", "-e",
                            "load; alloc S; prepare S SELECT a FROM t /*vt sleep=30*/; execute S; fetchall S 5; "
                            "execute S; fetchall S 5; prepare S UPDATE t SET a = 1 /*vt result=-1*/; execute S"});
    EXPECT_EQ(run.ExitCode, 0u) << run.Err;
    // Statement, Executes, Fetches, Errors as they are; the times (and the rows the calls
    // moved, which depend on what is traced of them) as numbers.
    std::string text = ReadFileBytes(summary);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "CR LF after the last line too";
    std::vector<std::vector<std::string>> lines;
    for (size_t from = 0; from < text.size();) {
        size_t end = std::min(text.find("\r\n", from), text.size());
        std::vector<std::string>& cells = lines.emplace_back();
        for (size_t cell = from;;) {
            size_t tab = text.find('\t', cell);
            if (tab > end)
                tab = end;
            cells.push_back(text.substr(cell, tab - cell));
            if (tab == end)
                break;
            cell = tab + 1;
        }
        from = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0], (std::vector<std::string>{"Statement", "Executes", "Fetches", "Rows", "Errors", "Total ms",
                                                  "Average ms", "Max ms", "P50 ms", "P95 ms", "P99 ms", "SQL_ID",
                                                  "Texts", "Longest run", "Hint", "LOB calls"}));
    const struct {
        const char* Statement;
        const char* Executes;
        const char* Fetches;
        const char* Errors;
        double AtLeastMs;
    } expected[] = {{"SELECT a FROM t /*vt sleep=30*/", "2", "4", "0", 60},
                    {"UPDATE t SET a = 1 /*vt result=-1*/", "1", "0", "1", 0}};
    for (int i = 0; i < 2; ++i) {
        const std::vector<std::string>& cells = lines[static_cast<size_t>(i) + 1];
        ASSERT_EQ(cells.size(), 16u);
        EXPECT_EQ(cells[0], expected[i].Statement);
        EXPECT_EQ(cells[1], expected[i].Executes);
        EXPECT_EQ(cells[2], expected[i].Fetches);
        EXPECT_EQ(cells[4], expected[i].Errors);
        double total = std::stod(cells[5]), average = std::stod(cells[6]), max = std::stod(cells[7]);
        EXPECT_GE(total, expected[i].AtLeastMs) << cells[5];
        EXPECT_NEAR(average, total / std::stoi(cells[1]), 0.051) << cells[6];
        EXPECT_GE(total + 0.05, max);
        EXPECT_GE(std::stoll(cells[3]), 0);
    }
    DeleteFileA(summary.c_str());
}

TEST(CaptureTool, ExitStatusTellsErrorsAndUsage)
{
    TToolRun missing = RunTool({"--", "no-such-program.exe"});
    EXPECT_EQ(missing.ExitCode, 1u);
    EXPECT_EQ(missing.Out, "Finish\r\n");
    EXPECT_NE(missing.Err.find(EOSError(ERROR_FILE_NOT_FOUND).what()), std::string::npos) << missing.Err;

    TToolRun failing = RunTool({"--", FixtureDir() + "\\ocirun.exe", "-e", "load noexport/OCI.DLL"});
    EXPECT_EQ(failing.ExitCode, 1u) << "an error shown during the session";
    EXPECT_NE(failing.Err.find(EOSError(ERROR_PROC_NOT_FOUND).what()), std::string::npos) << failing.Err;

    // An entry that cannot be traced is told on standard error; the session still ran right.
    TToolRun warned = RunTool({"--", FixtureDir() + "\\ocirun.exe", "-e", "load forward/OCI.DLL; alloc S; free S"});
    EXPECT_EQ(warned.ExitCode, 0u) << warned.Err;
    EXPECT_EQ(warned.Err, "warning: OCIStmtFetch2 is forwarded to OTHER.DLL.OCIStmtFetch2, which OTHER.DLL does not "
                          "export: it is not traced.\r\n");

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--trace", "select", "--", "x.exe"}, {"--format", "xml", "--", "x.exe"}, {"--attach", "abc"},
             {"--attach", "12", "--", "x.exe"}, {"--bogus"}, {"--output"}}) {
        TToolRun usage = RunTool(args);
        EXPECT_EQ(usage.ExitCode, 2u) << JoinCommandLine(args);
        EXPECT_NE(usage.Err.find("usage: velloran-trace"), std::string::npos) << usage.Err;
        EXPECT_EQ(usage.Out, "");
    }

    // Asked for, the usage and the version go to standard output, and all is well; the
    // rest of the line is not read.
    const std::string name = std::string(VELLORAN_TRACE_EXE).substr(0, std::string(VELLORAN_TRACE_EXE).size() - 4);
    for (const char* help : {"--help", "-h"}) {
        TToolRun asked = RunTool({help, "--bogus"});
        EXPECT_EQ(asked.ExitCode, 0u) << help;
        EXPECT_EQ(asked.Out.rfind("usage: " + name + " [options] -- PROGRAM [ARGUMENTS...]\r\n", 0), 0u) << asked.Out;
        EXPECT_NE(asked.Out.find("  --version       print the version and exit\r\n"), std::string::npos) << asked.Out;
        EXPECT_EQ(asked.Err, "");
    }
    TToolRun version = RunTool({"--version"});
    EXPECT_EQ(version.ExitCode, 0u);
    EXPECT_EQ(version.Out, name + " 1.0.0.100\r\n");
    // After "--" the words are the program's.
    TToolRun passed = RunTool({"--", FixtureDir() + "\\ocirun.exe", "--help"});
    EXPECT_EQ(passed.ExitCode, 0u) << passed.Err;
    EXPECT_EQ(passed.Out, "Start\r\nFinish\r\n");
}

TEST(CaptureTool, AttachesToARunningClientAndTracesUntilItEnds)
{
    std::string go = TempFile("tool-go");
    DeleteFileA(go.c_str());
    std::string line = JoinCommandLine({FixtureDir() + "\\ocirun.exe", "-e",
                                        "load; alloc S; prepare S SELECT before FROM t; execute S; waitfile " + go +
                                            "; execute S; prepare S SELECT after FROM t; execute S"});
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION client{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &client));
    CloseHandle(client.hThread);
    Sleep(300);  // let it load OCI.DLL and reach the wait

    bool released = false;
    TToolRun run = RunTool({"--attach", std::to_string(client.dwProcessId)}, [&](const std::string& out) {
        if (!released && out.find("Start\r\n") != std::string::npos) {
            WriteFileBytes(go, "go");
            released = true;
        }
    });
    WaitForSingleObject(client.hProcess, 10000);
    CloseHandle(client.hProcess);
    DeleteFileA(go.c_str());
    EXPECT_EQ(run.ExitCode, 0u) << run.Err;
    // The handle was prepared before the attach: its text is unknown until prepared again.
    EXPECT_EQ(RowsWithoutTimes(run.Out, '\t'),
              (std::vector<std::string>{"Start", "Execute\tT\tOCI_SUCCESS\t<unavailable>",
                                        "Execute\tT\tOCI_SUCCESS\tSELECT after FROM t", "Finish"}));
}

// Files the tracer must not start: each refused with its reason, and nothing started.
TEST(CaptureTool, ProgramsThatCannotBeTracedAreRefusedBeforeTheyStart)
{
    TScratchDir dir;
    WriteFileBytes(dir.File("notes.exe"), "SELECT * FROM dual\r\n");
    WriteFileBytes(dir.File("dos.exe"), "MZ" + std::string(126, '\0'));
    // A .NET program without native code: a real program's copy whose CLI header (data
    // directory 14) says "IL only".
    std::string image = ReadFileBytes(FixtureDir() + "\\nooci.exe");
    auto at = [&](size_t offset) -> uint32_t& { return *reinterpret_cast<uint32_t*>(&image[offset]); };
    size_t pe = at(0x3C), optional = pe + 24;
    bool is64 = (at(optional) & 0xFFFF) == 0x20B;
    size_t sections = optional + *reinterpret_cast<uint16_t*>(&image[pe + 20]);
    size_t cli = optional + (is64 ? 112 : 96) + 14 * 8;
    uint32_t rva = at(sections + 12) + 0x10, raw = at(sections + 20) + 0x10;
    at(cli) = rva;
    at(cli + 4) = 72;
    at(raw + 16) = 1;
    WriteFileBytes(dir.File("managed.exe"), image);

    struct {
        const char* File;
        const char* Reason;
    } cases[] = {{"notes.exe", "notes.exe is not a Windows program."},
                 {"dos.exe", "dos.exe is a 16-bit or MS-DOS program, which cannot be traced."},
                 {"managed.exe", "managed.exe is a .NET program without native code, which cannot be traced."}};
    for (const auto& c : cases) {
        TToolRun run = RunTool({"--", dir.File(c.File)});
        EXPECT_EQ(run.ExitCode, 1u) << c.File;
        EXPECT_EQ(run.Err, std::string(c.Reason) + "\r\n") << c.File;
        EXPECT_EQ(run.Out, "Finish\r\n") << c.File << ": nothing started";
    }
}

#if VELLORAN_BITS == 64
// The 32-bit build never touches a 64-bit program: an attach is refused before the
// program is debugged (which would bring it down), and it runs on to its own end; a
// start is refused before the program runs. The error names the 64-bit programs.
TEST(CaptureTool, The32BitBuildRefusesA64BitProgramAndLeavesItRunning)
{
    const std::string tool32 = VELLORAN_FIXTURES32_DIR "\\velloran-trace.exe";
    std::string line = JoinCommandLine({BinDir() + "\\ocirun.exe", "-e", "load; alloc S; prepare S SELECT 1 FROM dual; "
                                        "execute S; sleep 1500; execute S; exit 7"});
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    Sleep(300);
    TToolRun attach = RunTool({"--attach", std::to_string(info.dwProcessId)}, {}, tool32);
    EXPECT_EQ(attach.ExitCode, 1u);
    EXPECT_NE(attach.Err.find("is a 64-bit program"), std::string::npos) << attach.Err;
    EXPECT_NE(attach.Err.find("velloran64.exe"), std::string::npos) << attach.Err;
    EXPECT_NE(attach.Err.find("velloran-trace64.exe"), std::string::npos) << attach.Err;
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    EXPECT_EQ(code, 7u) << "the program must finish on its own";
    CloseHandle(info.hProcess);

    std::string log = TempFile("refused64.log");
    DeleteFileA(log.c_str());
    TToolRun run = RunTool({"--", BinDir() + "\\ocirun.exe", "-log", log, "-e", "load"}, {}, tool32);
    EXPECT_EQ(run.ExitCode, 1u);
    EXPECT_EQ(run.Err, "ocirun.exe is a 64-bit program. This 32-bit Velloran cannot trace it: use velloran64.exe, or "
                       "velloran-trace64.exe at the command line.\r\n");
    EXPECT_EQ(run.Out, "Finish\r\n");
    EXPECT_EQ(GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES) << "the program must not have run";
}
#endif

TEST(CaptureTool, EveryHookKindGivesTheSameRowsAndAnUnknownOneIsAUsageError)
{
    // The rows of WritesTheTraceInEachFormat's first run.
    const std::vector<std::string> expected = {
        "Start", "Prepare\tT\tOCI_SUCCESS\tSELECT a, b FROM t /*vt result=1*/",
        "Execute\tT\tOCI_SUCCESS_WITH_INFO\tSELECT a, b FROM t /*vt result=1*/",
        "Fetch (5)\tT\tOCI_SUCCESS\tSELECT a, b FROM t /*vt result=1*/",
        "Fetch (5)\tT\tOCI_NO_DATA\tSELECT a, b FROM t /*vt result=1*/", "Finish"};
    for (const char* kind : {"fast", "int3", "log"}) {
        TToolRun run = RunTool(
            {"--hooks", kind, "--trace", "prepare,execute,fetch", "--", FixtureDir() + "\\ocirun.exe", "-e", Script});
        EXPECT_EQ(run.ExitCode, 0u) << kind << ": " << run.Err;
        EXPECT_EQ(RowsWithoutTimes(run.Out, '\t'), expected) << kind;
    }

    for (const char* kind : {"Fast", "jump", ""}) {
        TToolRun usage = RunTool({"--hooks", kind, "--", FixtureDir() + "\\ocirun.exe", "-e", Script});
        EXPECT_EQ(usage.ExitCode, 2u) << kind;
        EXPECT_NE(usage.Err.find(std::string("unknown hook kind in --hooks: ") + kind + " (int3, fast or log)\r\nusage: "),
                  std::string::npos)
            << usage.Err;
        EXPECT_NE(usage.Err.find("--hooks KIND"), std::string::npos) << usage.Err;
        EXPECT_EQ(usage.Out, "");
    }
    TToolRun missing = RunTool({"--hooks"});
    EXPECT_EQ(missing.ExitCode, 2u);
    EXPECT_NE(missing.Err.find("--hooks needs a value"), std::string::npos) << missing.Err;
}

// The detail columns: written exactly when some row fills one, for every row, also the
// rows written before that one came (they were held); a session with details traced that
// fills none writes the four columns of old. The rows of a call come out complete.
TEST(CaptureTool, DetailColumnsAreWrittenFromTheFirstRowWhenDetailsAreTraced)
{
    const std::string plain = "load; env E; alloc ERR E error; alloc S E stmt; prepare S SELECT a FROM t; "
                              "execute S ERR; free S";
    const std::string failing = plain + "; alloc T E stmt; prepare T SELECT * FROM nosuchtable WHERE id = :id; "
                                        "bind T :id 5; execute T ERR; oraerror ERR 942";
    TToolRun none = RunTool({"--trace", "execute,errors,binds", "--", FixtureDir() + "\\ocirun.exe", "-e", plain});
    EXPECT_EQ(none.ExitCode, 0u) << none.Err;
    EXPECT_EQ(RowsWithoutTimes(none.Out, '\t'),
              (std::vector<std::string>{"Start", "Execute\tT\tOCI_SUCCESS\tSELECT a FROM t\t\t\t", "Finish"}))
        << "seven columns from the first row, so that a row goes out the moment it is complete";
    TToolRun plainColumns = RunTool({"--trace", "execute", "--", FixtureDir() + "\\ocirun.exe", "-e", plain});
    EXPECT_EQ(RowsWithoutTimes(plainColumns.Out, '\t'),
              (std::vector<std::string>{"Start", "Execute\tT\tOCI_SUCCESS\tSELECT a FROM t", "Finish"}));
    for (const char* format : {"tsv", "csv"}) {
        char separator = std::string(format) == "csv" ? ',' : '\t';
        std::string s(1, separator);
        TToolRun filled = RunTool({"--trace", "execute,errors,binds", "--format", format, "--",
                                   FixtureDir() + "\\ocirun.exe", "-e", failing});
        EXPECT_EQ(filled.ExitCode, 0u) << filled.Err;
        // The client prints the message it read on the same standard output.
        std::vector<std::string> rows = RowsWithoutTimes(filled.Out, separator);
        rows.erase(std::remove(rows.begin(), rows.end(), "ORA-00942: table or view does not exist"), rows.end());
        EXPECT_EQ(rows,
                  (std::vector<std::string>{"Start", "Execute" + s + "T" + s + "OCI_SUCCESS" + s + "SELECT a FROM t" + s + s + s,
                                            "Execute" + s + "T" + s + "OCI_ERROR" + s +
                                                "SELECT * FROM nosuchtable WHERE id = :id" + s + s + ":id=5" + s +
                                                "ORA-00942: table or view does not exist",
                                            "Finish"}))
            << format;
    }
    TToolRun hidden = RunTool({"--trace", "all", "--hide-values", "--", FixtureDir() + "\\ocirun.exe", "-e", failing});
    EXPECT_NE(hidden.Out.find("\t\t:id=?\tORA-00942: table or view does not exist\r\n"), std::string::npos)
        << hidden.Out;
}

// Sessions written in every format, with both kinds of hooks, with and without the details
// of calls: the rows of their connects and commits, and the script's password in none of
// the tool's outputs, while the program finds no copy of it in itself.
TEST(CaptureTool, SessionRowsInEveryFormatAndNoPasswordInAnyOutput)
{
    const std::string script = FixtureScript("sessions.txt");
    ASSERT_TRUE(ScriptPassesSessionsPassword(ReadFileBytes(script)));
    const struct {
        const char* Hooks;
        const char* Format;
        bool ToFile;
        const char* Trace;
    } runs[] = {{"int3", "tsv", false, "all"},
                {"fast", "csv", true, "prepare,execute,fetch,connect,commit"},
                {"fast", "html", true, "all"}};
    for (const auto& r : runs) {
        const std::string what = std::string(r.Hooks) + ", " + r.Format + ", " + r.Trace;
        const std::string outFile = TempFile(std::string("sessions.") + r.Format);
        std::vector<std::string> args{"--trace", r.Trace, "--hooks", r.Hooks, "--format", r.Format};
        if (r.ToFile)
            args.insert(args.end(), {"--output", outFile});
        args.insert(args.end(), {"--", FixtureDir() + "\\ocirun.exe", script});
        TToolRun run = RunTool(args);
        const std::string rows = r.ToFile ? ReadFileBytes(outFile) : run.Out;
        EXPECT_EQ(run.ExitCode, 0u) << what << ": " << run.Err;
        EXPECT_NE(run.Out.find("scanpassword: no copy"), std::string::npos) << what << ": the script ran to its end";
        for (const char* shown : {"Connect", "Disconnect", "Commit", "Rollback", "scott@localhost/orclpdb (vt-fixture : 1.0)"})
            EXPECT_NE(rows.find(shown), std::string::npos) << what << ": " << shown;
        for (const std::string& output : {run.Out, run.Err, rows})
            EXPECT_FALSE(HoldsSessionsPassword(output)) << what;
        DeleteFileA(outFile.c_str());
    }
}

// A trace file written by a session, and every output made from it again with --input:
// the same file byte for byte, the rows and totals the session had; a file that is not
// a trace is refused naming its line.
TEST(CaptureTool, TraceFileRoundTripsThroughInputAndABadOneIsRefused)
{
    const std::string script = "load; env E; alloc ERR E error; alloc T E stmt; "
                               "prepare T SELECT * FROM nosuchtable WHERE id = :id; bind T :id 5; execute T ERR; "
                               "oraerror ERR 942";
    const std::string trace = TempFile("roundtrip.jsonl");
    TToolRun live = RunTool({"--trace", "all", "--format", "jsonl", "--output", trace, "--",
                             FixtureDir() + "\\ocirun.exe", "-e", script});
    ASSERT_EQ(live.ExitCode, 0u) << live.Err;
    const std::string saved = ReadFileBytes(trace);
    EXPECT_EQ(saved.rfind("{\"format\":\"velloran-trace\"", 0), 0u) << saved;

    TToolRun again = RunTool({"--input", trace, "--format", "jsonl"});
    EXPECT_EQ(again.ExitCode, 0u) << again.Err;
    EXPECT_EQ(again.Out, saved);
    const std::string summary = TempFile("roundtrip-summary.txt");
    TToolRun tsv = RunTool({"--input", trace, "--summary", summary});
    EXPECT_EQ(tsv.ExitCode, 0u) << tsv.Err;
    std::vector<std::string> rows = RowsWithoutTimes(tsv.Out, '\t');
    ASSERT_EQ(rows.size(), 4u) << tsv.Out;
    EXPECT_EQ(rows[2], "Execute\tT\tOCI_ERROR\tSELECT * FROM nosuchtable WHERE id = :id\t\t:id=5\t"
                       "ORA-00942: table or view does not exist");
    EXPECT_NE(ReadFileBytes(summary).find("SELECT * FROM nosuchtable WHERE id = :id\t1\t"), std::string::npos);

    TToolRun chrome = RunTool({"--input", trace, "--format", "chrome"});
    EXPECT_EQ(chrome.ExitCode, 0u) << chrome.Err;
    EXPECT_EQ(chrome.Out.rfind("{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":", 0), 0u) << chrome.Out;
    for (const char* part : {"{\"name\":\"thread_name\"", "\"args\":{\"name\":\"ocirun.exe\"}}", "\"binds\":\":id=5\"", "{\"name\":\"Execute\",\"ph\":\"X\",\"ts\":",
                             "\"error\":\"ORA-00942: table or view does not exist\"", "\"result\":\"OCI_ERROR\""})
        EXPECT_NE(chrome.Out.find(part), std::string::npos) << part << "\n" << chrome.Out;
    EXPECT_EQ(chrome.Out.substr(chrome.Out.size() - 4), "\n]}\n");

    const std::string bad = TempFile("bad.jsonl");
    const struct {
        std::string Text;
        std::string Err;
    } files[] = {{saved.substr(0, saved.find('\n') + 1) + "{\"action\":\"Execute\"\n{oops\n", "line 2: not a line of JSON"},
                 {"Start\t\t\t\r\n", "line 1: not a Velloran trace"}};
    for (const auto& f : files) {
        SaveTextFile(bad, f.Text);
        TToolRun refused = RunTool({"--input", bad});
        EXPECT_EQ(refused.ExitCode, 1u);
        EXPECT_EQ(refused.Out, "") << "nothing half-written";
        EXPECT_NE(refused.Err.find(bad + ": " + f.Err), std::string::npos) << refused.Err;
    }
    EXPECT_EQ(RunTool({"--input", trace, "--", FixtureDir() + "\\ocirun.exe"}).ExitCode, 2u);

    // A run compared with itself: its one statement (by shape), unchanged; a bad file refused
    // by name.
    TToolRun same = RunTool({"--compare", trace, trace, "--summary-by", "shape"});
    EXPECT_EQ(same.ExitCode, 0u) << same.Err;
    EXPECT_EQ(same.Out.rfind("Statement\tSQL_ID\tExecutes before\tExecutes after\tTotal ms before\tTotal ms after\t"
                             "Change\r\nselect * from nosuchtable where id = :id\t", 0), 0u) << same.Out;
    EXPECT_EQ(same.Out.substr(same.Out.size() - 8), "\tx1.00\r\n") << same.Out;
    TToolRun badCompare = RunTool({"--compare", trace, bad});
    EXPECT_EQ(badCompare.ExitCode, 1u);
    EXPECT_NE(badCompare.Err.find(bad + ": line 1"), std::string::npos) << badCompare.Err;
    EXPECT_EQ(RunTool({"--compare", trace}).ExitCode, 2u);
    for (const std::string& file : {trace, summary, bad})
        DeleteFileA(file.c_str());
}

// --format sql: each execute with its values pasted in (a placeholder inside a literal
// left alone, a PL/SQL block ended by "/"), after a line with its time and result; with
// values hidden every placeholder stays. A time shown empty (a call too quick) leaves two blanks.
TEST(CaptureTool, SqlFormatWritesEachExecuteReadyToRun)
{
    const std::string script = "load; env E; alloc ERR E error; alloc S E stmt; "
                               "prepare S SELECT a FROM t WHERE b = ':x' AND c = :x; bind S :x 7; execute S ERR; "
                               "alloc T E stmt; prepare T BEGIN p(:id) END; bind T :id 5; execute T ERR";
    const struct {
        bool Hide;
        const char* Expected;
    } cases[] = {
        {false, "-- Execute T OCI_SUCCESS\r\nSELECT a FROM t WHERE b = ':x' AND c = 7;\r\n"
                "-- Execute T OCI_SUCCESS\r\nBEGIN p(5) END\r\n/\r\n"},
        {true, "-- Execute T OCI_SUCCESS\r\nSELECT a FROM t WHERE b = ':x' AND c = :x;\r\n"
               "-- Execute T OCI_SUCCESS\r\nBEGIN p(:id) END\r\n/\r\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--trace", "execute,binds", "--format", "sql"};
        if (c.Hide)
            args.push_back("--hide-values");
        args.insert(args.end(), {"--", FixtureDir() + "\\ocirun.exe", "-e", script});
        TToolRun run = RunTool(args);
        EXPECT_EQ(run.ExitCode, 0u) << run.Err;
        EXPECT_EQ(std::regex_replace(run.Out, std::regex("-- Execute [^ ]* "), "-- Execute T "), c.Expected) << c.Hide;
    }
}

// velloran-trace: the tracer as a console program, for scripts and CI.
//
//   velloran-trace [options] -- PROGRAM [ARGUMENTS...]
//   velloran-trace [options] --attach PID
//   velloran-trace [options] --input FILE.jsonl
//   velloran-trace --compare BEFORE.jsonl AFTER.jsonl [--summary-by G] [--output FILE]
//   velloran-trace --help | --version
//
// It writes the rows the main window's trace list would hold for the session, in the
// main window's export formats, or as a trace file (jsonl) the window opens again. From a
// trace file (--input) it writes the same outputs as the session that made it did; of two
// (--compare) the totals per statement of both side by side.
#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "HookKinds.h"
#include "PendingRecords.h"
#include "ProcessList.h"
#include "SessionOptions.h"
#include "StatementTotals.h"
#include "TraceCompare.h"
#include "TraceFile.h"
#include "TraceMask.h"
#include "TraceRows.h"
#include "TraceTimeline.h"
#include "TraceSession.h"
#include "Utils.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_STOP_REQUEST = WM_APP + 1;

// The 64-bit build is velloran-trace64.
#ifdef _WIN64
#define VT_NAME "velloran-trace64"
#else
#define VT_NAME "velloran-trace"
#endif

struct TOptions : TSessionOptions {
    std::string Format = "tsv";
    std::string Output;
    std::string Summary;
    TStatementGrouping SummaryBy = TStatementGrouping::Text;
    std::string Input;
    // --compare: the trace files of the run before and of the run after.
    std::string CompareBefore;
    std::string CompareAfter;
    // --slower-than: only calls that took at least this many milliseconds are written.
    std::optional<double> SlowerThan;
};

constexpr const char* Formats[] = {"tsv", "csv", "html", "sql", "jsonl", "chrome"};

// The shared words, and where the rows go.
TProgramOptions CaptureToolOptions(TOptions& options)
{
    TProgramOptions program;
    program.Name = VT_NAME;
    program.SessionRequired = true;
    program.OwnUsage = "  --format FMT    tsv (default), csv, html, sql (the executes with their values),\r\n"
                       "                  jsonl (a trace file to open again) or chrome (a timeline in\r\n"
                       "                  the Trace Event Format)\r\n"
                       "  --output FILE   write there instead of standard output\r\n"
                       "  --input FILE    instead of a session, write the outputs of a trace file\r\n"
                       "  --summary FILE  write the totals per statement there, tab-separated\r\n"
                       "  --summary-by G  text (default) or shape: what makes one line of the summary\r\n"
                       "  --compare BEFORE AFTER\r\n"
                       "                  instead of a session, write the totals per statement of two\r\n"
                       "                  trace files side by side, tab-separated\r\n"
                       "  --slower-than MS  write only the calls that took at least MS milliseconds\r\n";
    program.TraceDefault = "execute";
    program.HooksDefault = HookKindWord(DefaultHookKind);
    program.Own = [&options](const std::string& option, const std::function<std::string()>& value) {
        if (option == "--format") {
            options.Format = value();
            if (std::find(std::begin(Formats), std::end(Formats), options.Format) == std::end(Formats))
                throw EUsageError("unknown format: " + options.Format);
        } else if (option == "--output") {
            options.Output = value();
        } else if (option == "--summary") {
            options.Summary = value();
        } else if (option == "--summary-by") {
            std::string by = value();
            if (by != "text" && by != "shape")
                throw EUsageError("unknown grouping: " + by);
            options.SummaryBy = by == "shape" ? TStatementGrouping::Shape : TStatementGrouping::Text;
        } else if (option == "--input") {
            options.Input = value();
        } else if (option == "--compare") {
            options.CompareBefore = value();
            options.CompareAfter = value();
        } else if (option == "--slower-than") {
            std::string ms = value();
            options.SlowerThan = MillisecondsOf(ms);
            if (!options.SlowerThan)
                throw EUsageError("not a number of milliseconds: " + ms);
        } else {
            return false;
        }
        return true;
    };
    return program;
}

// Runs the session on the main thread and writes its rows as they arrive.
class TCapture : private ISessionClient {
public:
    explicit TCapture(const TOptions& options) : FOptions(options) {}

    int Run()
    {
        if (!FOptions.Input.empty())
            return RunInput();
        if (!FOptions.CompareBefore.empty())
            return RunCompare();
        OpenOutput();
        Application().SetMainThread();
        Application().SetErrorSink([this](const std::string& text) {
            FErrorShown = true;
            std::fprintf(stderr, "%s\r\n", text.c_str());
            std::fflush(stderr);
        });
        FSession = std::make_unique<TTraceSession>(static_cast<ISessionClient&>(*this));
        FSession->Hooks = FOptions.Hooks.value_or(DefaultHookKind);
        FSession->HideValues = FOptions.HideValues;
        TTraceMask mask = FOptions.TraceMask.value_or(DefaultTraceMask);
        // With the details traced the columns are all seven from the first row on, else four.
        FOptionalColumns = (mask & TraceMaskDetails) != 0;
        FHeader.Started = TraceStartedNow();
        FHeader.Bits = static_cast<int>(sizeof(void*) * 8);
        FHeader.Hooks = HookKindWord(FSession->Hooks);
        FHeader.Trace = TraceKindWords(mask);
        FHeader.HideValues = FOptions.HideValues;
        FMainThreadId = GetCurrentThreadId();
        CaptureInstance = this;
        SetConsoleCtrlHandler(CtrlHandler, TRUE);

        if (!StartSession())
            return 1;
        MSG msg;
        while (!FFinished && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_STOP_REQUEST && !msg.hwnd) {
                FSession->Stop();
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        FSession.reset();
        return Finish();
    }

private:
    // The outputs of a saved trace, as its session wrote them.
    int RunInput()
    {
        TTraceFile file;
        try {
            file = LoadTraceFile(FOptions.Input);
        } catch (const ETraceFileError& e) {
            throw std::runtime_error(FOptions.Input + ": " + e.what());
        }
        FHeader = file.Header;
        TTraceMask mask = 0;
        try {
            mask = TraceMaskOfWords(FHeader.Trace);
        } catch (const EUnknownTraceWord&) {
            // A kind this build does not know: what the rows show still decides.
            mask = TraceMaskDetails;
        }
        FOptionalColumns = (mask & TraceMaskDetails) != 0;
        OpenOutput();
        for (const TTraceFileRow& row : file.Rows) {
            if (row.Mark.empty())
                FTotals.Add(row.Record);
            AddRow(row);
        }
        return Finish();
    }

    // Two saved traces' totals side by side, in the grouping --summary-by asks for.
    int RunCompare()
    {
        TStatementTotals totals[2];
        const std::string* names[2] = {&FOptions.CompareBefore, &FOptions.CompareAfter};
        for (int k = 0; k < 2; ++k) {
            try {
                AddTraceRows(totals[k], LoadTraceFile(*names[k]).Rows);
            } catch (const ETraceFileError& e) {
                throw std::runtime_error(*names[k] + ": " + e.what());
            }
            totals[k].SetGrouping(FOptions.SummaryBy);
        }
        OpenOutput();
        Write(ComparisonText(CompareTotals(totals[0], totals[1])));
        CloseOutput();
        return 0;
    }

    // The session is over (or the file read): what is still held goes out.
    int Finish()
    {
        for (THeldRow& held : FHeld)
            held.Pending = false;
        WriteCompleteRows();
        if (FOptions.Format == "html")
            Write(HtmlHead(!IsAscii(FHtml)) + FHtml + HtmlTail());
        else if (FOptions.Format == "jsonl")
            WriteTraceHeader();
        else if (FOptions.Format == "chrome")
            Write(Timeline().Tail());
        CloseOutput();
        if (!FOptions.Summary.empty())
            WriteSummary();
        return FErrorShown ? 1 : 0;
    }

    // The timeline, its head written the first time it is asked for.
    TTimelineWriter& Timeline()
    {
        if (!FTimeline) {
            FTimeline = std::make_unique<TTimelineWriter>(FHeader.ProcessId, FHeader.Program);
            Write(FTimeline->Head());
        }
        return *FTimeline;
    }

    void WriteTraceHeader()
    {
        if (FHeaderWritten)
            return;
        FHeaderWritten = true;
        Write(TraceFileHeaderLine(FHeader));
    }
    bool StartSession()
    {
        TTraceMask mask = FOptions.TraceMask.value_or(DefaultTraceMask);
        if (!FOptions.AttachPid) {
            FSession->Run(JoinCommandLine(FOptions.Program), mask);
            return true;
        }
        TProcessInfos processes;
        try {
            FSession->Attach(ProcessToAttach(processes, FOptions.AttachPid), mask);
        } catch (const std::exception& e) {
            Application().ShowErrorText(ExceptionText(e));
            return false;
        }
        return true;
    }

    // Whatever --format says, the totals are tab-separated text.
    void WriteSummary()
    {
        try {
            FTotals.SetGrouping(FOptions.SummaryBy);
            SaveStatementTotals(FTotals, FOptions.Summary);
        } catch (const std::exception& e) {
            Application().ShowErrorText(ExceptionText(e));
        }
    }

    void OpenOutput()
    {
        if (FOptions.Output.empty()) {
            _setmode(_fileno(stdout), _O_BINARY);
            FOut = stdout;
            return;
        }
        FOut = std::fopen(FOptions.Output.c_str(), "wb");
        if (!FOut)
            throw std::runtime_error("Unable to write to " + FOptions.Output);
    }

    void CloseOutput()
    {
        if (FOut && FOut != stdout)
            std::fclose(FOut);
        else if (FOut)
            std::fflush(FOut);
        FOut = nullptr;
    }

    void Write(const std::string& text)
    {
        std::fwrite(text.data(), 1, text.size(), FOut);
        std::fflush(FOut);
    }

    // Rows go out in order, each once it is complete: a row that may still be completed
    // holds back itself and every row after it. The columns are known from the first row:
    // the Rows, Binds and Error columns are written exactly when those details are traced.
    void AddRow(const TTraceFileRow& source, bool pending = false)
    {
        FHeld.push_back(THeldRow{source, ListRowOf(source), pending});
        WriteCompleteRows();
    }

    static TListRow ListRowOf(const TTraceFileRow& source)
    {
        return source.Mark.empty() ? TraceRecordRow(source.Record) : TListRow{source.Mark, {}};
    }

    void WriteCompleteRows()
    {
        while (!FHeld.empty() && !FHeld.front().Pending) {
            WriteRow(FHeld.front().Source, FHeld.front().Row);
            FHeld.pop_front();
            ++FWrittenRows;
        }
    }

    // With --slower-than, the calls that took less are left out; the session's own rows
    // (its marks, connects, disconnects, commits and rollbacks) are always written.
    bool Written(const TTraceFileRow& source) const
    {
        if (!FOptions.SlowerThan || !source.Mark.empty())
            return true;
        switch (source.Record.Action) {
        case TTraceAction::Connect:
        case TTraceAction::Disconnect:
        case TTraceAction::Commit:
        case TTraceAction::Rollback:
            return true;
        default:
            return source.Record.ElapsedDays * 86400000.0 >= *FOptions.SlowerThan;
        }
    }

    void WriteRow(const TTraceFileRow& source, const TListRow& row)
    {
        if (!Written(source))
            return;
        if (FOptions.Format == "html") {
            FHtml += HtmlRowLine(row, FOptionalColumns);
        } else if (FOptions.Format == "jsonl") {
            WriteTraceHeader();
            Write(FFileWriter.RowLine(source));
        } else if (FOptions.Format == "chrome") {
            TTimelineWriter& timeline = Timeline();
            if (source.Mark.empty())
                Write(timeline.Event(source.Record));
        } else {
            Write(TextRowLine(row, FOptions.Format == "csv" ? ',' : '\t', FOptionalColumns));
        }
    }

    // ISessionClient
    void SessionStarted(DWORD processId, const std::string& image) override
    {
        FHeader.ProcessId = processId;
        FHeader.Program = image;
    }
    void SessionMark(const std::string& caption) override
    {
        if (FOptions.Format != "sql")
            AddRow(TTraceFileRow{caption, {}});
    }
    // The session is over: nothing completes a record any more, and the columns are what
    // they are. Its "Finish" row follows.
    void SessionFinished(DWORD) override
    {
        for (THeldRow& held : FHeld)
            held.Pending = false;
        FPendingRows.Clear();
        FFinished = true;
    }
    void SessionRecord(const TTraceRecord& record) override
    {
        FTotals.Add(record);
        if (FOptions.Format == "sql") {
            // An execute's statement, result and values are known when it is delivered.
            if (record.Action == TTraceAction::Execute)
                Write("-- Execute " + TraceCellText(record, tcTime) + " " + TraceCellText(record, tcResult) + "\r\n" +
                      ExecuteAsSql(record));
            return;
        }
        FPendingRows.Delivered(record, FWrittenRows + FHeld.size());
        AddRow(TTraceFileRow{"", record}, record.Pending);
    }
    void SessionRecordUpdated(const TTraceRecord& record) override
    {
        FTotals.Update(record);
        std::optional<uint64_t> number = FPendingRows.Updated(record);
        if (!number || *number < FWrittenRows)
            return;
        THeldRow& held = FHeld[static_cast<size_t>(*number - FWrittenRows)];
        held.Source.Record = record;
        held.Row = TraceRecordRow(record);
        held.Pending = record.Pending;
        WriteCompleteRows();
    }
    // A warning goes beside the errors but leaves the exit status alone: the session ran right.
    void SessionWarning(const std::string& text) override
    {
        std::fprintf(stderr, "warning: %s\r\n", text.c_str());
        std::fflush(stderr);
    }

    static BOOL WINAPI CtrlHandler(DWORD type)
    {
        if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
            return FALSE;
        if (CaptureInstance)
            PostThreadMessageA(CaptureInstance->FMainThreadId, WM_STOP_REQUEST, 0, 0);
        return TRUE;
    }

    // For the console control handler, which is given no context of its own.
    static inline TCapture* CaptureInstance = nullptr;

    const TOptions& FOptions;
    std::unique_ptr<TTraceSession> FSession;
    DWORD FMainThreadId = 0;
    FILE* FOut = nullptr;
    std::string FHtml;
    // What a trace file's first line says of the session.
    TTraceFileHeader FHeader;
    TTraceFileWriter FFileWriter;
    bool FHeaderWritten = false;
    std::unique_ptr<TTimelineWriter> FTimeline;
    // Whether the rows written include the Rows, Binds and Error columns.
    bool FOptionalColumns = false;
    // Rows not yet written: the first one still pending and everything after it.
    struct THeldRow {
        TTraceFileRow Source;
        TListRow Row;
        bool Pending;
    };
    std::deque<THeldRow> FHeld;
    // The rows written so far; a row's number counts every row before it.
    uint64_t FWrittenRows = 0;
    // The number of each row that may still be completed.
    TPendingRecords<uint64_t> FPendingRows;
    TStatementTotals FTotals;
    bool FFinished = false;
    bool FErrorShown = false;
};

} // namespace

int main(int argc, char** argv)
{
    // Texts go out byte for byte; the error texts carry their own CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    TOptions options;
    TProgramOptions program = CaptureToolOptions(options);
    // A trace file (or two compared) stands in for the session.
    bool input = std::find(argv + 1, argv + argc, std::string("--input")) != argv + argc ||
                 std::find(argv + 1, argv + argc, std::string("--compare")) != argv + argc;
    program.SessionRequired = !input;
    program.OptionsWithoutSession = input;
    try {
        // The program's own options are filled in while the shared ones are read.
        static_cast<TSessionOptions&>(options) =
            ParseSessionOptions(std::vector<std::string>(argv + 1, argv + argc), program);
        program.SessionRequired = true;
        bool compare = !options.CompareBefore.empty();
        if (input && (options.HasSession() || (compare && !options.Input.empty())))
            throw EUsageError(compare ? "give either --compare BEFORE AFTER, --input FILE, -- PROGRAM or --attach PID"
                                      : "give either --input FILE, -- PROGRAM or --attach PID");
    } catch (const EUsageError& e) {
        program.SessionRequired = true;
        std::fputs(UsageErrorText(program, e.what()).c_str(), stderr);
        return 2;
    }
    if (options.Help || options.Version) {
        std::fputs((options.Help ? UsageText(program) : VersionText(program) + "\r\n").c_str(), stdout);
        return 0;
    }
    try {
        TCapture capture(options);
        return capture.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\r\n", ExceptionText(e).c_str());
        return 1;
    }
}

// velloran-trace: the tracer as a console program, for scripts and CI.
//
//   velloran-trace [options] -- PROGRAM [ARGUMENTS...]
//   velloran-trace [options] --attach PID
//   velloran-trace --help | --version
//
// It writes the rows the main window's trace list would hold for the session, in the
// main window's export formats.
#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "HookKinds.h"
#include "PendingRecords.h"
#include "ProcessList.h"
#include "SessionOptions.h"
#include "StatementTotals.h"
#include "TraceMask.h"
#include "TraceRows.h"
#include "TraceSession.h"
#include "Utils.h"

#include <fcntl.h>
#include <io.h>

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
};

// The shared words, and where the rows go.
TProgramOptions CaptureToolOptions(TOptions& options)
{
    TProgramOptions program;
    program.Name = VT_NAME;
    program.SessionRequired = true;
    program.OwnUsage = "  --format FMT    tsv (default), csv, html or sql (the executes with their values)\r\n"
                       "  --output FILE   write there instead of standard output\r\n"
                       "  --summary FILE  write the totals per statement there, tab-separated\r\n";
    program.TraceDefault = "execute";
    program.HooksDefault = HookKindWord(DefaultHookKind);
    program.Own = [&options](const std::string& option, const std::function<std::string()>& value) {
        if (option == "--format") {
            options.Format = value();
            if (options.Format != "tsv" && options.Format != "csv" && options.Format != "html" &&
                options.Format != "sql")
                throw EUsageError("unknown format: " + options.Format);
        } else if (option == "--output") {
            options.Output = value();
        } else if (option == "--summary") {
            options.Summary = value();
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
        // Without the details the columns are today's four from the first row on.
        FColumnsKnown = !(FOptions.TraceMask.value_or(DefaultTraceMask) & TraceMaskDetails);
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
        if (FOptions.Format == "html")
            Write(HtmlHead(!IsAscii(FHtml)) + FHtml + HtmlTail());
        CloseOutput();
        FSession.reset();
        if (!FOptions.Summary.empty())
            WriteSummary();
        return FErrorShown ? 1 : 0;
    }

private:
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
    // holds back itself and every row after it.
    //
    // The columns: a trace holds the Rows, Binds and Error columns exactly when one of its
    // rows has one of those cells filled. Without binds, errors and rows traced none can
    // have, and rows stream with today's four columns. With them, rows are held until one
    // comes (or is completed) with such a cell, and go out from then on with all seven;
    // a session that ends without one writes its held rows with four.
    void AddRow(const TListRow& row, bool pending = false)
    {
        NoteColumns(row);
        FHeld.push_back(THeldRow{row, pending});
        WriteCompleteRows();
    }

    void NoteColumns(const TListRow& row)
    {
        if (!FColumnsKnown && HasOptionalCells(row))
            FColumnsKnown = FOptionalColumns = true;
    }

    void WriteCompleteRows()
    {
        while (FColumnsKnown && !FHeld.empty() && !FHeld.front().Pending) {
            const TListRow& row = FHeld.front().Row;
            if (FOptions.Format == "html")
                FHtml += HtmlRowLine(row, FOptionalColumns);
            else
                Write(TextRowLine(row, FOptions.Format == "csv" ? ',' : '\t', FOptionalColumns));
            FHeld.pop_front();
            ++FWrittenRows;
        }
    }

    // ISessionClient
    void SessionMark(const std::string& caption) override
    {
        if (FOptions.Format != "sql")
            AddRow(TListRow{caption, {}});
    }
    // The session is over: nothing completes a record any more, and the columns are what
    // they are. Its "Finish" row follows.
    void SessionFinished(DWORD) override
    {
        for (THeldRow& held : FHeld)
            held.Pending = false;
        FPendingRows.Clear();
        FColumnsKnown = true;
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
        AddRow(TraceRecordRow(record), record.Pending);
    }
    void SessionRecordUpdated(const TTraceRecord& record) override
    {
        FTotals.Update(record);
        std::optional<uint64_t> number = FPendingRows.Updated(record);
        if (!number || *number < FWrittenRows)
            return;
        THeldRow& held = FHeld[static_cast<size_t>(*number - FWrittenRows)];
        held.Row = TraceRecordRow(record);
        NoteColumns(held.Row);
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
    // Whether the columns of the rows written are decided yet, and whether they include
    // Rows, Binds and Error.
    bool FColumnsKnown = true;
    bool FOptionalColumns = false;
    // Rows not yet written: the first one still pending and everything after it.
    struct THeldRow {
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
    try {
        // The program's own options are filled in while the shared ones are read.
        static_cast<TSessionOptions&>(options) =
            ParseSessionOptions(std::vector<std::string>(argv + 1, argv + argc), program);
    } catch (const EUsageError& e) {
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

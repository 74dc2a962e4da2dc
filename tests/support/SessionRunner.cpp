#include "SessionRunner.h"

#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "TraceRows.h"
#include "Utils.h"

#include <fstream>
#include <map>
#include <sstream>

TSessionRunner::TSessionRunner()
{
    FWindow = CreateMessageWindow("VelloranTestSink", WindowProc, this);
    Application().SetMainThread();
    Application().SetMainWindow(FWindow);
    Application().SetErrorSink([this](const std::string& text) { FSession.Errors.push_back(text); });
}

TSessionRunner::~TSessionRunner()
{
    FThread.reset();
    Application().SetErrorSink(nullptr);
    Application().SetMainWindow(nullptr);
    DestroyWindow(FWindow);
}

LRESULT CALLBACK TSessionRunner::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TSessionRunner*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self)
        return self->Handle(msg, wParam, lParam);
    return DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT TSessionRunner::Handle(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_TRACE_RECORD: {
        std::unique_ptr<TBreakpointData> record(reinterpret_cast<TBreakpointData*>(lParam));
        TTraceRow row{record->GetActionText(), record->Time, record->Result, record->Statement};
        FSession.Events.push_back("RECORD");
        FSession.Records.push_back(row);
        if (OnRecord)
            OnRecord(*this, row);
        return 0;
    }
    case WM_DEBUG_STARTED:
        FSession.Events.push_back("STARTED");
        if (FThread && FThread->Process)
            FSession.ProcessId = FThread->Process->ProcessId;
        if (OnStarted)
            OnStarted(*this);
        return 0;
    case WM_DEBUG_FINISHED:
        FSession.Events.push_back("FINISHED");
        FSession.Finished = true;
        if (FThread) {
            FThread.reset();
        }
        return 0;
    case WM_SYNCHRONIZE:
        Application().CheckSynchronize();
        return 0;
    }
    return DefWindowProcA(FWindow, msg, wParam, lParam);
}

void TSessionRunner::Pump(DWORD ms)
{
    DWORD until = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

TSession TSessionRunner::Run(std::unique_ptr<TDebugThread> thread, BYTE mask, DWORD timeoutMs)
{
    FSession = TSession();
    FThread = std::move(thread);
    FThread->TraceMask = mask;
    FThread->Start();
    DWORD until = GetTickCount() + timeoutMs;
    bool stopped = false;
    while (!FSession.Finished) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // The exit code is read before the finished message destroys the thread.
            if (msg.message == WM_DEBUG_FINISHED && msg.hwnd == FWindow && FThread)
                FSession.ExitCode = FThread->ExitCode;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0 && !stopped) {
            // Out of time: stop the session (the test fails on its own account) and let it end.
            FSession.Errors.push_back("(test) session timed out");
            if (FThread)
                FThread->Terminate();
            stopped = true;
            until = GetTickCount() + 20000;
            continue;
        }
        if (left <= 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
    FThread.reset();
    return FSession;
}

std::unique_ptr<TRunThread> RunFixture(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> all{BinDir() + "\\" + program};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<TRunThread>(JoinCommandLine(all));
}

static std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<TTruthCall> ReadTruth(const std::string& path)
{
    std::vector<TTruthCall> calls;
    std::istringstream in(ReadFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f;
        size_t from = 0;
        for (;;) {
            size_t tab = line.find('\t', from);
            f.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        TTruthCall call;
        call.Kind = f[0];
        if (call.Kind == "LOAD" || call.Kind == "UNLOAD") {
            calls.push_back(call);
            continue;
        }
        call.ThreadId = static_cast<DWORD>(std::stoul(f.at(1)));
        call.Handle = static_cast<DWORD>(std::stoul(f.at(2), nullptr, 16));
        call.Result = static_cast<int32_t>(std::stol(f.at(3)));
        if (call.Kind == "PREPARE") {
            call.Count = static_cast<DWORD>(std::stoul(f.at(4)));
            std::string text = f.size() > 5 ? f[5] : "";
            call.HasText = text != "-";
            if (call.HasText)
                call.Text = FromHex(text);
        } else if (call.Kind == "FETCH") {
            call.Count = static_cast<DWORD>(std::stoul(f.at(4)));
        }
        calls.push_back(call);
    }
    return calls;
}

std::vector<TTraceRow> ExpectedRecords(const std::vector<TTruthCall>& calls, BYTE mask)
{
    std::map<DWORD, std::string> registry;
    std::vector<TTraceRow> rows;
    auto statement = [&](DWORD handle) {
        auto it = registry.find(handle);
        return it == registry.end() ? std::string("<unavailable>") : it->second;
    };
    for (const TTruthCall& c : calls) {
        if (c.Kind == "PREPARE") {
            if (c.HasText)
                registry[c.Handle] = c.Text;
            if (mask & TraceMaskPrepare)
                rows.push_back({"Prepare", 0, c.Result, c.HasText ? c.Text : "(raw)"});
        } else if (c.Kind == "EXECUTE") {
            if (mask & TraceMaskExecute)
                rows.push_back({"Execute", 0, c.Result, statement(c.Handle)});
        } else if (c.Kind == "FETCH") {
            if (mask & TraceMaskFetch)
                rows.push_back({Format("Fetch (%d)", static_cast<int>(c.Count)), 0, c.Result, statement(c.Handle)});
        } else if (c.Kind == "FREE") {
            registry.erase(c.Handle);
        }
    }
    return rows;
}

std::string Describe(const std::vector<TTraceRow>& rows)
{
    std::string text;
    for (const TTraceRow& r : rows)
        text += r.Action + " | " + OCIResultText(r.Result) + " | " + ReplaceAll(ReplaceAll(r.Statement, "\r", "\\r"), "\n", "\\n") + "\n";
    return text;
}

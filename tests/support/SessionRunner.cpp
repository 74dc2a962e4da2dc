#include "SessionRunner.h"

#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "OCITexts.h"
#include "Utils.h"

#include <fstream>
#include <map>
#include <sstream>

TSessionRunner::TSessionRunner() : FControl(static_cast<ISessionClient&>(*this))
{
    Application().SetMainThread();
}

TSessionRunner::~TSessionRunner() { FControl.End(); }

void TSessionRunner::SessionMark(const std::string& caption)
{
    if (caption == "Start") {
        FSession.Events.push_back("STARTED");
        if (OnStarted)
            OnStarted(*this);
    } else {
        FSession.Events.push_back("FINISHED");
        FSession.Finished = true;
    }
}

void TSessionRunner::SessionRecord(const TTraceRecord& record)
{
    TTraceRow row{ActionText(record), record.ElapsedDays, record.Result, record.Statement};
    FSession.Events.push_back("RECORD");
    FSession.Records.push_back(row);
    if (OnRecord)
        OnRecord(*this, row);
}

void TSessionRunner::SessionStarted(DWORD processId, const std::string& image)
{
    FSession.ProcessId = processId;
    FSession.Image = image;
}

void TSessionRunner::SessionError(const std::string& text) { FSession.Errors.push_back(text); }

void TSessionRunner::SessionFinished(DWORD exitCode) { FSession.ExitCode = exitCode; }

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

TSession TSessionRunner::Run(const std::string& commandLine, BYTE mask, DWORD timeoutMs)
{
    FSession = TSession();
    FControl.EmulatePrologues = EmulatePrologues;
    FControl.Run(commandLine, mask);
    return Wait(timeoutMs);
}

TSession TSessionRunner::Attach(std::shared_ptr<TProcessInfo> process, BYTE mask, DWORD timeoutMs)
{
    FSession = TSession();
    FControl.EmulatePrologues = EmulatePrologues;
    FControl.Attach(std::move(process), mask);
    return Wait(timeoutMs);
}

TSession TSessionRunner::Wait(DWORD timeoutMs)
{
    DWORD until = GetTickCount() + timeoutMs;
    bool stopped = false;
    while (!FSession.Finished) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0 && !stopped) {
            // Out of time: stop the session (the test fails on its own account) and let it end.
            FSession.Errors.push_back("(test) session timed out");
            FControl.Stop();
            stopped = true;
            until = GetTickCount() + 20000;
            continue;
        }
        if (left <= 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
    FControl.End();
    return FSession;
}

std::string FixtureCommand(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> all{BinDir() + "\\" + program};
    all.insert(all.end(), args.begin(), args.end());
    return JoinCommandLine(all);
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
        call.Handle = std::stoull(f.at(2), nullptr, 16);
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
    std::map<uint64_t, std::string> registry;
    std::vector<TTraceRow> rows;
    auto statement = [&](uint64_t handle) {
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

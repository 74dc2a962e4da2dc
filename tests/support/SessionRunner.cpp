#include "SessionRunner.h"

#include "Application.h"
#include "CommandLine.h"
#include "Errors.h"
#include "HookKinds.h"
#include "OCITexts.h"
#include "Utils.h"
#include "VelloranBuild.h"

#include <cstring>
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

static TTraceRow RowOf(const TTraceRecord& record)
{
    return TTraceRow{ActionText(record), record.ElapsedDays, record.Result, record.Statement,
                     record.Serial,      record.Rows,        BindsText(record.Binds),  record.Error,
                     record.Pending,     record.CommitsOnSuccess, record.Note,
                     record.ServerSqlId};
}

void TSessionRunner::SessionRecord(const TTraceRecord& record)
{
    TTraceRow row = RowOf(record);
    FSession.Events.push_back("RECORD");
    FSession.Records.push_back(row);
    if (OnRecord)
        OnRecord(*this, row);
}

void TSessionRunner::SessionRecordUpdated(const TTraceRecord& record)
{
    for (TTraceRow& row : FSession.Records)
        if (row.Serial == record.Serial)
            row = RowOf(record);
}

void TSessionRunner::SessionStarted(DWORD processId, const std::string& image)
{
    FSession.ProcessId = processId;
    FSession.Image = image;
}

void TSessionRunner::SessionError(const std::string& text) { FSession.Errors.push_back(text); }

void TSessionRunner::SessionWarning(const std::string& text) { FSession.Warnings.push_back(text); }

void TSessionRunner::SessionFinished(DWORD exitCode)
{
    FSession.ExitCode = exitCode;
    FSession.CallStops = FControl.CallStops();
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

TSession TSessionRunner::Run(const std::string& commandLine, TTraceMask mask, DWORD timeoutMs)
{
    FSession = TSession();
    FControl.EmulatePrologues = EmulatePrologues;
    FControl.Hooks = Hooks;
    FControl.HideValues = HideValues;
    FControl.LogEntries = LogEntries;
    FControl.Run(commandLine, mask);
    return Wait(timeoutMs);
}

TSession TSessionRunner::Attach(std::shared_ptr<TProcessInfo> process, TTraceMask mask, DWORD timeoutMs)
{
    FSession = TSession();
    FControl.EmulatePrologues = EmulatePrologues;
    FControl.Hooks = Hooks;
    FControl.HideValues = HideValues;
    FControl.LogEntries = LogEntries;
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

namespace {
bool Fixtures32 = false;
THookKind Hooks = DefaultHookKind;
}

THookKind DefaultHooks() { return Hooks; }

bool ReadHooksOption(int& argc, char** argv)
{
    const std::string option = "--hooks=";
    THookKind chosen = Hooks;
    bool valid = true;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind(option, 0) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        std::optional<THookKind> kind = HookKindOfWord(arg.substr(option.size()));
        if (kind)
            chosen = *kind;
        else
            valid = false;
    }
    argc = kept;
    argv[argc] = nullptr;
    if (valid)
        Hooks = chosen;
    return valid;
}

bool UsingFixtures32() { return Fixtures32; }

std::string FixtureDir() { return Fixtures32 ? std::string(VELLORAN_FIXTURES32_DIR) : BinDir(); }

void ReadFixtureOption(int& argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--fixtures=32")
            Fixtures32 = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}

std::string FixtureCommand(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> all{FixtureDir() + "\\" + program};
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

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return fields;
        from = tab + 1;
    }
}

std::vector<TTruthCall> ReadTruth(const std::string& path)
{
    std::vector<TTruthCall> calls;
    std::istringstream in(ReadFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f = SplitTabs(line);
        TTruthCall call;
        call.Kind = f[0];
        call.Fields = f;
        if (call.Kind == "LOAD" || call.Kind == "UNLOAD") {
            calls.push_back(call);
            continue;
        }
        call.ThreadId = static_cast<DWORD>(std::stoul(f.at(1)));
        call.Handle = std::stoull(f.at(2), nullptr, 16);
        call.Result = static_cast<int32_t>(std::stol(f.at(3)));
        if (call.Kind == "PREPARE" || call.Kind == "PREPARE2") {
            call.Count = static_cast<DWORD>(std::stoul(f.at(4)));
            std::string text = f.size() > 5 ? f[5] : "";
            call.HasText = text != "-";
            if (call.HasText)
                call.Text = FromHex(text);
            if (call.Kind == "PREPARE2")
                call.Key = FromHex(f.size() > 6 ? f[6] : "");
            call.Utf16 = f.back() == "utf16" && f.size() > 6;
        } else if (call.Kind == "FETCH" || call.Kind == "FETCH2") {
            call.Count = static_cast<DWORD>(std::stoul(f.at(4)));
        } else if (call.Kind == "RELEASE") {
            call.Key = FromHex(f.size() > 4 ? f[4] : "");
        } else if (call.Kind == "ENV") {
            call.Utf16 = f.size() > 4 && f[4] == "1";
        }
        calls.push_back(call);
    }
    return calls;
}

std::string ShownText(const std::string& bytes, bool utf16)
{
    std::wstring wide;
    if (utf16) {
        wide.resize(bytes.size() / 2);
        std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    } else {
        int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        UINT codePage = n > 0 || bytes.empty() ? CP_UTF8 : CP_ACP;
        if (codePage == CP_UTF8)
            return bytes;
        n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        wide.resize(static_cast<size_t>(n));
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

static TTraceRow ExpectedRow(const std::string& action, int32_t result, const std::string& statement)
{
    TTraceRow row;
    row.Action = action;
    row.Elapsed = 0;
    row.Result = result;
    row.Statement = statement;
    return row;
}

std::vector<TTraceRow> ExpectedRecords(const std::vector<TTruthCall>& calls, TTraceMask mask)
{
    std::map<uint64_t, std::string> registry;
    std::map<std::string, std::string> keyed;
    std::vector<TTraceRow> rows;
    auto statement = [&](uint64_t handle) {
        auto it = registry.find(handle);
        return it == registry.end() ? std::string("<unavailable>") : it->second;
    };
    bool succeeded = false;
    for (const TTruthCall& c : calls) {
        succeeded = c.Result == 0 || c.Result == 1;
        if (c.Kind == "PREPARE") {
            std::string text = ShownText(c.Text, c.Utf16);
            if (c.HasText)
                registry[c.Handle] = text;
            if (mask & TraceMaskPrepare)
                rows.push_back(ExpectedRow("Prepare", c.Result, c.HasText ? text : "(raw)"));
        } else if (c.Kind == "PREPARE2") {
            // The text, or the one last prepared or released under the key; a raw
            // pointer's is whatever reading it gave ("(raw)" here).
            std::string text = c.HasText ? ShownText(c.Text, c.Utf16) : "(raw)";
            bool known = c.HasText;
            if (c.HasText && c.Count == 0 && !c.Key.empty()) {
                auto it = keyed.find(c.Key);
                known = it != keyed.end();
                text = known ? it->second : "<unavailable>";
            }
            if (succeeded) {
                if (known)
                    registry[c.Handle] = text;
                else
                    registry.erase(c.Handle);
                if (known && !c.Key.empty())
                    keyed[c.Key] = text;
            }
            if (mask & TraceMaskPrepare)
                rows.push_back(ExpectedRow("Prepare", c.Result, text));
        } else if (c.Kind == "EXECUTE") {
            if (mask & TraceMaskExecute)
                rows.push_back(ExpectedRow("Execute", c.Result, statement(c.Handle)));
        } else if (c.Kind == "FETCH" || c.Kind == "FETCH2") {
            if (mask & TraceMaskFetch)
                rows.push_back(ExpectedRow(Format("Fetch (%d)", static_cast<int>(c.Count)), c.Result, statement(c.Handle)));
        } else if (c.Kind == "FREE") {
            registry.erase(c.Handle);
        } else if (c.Kind == "RELEASE") {
            auto it = registry.find(c.Handle);
            if (it != registry.end() && !c.Key.empty())
                keyed[c.Key] = it->second;
            registry.erase(c.Handle);
        }
    }
    return rows;
}

TRowsByThread RowsByThread(const std::vector<TTruthCall>& truth, const std::vector<TTraceRow>& records, TTraceMask mask)
{
    auto threadOf = [](const TTraceRow& row) { return row.Statement.size() > 7 ? row.Statement[7] : '?'; };
    std::map<DWORD, std::vector<TTruthCall>> byThread;
    for (const TTruthCall& c : truth)
        if (c.ThreadId)
            byThread[c.ThreadId].push_back(c);
    TRowsByThread rows;
    for (const auto& [thread, calls] : byThread)
        for (const TTraceRow& row : ExpectedRecords(calls, mask))
            rows.Expected[threadOf(row)].push_back(row);
    for (const TTraceRow& row : records)
        rows.Traced[threadOf(row)].push_back(row);
    return rows;
}

TFixtureRun RunLogged(const std::string& program, std::vector<std::string> args, TTraceMask mask, bool emulate,
                      DWORD timeoutMs)
{
    static int serial = 0;
    std::string logFile = TempFile("truth" + std::to_string(++serial) + ".log");
    args.insert(args.begin(), {"-log", logFile});
    TSessionRunner runner;
    runner.EmulatePrologues = emulate;
    TFixtureRun run{runner.Run(FixtureCommand(program, args), mask, timeoutMs), ReadTruth(logFile)};
    DeleteFileA(logFile.c_str());
    return run;
}

TFixtureRun RunScriptText(const std::string& script, TTraceMask mask, bool emulate, const std::string& program,
                          DWORD timeoutMs)
{
    static int serial = 0;
    std::string scriptFile = TempFile("script" + std::to_string(++serial) + ".txt");
    WriteFileBytes(scriptFile, script);
    TFixtureRun run = RunLogged(program, {scriptFile}, mask, emulate, timeoutMs);
    DeleteFileA(scriptFile.c_str());
    return run;
}

std::vector<TRowKey> RowKeys(const std::vector<TTraceRow>& rows)
{
    std::vector<TRowKey> out;
    for (const TTraceRow& r : rows)
        out.emplace_back(r.Action, r.Result, r.Statement);
    return out;
}

std::string Describe(const std::vector<TTraceRow>& rows)
{
    std::string text;
    for (const TTraceRow& r : rows)
        text += r.Action + " | " + OCIResultText(r.Result) + " | " + ReplaceAll(ReplaceAll(r.Statement, "\r", "\\r"), "\n", "\\n") + "\n";
    return text;
}

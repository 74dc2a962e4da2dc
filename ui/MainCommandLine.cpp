#include "MainCommandLine.h"

#include "Application.h"
#include "CommandLine.h"
#include "Main.h"
#include "ProcessList.h"

TProgramOptions WindowProgramOptions()
{
    TProgramOptions program;
    // The 64-bit build is velloran64.
    program.Name = sizeof(void*) == 8 ? "velloran64" : "velloran";
    program.SessionRequired = false;
    program.TraceDefault = program.HooksDefault = "Trace > Options";
    return program;
}

TWindowCommand ReadWindowCommandLine(const std::vector<std::string>& args)
{
    TProgramOptions program = WindowProgramOptions();
    TWindowCommand command;
    // A trace file alone, as the system passes a file opened with the program.
    const std::string extension = ".jsonl";
    if (args.size() == 1 && args[0].size() > extension.size() &&
        _stricmp(args[0].c_str() + args[0].size() - extension.size(), extension.c_str()) == 0) {
        command.TraceFile = args[0];
        return command;
    }
    std::string text;
    UINT icon = MB_ICONINFORMATION;
    try {
        command.Session = ParseSessionOptions(args, program);
    } catch (const EUsageError& e) {
        text = UsageErrorText(program, e.what());
        icon = MB_ICONERROR;
        command.ExitCode = 2;
    }
    if (command.Session.Help || command.Session.Version) {
        text = command.Session.Help ? UsageText(program) : VersionText(program);
        command.ExitCode = 0;
    }
    if (command.ExitCode)
        MessageBoxA(nullptr, text.c_str(), Application().Title.c_str(), MB_OK | icon);
    return command;
}

void StartCommandLineSession(TfrmMain& form, const TSessionOptions& options)
{
    if (options.AttachPid) {
        form.AttachProcess(ProcessToAttach(ProcessList(), options.AttachPid), options.TraceMask, options.Hooks,
                           options.HideValues);
        return;
    }
    if (options.Program.empty())
        return;
    TRunEntry run;
    run.Program = options.Program.front();
    run.Arguments = JoinCommandLine(std::vector<std::string>(options.Program.begin() + 1, options.Program.end()));
    // A program started from a command line starts where that command line was given,
    // as it does under the capture tool; the recent list keeps that folder.
    char folder[MAX_PATH * 2] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(folder), folder);
    if (n > 0 && n < sizeof(folder))
        run.Folder = folder;
    form.RunProgram(run, options.TraceMask, options.Hooks, options.HideValues);
}

void StartCommandLine(TfrmMain& form, const TWindowCommand& command)
{
    if (!command.TraceFile.empty())
        form.OpenTraceFile(command.TraceFile);
    else
        StartCommandLineSession(form, command.Session);
}

#include "SessionOptions.h"

#include "CommandLine.h"
#include "TraceMask.h"
#include "Errors.h"
#include "Utils.h"

#include <cstdlib>

TSessionOptions ParseSessionOptions(const std::vector<std::string>& args, const TProgramOptions& program)
{
    TSessionOptions options;
    bool attach = false, dashDash = false, anyOption = false;
    size_t i = 0;
    auto value = [&](const std::string& option) -> std::string {
        if (i + 1 >= args.size())
            throw EUsageError(option + " needs a value");
        return args[++i];
    };
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            dashDash = true;
            options.Program.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        // Asked how to call the program, it says so whatever else the line holds.
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
            return options;
        }
        if (arg == "--version") {
            options.Version = true;
            return options;
        }
        anyOption = true;
        if (arg == "--trace") {
            try {
                options.TraceMask = TraceMaskOfWords(value(arg));
            } catch (const EUnknownTraceWord& e) {
                throw EUsageError(e.what());
            }
        } else if (arg == "--hide-values") {
            options.HideValues = true;
        } else if (arg == "--hooks") {
            std::string word = value(arg);
            options.Hooks = HookKindOfWord(word);
            if (!options.Hooks)
                throw EUsageError("unknown hook kind in --hooks: " + word + " (" + HookKindWords() + ")");
        } else if (arg == "--attach") {
            std::string pid = value(arg);
            char* end = nullptr;
            unsigned long n = std::strtoul(pid.c_str(), &end, 10);
            if (pid.empty() || *end || n == 0)
                throw EUsageError("not a process id: " + pid);
            options.AttachPid = static_cast<DWORD>(n);
            attach = true;
        } else if (!program.Own || !program.Own(arg, [&] { return value(arg); })) {
            throw EUsageError("unknown option: " + arg);
        }
    }
    bool run = !options.Program.empty();
    if ((attach && dashDash) || (!attach && !run && (program.SessionRequired || dashDash || (anyOption && !program.OptionsWithoutSession))))
        throw EUsageError("give either -- PROGRAM or --attach PID");
    return options;
}

std::string UsageText(const TProgramOptions& program)
{
    const std::string& name = program.Name;
    std::string text = "usage: " + name + " [options] -- PROGRAM [ARGUMENTS...]\r\n" +
                       "       " + name + " [options] --attach PID\r\n";
    if (!program.SessionRequired)
        text += "       " + name + "\r\n";
    text += "  --trace LIST    comma-separated subset of\r\n"
            "                  " + TraceMaskWords() + ",\r\n" +
            "                  or all (default: " + program.TraceDefault + ")\r\n" +
            "  --hide-values   bound values show as ? (their names stay)\r\n" +
            "  --hooks KIND    int3 for breakpoints, fast for jumps to a stub, log for stubs that log\r\n"
            "                  calls without stopping the program (default: " +
            program.HooksDefault + ")\r\n" + program.OwnUsage +
            "  -h, --help      print this and exit\r\n"
            "  --version       print the version and exit\r\n";
    return text;
}

std::string UsageErrorText(const TProgramOptions& program, const std::string& error)
{
    return program.Name + ": " + error + "\r\n" + UsageText(program);
}

std::string VersionText(const TProgramOptions& program) { return program.Name + " " + GetFileVersionText(); }

std::shared_ptr<TProcessInfo> ProcessToAttach(TProcessInfos& processes, DWORD processId)
{
    processes.Refresh();
    auto process = processes.FindProcess(processId);
    if (!process)
        throw std::runtime_error(
            Format("No process with id %lu can be opened for debugging", static_cast<unsigned long>(processId)));
    return process;
}

// The command line of both programs: the session it starts (a program with its
// arguments, or a running process), the actions it traces and how it hooks them, and
// --help and --version. The capture tool and the window take the same words and make the
// same usage errors; each adds options of its own (the capture tool's output) through
// TProgramOptions::Own.
#pragma once

#include "HookKinds.h"
#include "ProcessList.h"
#include "TraceMask.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct TSessionOptions {
    // --trace and --hooks, where given.
    std::optional<TTraceMask> TraceMask;
    std::optional<THookKind> Hooks;
    // --hide-values: bound values show as "?".
    bool HideValues = false;
    // --attach PID, or 0.
    DWORD AttachPid = 0;
    // What follows "--": the program and its arguments.
    std::vector<std::string> Program;
    // --help (or -h), --version: the rest of the command line is not read.
    bool Help = false;
    bool Version = false;

    bool HasSession() const { return AttachPid != 0 || !Program.empty(); }
};

// A command line the program does not understand; what() is the line the program
// shows above its usage ("unknown option: --bogus").
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a program makes of the shared words.
struct TProgramOptions {
    // The program's name in its usage and messages ("velloran-trace64").
    std::string Name;
    // Whether a command line must give a session (the capture tool) or may give nothing
    // at all (the window then opens as it is).
    bool SessionRequired = true;
    // Whether the program's own options may stand in for a session (the capture tool's
    // --input): a line of options without one is then no usage error.
    bool OptionsWithoutSession = false;
    // What the usage gives as the default of --trace and of --hooks.
    std::string TraceDefault;
    std::string HooksDefault;
    // The usage lines of the program's own options.
    std::string OwnUsage;
    // One of the program's own options: value() takes its value (a usage error where
    // there is none). False for a word that is not one of them.
    std::function<bool(const std::string& option, const std::function<std::string()>& value)> Own;
};

// Reads a command line (without the program's own name). Raises EUsageError.
TSessionOptions ParseSessionOptions(const std::vector<std::string>& args, const TProgramOptions& program);

// The usage: how to call the program and every option, CR LF line ends.
std::string UsageText(const TProgramOptions& program);
// A usage error as the programs show it: "NAME: error", then the usage.
std::string UsageErrorText(const TProgramOptions& program, const std::string& error);
// What --version prints: "NAME VERSION", the version of the running program's resource.
std::string VersionText(const TProgramOptions& program);

// The process --attach names, in processes after a refresh. Raises "No process with id N
// can be opened for debugging" when it is not there.
std::shared_ptr<TProcessInfo> ProcessToAttach(TProcessInfos& processes, DWORD processId);

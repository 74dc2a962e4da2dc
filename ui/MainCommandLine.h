// velloran.exe's command line: the capture tool's words for a session, which the window
// then starts at once, or nothing (the window opens as it is).
//
//   velloran [--trace LIST] [--hooks KIND] -- PROGRAM [ARGUMENTS...]
//   velloran [--trace LIST] [--hooks KIND] --attach PID
//   velloran FILE.jsonl                 (opens a saved trace)
//   velloran --help | --version
//
// A GUI program has no console to print to: the usage, the version and usage errors are
// shown in a box.
#pragma once

#include "SessionOptions.h"

#include <optional>
#include <string>
#include <vector>

class TfrmMain;

// The window's name and option texts for the shared parser.
TProgramOptions WindowProgramOptions();

struct TWindowCommand {
    // Set when the program ends at once, after its box: 0 for --help and --version, 2
    // for a usage error.
    std::optional<int> ExitCode;
    TSessionOptions Session;
    // A saved trace to open, the command line's one word.
    std::string TraceFile;
};

// Reads the command line (without the program's own name) and shows the box it asks for.
TWindowCommand ReadWindowCommandLine(const std::vector<std::string>& args);

// Starts the session the command line gives, if any: its program with its arguments
// (quoted as the capture tool quotes them) in the current folder, or an attach; --trace
// and --hooks apply to that session only. An error (a process that cannot be attached)
// is raised.
void StartCommandLineSession(TfrmMain& form, const TSessionOptions& options);
// The session, or the trace file, the command line gives.
void StartCommandLine(TfrmMain& form, const TWindowCommand& command);

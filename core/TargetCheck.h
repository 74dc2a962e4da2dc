// What the tracer checks of a program before it starts or attaches to it: that it is a
// Windows program of a bitness this build can debug. A refused program is not touched.
#pragma once

#include <windows.h>

#include <string>

// The program file a command line starts, found as CreateProcess would find it; empty
// when it cannot be found (CreateProcess then reports that itself).
std::string ProgramOfCommandLine(const std::string& commandLine);

// Raises a readable error unless file is an executable this build can trace: not a
// Windows program at all, a 16-bit or a .NET-only one, or a 64-bit one for the 32-bit
// build. wow64 tells whether it is a 32-bit program for the 64-bit build.
void CheckProgramFile(const std::string& file, bool& wow64);

// The same for a running process: a 64-bit process refused by the 32-bit build (before
// anything is done to it), one that has ended or cannot be asked.
void CheckProcess(HANDLE process, DWORD processId, bool& wow64);

// This tracer is a 64-bit program.
constexpr bool Tracer64 = sizeof(void*) == 8;

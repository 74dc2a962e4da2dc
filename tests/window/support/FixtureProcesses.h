// The programs the window tests run beside the window: fixture processes of build/bin,
// started and killed by the test, and the script of guiclient.exe, the client the tests
// trace.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class TScratchDir;

// A fixture program of build/bin (or of another folder), started with arguments and
// CreateProcess flags; killed when the object goes, if it is still running.
class TFixtureProcess {
public:
    TFixtureProcess(const std::string& exeName, const std::string& arguments);
    TFixtureProcess(const std::string& exeName, const std::string& arguments, const std::string& dir,
                    DWORD creationFlags);
    ~TFixtureProcess();
    TFixtureProcess(const TFixtureProcess&) = delete;
    TFixtureProcess& operator=(const TFixtureProcess&) = delete;

    DWORD ProcessId() const { return FInfo.dwProcessId; }
    HANDLE Handle() const { return FInfo.hProcess; }
    // Waits for the end; the exit code, or STILL_ACTIVE after timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs);
    void Kill();

private:
    PROCESS_INFORMATION FInfo{};
};

bool WaitForFile(const std::string& path, DWORD timeoutMs);
// An attachee.exe that has made its first round of OCI calls; it ends when the file
// dir/name.stop appears (or with the object).
// binDir is the folder of the attachee.exe to run: build/bin's by default, or that of the
// 32-bit fixtures (VELLORAN_FIXTURES32_DIR).
std::unique_ptr<TFixtureProcess> StartAttachee(const TScratchDir& dir, const std::string& name,
                                               const std::string& binDir = {});

// A 64-bit program of the system that waits until it is killed (cmd.exe on a console
// with no window), started from a build of either bitness: a 64-bit process for tests of
// the 32-bit build, whose tree has no 64-bit fixtures.
std::unique_ptr<TFixtureProcess> StartSystemProgram64();

// The process id of a running program of that file name that this process started (a
// run session's program), or 0. Tests run in parallel, each in its own process, so a
// child is the test's own.
DWORD ChildProcessId(const std::string& exeName);

// Sets the script that guiclient.exe runs (lines joined with line feeds).
void SetClientScript(const std::vector<std::string>& lines);

#include "FixtureProcesses.h"

#include "Errors.h"
#include "TestFiles.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

TFixtureProcess::TFixtureProcess(const std::string& exeName, const std::string& arguments)
    : TFixtureProcess(exeName, arguments, BinDir(), 0)
{
}

TFixtureProcess::TFixtureProcess(const std::string& exeName, const std::string& arguments, const std::string& dir,
                                 DWORD creationFlags)
{
    std::string path = dir + "\\" + exeName;
    std::string commandLine = "\"" + path + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                        &startup, &FInfo))
        RaiseLastOSError();
    CloseHandle(FInfo.hThread);
    FInfo.hThread = nullptr;
}

TFixtureProcess::~TFixtureProcess()
{
    Kill();
    CloseHandle(FInfo.hProcess);
}

DWORD TFixtureProcess::WaitForExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(FInfo.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(FInfo.hProcess, &code);
    return code;
}

void TFixtureProcess::Kill()
{
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(FInfo.hProcess, 99);
        WaitForSingleObject(FInfo.hProcess, 5000);
    }
}

bool WaitForFile(const std::string& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

std::unique_ptr<TFixtureProcess> StartAttachee(const TScratchDir& dir, const std::string& name,
                                               const std::string& binDir)
{
    std::string ready = dir.File(name + ".ready");
    auto process = std::make_unique<TFixtureProcess>(
        "attachee.exe", "-stop \"" + dir.File(name + ".stop") + "\" -ready \"" + ready + "\" -timeout 120",
        binDir.empty() ? BinDir() : binDir, 0);
    EXPECT_TRUE(WaitForFile(ready, 60000)) << name << " did not get ready";
    return process;
}

std::unique_ptr<TFixtureProcess> StartSystemProgram64()
{
    // A 32-bit program reaches the 64-bit system folder as "sysnative": its "system32" is
    // the 32-bit one.
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string system = std::string(windows) + (sizeof(void*) == 8 ? "\\system32" : "\\sysnative");
    // Without a window its console has no input ever: the prompt waits for good.
    return std::make_unique<TFixtureProcess>("cmd.exe", "", system, CREATE_NO_WINDOW);
}

DWORD ChildProcessId(const std::string& exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD found = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0)
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

void SetClientScript(const std::vector<std::string>& lines)
{
    std::string script;
    for (const std::string& line : lines)
        script += line + "\n";
    SetEnvironmentVariableA("VELLORAN_GUI_SCRIPT", script.c_str());
}

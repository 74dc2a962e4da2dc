// The build tree: its fixtures are built for its own bitness, the 32-bit fixtures are
// where VelloranBuild.h says, and the tree's Wine prefix runs clients of both bitnesses.
#include "TestFiles.h"
#include "VelloranBuild.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr WORD kOwnMachine = VELLORAN_BITS == 64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;

// The Machine field of a PE image's file header; 0 when the file is missing or no PE image.
WORD PeMachine(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return 0;
    DWORD pe = 0;
    std::memcpy(&pe, bytes.data() + 0x3C, sizeof pe);
    if (pe > bytes.size() - 6 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    WORD machine = 0;
    std::memcpy(&machine, bytes.data() + pe + 4, sizeof machine);
    return machine;
}

template <typename T>
T ValueAt(const std::string& bytes, size_t offset)
{
    T value{};
    if (offset <= bytes.size() && sizeof(T) <= bytes.size() - offset)
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// The DLLs a PE image's import directory names, as written there. Empty when the file
// is missing or no PE image.
std::vector<std::string> ImportedDlls(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> dlls;
    if (PeMachine(path) == 0)
        return dlls;
    const size_t pe = ValueAt<DWORD>(bytes, 0x3C);
    const WORD sections = ValueAt<WORD>(bytes, pe + 6);
    const size_t optional = pe + 24;
    const bool pe32plus = ValueAt<WORD>(bytes, optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    // The import directory is data directory 1.
    const DWORD imports = ValueAt<DWORD>(bytes, optional + (pe32plus ? 120 : 104));
    const size_t sectionTable = optional + ValueAt<WORD>(bytes, pe + 20);
    auto offsetOf = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < sections; ++i) {
            const size_t section = sectionTable + i * 40u;
            const DWORD address = ValueAt<DWORD>(bytes, section + 12);
            const DWORD size = std::max(ValueAt<DWORD>(bytes, section + 8), ValueAt<DWORD>(bytes, section + 16));
            if (rva >= address && rva < address + size)
                return rva - address + ValueAt<DWORD>(bytes, section + 20);
        }
        return bytes.size();
    };
    for (size_t entry = offsetOf(imports); imports && entry + 20 <= bytes.size(); entry += 20) {
        const DWORD name = ValueAt<DWORD>(bytes, entry + 12);
        if (name == 0)
            break;
        const size_t at = offsetOf(name);
        if (at < bytes.size())
            dlls.emplace_back(bytes.c_str() + at);
    }
    return dlls;
}

// Runs a command line with nothing inherited; its exit code, or WAIT_TIMEOUT after 60 s
// (the program is killed then).
DWORD RunProgram(std::string commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
        return static_cast<DWORD>(-1);
    }
    DWORD code = WAIT_TIMEOUT;
    if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

// The ground-truth log's lines, each split at its tabs.
std::vector<std::vector<std::string>> LogLines(const std::string& path)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(ReadFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        std::istringstream fieldsIn(line);
        std::string field;
        while (std::getline(fieldsIn, field, '\t'))
            fields.push_back(field);
        lines.push_back(fields);
    }
    return lines;
}

struct TFixtureDir {
    const char* What;
    std::string Dir;
    WORD Machine;
};

// This tree's bin folder and the 32-bit fixtures' folder, each checked to exist.
std::vector<TFixtureDir> FixtureDirs()
{
    std::vector<TFixtureDir> dirs{
        {"this tree's bin folder", BinDir(), kOwnMachine},
        {"the 32-bit fixtures' folder", VELLORAN_FIXTURES32_DIR, IMAGE_FILE_MACHINE_I386}};
    for (const TFixtureDir& dir : dirs) {
        const DWORD attributes = GetFileAttributesA(dir.Dir.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            << dir.What << " " << dir.Dir << " is missing: build the 32-bit tree first, or set "
            << "VELLORAN_FIXTURES32_DIR to its bin folder";
    }
    return dirs;
}

} // namespace

// Every fixture the engine and window tests run, in the bitness its folder stands for.
TEST(BuildTree, FixturesHaveTheirFoldersBitness)
{
    const char* files[] = {"OCI.DLL", "lower\\oci.dll", "other\\OCI.DLL", "long\\XOCI.DLL",
                           "noexport\\OCI.DLL", "ocirun.exe", "ocilinked.exe", "nooci.exe",
                           "exceptions.exe", "attachee.exe", "callsite.exe", "democlient.exe"};
    for (const TFixtureDir& dir : FixtureDirs())
        for (const char* file : files) {
            const std::string path = dir.Dir + "\\" + file;
            EXPECT_EQ(PeMachine(path), dir.Machine) << dir.What << ": " << path;
        }
}

// Clients of either bitness run in the prefix, load the stand-in OCI.DLL beside them
// (at run time and through the import table) and get its scripted results.
TEST(BuildTree, PrefixRunsTheClientsOfBothFolders)
{
    for (const TFixtureDir& dir : FixtureDirs()) {
        SCOPED_TRACE(dir.What);
        TScratchDir scratch;

        const std::string runLog = scratch.File("ocirun.log");
        EXPECT_EQ(RunProgram("\"" + dir.Dir + "\\ocirun.exe\" -log \"" + runLog +
                             "\" -e \"load; alloc S; prepare S SELECT 1 FROM dual /*vt result=1 rows=2*/;"
                             " execute S; check 1; fetchall S 1; check 100; free S; check 0\""),
                  0u);
        const auto run = LogLines(runLog);
        std::vector<std::string> kinds;
        for (const auto& line : run)
            kinds.push_back(line.empty() ? "" : line[0]);
        EXPECT_EQ(kinds, (std::vector<std::string>{"LOAD", "PREPARE", "EXECUTE", "FETCH", "FETCH", "FETCH", "FREE"}));
        if (run.size() == 7) {
            ASSERT_EQ(run[0].size(), 2u);
            EXPECT_EQ(lstrcmpiA(run[0][1].c_str(), (dir.Dir + "\\OCI.DLL").c_str()), 0) << run[0][1];
            EXPECT_EQ(run[2].back(), "1");
            EXPECT_EQ(run[5][3], "100");
        }

        const std::string linkedLog = scratch.File("ocilinked.log");
        EXPECT_EQ(RunProgram("\"" + dir.Dir + "\\ocilinked.exe\" -log \"" + linkedLog + "\""), 0u);
        const auto linked = LogLines(linkedLog);
        ASSERT_FALSE(linked.empty());
        EXPECT_EQ(linked.front()[0], "PREPARE");
        EXPECT_EQ(linked.back()[0], "FREE");
    }
}

// The programs run from a folder of their own: every DLL they import comes with a stock
// Windows (hashes from CNG's bcrypt.dll; the C runtime is msvcrt.dll, or the universal
// runtime's api sets; libstdc++, libgcc and winpthreads are linked in). The capture tool
// links no window code.
TEST(BuildTree, ProgramsImportOnlyWhatWindowsHas)
{
    const std::vector<std::string> windows = {"KERNEL32.dll", "USER32.dll", "GDI32.dll",  "ADVAPI32.dll",
                                              "SHELL32.dll",  "COMCTL32.dll", "COMDLG32.dll", "VERSION.dll",
                                              "PSAPI.DLL",    "bcrypt.dll", "msvcrt.dll", "ucrtbase.dll"};
    auto stock = [&](const std::string& dll) {
        if (_strnicmp(dll.c_str(), "api-ms-win-crt-", 15) == 0)
            return true;
        for (const std::string& known : windows)
            if (lstrcmpiA(dll.c_str(), known.c_str()) == 0)
                return true;
        return false;
    };
    for (const char* program : {VELLORAN_WINDOW_EXE, VELLORAN_TRACE_EXE}) {
        const std::vector<std::string> dlls = ImportedDlls(BinDir() + "\\" + program);
        EXPECT_GE(dlls.size(), 2u) << program << ": not built, or its import directory was not read";
        for (const std::string& dll : dlls)
            EXPECT_TRUE(stock(dll)) << program << " imports " << dll;
        const bool window = std::string(program) == VELLORAN_WINDOW_EXE;
        for (const char* ui : {"COMCTL32.dll", "COMDLG32.dll"}) {
            bool imported = false;
            for (const std::string& dll : dlls)
                imported = imported || lstrcmpiA(dll.c_str(), ui) == 0;
            EXPECT_EQ(imported, window) << program << ", " << ui;
        }
    }
}

// The tests' prefix is 64-bit Windows, so that both trees' programs run in it (a 32-bit
// prefix runs no 64-bit program, and a 32-bit test passes there unnoticed).
TEST(BuildTree, PrefixIs64BitWindows)
{
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    char wow64[MAX_PATH] = {};
    EXPECT_NE(GetSystemWow64DirectoryA(wow64, MAX_PATH), 0u);
}

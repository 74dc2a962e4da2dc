#include "TestFiles.h"

#include "Errors.h"
#include "Utils.h"

#include <windows.h>

#include <fstream>
#include <iterator>

namespace {

std::string TempFolder()
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir;
}

std::string NewScratchPath()
{
    static int counter = 0;
    std::string path = TempFile("scratch-" + std::to_string(++counter));
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

std::string BinDir() { return ExtractFileDir(ExecutableFileName()); }

std::string TempFile(const std::string& name)
{
    return TempFolder() + "velloran-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

TScratchDir::TScratchDir() : Path(NewScratchPath()) {}
TScratchDir::~TScratchDir() { RemoveTree(Path); }

std::string FixtureScript(const std::string& name) { return BinDir() + "\\..\\..\\fixtures\\scripts\\" + name; }

const char* const SessionsPassword = "pW0rd-5ecret-77";

bool HoldsSessionsPassword(const std::string& text)
{
    std::string wide;
    for (const char* c = SessionsPassword; *c; ++c)
        wide += std::string{*c, '\0'};
    return text.find(SessionsPassword) != std::string::npos || text.find(wide) != std::string::npos;
}

bool ScriptPassesSessionsPassword(const std::string& script)
{
    std::string line = "\npassword ";
    for (const char* c = SessionsPassword; *c; ++c)
        line += Format("%02X", static_cast<unsigned char>(*c) ^ 0x5A);
    return script.find(line + "\n") != std::string::npos || script.find(line + "\r\n") != std::string::npos;
}

#include "TestFiles.h"

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

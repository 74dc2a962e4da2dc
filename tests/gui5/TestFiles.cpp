#include "TestFiles.h"

#include "Errors.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

std::string NewTempDir()
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    // Test cases run as parallel processes: the process id keeps their folders apart.
    for (unsigned n = 0;; ++n) {
        std::string path = Format("%svt5-%lu-%u", dir, GetCurrentProcessId(), n);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            RaiseLastOSError();
    }
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

} // namespace

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TTempDir::TTempDir() : Path(NewTempDir()) {}

TTempDir::~TTempDir() { RemoveTree(Path); }

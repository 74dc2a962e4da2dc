#include "TargetCheck.h"

#include "Errors.h"
#include "Handles.h"
#include "Utils.h"

#include <cstring>

namespace {

const char* const Use64 =
    "%s is a 64-bit program. This 32-bit Velloran cannot trace it: use velloran64.exe, or velloran-trace64.exe at "
    "the command line.";

[[noreturn]] void Refuse(const std::string& text) { throw std::runtime_error(text); }

// The whole first token of a command line, quotes taken off.
std::string FirstToken(const std::string& commandLine)
{
    size_t at = commandLine.find_first_not_of(" \t");
    if (at == std::string::npos)
        return "";
    if (commandLine[at] == '"') {
        size_t end = commandLine.find('"', at + 1);
        return commandLine.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }
    size_t end = commandLine.find_first_of(" \t", at);
    return commandLine.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

} // namespace

std::string ProgramOfCommandLine(const std::string& commandLine)
{
    std::string program = FirstToken(commandLine);
    if (program.empty())
        return "";
    char found[MAX_PATH * 2] = {};
    char* filePart = nullptr;
    DWORD n = SearchPathA(nullptr, program.c_str(), ".exe", sizeof(found), found, &filePart);
    if (n == 0 || n >= sizeof(found))
        return "";
    return found;
}

void CheckProgramFile(const std::string& file, bool& wow64)
{
    wow64 = false;
    TUniqueFile handle(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle)
        RaiseLastOSError();
    std::string head(4096, '\0');
    DWORD read = 0;
    if (!ReadFile(handle.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr))
        RaiseLastOSError();
    head.resize(read);
    std::string name = ExtractFileName(file);
    auto value = [&](size_t offset, size_t size) -> uint32_t {
        uint32_t v = 0;
        if (offset + size <= head.size())
            std::memcpy(&v, head.data() + offset, size);
        return v;
    };
    if (head.size() < 0x40 || head.compare(0, 2, "MZ") != 0)
        Refuse(name + " is not a Windows program.");
    size_t pe = value(0x3C, 4);
    if (pe + 24 + 2 > head.size() || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        Refuse(name + " is a 16-bit or MS-DOS program, which cannot be traced.");
    uint16_t machine = static_cast<uint16_t>(value(pe + 4, 2));
    uint16_t characteristics = static_cast<uint16_t>(value(pe + 22, 2));
    size_t optional = pe + 24;
    uint16_t magic = static_cast<uint16_t>(value(optional, 2));
    if (!(characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) || (characteristics & IMAGE_FILE_DLL))
        Refuse(name + " is not a program that can be started.");
    bool is64 = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    if ((is64 && machine != IMAGE_FILE_MACHINE_AMD64) || (!is64 && machine != IMAGE_FILE_MACHINE_I386))
        Refuse(name + " is a program for another kind of processor.");
    // A .NET program without native code (its CLI header says IL only) runs in a
    // runtime that calls no OCI.DLL of its own.
    size_t directories = optional + (is64 ? 112 : 96);
    uint32_t cliRva = value(directories + 14 * 8, 4);
    if (cliRva != 0 && value(directories - 4, 4) > 14) {
        uint32_t flags = 0;
        // The CLI header's Flags field is at offset 16; find the header in the file.
        uint16_t sections = static_cast<uint16_t>(value(pe + 6, 2));
        size_t table = optional + value(pe + 20, 2);
        for (uint16_t i = 0; i < sections; ++i) {
            size_t s = table + 40u * i;
            uint32_t va = value(s + 12, 4), size = value(s + 16, 4), raw = value(s + 20, 4);
            if (cliRva >= va && cliRva < va + size) {
                LARGE_INTEGER at;
                at.QuadPart = raw + (cliRva - va) + 16;
                DWORD got = 0;
                if (SetFilePointerEx(handle.get(), at, nullptr, FILE_BEGIN))
                    ReadFile(handle.get(), &flags, 4, &got, nullptr);
                break;
            }
        }
        if (flags & 1)
            Refuse(name + " is a .NET program without native code, which cannot be traced.");
    }
    if (is64 && !Tracer64)
        Refuse(Format(Use64, name.c_str()));
    wow64 = Tracer64 && !is64;
}

void CheckProcess(HANDLE process, DWORD processId, bool& wow64)
{
    wow64 = false;
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code))
        RaiseLastOSError();
    if (code != STILL_ACTIVE)
        Refuse(Format("Process %lu has ended.", static_cast<unsigned long>(processId)));
    BOOL targetWow64 = FALSE;
    if (!IsWow64Process(process, &targetWow64))
        RaiseLastOSError();
    if (Tracer64) {
        wow64 = targetWow64 != FALSE;
        return;
    }
    // The 32-bit tracer on a 64-bit system runs under WOW64 itself: a target that does
    // not is a 64-bit program, and attaching would bring it down.
    BOOL selfWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    if (selfWow64 && !targetWow64)
        Refuse(Format(Use64, Format("Process %lu", static_cast<unsigned long>(processId)).c_str()));
}

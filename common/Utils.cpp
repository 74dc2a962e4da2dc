#include "Utils.h"

#include "Errors.h"
#include "Handles.h"

#include <algorithm>
#include <memory>

std::string ReplaceAll(const std::string& source, const std::string& pattern, const std::string& replacement)
{
    if (pattern.empty())
        return source;
    std::string result;
    result.reserve(source.size());
    size_t from = 0;
    for (;;) {
        size_t at = source.find(pattern, from);
        if (at == std::string::npos)
            break;
        result.append(source, from, at - from);
        result += replacement;
        from = at + pattern.size();
    }
    result.append(source, from, std::string::npos);
    return result;
}

namespace {

std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    // Most texts are plain ASCII: widen them without the system's help.
    if (IsAscii(text))
        return std::wstring(text.begin(), text.end());
    return ToWide(CP_UTF8, 0, text);
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text)
{
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

std::string AnsiToUtf8(std::string_view text)
{
    if (IsAscii(text))
        return std::string(text);
    return WideToUtf8(ToWide(CP_ACP, 0, text));
}

std::string GetFileVersionText()
{
    std::string path = ExecutableFileName();
    DWORD dummy = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &dummy);
    if (size == 0)
        return "";
    std::unique_ptr<char[]> buffer(new char[size]);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, buffer.get()))
        return "";
    char* value = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(buffer.get(), "\\StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void**>(&value), &len) ||
        !value || len == 0)
        return "";
    // The reported length counts the terminating zero.
    std::string text(value, len);
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

int64_t PerformanceTicks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToDays(int64_t ticks)
{
    static const double ticksPerDay = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) * 86400.0;
    }();
    return static_cast<double>(ticks) / ticksPerDay;
}

int64_t TicksToMicroseconds(int64_t ticks)
{
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    // Whole seconds apart so that the product cannot overflow.
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

double TimeStampDays() { return TicksToDays(PerformanceTicks()); }

std::string ExecutableFileName()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return "";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

static size_t LastDelimiter(const std::string& path)
{
    return path.find_last_of("\\:/");
}

std::string ExtractFileDir(const std::string& path)
{
    size_t at = LastDelimiter(path);
    if (at == std::string::npos)
        return "";
    // Keep the delimiter of a drive root ("C:\" stays "C:\"), drop it otherwise.
    if (at > 0 && path[at] == '\\' && path[at - 1] == ':')
        return path.substr(0, at + 1);
    if (path[at] == ':')
        return path.substr(0, at + 1);
    return path.substr(0, at);
}

std::string ExtractFileName(const std::string& path)
{
    size_t at = LastDelimiter(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

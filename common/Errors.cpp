#include "Errors.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string result;
    if (n > 0) {
        result.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(result.data(), result.size(), fmt, args);
        result.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return result;
}

std::string SysErrorMessage(DWORD code)
{
    char* buffer = nullptr;
    DWORD len = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (buffer) {
        text.assign(buffer, len);
        LocalFree(buffer);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.pop_back();
    return text;
}

static std::string OSErrorText(DWORD code)
{
    if (code == 0)
        return "A call to an OS function failed";
    return Format("System Error.  Code: %d.\r\n", static_cast<int>(code)) + SysErrorMessage(code);
}

EOSError::EOSError(DWORD code) : std::runtime_error(OSErrorText(code)), FCode(code) {}

void RaiseOSError(DWORD code) { throw EOSError(code); }

void RaiseLastOSError() { throw EOSError(GetLastError()); }

EAssertionFailed::EAssertionFailed(const char* unit, int line)
    : std::logic_error(Format("Assertion failure (%s, line %d)", unit, line))
{
}

void AssertionFailed(const char* unit, int line) { throw EAssertionFailed(unit, line); }

EListError::EListError(int index) : std::out_of_range(Format("List index out of bounds (%d)", index)) {}

std::string ExceptionText(const std::exception& e)
{
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "Out of memory";
    return e.what();
}

std::string ExceptionText(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        return ExceptionText(ex);
    } catch (...) {
        return "Unknown exception";
    }
}

// Exception types of the program and the texts they carry.
#pragma once

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// An operating-system call failed. Text: "System Error.  Code: %d." CR LF + the system's message.
class EOSError : public std::runtime_error {
public:
    explicit EOSError(DWORD code);
    DWORD Code() const { return FCode; }

private:
    DWORD FCode;
};

// The system's message for an error code, without trailing line breaks.
std::string SysErrorMessage(DWORD code);

[[noreturn]] void RaiseOSError(DWORD code);
[[noreturn]] void RaiseLastOSError();

// An internal consistency check failed: "Assertion failure (UNIT, line N)".
class EAssertionFailed : public std::logic_error {
public:
    EAssertionFailed(const char* unit, int line);
};

[[noreturn]] void AssertionFailed(const char* unit, int line);

#define VASSERT(cond, unit)                       \
    do {                                          \
        if (!(cond)) AssertionFailed(unit, __LINE__); \
    } while (0)

// A list position that does not exist: "List index out of bounds (%d)".
class EListError : public std::out_of_range {
public:
    explicit EListError(int index);
};

// An internal error with a fixed text (for instance "Unknown file type").
class EInternalError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The text a user sees for an exception; out-of-memory gets a readable text.
std::string ExceptionText(const std::exception& e);
std::string ExceptionText(std::exception_ptr e);

// Steps that must all be tried even when one fails (putting a traced program's code back,
// say): each runs in Attempt, the first failure is kept and raised by Rethrow once the
// last step has had its turn.
class TFirstError {
public:
    template <class TStep>
    void Attempt(TStep&& step) noexcept
    {
        try {
            step();
        } catch (...) {
            if (!FError)
                FError = std::current_exception();
        }
    }
    explicit operator bool() const { return static_cast<bool>(FError); }
    std::exception_ptr Error() const { return FError; }
    void Rethrow() const
    {
        if (FError)
            std::rethrow_exception(FError);
    }

private:
    std::exception_ptr FError;
};

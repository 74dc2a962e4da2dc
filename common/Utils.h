// Shared helpers of the engine and the user interface: text conversions, the program's
// version text, time stamps and paths.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// Every occurrence of pattern in source replaced, left to right, without rescanning
// replacements; an empty pattern leaves the source unchanged.
std::string ReplaceAll(const std::string& source, const std::string& pattern, const std::string& replacement);

// Between the program's UTF-8 texts and the system's UTF-16. Invalid UTF-8 becomes
// U+FFFD, as MultiByteToWideChar makes it.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
bool IsValidUtf8(std::string_view text);
bool IsAscii(std::string_view text);
// Text in the system code page (what the A functions of the system hand out) as UTF-8.
std::string AnsiToUtf8(std::string_view text);

// FileVersion of the running executable's string table 040904E4, or "".
std::string GetFileVersionText();

// Time stamps in days. They come from the monotonic performance counter, so the
// difference of two stamps is an elapsed time that a change of the wall clock or
// midnight does not falsify.
constexpr double MSecsPerDay = 86400000.0;
double TimeStampDays();
// The performance counter itself, and a count of its ticks in days.
int64_t PerformanceTicks();
double TicksToDays(int64_t ticks);
int64_t TicksToMicroseconds(int64_t ticks);

// Full path of the running executable, and the directory part of a path.
std::string ExecutableFileName();
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);

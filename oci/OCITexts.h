// Texts of the OCI tracer: the texts of a row's cells, and statement texts decoded from
// the bytes a client passed into UTF-8.
#pragma once

#include "TraceRecord.h"

#include <cstdint>
#include <string>

// OCI return codes.
constexpr int32_t OCI_SUCCESS = 0;
constexpr int32_t OCI_SUCCESS_WITH_INFO = 1;
constexpr int32_t OCI_NEED_DATA = 99;
constexpr int32_t OCI_NO_DATA = 100;
constexpr int32_t OCI_ERROR = -1;
constexpr int32_t OCI_INVALID_HANDLE = -2;
constexpr int32_t OCI_STILL_EXECUTING = -3123;
constexpr int32_t OCI_CONTINUE = -24200;

inline bool OCISucceeded(int32_t result) { return result == OCI_SUCCESS || result == OCI_SUCCESS_WITH_INFO; }

// "<unavailable>" for a handle the registry does not know.
extern const char* const UnavailableStatement;
// What the memo says below an execute whose mode commits on success.
extern const char* const CommitsOnSuccessNote;

// The Action column: "Prepare", "Execute", "Fetch (%d)", "Connect", "Disconnect",
// "Commit", "Rollback", "LOB read", "LOB write", "LOB length", "LOB trim", "Ping", "Begin",
// "Prepare commit", "Forget", "Detach".
std::string ActionText(const TTraceRecord& record);
// The Time column: the non-zero parts of the elapsed time (in days), smallest first in
// the order milliseconds, seconds, minutes, hours, each at least two digits, joined by ":".
std::string ElapsedTimeText(double elapsed);
// The Result column: the OCI return code's name, or unknown(%d).
std::string OCIResultText(int32_t code);

bool IsValidUtf8(const std::string& bytes);
// Text of a narrow environment: taken as UTF-8 where it is valid UTF-8, else as text
// of the system's code page.
std::string NarrowTextToUtf8(const std::string& bytes);
// UTF-16 (little-endian) text of a wide environment; an odd last byte is dropped.
std::string WideTextToUtf8(const std::string& bytes);
// Text of an environment, wide or narrow, in UTF-8.
std::string TextToUtf8(const std::string& bytes, bool wide);
// The end of a NUL-terminated text: its first zero byte, or in UTF-16 its first two at an
// even offset; the whole text where there is none.
size_t NulEnd(const std::string& bytes, bool wide);

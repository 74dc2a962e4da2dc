// Window messages that a debug session posts to the main window.
#pragma once

#include <windows.h>

// lParam: the finished trace record (TBreakpointData*); the receiver owns and destroys it.
constexpr UINT WM_TRACE_RECORD = WM_USER + 256;
// The traced process exists.
constexpr UINT WM_DEBUG_STARTED = WM_USER + 257;
// The session's last message, also of a session that failed to start.
constexpr UINT WM_DEBUG_FINISHED = WM_USER + 258;

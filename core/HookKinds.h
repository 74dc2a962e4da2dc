// How the next session hooks entry points, as users name it. One table serves the capture
// tool's --hooks, the settings file and the trace options dialog (as TraceMask.h does for
// the trace mask), so that a kind added here shows up in all three.
#pragma once

#include "CallTracer.h"

#include <iterator>
#include <optional>
#include <string>

struct THookKindName {
    THookKind Kind;
    // The word of the capture tool's --hooks and the value of HookKindSettingsKey.
    const char* Word;
    // The radio button of the trace options dialog.
    const char* Caption;
};

inline constexpr THookKindName HookKindNames[] = {
    {THookKind::Breakpoint, "int3", "Breakpoints (int3)"},
    {THookKind::Fast, "fast", "Fast (jump to stub)"},
    {THookKind::Log, "log", "Logged (no stop per call)"},
};

// The kind of a command line without --hooks, and of a settings file without the key or
// with a value that names no kind.
constexpr THookKind DefaultHookKind = THookKind::Breakpoint;

// The key in section TraceMaskSection of the settings file: one of the table's words.
constexpr const char* HookKindSettingsKey = "HOOKS";

// The kind a word of the table names, exactly as written ("fast"); nothing for any other.
inline std::optional<THookKind> HookKindOfWord(const std::string& word)
{
    for (const THookKindName& name : HookKindNames)
        if (word == name.Word)
            return name.Kind;
    return std::nullopt;
}

// The word of a kind ("int3").
inline const char* HookKindWord(THookKind kind)
{
    for (const THookKindName& name : HookKindNames)
        if (name.Kind == kind)
            return name.Word;
    return HookKindNames[0].Word;
}

// Every word of the table for a message, in its order: "int3, fast or log".
inline std::string HookKindWords()
{
    std::string words;
    for (size_t i = 0; i < std::size(HookKindNames); ++i)
        words += std::string(i == 0 ? "" : i + 1 == std::size(HookKindNames) ? " or " : ", ") + HookKindNames[i].Word;
    return words;
}

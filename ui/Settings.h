// What the program keeps between runs in its settings file (velloran.ini beside the
// executable): the recent list, the trace mask, the hook kind and the colour rules. The
// main window owns one; it is read once when the window is made and written once when it
// goes.
#pragma once

#include "ColorInfos.h"
#include "HookKinds.h"
#include "TraceMask.h"

#include <windows.h>

#include <string>
#include <vector>

// The settings file: velloran.ini beside the running executable.
std::string SettingsFileName();

class TSettings {
public:
    static constexpr size_t MaxRecents = 5;

    explicit TSettings(std::string fileName);

    // Where the settings are read and written.
    const std::string FileName;
    // At most MaxRecents executable paths, the most recent first, no two equal when
    // compared without regard to case.
    std::vector<std::string> Recents;
    // The actions traced by the next session.
    BYTE TraceMask = DefaultTraceMask;
    // How the next session hooks entry points.
    THookKind Hooks = DefaultHookKind;
    // The statement colour rules, in priority order.
    TColorInfos ColorRules;

    // Replaces everything by what the file holds; a missing file, section or key gives
    // the defaults (no recents, the default mask, the default hook kind, no rules). The
    // hook kind is a word of HookKindNames in any case; any other value gives the default.
    void Load();
    // Writes the recent list (keys above its length keep what they had), the trace
    // options (the mask, then the hook kind's word) and the colour rules, in that order,
    // each write reaching the file at once. A failed write raises "Unable to write to
    // <file>" and writes nothing after it.
    void Save() const;
    // Puts path into the recent list: an entry equal but for case goes, then the oldest
    // entries while the list is full, then path goes first (atTop) or last.
    void AddRecent(const std::string& path, bool atTop);
};

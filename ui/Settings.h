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

// A program as it was run: an entry of the recent list.
struct TRunEntry {
    // The executable's path, as given (a bare name is searched for as the system does).
    std::string Program;
    // The rest of the command line, as typed: Windows quoting, one or more arguments.
    std::string Arguments{};
    // The folder it starts in; empty: the program's own folder.
    std::string Folder{};

    // The command line it runs with: the program quoted where it must be, then the
    // arguments as they stand.
    std::string CommandLine() const;
    // Program and folder compare without regard to case, the arguments exactly.
    bool SameAs(const TRunEntry& other) const;
    // The same texts exactly.
    friend bool operator==(const TRunEntry&, const TRunEntry&) = default;
};

class TSettings {
public:
    static constexpr size_t MaxRecents = 5;

    explicit TSettings(std::string fileName);

    // Where the settings are read and written.
    const std::string FileName;
    // At most MaxRecents programs as they were run, the most recent first, no two the
    // same (SameAs).
    std::vector<TRunEntry> Recents;
    // The actions traced by the next session.
    TTraceMask TraceMask = DefaultTraceMask;
    // How the next session hooks entry points.
    THookKind Hooks = DefaultHookKind;
    // The next session shows every bound value as "?".
    bool HideValues = false;
    // The statement colour rules, in priority order.
    TColorInfos ColorRules;
    // The statements view groups statements by their shape.
    bool GroupByShape = false;

    // Replaces everything by what the file holds; a missing file, section or key gives
    // the defaults (no recents, the default mask, the default hook kind, values shown, no
    // rules). The hook kind is a word of HookKindNames in any case; any other value gives
    // the default.
    //
    // The recent list is kept twice. Section RECENT holds the programs' paths alone,
    // FILE1 to FILE5, as older versions read and write them. Section RECENT_RUNS holds
    // the entries whole (PROGRAMn, ARGUMENTSn quoted so that blanks and quotes at their
    // ends survive the profile functions, FOLDERn); older versions never read it. It is
    // read only while its programs are still FILE1, FILE2, ... in that order: once an
    // older version has changed the list, the paths of RECENT are the list, without
    // arguments or folders, rather than arguments that belong to another line.
    void Load();
    // Writes the recent list (RECENT's keys above its length keep what they had,
    // RECENT_RUNS is written anew), the trace options (the mask, the hook kind's word,
    // then whether values are hidden) and the colour rules, in that order, each write
    // reaching the file at once. A failed write raises "Unable to write to
    // <file>" and writes nothing after it.
    void Save() const;
    // Puts an entry into the recent list: one that is the same goes, then the oldest
    // entries while the list is full, then the entry goes first (atTop) or last.
    void AddRecent(const TRunEntry& entry, bool atTop);
};

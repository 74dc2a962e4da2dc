// The settings file and the recent list of the main window.
#include "Main.h"

#include "DlgStmtColor.h"
#include "Errors.h"
#include "IniFile.h"
#include "Utils.h"

namespace {

const char* const Unit = "Main";
const size_t MaxRecents = 5;

// The trace options: one flag per traced action.
struct TFlagSetting {
    const char* Section;
    const char* Key;
    BYTE Bit;
    bool Default;
};

const TFlagSetting TraceOptions[] = {
    {"TRACEOPT", "TRACE_PREPARE", TraceMaskPrepare, false},
    {"TRACEOPT", "TRACE_EXECUTE", TraceMaskExecute, true},
    {"TRACEOPT", "TRACE_FETCH", TraceMaskFetch, false},
};

bool SameTextIgnoringCase(const std::string& a, const std::string& b)
{
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Without leading and trailing blanks and control characters.
std::string Trimmed(const std::string& text)
{
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

// A menu shows "&" as the mark of an accelerator; the recent items show paths as they are.
std::string MenuCaption(const std::string& path) { return ReplaceAll(path, "&", "&&"); }

} // namespace

std::string SettingsFileName()
{
    std::string exe = ExecutableFileName();
    size_t at = exe.find_last_of("\\/:");
    return (at == std::string::npos ? std::string() : exe.substr(0, at + 1)) + "velloran.ini";
}

void TfrmMain::LoadSettings()
{
    TIniFile ini(SettingsFile);
    auto recent = ini.ReadSectionValues("RECENT");
    for (int n = 1; n <= static_cast<int>(MaxRecents); ++n) {
        std::string key = Format("FILE%d", n);
        for (const auto& [name, value] : recent) {
            if (!SameTextIgnoringCase(Trimmed(name), key))
                continue;
            std::string path = Trimmed(value);
            if (!path.empty())
                AddRecent(path, false);
            break;
        }
    }
    TraceMask = 0;
    for (const TFlagSetting& flag : TraceOptions)
        if (ini.ReadBool(flag.Section, flag.Key, flag.Default))
            TraceMask |= flag.Bit;
    ColorRules().LoadFromIni(ini);
}

void TfrmMain::SaveSettings()
{
    TIniFile ini(SettingsFile);
    for (size_t i = 0; i < Recents.size(); ++i)
        ini.WriteString("RECENT", Format("FILE%d", static_cast<int>(i + 1)), Recents[i]);
    for (const TFlagSetting& flag : TraceOptions)
        ini.WriteBool(flag.Section, flag.Key, (TraceMask & flag.Bit) != 0);
    ColorRules().SaveToIni(ini);
}

void TfrmMain::AddRecent(const std::string& path, bool atTop)
{
    for (size_t i = 0; i < Recents.size(); ++i)
        if (SameTextIgnoringCase(Recents[i], path)) {
            Recents.erase(Recents.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    while (Recents.size() >= MaxRecents)
        Recents.pop_back();
    if (atTop)
        Recents.insert(Recents.begin(), path);
    else
        Recents.push_back(path);
    UpdateRecentMenu(pmnRecents);
}

void TfrmMain::UpdateRecentMenu(HMENU menu)
{
    while (GetMenuItemCount(menu) < static_cast<int>(Recents.size())) {
        int id = cmRecentFirst + GetMenuItemCount(menu);
        VASSERT(id <= cmRecentLast, Unit);
        AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(id), "");
    }
    for (size_t i = 0; i < Recents.size(); ++i) {
        std::string caption = MenuCaption(Recents[i]);
        MENUITEMINFOA item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STRING;
        item.dwTypeData = caption.data();
        SetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item);
    }
}

void TfrmMain::RecentItemClick(int commandId)
{
    int index = commandId - cmRecentFirst;
    VASSERT(index >= 0 && index < GetMenuItemCount(pmnRecents) && index < static_cast<int>(Recents.size()), Unit);
    // The item's caption is the entry's path (UpdateRecentMenu keeps them in line).
    std::string path = Recents[static_cast<size_t>(index)];
    RunProgram(path);
}

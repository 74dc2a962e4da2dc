#include "Settings.h"

#include "CommandLine.h"
#include "Errors.h"
#include "IniFile.h"
#include "Utils.h"

namespace {

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

const char* const RecentSection = "RECENT";
const char* const RecentRunsSection = "RECENT_RUNS";
const char* const StatementsSection = "STATEMENTS";
const char* const GroupByShapeKey = "GROUP_BY_SHAPE";

// The paths of FILE1 to FILE5, by key number: empty for a key that is missing or blank.
std::vector<std::string> RecentFileKeys(const TIniFile& ini)
{
    std::vector<std::string> paths(TSettings::MaxRecents);
    // The key numbers give the order, not the lines of the file.
    auto recent = ini.ReadSectionValues(RecentSection);
    for (size_t n = 1; n <= paths.size(); ++n) {
        std::string key = Format("FILE%d", static_cast<int>(n));
        for (const auto& [name, value] : recent)
            if (SameTextIgnoringCase(Trimmed(name), key)) {
                paths[n - 1] = Trimmed(value);
                break;
            }
    }
    return paths;
}

// The profile functions take a pair of quotes around a value off, and the blanks
// outside them: arguments keep their own quotes and blanks inside a pair of ours.
std::string QuotedValue(const std::string& value) { return "\"" + value + "\""; }

// The kind a settings value names: a word of HookKindNames in any case, blanks around it
// ignored.
THookKind HookKindOfSetting(const std::string& value)
{
    for (const THookKindName& name : HookKindNames)
        if (SameTextIgnoringCase(Trimmed(value), name.Word))
            return name.Kind;
    return DefaultHookKind;
}

} // namespace

std::string SettingsFileName()
{
    std::string exe = ExecutableFileName();
    size_t at = exe.find_last_of("\\/:");
    return (at == std::string::npos ? std::string() : exe.substr(0, at + 1)) + "velloran.ini";
}

TSettings::TSettings(std::string fileName) : FileName(std::move(fileName)) {}

std::string TRunEntry::CommandLine() const
{
    return Arguments.empty() ? QuoteArgument(Program) : QuoteArgument(Program) + " " + Arguments;
}

bool TRunEntry::SameAs(const TRunEntry& other) const
{
    return SameTextIgnoringCase(Program, other.Program) && Arguments == other.Arguments &&
           SameTextIgnoringCase(Folder, other.Folder);
}

void TSettings::Load()
{
    TIniFile ini(FileName);
    Recents.clear();
    std::vector<std::string> paths = RecentFileKeys(ini);
    std::vector<TRunEntry> runs;
    bool current = true;
    for (int n = 1; n <= static_cast<int>(MaxRecents); ++n) {
        TRunEntry run;
        run.Program = ini.ReadString(RecentRunsSection, Format("PROGRAM%d", n), "");
        if (run.Program.empty())
            break;
        run.Arguments = ini.ReadString(RecentRunsSection, Format("ARGUMENTS%d", n), "");
        run.Folder = ini.ReadString(RecentRunsSection, Format("FOLDER%d", n), "");
        current = current && run.Program == paths[static_cast<size_t>(n - 1)];
        runs.push_back(run);
    }
    if (runs.empty() || !current) {
        runs.clear();
        for (const std::string& path : paths)
            if (!path.empty())
                runs.push_back(TRunEntry{path, "", ""});
    }
    for (const TRunEntry& run : runs)
        AddRecent(run, false);
    TraceMask = 0;
    for (const TTraceMaskBit& bit : TraceMaskBits)
        if (ini.ReadBool(TraceMaskSection, bit.SettingsKey, bit.Default))
            TraceMask |= bit.Bit;
    Hooks = HookKindOfSetting(ini.ReadString(TraceMaskSection, HookKindSettingsKey, ""));
    HideValues = ini.ReadBool(TraceMaskSection, HideValuesSettingsKey, false);
    ColorRules.LoadFromIni(ini);
    GroupByShape = ini.ReadBool(StatementsSection, GroupByShapeKey, false);
}

void TSettings::Save() const
{
    TIniFile ini(FileName);
    for (size_t i = 0; i < Recents.size(); ++i)
        ini.WriteString(RecentSection, Format("FILE%d", static_cast<int>(i + 1)), Recents[i].Program);
    if (!Recents.empty() && !ini.ReadSectionValues(RecentRunsSection).empty())
        ini.EraseSection(RecentRunsSection);
    for (size_t i = 0; i < Recents.size(); ++i) {
        const TRunEntry& run = Recents[i];
        int n = static_cast<int>(i + 1);
        ini.WriteString(RecentRunsSection, Format("PROGRAM%d", n), run.Program);
        if (!run.Arguments.empty())
            ini.WriteString(RecentRunsSection, Format("ARGUMENTS%d", n), QuotedValue(run.Arguments));
        if (!run.Folder.empty())
            ini.WriteString(RecentRunsSection, Format("FOLDER%d", n), run.Folder);
    }
    for (const TTraceMaskBit& bit : TraceMaskBits)
        ini.WriteBool(TraceMaskSection, bit.SettingsKey, (TraceMask & bit.Bit) != 0);
    ini.WriteString(TraceMaskSection, HookKindSettingsKey, HookKindWord(Hooks));
    ini.WriteBool(TraceMaskSection, HideValuesSettingsKey, HideValues);
    ColorRules.SaveToIni(ini);
    ini.WriteBool(StatementsSection, GroupByShapeKey, GroupByShape);
}

void TSettings::AddRecent(const TRunEntry& entry, bool atTop)
{
    for (size_t i = 0; i < Recents.size(); ++i)
        if (Recents[i].SameAs(entry)) {
            Recents.erase(Recents.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    while (Recents.size() >= MaxRecents)
        Recents.pop_back();
    if (atTop)
        Recents.insert(Recents.begin(), entry);
    else
        Recents.push_back(entry);
}

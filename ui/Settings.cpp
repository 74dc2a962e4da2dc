#include "Settings.h"

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

void TSettings::Load()
{
    TIniFile ini(FileName);
    Recents.clear();
    // The key numbers give the order, not the lines of the file.
    auto recent = ini.ReadSectionValues(RecentSection);
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
    for (const TTraceMaskBit& bit : TraceMaskBits)
        if (ini.ReadBool(TraceMaskSection, bit.SettingsKey, bit.Default))
            TraceMask |= bit.Bit;
    Hooks = HookKindOfSetting(ini.ReadString(TraceMaskSection, HookKindSettingsKey, ""));
    ColorRules.LoadFromIni(ini);
}

void TSettings::Save() const
{
    TIniFile ini(FileName);
    for (size_t i = 0; i < Recents.size(); ++i)
        ini.WriteString(RecentSection, Format("FILE%d", static_cast<int>(i + 1)), Recents[i]);
    for (const TTraceMaskBit& bit : TraceMaskBits)
        ini.WriteBool(TraceMaskSection, bit.SettingsKey, (TraceMask & bit.Bit) != 0);
    ini.WriteString(TraceMaskSection, HookKindSettingsKey, HookKindWord(Hooks));
    ColorRules.SaveToIni(ini);
}

void TSettings::AddRecent(const std::string& path, bool atTop)
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
}

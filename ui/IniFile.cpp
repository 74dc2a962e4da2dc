#include "IniFile.h"

#include "Errors.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>

std::optional<int> ParseSettingsInteger(const std::string& text)
{
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        base = 16;
        digits.erase(0, 2);
    } else if (digits.rfind("$", 0) == 0) {
        base = 16;
        digits.erase(0, 1);
    }
    const char* valid = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(valid) != std::string::npos)
        return std::nullopt;
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE)
        return std::nullopt;
    if (base == 16) {
        // Hexadecimal spells the 32 bits, so the top bit gives a negative number.
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
        auto bits = static_cast<uint32_t>(value);
        return static_cast<int>(negative ? 0u - bits : bits);
    }
    if (value > (negative ? 2147483648ull : 2147483647ull))
        return std::nullopt;
    long long signedValue = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
    return static_cast<int>(signedValue);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    std::string buffer(256, '\0');
    for (;;) {
        DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), FileName.c_str());
        // A result of size - 1 may have been cut short.
        if (n < buffer.size() - 1) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 4);
    }
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const
{
    return ParseSettingsInteger(ReadString(section, key, "")).value_or(defaultValue);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(const std::string& section) const
{
    std::string buffer(4096, '\0');
    DWORD n = 0;
    for (;;) {
        n = GetPrivateProfileSectionA(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FileName.c_str());
        // A result of size - 2 may have been cut short.
        if (n < buffer.size() - 2)
            break;
        buffer.resize(buffer.size() * 4);
    }
    std::vector<std::pair<std::string, std::string>> values;
    size_t from = 0;
    while (from < n) {
        size_t end = buffer.find('\0', from);
        if (end == std::string::npos || end > n)
            end = n;
        std::string line = buffer.substr(from, end - from);
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        from = end + 1;
    }
    return values;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), FileName.c_str()))
        WriteFailed();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section)
{
    if (!WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, FileName.c_str()))
        WriteFailed();
}

void TIniFile::WriteFailed() const { throw std::runtime_error(Format("Unable to write to %s", FileName.c_str())); }

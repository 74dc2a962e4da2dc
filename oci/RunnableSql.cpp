#include "RunnableSql.h"

#include "SqlLexer.h"

#include <algorithm>
#include <vector>

namespace {

// A placeholder's or bind's name as Oracle compares them: without the ":", a quoted name
// without its quotes and as it is, any other in upper case.
std::string NameKey(std::string_view name)
{
    if (!name.empty() && name.front() == ':')
        name.remove_prefix(1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        return std::string(name.substr(1, name.size() - 2));
    std::string key(name);
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

void AppendWithCrLf(std::string& out, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
}

bool IsSpace(const TSqlToken& token) { return token.Kind == TSqlTokenKind::Blank; }
bool IsFiller(const TSqlToken& token) { return IsSpace(token) || token.Kind == TSqlTokenKind::Comment; }

bool IsBlock(const std::vector<TSqlToken>& tokens)
{
    for (const TSqlToken& token : tokens) {
        if (IsFiller(token) || token.Kind == TSqlTokenKind::Hint)
            continue;
        return token.Kind == TSqlTokenKind::Word &&
               (IsSqlKeyword(token.Text, "BEGIN") || IsSqlKeyword(token.Text, "DECLARE"));
    }
    return false;
}

// The values of the placeholders, in the order they come; nullptr where none fits.
class TValueFinder {
public:
    TValueFinder(std::span<const TSqlValue> values, bool block) : FValues(values), FBlock(block) {}

    const TSqlValue* Next(std::string_view placeholder)
    {
        std::string key = NameKey(placeholder);
        if (!FBlock || std::find(FSeen.begin(), FSeen.end(), key) == FSeen.end()) {
            FSeen.push_back(key);
            ++FPosition;
        }
        size_t position = FBlock ? static_cast<size_t>(std::find(FSeen.begin(), FSeen.end(), key) - FSeen.begin()) + 1
                                 : FPosition;
        for (const TSqlValue& value : FValues)
            if (NameKey(value.Name) == key)
                return &value;
        std::string positional = std::to_string(position);
        for (const TSqlValue& value : FValues)
            if (NameKey(value.Name) == positional)
                return &value;
        return nullptr;
    }

private:
    std::span<const TSqlValue> FValues;
    bool FBlock;
    std::vector<std::string> FSeen;
    size_t FPosition = 0;
};

} // namespace

bool IsLiteralValue(std::string_view value)
{
    if (value.empty() || value == "?")
        return false;
    return !(value.front() == '<' && value.back() == '>');
}

std::string RunnableStatement(std::string_view text, std::span<const TSqlValue> values)
{
    std::vector<TSqlToken> tokens = SqlTokens(text);
    size_t first = 0, end = tokens.size();
    while (first < end && IsSpace(tokens[first]))
        ++first;
    while (end > first && IsSpace(tokens[end - 1]))
        --end;
    const bool block = IsBlock(tokens);
    TValueFinder finder(values, block);
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = first; i < end; ++i) {
        const TSqlToken& token = tokens[i];
        switch (token.Kind) {
        case TSqlTokenKind::Placeholder: {
            const TSqlValue* value = finder.Next(token.Text);
            out += value && IsLiteralValue(value->Value) ? value->Value : token.Text;
            break;
        }
        case TSqlTokenKind::Literal:
        case TSqlTokenKind::QuotedName: out += token.Text; break;
        default: AppendWithCrLf(out, token.Text); break;
        }
    }
    const TSqlToken* last = end > first ? &tokens[end - 1] : nullptr;
    if (block)
        out += "\r\n/";
    else if (last && last->Kind == TSqlTokenKind::Comment && last->Text.starts_with("--"))
        out += "\r\n;";  // a ";" after "--" would be part of the comment
    else if (!last || last->Text != ";")
        out += ";";
    return out + "\r\n";
}

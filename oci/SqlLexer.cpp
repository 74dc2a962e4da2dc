#include "SqlLexer.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes of UTF-8 sequences count as letters: Oracle takes national characters in names.
bool IsWordStart(char c) { return IsLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }
bool IsNameChar(char c) { return IsWordStart(c) || IsDigit(c) || c == '$' || c == '#'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

// After the closing quote of a literal opened at open; quotes inside are doubled.
size_t TSqlLexer::QuotedEnd(size_t open) const
{
    size_t i = open + 1;
    for (;;) {
        size_t quote = FText.find('\'', i);
        if (quote == std::string_view::npos)
            return FText.size();
        if (At(quote + 1) != '\'')
            return quote + 1;
        i = quote + 2;
    }
}

// q'<...>': the character after the opening quote picks the closing one, which counts
// only when a quote follows it. Nothing inside is doubled.
size_t TSqlLexer::AlternativeQuotedEnd(size_t open) const
{
    if (open + 1 >= FText.size())
        return FText.size();
    char close = FText[open + 1];
    switch (close) {
    case '(': close = ')'; break;
    case '[': close = ']'; break;
    case '{': close = '}'; break;
    case '<': close = '>'; break;
    default: break;
    }
    size_t i = open + 2;
    for (;;) {
        size_t at = FText.find(close, i);
        if (at == std::string_view::npos)
            return FText.size();
        if (At(at + 1) == '\'')
            return at + 2;
        i = at + 1;
    }
}

size_t TSqlLexer::NumberEnd(size_t start) const
{
    size_t i = start;
    while (IsDigit(At(i)))
        ++i;
    // "1..10" of a PL/SQL loop: the range's dots are no decimal point.
    if (At(i) == '.' && At(i + 1) != '.') {
        ++i;
        while (IsDigit(At(i)))
            ++i;
    }
    if (At(i) == 'e' || At(i) == 'E') {
        size_t j = i + 1;
        if (At(j) == '+' || At(j) == '-')
            ++j;
        if (IsDigit(At(j))) {
            i = j;
            while (IsDigit(At(i)))
                ++i;
        }
    }
    // BINARY_FLOAT and BINARY_DOUBLE literals: 1.5f, 2d.
    char suffix = Upper(At(i));
    if ((suffix == 'F' || suffix == 'D') && !IsNameChar(At(i + 1)))
        ++i;
    return i;
}

size_t TSqlLexer::NameEnd(size_t start) const
{
    size_t i = start;
    while (i < FText.size() && IsNameChar(FText[i]))
        ++i;
    return i;
}

// At a word's first character: a word, or the N, Q or NQ that opens a literal.
TSqlTokenKind TSqlLexer::WordOrLiteral(size_t& end) const
{
    char first = Upper(At(FAt)), second = Upper(At(FAt + 1));
    if (first == 'N' && second == '\'') {
        end = QuotedEnd(FAt + 1);
        return TSqlTokenKind::Literal;
    }
    if (first == 'Q' && second == '\'') {
        end = AlternativeQuotedEnd(FAt + 1);
        return TSqlTokenKind::Literal;
    }
    if (first == 'N' && second == 'Q' && At(FAt + 2) == '\'') {
        end = AlternativeQuotedEnd(FAt + 2);
        return TSqlTokenKind::Literal;
    }
    end = NameEnd(FAt);
    return TSqlTokenKind::Word;
}

bool TSqlLexer::Next(TSqlToken& token)
{
    if (FAt >= FText.size())
        return false;
    const size_t start = FAt;
    const char c = FText[start];
    size_t end = start + 1;
    TSqlTokenKind kind = TSqlTokenKind::Other;
    if (IsBlank(c)) {
        kind = TSqlTokenKind::Blank;
        while (end < FText.size() && IsBlank(FText[end]))
            ++end;
    } else if (c == '-' && At(start + 1) == '-') {
        kind = TSqlTokenKind::Comment;
        end = FText.find_first_of("\r\n", start);
    } else if (c == '/' && At(start + 1) == '*') {
        kind = At(start + 2) == '+' ? TSqlTokenKind::Hint : TSqlTokenKind::Comment;
        end = FText.find("*/", start + 2);
        if (end != std::string_view::npos)
            end += 2;
    } else if (c == '\'') {
        kind = TSqlTokenKind::Literal;
        end = QuotedEnd(start);
    } else if (c == '"') {
        kind = TSqlTokenKind::QuotedName;
        end = FText.find('"', start + 1);
        if (end != std::string_view::npos)
            ++end;
    } else if (c == ':' && At(start + 1) == '"') {
        kind = TSqlTokenKind::Placeholder;
        end = FText.find('"', start + 2);
        if (end != std::string_view::npos)
            ++end;
    } else if (c == ':' && IsNameChar(At(start + 1))) {
        kind = TSqlTokenKind::Placeholder;
        end = NameEnd(start + 1);
    } else if (IsDigit(c) || (c == '.' && IsDigit(At(start + 1)) && (start == 0 || FText[start - 1] != '.'))) {
        kind = TSqlTokenKind::Number;
        end = NumberEnd(start);
    } else if (IsWordStart(c)) {
        kind = WordOrLiteral(end);
    }
    if (end == std::string_view::npos || end > FText.size())
        end = FText.size();
    token.Kind = kind;
    token.Text = FText.substr(start, end - start);
    FAt = end;
    return true;
}

std::vector<TSqlToken> SqlTokens(std::string_view text)
{
    std::vector<TSqlToken> tokens;
    TSqlLexer lexer(text);
    TSqlToken token;
    while (lexer.Next(token))
        tokens.push_back(token);
    return tokens;
}

bool IsSqlKeyword(std::string_view word, std::string_view upper)
{
    if (word.size() != upper.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (Upper(word[i]) != upper[i])
            return false;
    return true;
}

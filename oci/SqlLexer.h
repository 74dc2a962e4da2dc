// Oracle SQL and PL/SQL text cut into tokens: enough of the language to tell string
// literals, quoted names, comments and placeholders from the rest, so that the texts made
// from a statement (its shape, the statement with its values) never touch what lies inside
// a literal or a comment. The lexer never reads past the text; a literal, quoted name or
// comment left open runs to the end of the text.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

enum class TSqlTokenKind {
    Blank,        // a run of blanks, tabs and line breaks
    Comment,      // "-- ..." up to (not including) the line break, or "/* ... */"
    Hint,         // "/*+ ... */"
    Literal,      // 'it''s', N'...', q'[...]', nq'!...!'
    QuotedName,   // "Mixed Case"
    Placeholder,  // :name, :1, :"Quoted"
    Number,       // 5, 5.001, .5, 6e-30, 1.5f (never a part of a name)
    Word,         // a name or keyword: select, t1, v$session, sys_c0042
    Other,        // any other single character: ( ) , + - * / = ; . and so on
};

struct TSqlToken {
    TSqlTokenKind Kind = TSqlTokenKind::Other;
    // The token's bytes in the text lexed; the token types above own no copy.
    std::string_view Text;
};

// Cuts text into tokens, in order; the tokens' texts put together are the text.
class TSqlLexer {
public:
    explicit TSqlLexer(std::string_view text) : FText(text) {}
    // The next token; false at the end of the text.
    bool Next(TSqlToken& token);

private:
    char At(size_t i) const { return i < FText.size() ? FText[i] : '\0'; }
    size_t QuotedEnd(size_t open) const;
    size_t AlternativeQuotedEnd(size_t open) const;
    size_t NumberEnd(size_t start) const;
    size_t NameEnd(size_t start) const;
    TSqlTokenKind WordOrLiteral(size_t& end) const;

    std::string_view FText;
    size_t FAt = 0;
};

// All tokens of a text.
std::vector<TSqlToken> SqlTokens(std::string_view text);

// Whether a word is the keyword given in upper case (ASCII, without regard to case).
bool IsSqlKeyword(std::string_view word, std::string_view upper);

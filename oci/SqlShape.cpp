#include "SqlShape.h"

#include "SqlLexer.h"

#include <vector>

namespace {

enum class TPieceKind { Blank, Value, Placeholder, Word, Verbatim };

struct TPiece {
    TPieceKind Kind;
    std::string Text;
};

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The text's tokens as the shape has them; blanks (and the comments that become blanks)
// are folded into one piece.
std::vector<TPiece> Pieces(std::string_view text)
{
    std::vector<TPiece> pieces;
    TSqlLexer lexer(text);
    TSqlToken token;
    while (lexer.Next(token)) {
        switch (token.Kind) {
        case TSqlTokenKind::Blank:
        case TSqlTokenKind::Comment:
            if (pieces.empty() || pieces.back().Kind != TPieceKind::Blank)
                pieces.push_back({TPieceKind::Blank, " "});
            break;
        case TSqlTokenKind::Literal:
        case TSqlTokenKind::Number: pieces.push_back({TPieceKind::Value, "?"}); break;
        case TSqlTokenKind::Placeholder:
            pieces.push_back({TPieceKind::Placeholder,
                              token.Text.size() > 1 && token.Text[1] == '"' ? std::string(token.Text) : Lower(token.Text)});
            break;
        case TSqlTokenKind::Hint:
        case TSqlTokenKind::QuotedName: pieces.push_back({TPieceKind::Verbatim, std::string(token.Text)}); break;
        case TSqlTokenKind::Word:
        case TSqlTokenKind::Other: pieces.push_back({TPieceKind::Word, Lower(token.Text)}); break;
        }
    }
    return pieces;
}

// After a list "( v, v, ... )" that starts at pieces[at] (a blank may come first) and
// holds only values and placeholders; 0 when there is none.
size_t ValueListEnd(const std::vector<TPiece>& pieces, size_t at)
{
    auto skipBlank = [&](size_t i) { return i < pieces.size() && pieces[i].Kind == TPieceKind::Blank ? i + 1 : i; };
    auto is = [&](size_t i, const char* text) {
        return i < pieces.size() && pieces[i].Kind == TPieceKind::Word && pieces[i].Text == text;
    };
    size_t i = skipBlank(at);
    if (!is(i, "("))
        return 0;
    for (++i;;) {
        i = skipBlank(i);
        if (i >= pieces.size() || (pieces[i].Kind != TPieceKind::Value && pieces[i].Kind != TPieceKind::Placeholder))
            return 0;
        i = skipBlank(i + 1);
        if (is(i, ")"))
            return i + 1;
        if (!is(i, ","))
            return 0;
        ++i;
    }
}

} // namespace

std::string StatementShape(std::string_view text)
{
    std::vector<TPiece> pieces = Pieces(text);
    std::string shape;
    shape.reserve(text.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const TPiece& piece = pieces[i];
        if (piece.Kind == TPieceKind::Blank) {
            if (!shape.empty() && i + 1 < pieces.size())
                shape += ' ';
            continue;
        }
        shape += piece.Text;
        if (piece.Kind == TPieceKind::Word && piece.Text == "in") {
            if (size_t end = ValueListEnd(pieces, i + 1)) {
                if (pieces[i + 1].Kind == TPieceKind::Blank)
                    shape += ' ';
                shape += "(?+)";
                i = end - 1;
            }
        }
    }
    return shape;
}

// Bound values as the Binds cell shows them: pure functions over the bytes an execute
// read of a bind's buffer, one case per external type code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The type codes (SQLT_*) whose bytes are decoded; every other code is shown by name.
namespace Sqlt {
constexpr uint16_t Chr = 1, Num = 2, Int = 3, Flt = 4, Str = 5, Vnu = 6, Vcs = 9, Dat = 12, BFloat = 21,
                   BDouble = 22, Bin = 23, Lbi = 24, Uin = 68, Lvc = 94, Lvb = 95, Afc = 96, Avc = 97,
                   IBFloat = 100, IBDouble = 101, Odt = 156, Bol = 252;
}

// The cell's words for what is not a value.
extern const char* const BindNullText;        // "NULL": indicator -1
extern const char* const BindUnreadableText;  // "<unreadable>"
extern const char* const BindAtExecuteText;   // "<at execute>": data supplied during the execute
extern const char* const BindHiddenText;      // "?": values hidden by the user's setting

// Texts are cut after this many characters, binary values after this many bytes.
constexpr size_t BindTextChars = 200;
constexpr size_t BindBinaryBytes = 64;

// One value as an execute read it.
struct TBoundValue {
    uint16_t Type = 0;
    // The value's length in bytes as the program declared it, cut to its buffer's size.
    uint64_t Length = 0;
    // The bytes read: the first BoundBytesNeeded(Type, Length, Wide) of the value.
    std::string Bytes;
    // Text in UTF-16 (an environment of that character set), else narrow.
    bool Wide = false;
};

// How many bytes of a value to read: all of a short one, of a long one what the cell
// shows of it (a text of more than 64 KiB is counted by its declared length); 0 for the
// types shown by name alone (descriptors, locators, handles, unknown codes).
uint64_t BoundBytesNeeded(uint16_t type, uint64_t length, bool wide);
// Whether the type's value is shown from its bytes as they are (text, binary), as a
// password bound would be; numbers, dates and the rest are decoded.
bool ShowsBytes(uint16_t type);
// The value's text: "123456", "'O''Brien'", "HEXTORAW('0A1B')", "DATE '2024-02-29
// 13:45:07'", "TRUE", "<TIMESTAMP>", "<type 8>"; "<unreadable>" for bytes that are
// not a value of the type (or fewer than BoundBytesNeeded asks for).
std::string BoundValueText(const TBoundValue& value);

// The pieces, for the types that share them.
// A decimal number from its digits (no leading zeros; empty for 0) and the place of the
// decimal point counted from the first digit (1.5: "15", 1; 0.001: "1", -2). Plain
// notation unless that needs more than 40 digits; then "1.5E+125".
std::string DecimalText(bool negative, std::string digits, int point);
// An Oracle NUMBER (exponent byte and base-100 digits), "<unreadable>" if it is none.
std::string OraNumberText(std::string_view bytes);
// The shortest decimal text that reads back as the same value.
std::string FloatText(double value);
std::string FloatText(float value);
// Text as a quoted literal: quotes doubled; past BindTextChars characters cut, with the
// count of characters (characters: the count when the whole text is at hand, else as
// declared). Control characters are written as Oracle takes them, so that no tab or line
// break reaches a cell: 'a' || CHR(9) || 'b'; a value of only a tab is CHR(9).
std::string QuotedText(const std::string& utf8, uint64_t characters);
// An error text for a cell: each control character (tab, CR, LF, NUL, ...) becomes a blank.
std::string ControlCharactersAsBlanks(std::string text);

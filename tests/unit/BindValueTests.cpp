// Bound values as the Binds cell shows them, from the bytes in the program's buffer: one
// table of type cases, the worked NUMBER and DATE examples among them.
#include "BindValues.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

template <class T>
std::string Raw(T value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Utf16(const std::u16string& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Oracle's canonical binary float: sign bit set for positive values, all bits inverted
// for negative ones, big-endian.
template <class T, class TBits>
std::string Canonical(T value)
{
    TBits bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits = value < 0 ? static_cast<TBits>(~bits) : static_cast<TBits>(bits | (TBits(1) << (8 * sizeof bits - 1)));
    std::string s;
    for (int i = sizeof bits - 1; i >= 0; --i)
        s += static_cast<char>(bits >> (8 * i));
    return s;
}

struct TCase {
    const char* Name;
    uint16_t Type;
    std::string Bytes;  // the whole value as it lies in the buffer
    const char* Shown;
    bool Wide = false;
    // The declared length when it differs from the bytes' (0: Bytes.size()).
    uint64_t Length = 0;
};

// The value as an execute would hand it over: the bytes BoundBytesNeeded asks for.
std::string Show(const TCase& c)
{
    TBoundValue value;
    value.Type = c.Type;
    value.Length = c.Length ? c.Length : c.Bytes.size();
    value.Wide = c.Wide;
    value.Bytes = c.Bytes.substr(0, static_cast<size_t>(BoundBytesNeeded(c.Type, value.Length, c.Wide)));
    return BoundValueText(value);
}

} // namespace

TEST(BindValues, EveryTypeCodeShowsItsValue)
{
    const std::string longText(250, 'x');
    const std::string utf8Long = std::string(199, 'a') + "\xC3\xBC\xC3\xBC";  // 201 characters
    const TCase cases[] = {
        // Integers of every width, signed and unsigned.
        {"INT 1", Sqlt::Int, Raw<int8_t>(-5), "-5"},
        {"INT 2", Sqlt::Int, Raw<int16_t>(-32768), "-32768"},
        {"INT 4", Sqlt::Int, Raw<int32_t>(123456), "123456"},
        {"INT 8", Sqlt::Int, Raw<int64_t>(9007199254740993LL), "9007199254740993"},
        {"INT 3 bytes", Sqlt::Int, Bytes({1, 2, 3}), "<unreadable>"},
        {"UIN 1", Sqlt::Uin, Raw<uint8_t>(255), "255"},
        {"UIN 8", Sqlt::Uin, Raw<uint64_t>(18446744073709551615ULL), "18446744073709551615"},
        // NUMBER: the worked examples, and VARNUM with its length byte.
        {"NUMBER 0", Sqlt::Num, Bytes({0x80}), "0"},
        {"NUMBER 100", Sqlt::Num, Bytes({0xC2, 0x02}), "100"},
        {"NUMBER 101", Sqlt::Num, Bytes({0xC2, 0x02, 0x02}), "101"},
        {"NUMBER 1.5", Sqlt::Num, Bytes({0xC1, 0x02, 0x33}), "1.5"},
        {"NUMBER 0.001", Sqlt::Num, Bytes({0xBF, 0x0B}), "0.001"},
        {"NUMBER -5", Sqlt::Num, Bytes({0x3E, 0x60, 0x66}), "-5"},
        {"NUMBER 123456", Sqlt::Num, Bytes({0xC3, 0x0D, 0x23, 0x39}), "123456"},
        {"NUMBER 1.5E+125", Sqlt::Num, Bytes({0xFF, 0x10}), "1.5E+125"},
        {"NUMBER 1.5E+124", Sqlt::Num, Bytes({0xFF, 0x02, 0x33}), "1.5E+124"},
        {"NUMBER -123.45", Sqlt::Num, Bytes({0x3D, 0x64, 0x4E, 0x38, 0x66}), "-123.45"},
        {"NUMBER 1E-130", Sqlt::Num, Bytes({0x80, 0x02}), "1E-130"},
        {"NUMBER digit out of range", Sqlt::Num, Bytes({0xC1, 0x70}), "<unreadable>"},
        {"VARNUM 100", Sqlt::Vnu, Bytes({0x02, 0xC2, 0x02}) + std::string(19, '\xEE'), "100", false, 22},
        {"VARNUM length past the buffer", Sqlt::Vnu, Bytes({0x05, 0xC2, 0x02}), "<unreadable>"},
        // Floats: the shortest text that reads back the same value.
        {"FLT 8", Sqlt::Flt, Raw<double>(2.5), "2.5"},
        {"FLT 4", Sqlt::Flt, Raw<float>(-0.125f), "-0.125"},
        {"BFLOAT", Sqlt::BFloat, Raw<float>(0.1f), "0.1"},
        {"BDOUBLE", Sqlt::BDouble, Raw<double>(1.5), "1.5"},
        {"BDOUBLE 1e300", Sqlt::BDouble, Raw<double>(1e300), "1E+300"},
        {"BDOUBLE of 4 bytes", Sqlt::BDouble, Raw<float>(1.5f), "<unreadable>"},
        {"IBFLOAT", Sqlt::IBFloat, Canonical<float, uint32_t>(1.5f), "1.5"},
        {"IBDOUBLE negative", Sqlt::IBDouble, Canonical<double, uint64_t>(-2.5), "-2.5"},
        // Dates: the worked example in both layouts.
        {"DAT", Sqlt::Dat, Bytes({0x78, 0x7C, 0x01, 0x1F, 0x0E, 0x2E, 0x08}), "DATE '2024-01-31 13:45:07'"},
        {"DAT leap day", Sqlt::Dat, Bytes({0x78, 0x7C, 0x02, 0x1D, 0x0E, 0x2E, 0x08}), "DATE '2024-02-29 13:45:07'"},
        {"ODT", Sqlt::Odt, Bytes({0xE8, 0x07, 0x01, 0x1F, 0x0D, 0x2D, 0x07, 0x00}), "DATE '2024-01-31 13:45:07'"},
        {"DAT month 13", Sqlt::Dat, Bytes({0x78, 0x7C, 0x0D, 0x1F, 0x0E, 0x2E, 0x08}), "<unreadable>"},
        {"BOL true", Sqlt::Bol, Raw<int32_t>(1), "TRUE"},
        {"BOL false", Sqlt::Bol, Raw<int32_t>(0), "FALSE"},
        // Text: quotes doubled, padding kept, NUL-ended types at their NUL, UTF-16.
        {"CHR", Sqlt::Chr, "O'Brien Gr\xC3\xBC\xC3\x9F" "e", "'O''Brien Gr\xC3\xBC\xC3\x9F" "e'"},
        {"AFC padded", Sqlt::Afc, "ab   ", "'ab   '"},
        {"STR at its NUL", Sqlt::Str, std::string("abc\0zzzz", 8), "'abc'"},
        {"AVC without NUL", Sqlt::Avc, "abc", "'abc'"},
        {"VCS", Sqlt::Vcs, Raw<uint16_t>(3) + "abcdef", "'abc'"},
        {"VCS count past the buffer", Sqlt::Vcs, Raw<uint16_t>(50) + "abc", "'abc'"},
        {"LVC", Sqlt::Lvc, Raw<int32_t>(2) + "xyz", "'xy'"},
        {"LVC negative count", Sqlt::Lvc, Raw<int32_t>(-1) + "xyz", "<unreadable>"},
        {"CHR UTF-16", Sqlt::Chr, Utf16(u"Grüße, 東京"), "'Gr\xC3\xBC\xC3\x9F" "e, \xE6\x9D\xB1\xE4\xBA\xAC'", true},
        {"STR UTF-16", Sqlt::Str, Utf16(u"ab") + std::string(2, '\0') + Utf16(u"cd"), "'ab'", true},
        // Binary: upper-case hex, cut after 64 bytes.
        {"BIN", Sqlt::Bin, Bytes({0x0A, 0x1B, 0x2C}), "HEXTORAW('0A1B2C')"},
        {"LVB", Sqlt::Lvb, Raw<int32_t>(2) + Bytes({0xFF, 0x00, 0x11}), "HEXTORAW('FF00')"},
        // Descriptors, locators and handles: by name; unknown codes by number.
        {"TIMESTAMP", 187, Raw<uint32_t>(0x1234), "<TIMESTAMP>"},
        {"TIMESTAMP WITH TIME ZONE", 188, Raw<uint32_t>(0x1234), "<TIMESTAMP>"},
        {"TIMESTAMP WITH LOCAL TIME ZONE", 232, Raw<uint32_t>(0x1234), "<TIMESTAMP>"},
        {"INTERVAL", 190, Raw<uint32_t>(0x1234), "<INTERVAL>"},
        {"ROWID", 104, Raw<uint32_t>(0x1234), "<ROWID>"},
        {"CLOB", 112, Raw<uint32_t>(0x1234), "<CLOB>"},
        {"BLOB", 113, Raw<uint32_t>(0x1234), "<BLOB>"},
        {"BFILE", 114, Raw<uint32_t>(0x1234), "<BFILE>"},
        {"CURSOR", 116, Raw<uint32_t>(0x1234), "<CURSOR>"},
        {"OBJECT", 108, Raw<uint32_t>(0x1234), "<OBJECT>"},
        {"JSON", 119, Raw<uint32_t>(0x1234), "<JSON>"},
        {"LONG", 8, "abc", "<type 8>"},
        {"code 999", 999, "abc", "<type 999>"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(Show(c), c.Shown) << c.Name;
    // Long values: the first 200 characters (not bytes), the first 64 bytes, and the count.
    EXPECT_EQ(Show({"", Sqlt::Chr, longText, ""}), "'" + std::string(200, 'x') + "...' (250 characters)");
    EXPECT_EQ(Show({"", Sqlt::Chr, utf8Long, ""}), "'" + std::string(199, 'a') + "\xC3\xBC...' (201 characters)");
    std::string hex;
    for (int i = 0; i < 64; ++i)
        hex += "AB";
    EXPECT_EQ(Show({"", Sqlt::Bin, std::string(100, '\xAB'), ""}), "HEXTORAW('" + hex + "...') (100 bytes)");
}

// A length declared far beyond what is there: no more is read than the cell shows, and
// the count is as declared.
TEST(BindValues, HugeLengthsReadOnlyWhatTheCellShows)
{
    const uint64_t huge = 0x7FFFFFFF, above4G = 0x100000123ULL;
    EXPECT_LE(BoundBytesNeeded(Sqlt::Chr, huge, false), 1024u);
    EXPECT_LE(BoundBytesNeeded(Sqlt::Str, above4G, true), 1024u);
    EXPECT_EQ(BoundBytesNeeded(Sqlt::Bin, huge, false), 65u);
    EXPECT_EQ(BoundBytesNeeded(Sqlt::Vnu, huge, false), 22u);
    EXPECT_EQ(BoundBytesNeeded(187, 8, false), 0u) << "a descriptor's bytes are never read";
    EXPECT_EQ(Show({"", Sqlt::Chr, std::string(2000, 'y'), "", false, huge}),
              "'" + std::string(200, 'y') + "...' (2147483647 characters)");
    EXPECT_EQ(Show({"", Sqlt::Chr, Utf16(std::u16string(600, u'z')), "", true, above4G}),
              "'" + std::string(200, 'z') + "...' (2147483793 characters)");
    EXPECT_EQ(Show({"", Sqlt::Str, std::string("short\0", 6) + std::string(2000, 'q'), "", false, huge}), "'short'")
        << "a NUL-ended text ends at its NUL however long its buffer";
    TBoundValue cut{Sqlt::Int, 4, "\x01\x02", false};
    EXPECT_EQ(BoundValueText(cut), "<unreadable>") << "fewer bytes than needed";
}

TEST(BindValues, NumbersAreExactInPlainNotationUpToFortyDigits)
{
    EXPECT_EQ(DecimalText(false, "12345", 3), "123.45");
    EXPECT_EQ(DecimalText(true, "0012300", 5), "-123");
    EXPECT_EQ(DecimalText(false, "", 7), "0");
    EXPECT_EQ(DecimalText(false, "1", 40), "1" + std::string(39, '0'));
    EXPECT_EQ(DecimalText(false, "1", 41), "1E+40");
    EXPECT_EQ(DecimalText(false, "25", -37), "0." + std::string(37, '0') + "25");
    EXPECT_EQ(DecimalText(false, "25", -38), "2.5E-39");
    EXPECT_EQ(FloatText(0.1), "0.1");
    EXPECT_EQ(FloatText(1e21), "1000000000000000000000");
    EXPECT_EQ(FloatText(-1.0 / 0.0), "-Infinity");
}

// No tab, line break or other control byte of a value reaches a cell: text is written as
// Oracle takes it, the cut at 200 characters counting control characters as characters.
TEST(BindValues, ControlCharactersAreWrittenAsChr)
{
    const std::string tail = std::string(199, 'x') + "\t" + "yyyy";  // 204 characters
    const struct {
        std::string Text;
        std::string Shown;
    } cases[] = {
        {"a\tb", "'a' || CHR(9) || 'b'"},
        {"\t", "CHR(9)"},
        {"", "''"},
        {"\r\n", "CHR(13) || CHR(10)"},
        {std::string("it's\0", 5), "'it''s' || CHR(0)"},
        {"\x1F" "a\x7F", "CHR(31) || 'a' || CHR(127)"},
        {tail, "'" + std::string(199, 'x') + "' || CHR(9) || '...' (204 characters)"},
        {"a\n" + std::string(250, 'z'), "'a' || CHR(10) || '" + std::string(198, 'z') + "...' (252 characters)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show({"", Sqlt::Chr, c.Text, ""}), c.Shown) << c.Shown;
    EXPECT_EQ(Show({"", Sqlt::Str, std::string("a\tb\0c", 5), ""}), "'a' || CHR(9) || 'b'");
    EXPECT_EQ(ControlCharactersAsBlanks("ORA-00942: table\tor view\r\ndoes not exist\n"),
              "ORA-00942: table or view  does not exist ");
}

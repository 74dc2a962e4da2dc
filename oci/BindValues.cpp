#include "BindValues.h"

#include "Errors.h"
#include "OCITexts.h"
#include "Utils.h"

#include <charconv>
#include <cmath>
#include <cstring>

const char* const BindNullText = "NULL";
const char* const BindUnreadableText = "<unreadable>";
const char* const BindAtExecuteText = "<at execute>";
const char* const BindHiddenText = "?";

namespace {

// Texts longer than this are read only as far as the cell shows them: 201 characters of
// at most four bytes, and a length prefix.
constexpr uint64_t WholeTextLimit = 64 * 1024;
constexpr uint64_t TextPrefixBytes = 4 * (BindTextChars + 1) + 4;

enum class TKind { Opaque, Integer, Unsigned, Float, BinaryFloat, CanonicalFloat, Number, VarNum, Date, OciDate,
                   Boolean, Text, TextToNul, CountedText, Binary, CountedBinary };

TKind KindOf(uint16_t type, size_t& prefix)
{
    prefix = 0;
    switch (type) {
    case Sqlt::Int: return TKind::Integer;
    case Sqlt::Uin: return TKind::Unsigned;
    case Sqlt::Flt: return TKind::Float;
    case Sqlt::BFloat:
    case Sqlt::BDouble: return TKind::BinaryFloat;
    case Sqlt::IBFloat:
    case Sqlt::IBDouble: return TKind::CanonicalFloat;
    case Sqlt::Num: return TKind::Number;
    case Sqlt::Vnu: return TKind::VarNum;
    case Sqlt::Dat: return TKind::Date;
    case Sqlt::Odt: return TKind::OciDate;
    case Sqlt::Bol: return TKind::Boolean;
    case Sqlt::Chr:
    case Sqlt::Afc: return TKind::Text;
    case Sqlt::Str:
    case Sqlt::Avc: return TKind::TextToNul;
    case Sqlt::Vcs: prefix = 2; return TKind::CountedText;
    case Sqlt::Lvc: prefix = 4; return TKind::CountedText;
    case Sqlt::Bin:
    case Sqlt::Lbi: return TKind::Binary;
    case Sqlt::Lvb: prefix = 4; return TKind::CountedBinary;
    default: return TKind::Opaque;
    }
}

std::string OpaqueText(uint16_t type)
{
    switch (type) {
    case 184: case 185: case 186: case 187: case 188: case 232: return "<TIMESTAMP>";
    case 189: case 190: return "<INTERVAL>";
    case 104: return "<ROWID>";
    case 112: return "<CLOB>";
    case 113: return "<BLOB>";
    case 114: case 115: return "<BFILE>";
    case 116: return "<CURSOR>";
    case 108: case 110: return "<OBJECT>";
    case 119: return "<JSON>";
    default: return Format("<type %u>", static_cast<unsigned>(type));
    }
}

uint64_t LittleEndian(std::string_view bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Bytes that would break a cell, a line or a column of an exported file.
bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsIntegerSize(uint64_t size) { return size == 1 || size == 2 || size == 4 || size == 8; }

std::string IntegerText(std::string_view bytes, bool isSigned)
{
    uint64_t raw = LittleEndian(bytes);
    if (!isSigned)
        return std::to_string(raw);
    int shift = 64 - 8 * static_cast<int>(bytes.size());
    return std::to_string(static_cast<int64_t>(raw << shift) >> shift);
}

template <class T>
std::string ShortestText(T value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Infinity" : "Infinity";
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific).ptr;
    // "-d.ddde+XX": the digits and the exponent of the first one.
    std::string_view text(buffer, static_cast<size_t>(end - buffer));
    bool negative = text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e))
        if (c != '.')
            digits += c;
    int exponent = 0;
    std::string_view power = text.substr(e + 1);
    if (power.front() == '+')
        power.remove_prefix(1);
    std::from_chars(power.data(), power.data() + power.size(), exponent);
    if (digits == "0")
        digits.clear();
    return DecimalText(negative, digits, exponent + 1);
}

// IEEE bytes in big-endian order.
template <class T, class TBits>
T FromBigEndian(std::string_view bytes)
{
    TBits bits = 0;
    for (char c : bytes)
        bits = static_cast<TBits>(bits << 8 | static_cast<unsigned char>(c));
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string FloatOfSize(std::string_view bytes, bool bigEndian)
{
    std::string ordered(bytes);
    if (!bigEndian)
        ordered.assign(bytes.rbegin(), bytes.rend());
    if (ordered.size() == 4)
        return FloatText(FromBigEndian<float, uint32_t>(ordered));
    return FloatText(FromBigEndian<double, uint64_t>(ordered));
}

// Oracle's canonical form of a binary float: the sign bit set for positive values, every
// bit inverted for negative ones, so that the bytes sort as the numbers do.
std::string CanonicalFloatText(std::string_view bytes)
{
    std::string ordered(bytes);
    if (static_cast<unsigned char>(ordered[0]) & 0x80)
        ordered[0] = static_cast<char>(ordered[0] & 0x7F);
    else
        for (char& c : ordered)
            c = static_cast<char>(~c);
    return FloatOfSize(ordered, true);
}

std::string DateText(int year, int month, int day, int hour, int minute, int second)
{
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return BindUnreadableText;
    return Format("DATE '%s%04d-%02d-%02d %02d:%02d:%02d'", year < 0 ? "-" : "", year < 0 ? -year : year, month, day,
                  hour, minute, second);
}

// Drops an incomplete UTF-8 sequence from the end of a text read only in part.
void DropCutCharacter(std::string& bytes)
{
    size_t n = bytes.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        unsigned char c = static_cast<unsigned char>(bytes[n - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (length > back)
            bytes = bytes.substr(0, n - back);
        return;
    }
}

size_t CharacterCount(const std::string& utf8)
{
    size_t n = 0;
    for (char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// A text value: bytes in the environment's encoding, whole or the first part of it.
std::string TextValue(std::string bytes, bool whole, uint64_t declaredBytes, bool wide)
{
    if (!whole) {
        if (wide)
            bytes.resize(bytes.size() & ~size_t(1));
        else
            DropCutCharacter(bytes);
    }
    std::string utf8 = TextToUtf8(bytes, wide);
    uint64_t characters = whole ? CharacterCount(utf8) : (wide ? declaredBytes / 2 : declaredBytes);
    return QuotedText(utf8, characters);
}

std::string HexText(std::string_view bytes, uint64_t length)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string text = "HEXTORAW('";
    for (size_t i = 0; i < bytes.size() && i < BindBinaryBytes; ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        text += Digits[b >> 4];
        text += Digits[b & 15];
    }
    if (length > BindBinaryBytes)
        return text + Format("...') (%llu bytes)", static_cast<unsigned long long>(length));
    return text + "')";
}

} // namespace

std::string DecimalText(bool negative, std::string digits, int point)
{
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return negative ? "-0" : "0";
    point -= static_cast<int>(first);
    digits = digits.substr(first, digits.find_last_not_of('0') + 1 - first);
    const int length = static_cast<int>(digits.size());
    std::string text = negative ? "-" : "";
    int plainDigits = point <= 0 ? 1 - point + length : std::max(point, length);
    if (plainDigits > 40) {
        text += digits[0];
        if (length > 1) {
            text += '.';
            text.append(digits, 1);
        }
        int exponent = point - 1;
        return text + Format("E%c%d", exponent < 0 ? '-' : '+', std::abs(exponent));
    }
    if (point <= 0) {
        text += "0.";
        text.append(static_cast<size_t>(-point), '0');
        text += digits;
    } else if (point >= length) {
        text += digits;
        text.append(static_cast<size_t>(point - length), '0');
    } else {
        text.append(digits, 0, static_cast<size_t>(point));
        text += '.';
        text.append(digits, static_cast<size_t>(point));
    }
    return text;
}

std::string OraNumberText(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > 21)
        return BindUnreadableText;
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() == 1 && at(0) == 0x80)
        return "0";
    // The two infinities.
    if (bytes.size() == 1 && at(0) == 0x00)
        return "-Infinity";
    if (bytes.size() == 2 && at(0) == 0xFF && at(1) == 0x65)
        return "Infinity";
    bool negative = !(at(0) & 0x80);
    int exponent = ((negative ? ~at(0) : at(0)) & 0x7F) - 65;
    size_t end = bytes.size();
    // A negative number ends with 102 unless its mantissa fills all 20 bytes.
    if (negative && at(end - 1) == 102)
        --end;
    if (end < 2)
        return BindUnreadableText;
    std::string digits;
    for (size_t i = 1; i < end; ++i) {
        int d = negative ? 101 - at(i) : at(i) - 1;
        if (d < 0 || d > 99)
            return BindUnreadableText;
        digits += static_cast<char>('0' + d / 10);
        digits += static_cast<char>('0' + d % 10);
    }
    return DecimalText(negative, digits, 2 * (exponent + 1));
}

std::string FloatText(double value) { return ShortestText(value); }
std::string FloatText(float value) { return ShortestText(value); }

std::string QuotedText(const std::string& utf8, uint64_t characters)
{
    // Runs of printable characters in quotes, control characters as CHR(n), joined by ||.
    std::string text;
    bool quoted = false;
    auto join = [&](const char* piece) {
        if (!text.empty())
            text += " || ";
        text += piece;
    };
    size_t shown = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        bool starts = (c & 0xC0) != 0x80;
        if (starts && ++shown > BindTextChars)
            break;
        if (IsControlByte(c)) {
            if (quoted)
                text += '\'';
            quoted = false;
            join(Format("CHR(%u)", static_cast<unsigned>(c)).c_str());
            continue;
        }
        if (!quoted)
            join("'");
        quoted = true;
        text += utf8[i];
        if (utf8[i] == '\'')
            text += '\'';
    }
    if (characters > BindTextChars) {
        if (!quoted)
            join("'");
        return text + Format("...' (%llu characters)", static_cast<unsigned long long>(characters));
    }
    if (text.empty())
        return "''";
    return quoted ? text + "'" : text;
}

std::string ControlCharactersAsBlanks(std::string text)
{
    for (char& c : text)
        if (IsControlByte(static_cast<unsigned char>(c)))
            c = ' ';
    return text;
}

bool ShowsBytes(uint16_t type)
{
    size_t prefix = 0;
    return KindOf(type, prefix) >= TKind::Text;
}

uint64_t BoundBytesNeeded(uint16_t type, uint64_t length, bool /*wide*/)
{
    size_t prefix = 0;
    switch (KindOf(type, prefix)) {
    case TKind::Opaque: return 0;
    case TKind::Integer:
    case TKind::Unsigned:
    case TKind::Float:
    case TKind::BinaryFloat:
    case TKind::CanonicalFloat:
    case TKind::Boolean: return std::min<uint64_t>(length, 8);
    case TKind::Number: return std::min<uint64_t>(length, 21);
    case TKind::VarNum: return std::min<uint64_t>(length, 22);
    case TKind::Date: return std::min<uint64_t>(length, 7);
    case TKind::OciDate: return std::min<uint64_t>(length, 8);
    case TKind::Binary: return std::min<uint64_t>(length, BindBinaryBytes + 1);
    case TKind::CountedBinary: return std::min<uint64_t>(length, prefix + BindBinaryBytes + 1);
    default: return length <= WholeTextLimit ? length : TextPrefixBytes;
    }
}

std::string BoundValueText(const TBoundValue& value)
{
    size_t prefix = 0;
    TKind kind = KindOf(value.Type, prefix);
    if (kind == TKind::Opaque)
        return OpaqueText(value.Type);
    const std::string& bytes = value.Bytes;
    if (bytes.size() < BoundBytesNeeded(value.Type, value.Length, value.Wide))
        return BindUnreadableText;
    std::string_view view(bytes);
    switch (kind) {
    case TKind::Integer:
    case TKind::Unsigned:
        return IsIntegerSize(value.Length) ? IntegerText(view, kind == TKind::Integer) : BindUnreadableText;
    case TKind::Boolean:
        if (!IsIntegerSize(value.Length))
            return BindUnreadableText;
        return LittleEndian(view) != 0 ? "TRUE" : "FALSE";
    case TKind::Float:
    case TKind::BinaryFloat: {
        uint64_t size = value.Type == Sqlt::BFloat ? 4 : value.Type == Sqlt::BDouble ? 8 : value.Length;
        if (value.Length != size || (size != 4 && size != 8))
            return BindUnreadableText;
        return FloatOfSize(view, false);
    }
    case TKind::CanonicalFloat:
        if (value.Length != (value.Type == Sqlt::IBFloat ? 4u : 8u))
            return BindUnreadableText;
        return CanonicalFloatText(view);
    case TKind::Number: return OraNumberText(view);
    case TKind::VarNum: {
        size_t n = view.empty() ? 0 : static_cast<unsigned char>(view[0]);
        if (n == 0 || n + 1 > view.size())
            return BindUnreadableText;
        return OraNumberText(view.substr(1, n));
    }
    case TKind::Date:
        if (value.Length < 7)
            return BindUnreadableText;
        return DateText((static_cast<unsigned char>(view[0]) - 100) * 100 + static_cast<unsigned char>(view[1]) - 100,
                        static_cast<unsigned char>(view[2]), static_cast<unsigned char>(view[3]),
                        static_cast<unsigned char>(view[4]) - 1, static_cast<unsigned char>(view[5]) - 1,
                        static_cast<unsigned char>(view[6]) - 1);
    case TKind::OciDate:
        if (value.Length < 7)
            return BindUnreadableText;
        return DateText(static_cast<int16_t>(LittleEndian(view.substr(0, 2))), static_cast<unsigned char>(view[2]),
                        static_cast<unsigned char>(view[3]), static_cast<unsigned char>(view[4]),
                        static_cast<unsigned char>(view[5]), static_cast<unsigned char>(view[6]));
    case TKind::Text:
        return TextValue(bytes, bytes.size() == value.Length, value.Length, value.Wide);
    case TKind::TextToNul: {
        size_t end = NulEnd(bytes, value.Wide);
        bool whole = end < bytes.size() || bytes.size() == value.Length;
        return TextValue(bytes.substr(0, end), whole, value.Length, value.Wide);
    }
    case TKind::CountedText:
    case TKind::CountedBinary: {
        if (value.Length < prefix)
            return BindUnreadableText;
        int64_t counted = prefix == 2 ? static_cast<int64_t>(LittleEndian(view.substr(0, 2)))
                                      : static_cast<int32_t>(LittleEndian(view.substr(0, 4)));
        if (counted < 0)
            return BindUnreadableText;
        // A count larger than the buffer: the value as far as the buffer goes.
        uint64_t length = std::min<uint64_t>(static_cast<uint64_t>(counted), value.Length - prefix);
        std::string data = bytes.substr(prefix, static_cast<size_t>(length));
        if (kind == TKind::CountedBinary)
            return HexText(data, length);
        return TextValue(data, data.size() == length, length, value.Wide);
    }
    case TKind::Binary: return HexText(view, value.Length);
    default: return OpaqueText(value.Type);
    }
}

#include "DateTimeValues.h"

#include "Errors.h"

#include <cstdlib>

namespace {

constexpr int64_t NanosecondsPerSecond = 1000000000;
constexpr int64_t NanosecondsPerDay = 86400 * NanosecondsPerSecond;
// The widest interval fields Oracle takes: nine digits of days or years.
constexpr int64_t MaxIntervalLead = 999999999;
// Zone texts are names ("Europe/Berlin") or offsets; anything longer is no zone.
constexpr size_t MaxZoneBytes = 64;

// Years as the calendar arithmetic counts them (1 BC is year 0) and as Oracle does.
int64_t Astronomical(int64_t year) { return year < 0 ? year + 1 : year; }
int64_t OracleYear(int64_t astronomical) { return astronomical <= 0 ? astronomical - 1 : astronomical; }
bool InOracleRange(int64_t astronomical) { return astronomical >= -4711 && astronomical <= 9999; }

bool IsLeap(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int64_t y, int m)
{
    static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : Days[m - 1];
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (astronomical year),
// counted in eras of 400 years that start on 1 March.
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct TCivil {
    int64_t Year;
    int Month, Day;
};

TCivil CivilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

// A zone text the cell can show inside its quotes.
bool IsShowableZone(std::string_view zone)
{
    if (zone.size() > MaxZoneBytes)
        return false;
    for (char c : zone)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\'')
            return false;
    return true;
}

// ".25" for 250,000,000 ns; nothing for 0.
std::string FractionText(int64_t nanoseconds)
{
    if (nanoseconds == 0)
        return {};
    std::string digits = Format(".%09lld", static_cast<long long>(nanoseconds));
    digits.resize(digits.find_last_not_of('0') + 1);
    return digits;
}

std::string TimeOfDayText(int64_t nanoseconds)
{
    const int64_t seconds = nanoseconds / NanosecondsPerSecond;
    return Format("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60)) +
           FractionText(nanoseconds % NanosecondsPerSecond);
}

} // namespace

bool IsDateTimeDescriptor(uint32_t type)
{
    return type == OciDtype::IntervalYearMonth || type == OciDtype::IntervalDaySecond ||
           type == OciDtype::Timestamp || type == OciDtype::TimestampTz || type == OciDtype::TimestampLtz;
}

bool TDateTimeValue::IsInterval() const
{
    return FType == OciDtype::IntervalYearMonth || FType == OciDtype::IntervalDaySecond;
}

TDateTimeValue TDateTimeValue::Constructed(uint32_t type, int16_t year, uint8_t month, uint8_t day, uint8_t hour,
                                           uint8_t minute, uint8_t second, uint32_t nanoseconds, std::string_view zone)
{
    TDateTimeValue value(type);
    const int64_t y = Astronomical(year);
    if (!IsDateTimeDescriptor(type) || value.IsInterval() || year == 0 || !InOracleRange(y) || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(y, month) || hour > 23 || minute > 59 || second > 59 || nanoseconds >= NanosecondsPerSecond ||
        !IsShowableZone(zone))
        return value;
    value.FKnown = true;
    value.FDays = DaysFromCivil(y, month, day);
    value.FNanoseconds = ((hour * 60 + minute) * 60 + second) * NanosecondsPerSecond + nanoseconds;
    value.FZone = zone;
    return value;
}

TDateTimeValue TDateTimeValue::DaySecond(int32_t days, int32_t hours, int32_t minutes, int32_t seconds,
                                         int32_t nanoseconds)
{
    TDateTimeValue value(OciDtype::IntervalDaySecond);
    // Each part fits in 64 bits on its own; the sum is carried into days as it goes.
    const int64_t allSeconds = int64_t{hours} * 3600 + int64_t{minutes} * 60 + seconds;
    int64_t d = days + allSeconds / 86400;
    int64_t ns = allSeconds % 86400 * NanosecondsPerSecond + nanoseconds;
    d += ns / NanosecondsPerDay;
    ns %= NanosecondsPerDay;
    if (d > 0 && ns < 0) {
        --d;
        ns += NanosecondsPerDay;
    } else if (d < 0 && ns > 0) {
        ++d;
        ns -= NanosecondsPerDay;
    }
    if (std::llabs(d) > MaxIntervalLead)
        return value;
    value.FKnown = true;
    value.FDays = d;
    value.FNanoseconds = ns;
    return value;
}

TDateTimeValue TDateTimeValue::YearMonth(int32_t years, int32_t months)
{
    TDateTimeValue value(OciDtype::IntervalYearMonth);
    const int64_t total = int64_t{years} * 12 + months;
    if (std::llabs(total / 12) > MaxIntervalLead)
        return value;
    value.FKnown = true;
    value.FMonths = total;
    return value;
}

TDateTimeValue TDateTimeValue::AssignedTo(uint32_t to) const
{
    TDateTimeValue value = *this;
    value.FType = to;
    const bool fits = IsInterval() ? to == FType : IsDateTimeDescriptor(to) && !value.IsInterval();
    if (!fits)
        value = TDateTimeValue(to);
    return value;
}

TDateTimeValue TDateTimeValue::Sum(uint32_t resultType, const TDateTimeValue& datetime,
                                   const TDateTimeValue& interval, bool subtract)
{
    TDateTimeValue result(resultType);
    if (!datetime.FKnown || datetime.IsInterval() || !interval.FKnown || !interval.IsInterval() ||
        result.IsInterval() || !IsDateTimeDescriptor(resultType))
        return result;
    const int64_t sign = subtract ? -1 : 1;
    int64_t days = datetime.FDays, nanoseconds = datetime.FNanoseconds;
    if (interval.FType == OciDtype::IntervalYearMonth) {
        TCivil date = CivilFromDays(days);
        const int64_t months = date.Year * 12 + (date.Month - 1) + sign * interval.FMonths;
        const int64_t year = months >= 0 ? months / 12 : (months - 11) / 12;
        const int month = static_cast<int>(months - year * 12) + 1;
        if (!InOracleRange(year) || date.Day > DaysInMonth(year, month))
            return result;
        days = DaysFromCivil(year, month, date.Day);
    } else {
        days += sign * interval.FDays;
        nanoseconds += sign * interval.FNanoseconds;
        if (nanoseconds < 0) {
            nanoseconds += NanosecondsPerDay;
            --days;
        } else if (nanoseconds >= NanosecondsPerDay) {
            nanoseconds -= NanosecondsPerDay;
            ++days;
        }
        if (!InOracleRange(CivilFromDays(days).Year))
            return result;
    }
    result.FKnown = true;
    result.FDays = days;
    result.FNanoseconds = nanoseconds;
    result.FZone = datetime.FZone;
    return result;
}

std::string TDateTimeValue::Text() const
{
    if (!FKnown)
        return IsInterval() ? "<INTERVAL>" : "<TIMESTAMP>";
    if (FType == OciDtype::IntervalYearMonth)
        return Format("INTERVAL '%s%lld-%lld' YEAR TO MONTH", FMonths < 0 ? "-" : "",
                      static_cast<long long>(std::llabs(FMonths) / 12), static_cast<long long>(std::llabs(FMonths) % 12));
    if (FType == OciDtype::IntervalDaySecond)
        return Format("INTERVAL '%s%lld ", FDays < 0 || FNanoseconds < 0 ? "-" : "",
                      static_cast<long long>(std::llabs(FDays))) +
               TimeOfDayText(std::llabs(FNanoseconds)) + "' DAY TO SECOND";
    const TCivil date = CivilFromDays(FDays);
    const int64_t year = OracleYear(date.Year);
    std::string text = Format("TIMESTAMP '%s%04lld-%02d-%02d ", year < 0 ? "-" : "", static_cast<long long>(std::llabs(year)),
                              date.Month, date.Day) +
                       TimeOfDayText(FNanoseconds);
    if (!FZone.empty() && FType != OciDtype::Timestamp)
        text += " " + FZone;
    return text + "'";
}

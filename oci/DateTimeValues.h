// The values of TIMESTAMP and INTERVAL descriptors. A descriptor is opaque to the tracer:
// its value is known only from the calls that set it (OCIDateTimeConstruct,
// OCIIntervalSetDaySecond, OCIIntervalSetYearMonth, the assignments and
// OCIDateTimeIntervalAdd, whose sum is computed here), and stays unknown otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The descriptor types (OCI_DTYPE_*) of datetimes and intervals.
namespace OciDtype {
constexpr uint32_t IntervalYearMonth = 62, IntervalDaySecond = 63, Timestamp = 68, TimestampTz = 69,
                   TimestampLtz = 70;
}

// Whether a descriptor type is one of the five above.
bool IsDateTimeDescriptor(uint32_t type);

// The value of one descriptor: a timestamp (proleptic Gregorian calendar, no leap
// seconds, nanoseconds), a day-to-second or a year-to-month interval, or unknown.
class TDateTimeValue {
public:
    // An unknown value: "<TIMESTAMP>" or, for an interval type, "<INTERVAL>".
    explicit TDateTimeValue(uint32_t type = OciDtype::Timestamp) : FType(type) {}

    // OCIDateTimeConstruct's arguments as they stand: the parameter types are the call's,
    // so a caller that passes a full argument slot masks off what lies above a narrow
    // argument. year counts as Oracle does (-1 is 1 BC, there is no year 0); zone is the
    // zone text in UTF-8, empty when none was given. Unknown when OCI would refuse them, or
    // when type is no TIMESTAMP type (68, 69, 70).
    static TDateTimeValue Constructed(uint32_t type, int16_t year, uint8_t month, uint8_t day, uint8_t hour,
                                      uint8_t minute, uint8_t second, uint32_t nanoseconds, std::string_view zone);
    // OCIIntervalSetDaySecond's and OCIIntervalSetYearMonth's arguments (sb4 each; the
    // fraction in nanoseconds). Parts of different signs are added up.
    static TDateTimeValue DaySecond(int32_t days, int32_t hours, int32_t minutes, int32_t seconds,
                                    int32_t nanoseconds);
    static TDateTimeValue YearMonth(int32_t years, int32_t months);

    // OCIDateTimeAssign and OCIIntervalAssign: this value in a descriptor of type to;
    // unknown when a timestamp goes into an interval, or the two kinds of interval mix.
    TDateTimeValue AssignedTo(uint32_t to) const;
    // OCIDateTimeIntervalAdd (OCIDateTimeIntervalSub with subtract): datetime moved by
    // interval, in a descriptor of type resultType, keeping datetime's zone. Unknown when
    // either is, when the result falls outside the years -4712 to 9999, or when a year-month
    // step lands on a day its month does not have (OCI refuses 31 January + 1 month).
    static TDateTimeValue Sum(uint32_t resultType, const TDateTimeValue& datetime, const TDateTimeValue& interval,
                              bool subtract = false);

    uint32_t Type() const { return FType; }
    bool Known() const { return FKnown; }
    bool IsInterval() const;

    // As the Binds cell shows it: "TIMESTAMP '2017-06-01 02:02:01.25'" (the fraction only
    // when not zero, without trailing zeros; " +01:00" after it when a zone was given,
    // never for a plain TIMESTAMP), "INTERVAL '-1 00:00:00.5' DAY TO SECOND",
    // "INTERVAL '1-2' YEAR TO MONTH"; "<TIMESTAMP>" or "<INTERVAL>" when unknown.
    std::string Text() const;

private:
    uint32_t FType;
    bool FKnown = false;
    // Timestamps: days since 1970-01-01 and nanoseconds into the day. Day-to-second
    // intervals: days and nanoseconds, both of the interval's sign, |nanoseconds| under a
    // day. Year-to-month intervals: months.
    int64_t FDays = 0;
    int64_t FNanoseconds = 0;
    int64_t FMonths = 0;
    std::string FZone;
};

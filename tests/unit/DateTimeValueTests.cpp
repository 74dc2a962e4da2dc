// TIMESTAMP and INTERVAL descriptor values as the calls that set them give them, and their
// cells; the sums are those of the milliseconds path of the drivers, which adds a day-to-
// second interval to a 1970-01-01 base.
#include "DateTimeValues.h"

#include <gtest/gtest.h>

namespace {

using namespace OciDtype;

// A day-to-second interval of ms milliseconds, split as the drivers split it: every part
// takes the sign of the whole.
TDateTimeValue Milliseconds(int64_t ms)
{
    const int64_t day = 86400000;
    return TDateTimeValue::DaySecond(static_cast<int32_t>(ms / day), static_cast<int32_t>(ms % day / 3600000),
                                     static_cast<int32_t>(ms % 3600000 / 60000), static_cast<int32_t>(ms % 60000 / 1000),
                                     static_cast<int32_t>(ms % 1000 * 1000000));
}

TDateTimeValue At(uint32_t type, int16_t year, uint8_t month, uint8_t day, uint8_t hour = 0, uint8_t minute = 0,
                  uint8_t second = 0, uint32_t nanoseconds = 0, std::string_view zone = {})
{
    return TDateTimeValue::Constructed(type, year, month, day, hour, minute, second, nanoseconds, zone);
}

} // namespace

TEST(DateTimeValues, CellsOfTheValuesTheCallsSet)
{
    // A full 64-bit argument slot, garbage above the sb2 and ub1 arguments.
    uint64_t yearSlot = 0xABCD1234FFFFFFD4ull, monthSlot = 0x7700000000000003ull, hourSlot = 0xFF0C;
    const struct {
        const char* Name;
        TDateTimeValue Value;
        const char* Text;
    } cases[] = {
        {"fraction without trailing zeros", At(Timestamp, 2017, 6, 1, 2, 2, 1, 250000000), "TIMESTAMP '2017-06-01 02:02:01.25'"},
        {"one nanosecond", At(Timestamp, 2017, 6, 1, 2, 2, 1, 1), "TIMESTAMP '2017-06-01 02:02:01.000000001'"},
        {"zone given", At(TimestampTz, 2017, 6, 1, 2, 2, 1, 0, "+01:00"), "TIMESTAMP '2017-06-01 02:02:01 +01:00'"},
        {"region zone, local time zone", At(TimestampLtz, 2024, 2, 29, 0, 0, 0, 0, "Europe/Berlin"),
         "TIMESTAMP '2024-02-29 00:00:00 Europe/Berlin'"},
        {"plain TIMESTAMP shows no zone", At(Timestamp, 2017, 6, 1, 2, 2, 1, 0, "+01:00"), "TIMESTAMP '2017-06-01 02:02:01'"},
        {"narrow arguments masked", TDateTimeValue::Constructed(Timestamp, yearSlot, monthSlot, 15, hourSlot, 0, 0, 0, {}),
         "TIMESTAMP '-0044-03-15 12:00:00'"},
        {"29 February of a common year", At(Timestamp, 2023, 2, 29), "<TIMESTAMP>"},
        {"month 13", At(Timestamp, 2023, 13, 1), "<TIMESTAMP>"},
        {"year 0", At(Timestamp, 0, 1, 1), "<TIMESTAMP>"},
        {"a whole second of fraction", At(Timestamp, 2023, 1, 1, 0, 0, 0, 1000000000), "<TIMESTAMP>"},
        {"zone that would break the cell", At(TimestampTz, 2023, 1, 1, 0, 0, 0, 0, "+01'00"), "<TIMESTAMP>"},
        {"never set", TDateTimeValue(TimestampTz), "<TIMESTAMP>"},
        {"constructed in a descriptor of another type", At(50, 2017, 6, 1), "<TIMESTAMP>"},
        {"day to second", TDateTimeValue::DaySecond(3, 4, 5, 6, 0), "INTERVAL '3 04:05:06' DAY TO SECOND"},
        {"negative", TDateTimeValue::DaySecond(-1, 0, 0, 0, -500000000), "INTERVAL '-1 00:00:00.5' DAY TO SECOND"},
        {"hours carried into days", TDateTimeValue::DaySecond(0, 25, 0, 0, 0), "INTERVAL '1 01:00:00' DAY TO SECOND"},
        {"parts of both signs", TDateTimeValue::DaySecond(1, -1, 0, 0, 0), "INTERVAL '0 23:00:00' DAY TO SECOND"},
        {"year to month", TDateTimeValue::YearMonth(1, 2), "INTERVAL '1-2' YEAR TO MONTH"},
        {"months carried, negative", TDateTimeValue::YearMonth(0, -14), "INTERVAL '-1-2' YEAR TO MONTH"},
        {"interval never set", TDateTimeValue(IntervalDaySecond), "<INTERVAL>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Value.Text(), c.Text) << c.Name;
}

TEST(DateTimeValues, SumsOfADateTimeAndAnInterval)
{
    const TDateTimeValue epoch = At(TimestampTz, 1970, 1, 1, 0, 0, 0, 0, "+00:00");
    const struct {
        const char* Name;
        uint32_t ResultType;
        TDateTimeValue DateTime, Interval;
        bool Subtract;
        const char* Text;
    } cases[] = {
        {"10^12 ms", Timestamp, epoch, Milliseconds(1000000000000), false, "TIMESTAMP '2001-09-09 01:46:40'"},
        {"keeps the base's zone", TimestampTz, epoch, Milliseconds(1234567890000), false,
         "TIMESTAMP '2009-02-13 23:31:30 +00:00'"},
        {"before the epoch", Timestamp, epoch, Milliseconds(-1), false, "TIMESTAMP '1969-12-31 23:59:59.999'"},
        {"subtracted across a leap day", Timestamp, At(Timestamp, 2024, 3, 1), TDateTimeValue::DaySecond(0, 0, 0, 0, 1),
         true, "TIMESTAMP '2024-02-29 23:59:59.999999999'"},
        {"into 1 BC: there is no year 0", Timestamp, At(Timestamp, 1, 1, 1, 6), TDateTimeValue::DaySecond(-1, 0, 0, 0, 0),
         false, "TIMESTAMP '-0001-12-31 06:00:00'"},
        {"months", Timestamp, At(Timestamp, 2023, 12, 15), TDateTimeValue::YearMonth(0, 2), false,
         "TIMESTAMP '2024-02-15 00:00:00'"},
        {"months back over a year", Timestamp, At(Timestamp, 2024, 1, 31), TDateTimeValue::YearMonth(1, 1), true,
         "TIMESTAMP '2022-12-31 00:00:00'"},
        {"a month onto a day it lacks", Timestamp, At(Timestamp, 2024, 1, 31), TDateTimeValue::YearMonth(0, 1), false,
         "<TIMESTAMP>"},
        {"past 9999", Timestamp, At(Timestamp, 9999, 12, 31, 23, 59, 59), Milliseconds(1000), false, "<TIMESTAMP>"},
        {"unknown base", Timestamp, TDateTimeValue(Timestamp), Milliseconds(1), false, "<TIMESTAMP>"},
        {"two timestamps", Timestamp, epoch, epoch, false, "<TIMESTAMP>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TDateTimeValue::Sum(c.ResultType, c.DateTime, c.Interval, c.Subtract).Text(), c.Text) << c.Name;
}

TEST(DateTimeValues, AssignmentKeepsTheValueWhereTheKindsAgree)
{
    const TDateTimeValue zoned = At(TimestampTz, 2017, 6, 1, 2, 2, 1, 0, "+01:00");
    const TDateTimeValue days = TDateTimeValue::DaySecond(3, 0, 0, 0, 0);
    EXPECT_EQ(zoned.AssignedTo(TimestampLtz).Text(), "TIMESTAMP '2017-06-01 02:02:01 +01:00'");
    EXPECT_EQ(zoned.AssignedTo(Timestamp).Text(), "TIMESTAMP '2017-06-01 02:02:01'");
    EXPECT_EQ(zoned.AssignedTo(IntervalDaySecond).Text(), "<INTERVAL>");
    EXPECT_EQ(days.AssignedTo(IntervalDaySecond).Text(), "INTERVAL '3 00:00:00' DAY TO SECOND");
    EXPECT_EQ(days.AssignedTo(IntervalYearMonth).Text(), "<INTERVAL>");
    EXPECT_EQ(days.AssignedTo(Timestamp).Text(), "<TIMESTAMP>");
}

// Catalogue timestamps: the one-word record, calendar values and their texts, the options'
// dates, the DOS date and time words FAT and exFAT share, and Unix time in a given time zone.
#include "catalogue/date_time.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "test_support.h"

namespace fennick::catalogue {
namespace {

constexpr std::int64_t tps = Timestamp::ticks_per_second;
constexpr std::int64_t tpd = Timestamp::ticks_per_day;

TEST(TimestampTest, OneWordHoldsTheTicksAndTheClock) {
  static_assert(sizeof(Timestamp) == 8);
  static_assert(sizeof(FoundFile::created) + sizeof(FoundFile::modified) == 16);
  EXPECT_TRUE(Timestamp{}.missing());
  EXPECT_EQ(Timestamp{}.ticks(), 0);
  EXPECT_FALSE(Timestamp{}.is_local());
  // Tick 0 is the missing time whatever clock it names.
  EXPECT_TRUE(Timestamp::from_ticks(0, TimeBase::local).missing());
  EXPECT_FALSE(Timestamp::from_ticks(0, TimeBase::local).is_local());
  struct Case {
    std::int64_t ticks;
    TimeBase base;
  };
  for (const Case c :
       {Case{1, TimeBase::local}, Case{1, TimeBase::utc}, Case{-1, TimeBase::local},
        Case{-1, TimeBase::utc}, Case{Timestamp::max_ticks, TimeBase::local},
        Case{Timestamp::min_ticks, TimeBase::local}, Case{Timestamp::min_ticks, TimeBase::utc},
        Case{45306 * tpd + 3, TimeBase::utc}}) {
    SCOPED_TRACE(c.ticks);
    const Timestamp t = Timestamp::from_ticks(c.ticks, c.base);
    EXPECT_FALSE(t.missing());
    EXPECT_EQ(t.ticks(), c.ticks);
    EXPECT_EQ(t.base(), c.base);
    EXPECT_EQ(t.is_local(), c.base == TimeBase::local);
  }
  // Past what the word holds: missing.
  for (const std::int64_t ticks :
       {Timestamp::max_ticks + 1, Timestamp::min_ticks - 1,
        std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
    EXPECT_TRUE(Timestamp::from_ticks(ticks, TimeBase::utc).missing()) << ticks;
  }
}

TEST(TimestampTest, ComparesByTheTimeItShowsWhateverTheClock) {
  const Timestamp local = Timestamp::from_ticks(45306 * tpd, TimeBase::local);
  const Timestamp utc = Timestamp::from_ticks(45306 * tpd, TimeBase::utc);
  const Timestamp tick_later = Timestamp::from_ticks(45306 * tpd + 1, TimeBase::utc);
  EXPECT_EQ(local, utc);
  EXPECT_FALSE(local < utc || utc < local);
  EXPECT_LT(local, tick_later);
  EXPECT_GT(tick_later, utc);
  // Missing compares as 1899-12-30 00:00:00: after 1601, before 1980.
  const Timestamp year_1601 = Timestamp::from_ticks(-109205 * tpd, TimeBase::utc);
  EXPECT_LT(year_1601, Timestamp{});
  EXPECT_LT(Timestamp{}, make_timestamp(1980, 1, 1));
  EXPECT_LT(Timestamp::earliest(), year_1601);
  EXPECT_GT(Timestamp::latest(), make_timestamp(9999, 12, 31, 23, 59, 59, tps - 1));
}

TEST(TimestampTest, CalendarValuesAndTheirText) {
  EXPECT_TRUE(make_timestamp(1899, 12, 30).missing());
  EXPECT_EQ(make_timestamp(1970, 1, 1).ticks(), 25569 * tpd);
  EXPECT_EQ(make_timestamp(1980, 1, 1).ticks(), 29221 * tpd);
  EXPECT_TRUE(make_timestamp(1970, 1, 1).is_local());
  EXPECT_FALSE(make_timestamp(1970, 1, 1, 0, 0, 0, 0, TimeBase::utc).is_local());
  EXPECT_EQ(make_timestamp(2024, 1, 15, 9, 58, 30, 1234567).ticks(),
            45306 * tpd + (9 * 3600 + 58 * 60 + 30) * tps + 1234567);

  struct Text {
    Timestamp value;
    const char* text;
  };
  for (const Text& c : {
           Text{Timestamp{}, "1899-12-30 00:00:00"},
           Text{make_timestamp(2024, 2, 29, 23, 59, 58), "2024-02-29 23:59:58"},
           Text{Timestamp::from_ticks(-109205 * tpd, TimeBase::utc), "1601-01-01 00:00:00"},
           // Fractions are cut off, never rounded up into the next second, day or year.
           Text{make_timestamp(2024, 12, 31, 23, 59, 59, tps - 1), "2024-12-31 23:59:59"},
           Text{make_timestamp(2024, 1, 15, 9, 34, 0, 1), "2024-01-15 09:34:00"},
           Text{make_timestamp(2024, 1, 15, 9, 34, 0, tps / 2), "2024-01-15 09:34:00"},
           // Before 1899-12-30 the second a time lies in is the one shown.
           Text{Timestamp::from_ticks(-1, TimeBase::utc), "1899-12-29 23:59:59"},
           Text{Timestamp::from_ticks(-tps, TimeBase::utc), "1899-12-29 23:59:59"},
           Text{Timestamp::from_ticks(-tps - 1, TimeBase::utc), "1899-12-29 23:59:58"},
           Text{make_timestamp(1, 1, 1), "0001-01-01 00:00:00"},
           Text{make_timestamp(9999, 12, 31, 23, 59, 59, tps - 1), "9999-12-31 23:59:59"},
       }) {
    EXPECT_EQ(format_timestamp(c.value), c.text) << c.value.ticks();
  }

  struct Fields {
    int year, month, day, hour, minute, second;
    std::int64_t sub_ticks;
  };
  for (const Fields& f : {Fields{2023, 2, 29, 0, 0, 0, 0}, Fields{2024, 13, 1, 0, 0, 0, 0},
                          Fields{2024, 0, 1, 0, 0, 0, 0}, Fields{2024, 4, 31, 0, 0, 0, 0},
                          Fields{0, 1, 1, 0, 0, 0, 0}, Fields{10000, 1, 1, 0, 0, 0, 0},
                          Fields{2024, 1, 1, 24, 0, 0, 0}, Fields{2024, 1, 1, 0, 60, 0, 0},
                          Fields{2024, 1, 1, 0, 0, 60, 0}, Fields{2024, 1, 1, 0, 0, 0, tps},
                          Fields{2024, 1, 1, -1, 0, 0, 0}, Fields{2024, 1, 1, 0, 0, 0, -1}}) {
    EXPECT_TRUE(
        make_timestamp(f.year, f.month, f.day, f.hour, f.minute, f.second, f.sub_ticks).missing())
        << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute << ":"
        << f.second << " +" << f.sub_ticks;
  }
}

TEST(TimestampTest, OptionDatesAndTheDayAfter) {
  EXPECT_EQ(parse_timestamp("2005-03-01"), make_timestamp(2005, 3, 1));
  EXPECT_EQ(parse_timestamp("2005-03-01 12:30"), make_timestamp(2005, 3, 1, 12, 30));
  EXPECT_EQ(parse_timestamp("2005-03-01 12:30:45"), make_timestamp(2005, 3, 1, 12, 30, 45));
  EXPECT_TRUE(parse_timestamp("2005-03-01")->is_local());
  for (const char* bad : {"2005-02-30", "yesterday", "2005-03-01 25:00", "0000-01-01", "2005-03",
                          "2005-03-01 12", "2005-03-01 12:30:45x", "2005-03-01 12:60"}) {
    EXPECT_FALSE(parse_timestamp(bad).has_value()) << bad;
  }
  EXPECT_EQ(day_after(make_timestamp(2005, 3, 1)), make_timestamp(2005, 3, 2));
  EXPECT_EQ(day_after(make_timestamp(2024, 2, 28, 23, 59, 59, 7)),
            make_timestamp(2024, 2, 29, 23, 59, 59, 7));
  EXPECT_EQ(day_after(make_timestamp(2005, 12, 31)), make_timestamp(2006, 1, 1));
  EXPECT_TRUE(day_after(make_timestamp(2005, 3, 1)).is_local());
  EXPECT_FALSE(day_after(make_timestamp(2005, 3, 1, 0, 0, 0, 0, TimeBase::utc)).is_local());
  // The end of the last day there is, and of the day before the missing time's.
  EXPECT_EQ(day_after(make_timestamp(9999, 12, 31)).ticks(), 2958466 * tpd);
  EXPECT_TRUE(day_after(Timestamp::from_ticks(-tpd, TimeBase::local)).missing());
  EXPECT_TRUE(day_after(Timestamp::latest()).missing());
}

// DOS date and time words as FAT and exFAT store them, built field by field.
constexpr std::uint16_t dos_date(int y, int m, int d) {
  return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
constexpr std::uint16_t dos_time(int h, int m, int s) {
  return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2));
}

TEST(DosTimestampTest, WordsAndTenMillisecondCountsDecodeToLocalTime) {
  struct Case {
    const char* what;
    std::uint16_t date;
    std::uint16_t time;
    std::uint8_t hundredths;
    Timestamp expected;  // missing: the words hold no date
  };
  const Case cases[] = {
      {"plain", dos_date(2024, 1, 15), dos_time(9, 58, 30), 0,
       make_timestamp(2024, 1, 15, 9, 58, 30)},
      {"10 ms units", dos_date(2024, 1, 15), dos_time(9, 58, 30), 37,
       make_timestamp(2024, 1, 15, 9, 58, 30, 370 * tps / 1000)},
      {"an odd second", dos_date(2024, 1, 15), dos_time(9, 58, 30), 100,
       make_timestamp(2024, 1, 15, 9, 58, 31)},
      {"the largest count", dos_date(2024, 1, 15), dos_time(23, 59, 58), 199,
       make_timestamp(2024, 1, 15, 23, 59, 59, 990 * tps / 1000)},
      {"a count past 199 is left out", dos_date(2024, 1, 15), dos_time(9, 58, 30), 200,
       make_timestamp(2024, 1, 15, 9, 58, 30)},
      {"the first day", dos_date(1980, 1, 1), 0, 0, make_timestamp(1980, 1, 1)},
      {"the last day", dos_date(2107, 12, 31), dos_time(23, 59, 58), 0,
       make_timestamp(2107, 12, 31, 23, 59, 58)},
      {"a leap day", dos_date(2024, 2, 29), 0, 0, make_timestamp(2024, 2, 29)},
      {"hour 31: the date alone", dos_date(2024, 3, 1), 0xFFFF, 50, make_timestamp(2024, 3, 1)},
      {"second 60: the date alone", dos_date(2024, 3, 1), dos_time(1, 2, 60), 0,
       make_timestamp(2024, 3, 1)},
      {"minute 60: the date alone", dos_date(2024, 3, 1), dos_time(1, 60, 0), 0,
       make_timestamp(2024, 3, 1)},
      {"hour 24: the date alone", dos_date(2024, 3, 1), dos_time(24, 0, 0), 0,
       make_timestamp(2024, 3, 1)},
      {"date word 0", 0, dos_time(1, 2, 4), 10, Timestamp{}},
      {"no leap day", dos_date(2023, 2, 29), 0, 0, Timestamp{}},
      {"month 13", dos_date(2024, 13, 1), 0, 0, Timestamp{}},
      {"month 0", dos_date(2024, 0, 1), 0, 0, Timestamp{}},
      {"day 0", dos_date(2024, 4, 0), 0, 0, Timestamp{}},
      {"April 31", dos_date(2024, 4, 31), 0, 0, Timestamp{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Timestamp got = decode_dos_timestamp(c.date, c.time, c.hundredths);
    EXPECT_EQ(got, c.expected) << format_timestamp(got);
    EXPECT_EQ(got.missing(), c.expected.missing());
    EXPECT_EQ(got.is_local(), !c.expected.missing());
  }
}

TEST(UnixTimeTest, ExactToTheTickWithLocalTimesInTheMachinesZone) {
  struct Case {
    const char* what;
    const char* zone;
    Timestamp value;
    std::optional<UnixTime> expected;
  };
  constexpr TimeBase utc = TimeBase::utc;
  constexpr TimeBase local = TimeBase::local;
  // A zone given by its rule, so no zone database is needed: UTC+1, UTC+2 in summer.
  const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
  const Case cases[] = {
      {"UTC", cet, make_timestamp(2024, 1, 15, 12, 0, 0, 0, utc), UnixTime{1705320000, 0}},
      {"UTC, 100 ns", cet, make_timestamp(2024, 1, 15, 12, 0, 0, 1234567, utc),
       UnixTime{1705320000, 123456700}},
      {"UTC, last tick of a second", cet, make_timestamp(2024, 1, 15, 12, 0, 0, tps - 1, utc),
       UnixTime{1705320000, 999999900}},
      {"local in UTC", "UTC0", make_timestamp(2024, 1, 15, 12, 0, 0, 0, local),
       UnixTime{1705320000, 0}},
      {"local in winter", cet, make_timestamp(2024, 1, 15, 9, 0, 0, 100000, local),
       UnixTime{1705305600, 10000000}},
      {"local in summer", cet, make_timestamp(2024, 7, 15, 9, 0, 0, 0, local),
       UnixTime{1721026800, 0}},
      {"two seconds after 1980", "UTC0", make_timestamp(1980, 1, 1, 0, 0, 2, 0, utc),
       UnixTime{315532802, 0}},
      {"the last tick of 9999", cet, make_timestamp(9999, 12, 31, 23, 59, 59, tps - 1, utc),
       UnixTime{253402300799, 999999900}},
      {"missing", cet, Timestamp{}, std::nullopt},
      {"1980-01-01 00:00", "UTC0", make_timestamp(1980, 1, 1, 0, 0, 0, 0, utc), std::nullopt},
      {"1601", cet, Timestamp::from_ticks(-109205 * tpd, utc), std::nullopt},
      {"1975", cet, make_timestamp(1975, 6, 1, 0, 0, 0, 0, utc), std::nullopt},
      {"the year 10000", cet, day_after(make_timestamp(9999, 12, 31, 0, 0, 0, 0, utc)),
       std::nullopt},
      {"the word's last time", cet, Timestamp::latest(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::ZoneScope zone(c.zone);
    const std::optional<UnixTime> got = unix_time_of(c.value);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got) continue;
    EXPECT_EQ(got->seconds, c.expected->seconds);
    EXPECT_EQ(got->nanoseconds, c.expected->nanoseconds);
  }
}

}  // namespace
}  // namespace fennick::catalogue

// Timestamps of found files: 100-nanosecond ticks counted from 1899-12-30 00:00, marked as local
// wall-clock time or UTC. Building them from calendar fields and from the DOS date and time
// words FAT and exFAT store, showing them as "YYYY-MM-DD HH:MM:SS", reading them from options,
// and turning them into Unix time.
#pragma once

#include <compare>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace fennick::catalogue {

// The clock a timestamp was read on: FAT keeps local wall-clock time with no zone, NTFS keeps
// UTC, exFAT keeps UTC when its entry gives a valid offset and local time otherwise.
enum class TimeBase : std::uint8_t { utc = 0, local = 1 };

// One date and time in a single 64-bit word: the signed tick count above bit 0, the time base
// in bit 0. A tick is 100 ns, which holds FAT's 2 s and 10 ms, exFAT's 10 ms and NTFS's 100 ns
// exactly. The tick count 0 (1899-12-30 00:00:00) means "missing or invalid on disk", and a
// missing time is always the all-zero word.
class Timestamp {
 public:
  static constexpr std::int64_t ticks_per_second = 10'000'000;
  static constexpr std::int64_t ticks_per_day = 86'400 * ticks_per_second;
  // The tick counts the word holds (about 14,600 years either way).
  static constexpr std::int64_t max_ticks = std::numeric_limits<std::int64_t>::max() / 2;
  static constexpr std::int64_t min_ticks = -max_ticks - 1;

  constexpr Timestamp() = default;

  // The time `ticks` after 1899-12-30 00:00 on that clock; missing when ticks is 0 or lies
  // outside [min_ticks, max_ticks].
  static constexpr Timestamp from_ticks(std::int64_t ticks, TimeBase base) {
    Timestamp t;
    if (ticks != 0 && ticks >= min_ticks && ticks <= max_ticks) {
      t.bits_ = ticks * 2 + (base == TimeBase::local ? 1 : 0);
    }
    return t;
  }

  // The earliest and the latest time the word holds, far from any a volume keeps: open ends
  // of a range.
  static constexpr Timestamp earliest() { return from_ticks(min_ticks, TimeBase::utc); }
  static constexpr Timestamp latest() { return from_ticks(max_ticks, TimeBase::utc); }

  constexpr std::int64_t ticks() const { return bits_ >> 1; }
  constexpr bool is_local() const { return (bits_ & 1) != 0; }
  constexpr TimeBase base() const { return is_local() ? TimeBase::local : TimeBase::utc; }
  constexpr bool missing() const { return bits_ == 0; }

  // Timestamps compare by the date and time they show, whatever clock they were read on (the
  // list sorts and filters them so); a missing one compares as 1899-12-30 00:00:00.
  friend constexpr bool operator==(Timestamp a, Timestamp b) { return a.ticks() == b.ticks(); }
  friend constexpr std::weak_ordering operator<=>(Timestamp a, Timestamp b) {
    return a.ticks() <=> b.ticks();
  }

 private:
  std::int64_t bits_ = 0;
};
static_assert(sizeof(Timestamp) == 8);

// Days from 1899-12-30 to the given date of the proleptic Gregorian calendar.
long long days_from_civil(int year, int month, int day);
bool valid_civil_date(int year, int month, int day);

// The time at the date and time of day, plus sub_ticks (below one second). Missing when the
// date is not a real one of the years 1 to 9999 or a field of the time is out of range.
Timestamp make_timestamp(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         std::int64_t sub_ticks = 0, TimeBase base = TimeBase::local);

// The same time one day later, on the same clock: the exclusive end of a day given as a date.
Timestamp day_after(Timestamp value);

// "YYYY-MM-DD HH:MM:SS"; the fraction of the second is cut off, not rounded, as other readers
// of these volumes show times. A missing time shows as "1899-12-30 00:00:00".
std::string format_timestamp(Timestamp value);

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]", as local time; nothing when malformed or not a
// real date.
std::optional<Timestamp> parse_timestamp(std::string_view text);

// A DOS date word (day 0-4, month 5-8, years since 1980 9-15) and time word (2-second count
// 0-4, minute 5-10, hour 11-15) as FAT and exFAT store them, with a count of 10 ms units
// (0-199) on top: local time. Missing when the date word is 0 or not a real date; a time word
// out of range gives the date at 00:00, and a count above 199 is left out.
Timestamp decode_dos_timestamp(std::uint16_t date, std::uint16_t time, std::uint8_t hundredths = 0);

// The moment a timestamp stands for, as seconds and nanoseconds since 1970-01-01 00:00 UTC,
// exact to the tick. Local wall-clock time is read in this machine's time zone (mktime).
struct UnixTime {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;  // 0 .. 999,999,900
};
// None for a missing time, for one not after 1980-01-01 00:00 (no file on these file systems
// is older: such a value stands for a missing one) or past the year 9999, and for a local
// time this machine's time zone cannot place.
std::optional<UnixTime> unix_time_of(Timestamp value);

}  // namespace fennick::catalogue

// Calendar arithmetic, texts and Unix time of catalogue timestamps.
#include "catalogue/date_time.h"

#include <cstdio>
#include <ctime>

namespace fennick::catalogue {

namespace {

constexpr std::int64_t ticks_per_second = Timestamp::ticks_per_second;
constexpr std::int64_t ticks_per_day = Timestamp::ticks_per_day;

// Day number of 1899-12-30 counted from 1970-01-01.
constexpr long long epoch_1899 = -25569;

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
constexpr long long days_since_1970(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// a / b and a % b rounded toward minus infinity (b > 0), so that a time before 1899-12-30
// shows the second and day it lies in.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - (a % b < 0 ? 1 : 0);
}
constexpr std::int64_t floor_mod(std::int64_t a, std::int64_t b) { return a - floor_div(a, b) * b; }

// Ticks of 1970-01-01, of 1980-01-01 and of 10000-01-01, all 00:00.
constexpr std::int64_t unix_epoch_ticks = -epoch_1899 * ticks_per_day;
constexpr std::int64_t year_1980_ticks = (days_since_1970(1980, 1, 1) - epoch_1899) * ticks_per_day;
constexpr std::int64_t year_10000_ticks =
    (days_since_1970(10000, 1, 1) - epoch_1899) * ticks_per_day;

}  // namespace

long long days_from_civil(int year, int month, int day) {
  return days_since_1970(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
         epoch_1899;
}

bool valid_civil_date(int year, int month, int day) {
  static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

Timestamp make_timestamp(int year, int month, int day, int hour, int minute, int second,
                         std::int64_t sub_ticks, TimeBase base) {
  if (year < 1 || year > 9999 || !valid_civil_date(year, month, day)) return {};
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return {};
  if (sub_ticks < 0 || sub_ticks >= ticks_per_second) return {};
  // At most 3,000,000 days either way: far inside the tick range.
  const std::int64_t in_day = (hour * 3600 + minute * 60 + second) * ticks_per_second + sub_ticks;
  return Timestamp::from_ticks(days_from_civil(year, month, day) * ticks_per_day + in_day, base);
}

Timestamp day_after(Timestamp value) {
  if (value.ticks() > Timestamp::max_ticks - ticks_per_day) return {};
  return Timestamp::from_ticks(value.ticks() + ticks_per_day, value.base());
}

std::string format_timestamp(Timestamp value) {
  const std::int64_t seconds = floor_div(value.ticks(), ticks_per_second);
  const std::int64_t days = floor_div(seconds, 86400);
  const std::int64_t rest = floor_mod(seconds, 86400);
  long long y = 0;
  unsigned m = 0, d = 0;
  civil_from_days(days + epoch_1899, y, m, d);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

std::optional<Timestamp> parse_timestamp(std::string_view text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  const std::string t(text);
  const int n =
      std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n != 3 && n != 5 && n != 6) return std::nullopt;
  if (y < 1 || !valid_civil_date(y, mo, d) || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 ||
      s < 0) {
    return std::nullopt;
  }
  return make_timestamp(y, mo, d, h, mi, s);
}

Timestamp decode_dos_timestamp(std::uint16_t date, std::uint16_t time, std::uint8_t hundredths) {
  if (date == 0) return {};
  const int day = date & 0x1F;
  const int month = (date >> 5) & 0x0F;
  const int year = 1980 + (date >> 9);
  if (!valid_civil_date(year, month, day)) return {};
  const int second = (time & 0x1F) * 2;
  const int minute = (time >> 5) & 0x3F;
  const int hour = time >> 11;
  if (second > 59 || minute > 59 || hour > 23) return make_timestamp(year, month, day);
  const Timestamp whole = make_timestamp(year, month, day, hour, minute, second);
  if (hundredths > 199) return whole;
  return Timestamp::from_ticks(whole.ticks() + hundredths * (ticks_per_second / 100),
                               TimeBase::local);
}

std::optional<UnixTime> unix_time_of(Timestamp value) {
  const std::int64_t ticks = value.ticks();
  if (ticks <= year_1980_ticks || ticks >= year_10000_ticks) return std::nullopt;
  const std::int64_t since_1970 = ticks - unix_epoch_ticks;  // positive
  UnixTime out;
  out.seconds = since_1970 / ticks_per_second;
  out.nanoseconds = since_1970 % ticks_per_second * 100;
  if (value.is_local()) {
    // Wall-clock fields, read as this machine's local time.
    const auto wall = static_cast<time_t>(out.seconds);
    struct tm fields {};
    if (gmtime_r(&wall, &fields) == nullptr) return std::nullopt;
    fields.tm_isdst = -1;
    const time_t local = mktime(&fields);
    if (local == static_cast<time_t>(-1)) return std::nullopt;
    out.seconds = static_cast<std::int64_t>(local);
  }
  return out;
}

}  // namespace fennick::catalogue

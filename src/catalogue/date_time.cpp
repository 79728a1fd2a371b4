// Calendar arithmetic for catalogue date-times.
#include "catalogue/date_time.h"

#include <cmath>
#include <cstdio>

namespace fennick::catalogue {

namespace {

// Day number of 1899-12-30 counted from 1970-01-01.
constexpr long long epoch_1899 = -25569;

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
long long days_since_1970(long long y, unsigned m, unsigned d) {
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

DateTime make_datetime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<double>(days_from_civil(year, month, day)) +
         (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

std::string format_datetime(DateTime value) {
  if (!std::isfinite(value) || value < -1e8 || value > 1e8) value = 0;
  long long seconds = std::llround(value * 86400.0);
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  long long y = 0;
  unsigned m = 0, d = 0;
  civil_from_days(days + epoch_1899, y, m, d);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, rest / 3600,
                rest / 60 % 60, rest % 60);
  return text;
}

std::optional<DateTime> parse_datetime(std::string_view text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  const std::string t(text);
  const int n =
      std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n != 3 && n != 5 && n != 6) return std::nullopt;
  if (!valid_civil_date(y, mo, d) || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
    return std::nullopt;
  }
  return make_datetime(y, mo, d, h, mi, s);
}

}  // namespace fennick::catalogue

// Date-time values of the catalogue (days since 1899-12-30, time of day as the fraction):
// building them from calendar fields, and showing them as "YYYY-MM-DD HH:MM:SS".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"

namespace fennick::catalogue {

// Days from 1899-12-30 to the given date of the proleptic Gregorian calendar.
long long days_from_civil(int year, int month, int day);
bool valid_civil_date(int year, int month, int day);
// The date at the given time of day; fields are not checked.
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// "YYYY-MM-DD HH:MM:SS", the time rounded to the nearest second.
std::string format_datetime(DateTime value);
// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"; nothing when malformed or not a real date.
std::optional<DateTime> parse_datetime(std::string_view text);

}  // namespace fennick::catalogue

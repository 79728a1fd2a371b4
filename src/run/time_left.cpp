// Time-left estimate of a run.
#include "run/time_left.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fennick::run {

std::optional<std::int64_t> TimeLeft::seconds_left(double fraction_done,
                                                   Clock::time_point now) const {
  if (!(fraction_done >= 0.01)) return std::nullopt;  // also NaN
  if (fraction_done >= 1.0) return 0;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (elapsed < 2.0) return std::nullopt;
  const double left = elapsed * (1.0 - fraction_done) / fraction_done;
  // A run estimated to take beyond 100 days is shown as that; nothing real takes so long.
  constexpr double most = 100.0 * 86400.0;
  return static_cast<std::int64_t>(std::ceil(std::min(left, most)));
}

std::string clock_text(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t hours = seconds / 3600;
  const auto minutes = static_cast<int>(seconds / 60 % 60);
  const auto secs = static_cast<int>(seconds % 60);
  char text[48];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(hours), minutes,
                  secs);
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", minutes, secs);
  }
  return text;
}

}  // namespace fennick::run

// The time a run has left, estimated from the time it has taken and the share of its work
// done, and the way both front ends write it ("0:42", "12:05", "1:02:03").
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace fennick::run {

class TimeLeft {
 public:
  using Clock = std::chrono::steady_clock;

  // The run starts now.
  void restart(Clock::time_point now = Clock::now()) { start_ = now; }
  // Whole seconds left, rounded up; none until at least 1 % is done and two seconds have
  // passed, since the first moments of a run (opening volumes, a burst of small files) say
  // little about the rest.
  std::optional<std::int64_t> seconds_left(double fraction_done,
                                           Clock::time_point now = Clock::now()) const;

 private:
  Clock::time_point start_ = Clock::now();
};

// "m:ss" below an hour, "h:mm:ss" from one hour.
std::string clock_text(std::int64_t seconds);

}  // namespace fennick::run

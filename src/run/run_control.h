// The state one long operation (a scan, a recovery run, a wipe run, a Clean Disk job) shares
// with the front end that started it: the stop request, the work counters and the event pump.
//
// A front end makes one RunControl per run and passes it down; nothing else holds run state.
// The stop request is an atomic flag, so a signal handler or another thread may set it while
// the run's loops read it after every piece of work.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace fennick::run {

class RunControl {
 public:
  RunControl() = default;
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // Asks the run to end after its current piece of work. Safe in a signal handler.
  void request_stop() noexcept { stop_.store(true, std::memory_order_relaxed); }
  // A new run starts with no stop request and its media in place.
  void clear_stop() noexcept {
    stop_.store(false, std::memory_order_relaxed);
    source_lost_.store(false, std::memory_order_relaxed);
  }
  bool stop_requested() const noexcept { return stop_.load(std::memory_order_relaxed); }

  // A medium the run reads has gone away: the run ends as if stopped, and counts as failed.
  // True for the first report of the run, so that it is told once.
  bool lose_source() noexcept {
    request_stop();
    return !source_lost_.exchange(true, std::memory_order_relaxed);
  }
  bool source_lost() const noexcept { return source_lost_.load(std::memory_order_relaxed); }

  // Lets the front end handle waiting events (a window's Stop button sets the request
  // there). The long loops call it between pieces of work; with no pump set it does nothing.
  void pump_events() {
    if (event_pump) event_pump();
  }
  std::function<void()> event_pump;

  // Recovery run: total bytes of the run's files and bytes written so far.
  // Wipe run: files in the run and files wiped so far.
  std::atomic<std::int64_t> work_total{0};
  std::atomic<std::int64_t> work_done{0};
  // Recovery run: files in the run and files finished, so that the progress also moves
  // through thousands of small files after one large one.
  std::atomic<std::int64_t> files_total{0};
  std::atomic<std::int64_t> files_done{0};

 private:
  static_assert(std::atomic<bool>::is_always_lock_free, "the stop request is set by signals");
  std::atomic<bool> stop_{false};
  std::atomic<bool> source_lost_{false};
};

}  // namespace fennick::run

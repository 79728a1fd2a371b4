// The stop signals of fennick-cli.
#include "cli/stop_signals.h"

#include <atomic>

namespace fennick::cli {

namespace {

// The run the handlers stop, and what a repeated signal does. A handler may only touch
// lock-free atomics: the pointer here and the run's stop flag.
std::atomic<run::RunControl*> stopping_run{nullptr};
std::atomic<bool> repeat_ends_program{false};
static_assert(std::atomic<run::RunControl*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_stop_signal(int signal_number) {
  run::RunControl* run = stopping_run.load();
  if (run != nullptr) run->request_stop();
  if (repeat_ends_program.load()) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

StopSignals::StopSignals(run::RunControl& run, Repeat repeat) {
  stopping_run.store(&run);
  repeat_ends_program.store(repeat == Repeat::ends_program);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(signals_[i], &action, &saved_[i]);
}

StopSignals::~StopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(signals_[i], &saved_[i], nullptr);
  stopping_run.store(nullptr);
}

}  // namespace fennick::cli

// Ctrl-C (and SIGTERM / SIGHUP) during a command: the signal asks the run to stop, the way
// the window's Stop does, and the running loop ends cleanly after its current piece.
#pragma once

#include <csignal>

#include "run/run_control.h"

namespace fennick::cli {

class StopSignals {
 public:
  // What a second signal does while the run is still ending.
  enum class Repeat {
    ends_program,  // the default action: a run stuck in a read can still be left
    asks_again,    // the run must finish its clean-up (Clean Disk's files) whatever happens
  };
  // Installs the handlers for the run; only one StopSignals may exist at a time.
  StopSignals(run::RunControl& run, Repeat repeat);
  // Puts the earlier handlers back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int signals_[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[3]{};
};

}  // namespace fennick::cli

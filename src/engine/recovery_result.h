// How the recovery of one found file ended, for callers that need more than the log line
// (the command line's exit status, the recovery run's counters).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace fennick::engine {

enum class RecoveryOutcome {
  recovered,         // every byte the volume still held was copied
  failed,            // message 72 was logged: an output or volume error
  stopped,           // the run was stopped during the file
  destination_full,  // the destination has no room for it: the run must end
};

struct RecoveryResult {
  bool output_created = false;    // the output file could be created
  bool failed = false;            // message 72 was logged (output or volume error)
  bool stopped = false;           // the run's stop request ended it
  bool destination_full = false;  // the destination has no room for it: the run must end
  std::int64_t bytes_written = 0;
  // Bytes of the file written as zeros because the volume could not be read there, each
  // [first, end); the file is failed when there are any.
  std::vector<std::pair<std::int64_t, std::int64_t>> zero_ranges;

  RecoveryOutcome outcome() const {
    if (destination_full) return RecoveryOutcome::destination_full;
    if (failed) return RecoveryOutcome::failed;
    if (stopped) return RecoveryOutcome::stopped;
    return RecoveryOutcome::recovered;
  }
};

}  // namespace fennick::engine

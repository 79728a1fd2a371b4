// How the recovery of one catalogued file ended, for callers that need more than the log
// line (the command line's exit status, the undelete run's counters).
#pragma once

#include <cstdint>

namespace fennick::catalogue {

struct RecoveryResult {
  bool output_created = false;    // the output file could be created
  bool failed = false;            // message 72 was logged (output or volume error)
  bool stopped = false;           // stop_flag ended it
  bool destination_full = false;  // the destination has no room for it: the run must end
  std::int64_t bytes_written = 0;
};

}  // namespace fennick::catalogue

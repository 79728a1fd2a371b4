// How the recovery of one found file ended, for callers that need more than the log line
// (the command line's exit status, the recovery run's counters, the manifest), and the one
// place that turns it into the line that ends the file's recovery in the log.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "messages/status_channel.h"

namespace fennick::engine {

// Bytes of a recovered file, each [first, end), in file order.
using ByteRanges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// How one file came out. Only `recovered` is the whole file as it was deleted; every other
// outcome says what of the output not to trust.
enum class RecoveryOutcome {
  recovered,      // every byte copied from where the file lay
  overwritten,    // copied, but graded overwritten: the content is likely another file's
  damaged_units,  // compressed units that did not decode are zeros from where they failed
  zeros,          // zeros stand for bytes the medium could not deliver
  interrupted,    // a stop cut the file short: the output holds what was written until then
  failed,         // an output or volume error, logged with message 72
};

struct RecoveryResult {
  bool output_created = false;    // the output file could be created
  bool failed = false;            // message 72 was logged (output or volume error)
  bool stopped = false;           // the run's stop request cut the file short
  bool destination_full = false;  // the destination has no room for it: the run must end
  bool overwritten = false;       // the found file is graded overwritten
  std::int64_t bytes_written = 0;
  // Bytes of the file written as zeros because the volume could not be read there.
  ByteRanges zero_ranges;
  // Bytes of the file left as zeros because their compressed unit did not decode past them.
  ByteRanges damaged_ranges;

  RecoveryOutcome outcome() const {
    if (failed || destination_full) return RecoveryOutcome::failed;
    if (stopped) return RecoveryOutcome::interrupted;
    if (!zero_ranges.empty()) return RecoveryOutcome::zeros;
    if (!damaged_ranges.empty()) return RecoveryOutcome::damaged_units;
    if (overwritten) return RecoveryOutcome::overwritten;
    return RecoveryOutcome::recovered;
  }
};

// The ranges as the log names them: "4608-5631, 12288-16383", the first few, then "(+N)"
// for how many more there are.
std::string byte_ranges_text(const ByteRanges& ranges);

// Ends the recovery of a file whose output was written and closed: notes whether the found
// file is graded overwritten and logs the one line that says how the file came out (message
// 74 only for a whole file; 73 with the path for an interrupted one, followed by what of it
// is zeros). A failed recovery has logged its reason already and gets no further line.
void finish_recovery(RecoveryResult& result, const catalogue::FoundFile& record,
                     const std::string& output_path, messages::StatusChannel& channel);

}  // namespace fennick::engine

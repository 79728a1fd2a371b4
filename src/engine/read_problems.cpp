// Sector-reader problems as log lines.
#include "engine/read_problems.h"

namespace fennick::engine {

volume::ReadProblemHandler report_to(messages::StatusChannel& channel) {
  return [&channel](const volume::ReadProblem& problem) {
    // A window computed outside the volume is a note for the log; everything else means a
    // read the operation needed did not happen.
    const bool serious = problem.kind != volume::ReadProblemKind::window_out_of_range;
    channel.out_text(problem.text,
                     serious ? messages::DialogKind::error : messages::DialogKind::plain, serious);
  };
}

}  // namespace fennick::engine

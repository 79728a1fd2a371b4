// A recovery run's progress bar.
#include "engine/run_progress.h"

#include <algorithm>
#include <cmath>

namespace fennick::engine {

void show_run_progress(const run::RunControl& run, messages::StatusChannel& channel) {
  const std::int64_t total = run.work_total;
  if (total <= 0) return;
  const double percent = static_cast<double>(run.work_done) / static_cast<double>(total) * 100.0;
  channel.set_progress(static_cast<std::int32_t>(std::lround(std::clamp(percent, 0.0, 100.0))));
}

}  // namespace fennick::engine

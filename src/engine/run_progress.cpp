// A recovery run's progress bar.
#include "engine/run_progress.h"

#include <algorithm>
#include <cmath>

namespace fennick::engine {

void show_run_progress(const run::RunControl& run, messages::StatusChannel& channel) {
  const std::int64_t total = run.work_total;
  if (total <= 0) return;
  double share = static_cast<double>(run.work_done) / static_cast<double>(total);
  // Bytes and files count half each: after one large file the bar still moves through the
  // thousands of small ones, and a large file moves it while it is copied.
  if (const std::int64_t files = run.files_total; files > 0) {
    share = (share + static_cast<double>(run.files_done) / static_cast<double>(files)) / 2.0;
  }
  const double percent = share * 100.0;
  channel.set_progress(static_cast<std::int32_t>(std::lround(std::clamp(percent, 0.0, 100.0))));
}

}  // namespace fennick::engine

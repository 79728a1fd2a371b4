// A recovery run's progress bar.
#include "engine/run_progress.h"

#include <algorithm>
#include <cmath>

namespace fennick::engine {

void show_run_progress(const run::RunControl& run, messages::StatusChannel& channel) {
  const std::int64_t total = run.work_total;
  const std::int64_t files = run.files_total;
  if (total <= 0 && files <= 0) return;
  // Bytes and files count half each: after one large file the bar still moves through the
  // thousands of small ones, and a large file moves it while it is copied. A run of empty
  // files moves by files alone.
  const double bytes_share =
      total > 0 ? static_cast<double>(run.work_done) / static_cast<double>(total) : -1.0;
  const double files_share =
      files > 0 ? static_cast<double>(run.files_done) / static_cast<double>(files) : -1.0;
  const double share = bytes_share < 0   ? files_share
                       : files_share < 0 ? bytes_share
                                         : (bytes_share + files_share) / 2.0;
  const double percent = share * 100.0;
  channel.set_progress(static_cast<std::int32_t>(std::lround(std::clamp(percent, 0.0, 100.0))));
}

}  // namespace fennick::engine

// A recovery run's progress bar: the share of the run's work (bytes and files) done so far.
#pragma once

#include "messages/status_channel.h"
#include "run/run_control.h"

namespace fennick::engine {

// Sets the channel's progress in percent (0..100, rounded): work_done ÷ work_total, averaged
// with files_done ÷ files_total when the run counts files (either alone when the other total
// is 0); nothing when the run has no total.
void show_run_progress(const run::RunControl& run, messages::StatusChannel& channel);

}  // namespace fennick::engine

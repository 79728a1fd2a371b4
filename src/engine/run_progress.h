// A recovery run's progress bar: the share of the run's work (bytes) done so far.
#pragma once

#include "messages/status_channel.h"
#include "run/run_control.h"

namespace fennick::engine {

// Sets the channel's progress to work_done ÷ work_total in percent (0..100, rounded); nothing
// when the run has no total.
void show_run_progress(const run::RunControl& run, messages::StatusChannel& channel);

}  // namespace fennick::engine

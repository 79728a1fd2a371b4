// How the engines report what their sector readers meet: the reader only describes a
// problem; this turns it into the channel's log line, with an error dialog for the problems
// that end the operation or lose a read. Unreadable stretches of a failing medium are log
// lines only: a dying disk may have hundreds, and the operation goes on past them.
#pragma once

#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/sector_reader.h"

namespace fennick::engine {

// A problem handler that writes to the channel. The channel must outlive the reader.
volume::ReadProblemHandler report_to(messages::StatusChannel& channel);

// As above, for a reader of a run: a medium that goes away ends the run (one line and one
// dialog for the whole run, however many readers meet it). The run must outlive the reader.
volume::ReadProblemHandler report_to(messages::StatusChannel& channel, run::RunControl& run);

}  // namespace fennick::engine

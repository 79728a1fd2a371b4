// How the engines report what their sector readers meet: the reader only describes a
// problem; this turns it into the channel's log line, with an error dialog for the problems
// that end the operation or lose a read.
#pragma once

#include "messages/status_channel.h"
#include "volume/sector_reader.h"

namespace fennick::engine {

// A problem handler that writes to the channel. The channel must outlive the reader.
volume::ReadProblemHandler report_to(messages::StatusChannel& channel);

}  // namespace fennick::engine

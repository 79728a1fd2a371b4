// Scanning the drives of the drive table one after another, with the per-drive log lines,
// for every front end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace fennick::dispatch {

// The pause after a drive's " Scan C:\ ..." line, which gives a window the time to show the
// line before the volume is read. A terminal shows it at once: the command line sets 0.
extern std::chrono::milliseconds pause_before_scan;

// Scans current_drive: logs " Scan C:\ ...", pauses (pause_before_scan), runs the engine, and logs
// " ERROR: Drive Error", " Process interrupted" or " End scan C:\". True when the volume was
// scanned (also when stopped), false when it could not be.
bool scan_drive();

// Scans every ticked drive in table order until stop_flag is set; each scanned drive's
// folder list is then sorted by parent id. True when any drive could be scanned.
bool scan_ticked_drives();

// Message number of the status word of a quality (43 "Error" .. 50 "Very Good"), or -1 for
// a value that has no word.
int status_message(std::int8_t quality);

}  // namespace fennick::dispatch

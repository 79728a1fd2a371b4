// The scan run: scanning the ticked drives one after another with their log lines, for
// every front end.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include "catalogue/catalogue.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "workflow/drive_list.h"

namespace fennick::workflow {

struct ScanSettings {
  // The pause after a drive's " Scan C:\ ..." line, which gives a window the time to show
  // the line before the volume is read. A terminal shows it at once: the command line sets 0.
  std::chrono::milliseconds pause_before_scan{50};
  // Called before each drive is scanned and after it (scanned tells whether the volume could
  // be read), with the drive's index in the list; the window builds its folder tree there.
  std::function<void(std::size_t)> before_drive;
  std::function<void(std::size_t, bool scanned)> after_drive;
  // After the ordinary scan, read each volume whole for what it could not reach (deep scan).
  bool deep = false;
};

// Scans one drive: logs " Scan C:\ ..." (" Scan C:\ (usb.img #1) ..." for a volume inside a
// disk), pauses, runs the drive's engine, and logs " ERROR: Drive Error", " Process
// interrupted" or " End scan C:\". True when the volume was scanned (also when stopped),
// false when it could not be.
bool scan_drive(const Drive& drive, catalogue::Catalogue& catalogue, run::RunControl& run,
                messages::StatusChannel& channel, const ScanSettings& settings);

struct ScanSummary {
  bool any_scanned = false;  // some drive could be scanned
  bool all_scanned = true;   // no drive the run reached failed
};

// Scans every ticked drive in list order until the run is stopped; each scanned drive's
// folder list is then sorted by parent id. The catalogue and the stop request are the
// caller's to clear before.
ScanSummary scan_ticked_drives(const DriveList& drives, catalogue::Catalogue& catalogue,
                               run::RunControl& run, messages::StatusChannel& channel,
                               const ScanSettings& settings);

}  // namespace fennick::workflow

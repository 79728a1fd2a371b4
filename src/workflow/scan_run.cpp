// The per-drive scan and the run over the ticked drives.
#include "workflow/scan_run.h"

#include <cctype>
#include <thread>

#include "messages/message_ids.h"
#include "workflow/engines.h"

namespace fennick::workflow {

namespace {

std::string drive_root(char letter) {
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) +
         ":\\";
}

}  // namespace

bool scan_drive(const Drive& drive, catalogue::Catalogue& catalogue, run::RunControl& run,
                messages::StatusChannel& channel, const ScanSettings& settings) {
  const std::string root = drive_root(drive.drive_letter);
  // A volume inside a disk says which one it is: " Scan D:\\ (usb.img #2) ...".
  const bool inside = drive.partition_number > 0 || drive.offset > 0;
  channel.log(channel.text(messages::scan_started) + root +
              (inside ? " (" + source_place(drive) + ")" : std::string()) + " ...");
  if (settings.pause_before_scan.count() > 0)
    std::this_thread::sleep_for(settings.pause_before_scan);
  const engine::Engine* engine = engine_for(drive.kind);
  // A medium that goes away during the scan ends it (the reader has said so); what was
  // found before stays listed.
  const bool scanned =
      engine != nullptr && (settings.deep ? engine->deep_scan(drive, catalogue, run, channel)
                                          : engine->scan(drive, catalogue, run, channel));
  if (!scanned || run.source_lost()) {
    channel.log(channel.text(messages::drive_error));
    return false;
  }
  if (run.stop_requested()) {
    channel.log(channel.text(messages::process_interrupted));
    return true;
  }
  channel.log(channel.text(messages::scan_ended) + root);
  return true;
}

ScanSummary scan_ticked_drives(const DriveList& drives, catalogue::Catalogue& catalogue,
                               run::RunControl& run, messages::StatusChannel& channel,
                               const ScanSettings& settings) {
  ScanSummary summary;
  for (std::size_t i = 0; i < drives.size(); ++i) {
    if (!drives[i].ticked || run.stop_requested()) continue;
    if (settings.before_drive) settings.before_drive(i);
    const bool scanned = scan_drive(drives[i], catalogue, run, channel, settings);
    if (scanned) {
      summary.any_scanned = true;
      catalogue.sort_folders(drives[i].drive_index);
    } else {
      summary.all_scanned = false;
    }
    if (settings.after_drive) settings.after_drive(i, scanned);
  }
  return summary;
}

}  // namespace fennick::workflow

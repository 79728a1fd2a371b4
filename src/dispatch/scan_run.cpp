// The per-drive scan and the run over the ticked drives.
#include "dispatch/scan_run.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "dispatch/undelete_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "volume/drive_table.h"

namespace fennick::dispatch {

std::chrono::milliseconds pause_before_scan{50};

namespace {

std::string drive_root(char letter) {
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) +
         ":\\";
}

}  // namespace

bool scan_drive() {
  using messages::get_message;
  const volume::DriveInfo& drive = volume::drive_table.at(volume::current_drive);
  const std::string root = drive_root(drive.drive_letter);
  messages::out_text(get_message(38) + root + " ...");
  if (pause_before_scan.count() > 0) std::this_thread::sleep_for(pause_before_scan);
  if (scan_volume() <= 0) {
    messages::out_text(get_message(41));
    return false;
  }
  if (messages::stop_flag == 1) {
    messages::out_text(get_message(39));
    return true;
  }
  messages::out_text(get_message(40) + root);
  return true;
}

bool scan_ticked_drives() {
  bool any_drive_scanned = false;
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::current_drive = static_cast<std::int32_t>(i);
    if (!volume::drive_table[i].ticked || messages::stop_flag != 0) continue;
    if (!scan_drive()) continue;
    any_drive_scanned = true;
    auto& folders = volume::drive_table[i].folders;
    std::stable_sort(folders.begin(), folders.end(),
                     [](const auto& a, const auto& b) { return a.parent_id < b.parent_id; });
  }
  return any_drive_scanned;
}

int status_message(std::int8_t quality) {
  if (quality == -1) return 43;
  if (quality == -2) return 44;
  if (quality == -3) return 45;
  if (quality == 0) return 46;
  if (quality >= 1 && quality <= 33) return 47;
  if (quality >= 34 && quality <= 66) return 48;
  if (quality >= 67 && quality <= 99) return 49;
  if (quality == 100) return 50;
  return -1;
}

}  // namespace fennick::dispatch

// Engine choice, output paths and small shared services of the recovery workflows.
#include "dispatch/undelete_unit.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "fat/fat_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "ntfs/ntfs_unit.h"
#include "volume/drive_table.h"
#include "volume/le_read.h"
#include "volume/rda_buffering.h"
#include "volume/volume_source.h"

namespace fennick::dispatch {

std::string destination_folder;

namespace {

// Output paths given out since the run began, and the folders made for them.
std::set<std::string> run_output_paths;
std::set<std::string> run_folders_made;
// Sources the run holds a read session on: one descriptor and one copy of the volume's first
// sectors serve every file of the run, rather than an open, a close and the same boot-sector
// reads for each file.
std::vector<std::shared_ptr<volume::VolumeSource>> run_sources;

void hold_read_session(char drive_letter) {
  std::shared_ptr<volume::VolumeSource> source = volume::source_for(drive_letter);
  if (!source) return;
  for (const auto& held : run_sources) {
    if (held == source) return;
  }
  source->begin_read_session();
  run_sources.push_back(std::move(source));
}

constexpr std::size_t max_component_bytes = 255;

bool is_fat(std::string_view fs) { return fs == "FAT32" || fs == "FAT"; }

// The record path's folders below the drive ("E:\DOCS\OLD\" gives DOCS and OLD).
std::vector<std::string> relative_folders(std::string_view path) {
  std::vector<std::string> folders;
  if (path.size() <= 3) return folders;
  path.remove_prefix(3);
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // An empty part is a doubled separator, which collapses into one.
    if (!part.empty()) folders.emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return folders;
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// "name (n).ext", cut so that the component stays within the file system's limit.
std::string numbered_name(const std::string& name, int n) {
  const std::string suffix = " (" + std::to_string(n) + ")";
  const std::size_t dot = name.rfind('.');
  const bool has_ext = dot != std::string::npos && dot > 0;
  const std::string ext = has_ext ? name.substr(dot) : std::string();
  std::string base = has_ext ? name.substr(0, dot) : name;
  const std::size_t room = max_component_bytes > suffix.size() + ext.size()
                               ? max_component_bytes - suffix.size() - ext.size()
                               : 1;
  base.resize(catalogue::utf8_cut_length(base, room));
  return base + suffix + ext;
}

// Creates every missing folder on the way; false (errno set) when one cannot be made. Folders
// made earlier in the run are not asked for again.
bool make_folders(const std::string& folder) {
  if (run_folders_made.count(folder) != 0) return true;
  std::string so_far;
  std::size_t start = 0;
  while (start <= folder.size()) {
    const std::size_t end = folder.find('/', start);
    const std::size_t stop = end == std::string::npos ? folder.size() : end;
    so_far = folder.substr(0, stop);
    if (!so_far.empty() && ::mkdir(so_far.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  run_folders_made.insert(folder);
  return true;
}

}  // namespace

std::string safe_component(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
  }
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  return out;
}

std::string output_path_for(const catalogue::TDeletedFile& record, bool keep_folders,
                            const std::string& destination, const std::set<std::string>& taken) {
  std::string folder = destination;
  if (keep_folders) {
    for (const std::string& part : relative_folders(record.path.view())) {
      folder = join(folder, safe_component(part));
    }
  }
  const std::string name = safe_component(record.name.view());
  std::string path = join(folder, name);
  for (int n = 2; taken.count(path) != 0; ++n) path = join(folder, numbered_name(name, n));
  return path;
}

int scan_volume() {
  using volume::drive_table;
  const auto i = static_cast<std::size_t>(volume::current_drive);
  if (volume::current_drive < 0 || i >= drive_table.size()) return 0;
  const std::string& fs = drive_table[i].fs_name;
  if (is_fat(fs)) return fat::scan_fat_volume();
  if (fs == "NTFS") return ntfs::scan_ntfs();
  return 0;
}

void begin_recovery_run() {
  end_recovery_run();
  run_output_paths.clear();
  run_folders_made.clear();
  fat::begin_free_cluster_memory();
}

void end_recovery_run() {
  fat::end_free_cluster_memory();
  for (const auto& source : run_sources) source->end_read_session();
  run_sources.clear();
}

int recover_file(const catalogue::TDeletedFile& record, bool keep_folders,
                 RecoveryOutcome* outcome) {
  RecoveryOutcome local;
  RecoveryOutcome& out = outcome ? *outcome : local;
  out = RecoveryOutcome{};
  if (record.name.empty()) return 1;  // a wiped record is no file any more
  out.output_path = output_path_for(record, keep_folders, destination_folder, run_output_paths);
  if (keep_folders) {
    const std::size_t slash = out.output_path.rfind('/');
    // A folder that cannot be made shows up as the engine's failure to create the file.
    if (slash != std::string::npos && slash > 0) make_folders(out.output_path.substr(0, slash));
  }
  const std::string_view fs = record.fs_name.view();
  if (is_fat(fs) || fs == "NTFS") {
    run_output_paths.insert(out.output_path);
    out.engine_ran = true;
    hold_read_session(record.drive_letter);
    if (is_fat(fs)) {
      fat::recover_fat_file(record, out.output_path, &out.result);
    } else {
      ntfs::recover_ntfs_file(record, out.output_path, &out.result);
    }
  }
  return 1;
}

int wipe_file(const catalogue::TDeletedFile& record, bool* wiped) {
  if (wiped) *wiped = false;
  if (record.name.empty()) return 1;
  if (is_fat(record.fs_name.view())) fat::wipe_fat_file(record, wiped);
  if (record.fs_name.view() == "NTFS") ntfs::wipe_ntfs_record(record, wiped);
  return 1;
}

std::string size_text(std::int64_t size) {
  char text[64];
  if (size >= 1000000) {
    std::snprintf(text, sizeof text, "%.2f Mb", static_cast<double>(size) / 1000000.0);
  } else if (size < 1024) {
    std::snprintf(text, sizeof text, "%lld b", static_cast<long long>(size));
  } else {
    std::snprintf(text, sizeof text, "%.0f Kb", static_cast<double>(size) / 1024.0);
  }
  return text;
}

std::string preview_status_text(const catalogue::TDeletedFile& record) {
  const std::string_view name = record.name.view();
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == ".JPG" || ext == ".JPEG") return {};
  return "<p align=\"center\">" + messages::get_message(76) + "</p>";
}

void read_record_raw(const catalogue::TDeletedFile& record,
                     std::array<std::uint8_t, 1024>& buffer) {
  if (record.fs_name.view() != "NTFS" || record.entry_cluster <= 0) return;
  volume::TBuffer reader(std::string(1, record.drive_letter), volume::reader_sectors);
  if (reader.error != 0) return;
  // The geometry of the record's own volume, read afresh, so that the dump can never come
  // from a position computed with another volume's sector and cluster sizes.
  std::array<std::uint8_t, 512> boot{};
  if (reader.read(512, boot.data(), 0) != 512) return;
  const std::int64_t bytes_per_sector = volume::le16_or0(boot, 11);
  const std::int64_t sectors_per_cluster = volume::u8_or0(boot, 13);
  if (bytes_per_sector == 0) return;
  const std::int64_t sector = record.entry_cluster * sectors_per_cluster +
                              record.entry_offset / bytes_per_sector;
  std::array<std::uint8_t, 1024> bytes{};
  if (reader.read(1024, bytes.data(), sector * bytes_per_sector) == 1024) buffer = bytes;
}

void read_boot_sector_raw(char drive_letter, std::array<std::uint8_t, 512>& buffer) {
  messages::process_pending_events();
  volume::TBuffer reader(std::string(1, drive_letter), volume::reader_sectors);
  if (reader.error != 0) return;
  std::array<std::uint8_t, 512> bytes{};
  if (reader.read(512, bytes.data(), 0) == 512) buffer = bytes;
}

}  // namespace fennick::dispatch

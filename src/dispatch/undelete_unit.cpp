// Engine choice, output paths and small shared services of the recovery workflows.
#include "dispatch/undelete_unit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "catalogue/destination_folder.h"
#include "catalogue/output_file.h"
#include "fat/fat_unit.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "ntfs/ntfs_unit.h"
#include "volume/drive_table.h"
#include "volume/le_read.h"
#include "volume/rda_buffering.h"
#include "volume/volume_source.h"
#include "volume/write_session.h"

namespace fennick::dispatch {

std::string destination_folder;

namespace {

// Output paths given out since the run began, and the destination folder held open for the
// run (it remembers the folders it made and where links made it go).
std::set<std::string> run_output_paths;
catalogue::DestinationFolder run_destination;
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

// The destination's folders a record's file goes to: its folder path below the drive, each
// part made safe, when folders are kept; none otherwise.
std::vector<std::string> output_folders_for(const catalogue::TDeletedFile& record,
                                            bool keep_folders) {
  std::vector<std::string> folders;
  if (!keep_folders) return folders;
  for (const std::string& part : relative_folders(record.path.view())) {
    folders.push_back(safe_component(part));
  }
  return folders;
}

// Opens the run's destination when the run has not, or when the folder named changed.
bool open_run_destination() {
  if (run_destination.is_open() && run_destination.path() == destination_folder) return true;
  run_destination.on_in_the_way = [](const std::string& path, catalogue::InTheWay why) {
    messages::out_text(messages::get_message(why == catalogue::InTheWay::link
                                                 ? messages::link_not_followed
                                                 : messages::not_a_regular_file) +
                       path);
  };
  // A folder the user named but that is not there yet is made, as the command line does.
  std::error_code ec;
  std::filesystem::create_directories(destination_folder, ec);
  return run_destination.open(destination_folder, catalogue::requester_from_environment());
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
  // A name of 255 UTF-16 units can take up to 765 bytes of UTF-8, and a Linux name only 255:
  // the stem gives way, the extension stays.
  constexpr std::size_t max_component_bytes = 255;
  if (out.size() > max_component_bytes) {
    const std::size_t dot = out.rfind('.');
    const bool keep_ext = dot != std::string::npos && dot > 0 && out.size() - dot <= 32;
    const std::string ext = keep_ext ? out.substr(dot) : std::string();
    std::string stem = keep_ext ? out.substr(0, dot) : out;
    stem.resize(catalogue::utf8_cut_length(stem, max_component_bytes - ext.size()));
    out = stem + ext;
  }
  return out;
}

std::string output_path_for(const catalogue::TDeletedFile& record, bool keep_folders,
                            const std::string& destination, const std::set<std::string>& taken) {
  std::string folder = destination;
  for (const std::string& part : output_folders_for(record, keep_folders))
    folder = join(folder, part);
  const std::string name = safe_component(record.name.view());
  std::string path = join(folder, name);
  for (int n = 2; taken.count(path) != 0; ++n)
    path = join(folder, catalogue::numbered_name(name, n));
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
  fat::begin_free_cluster_memory();
}

void end_recovery_run() {
  fat::end_free_cluster_memory();
  for (const auto& source : run_sources) source->end_read_session();
  run_sources.clear();
  run_destination.close();
}

int recover_file(const catalogue::TDeletedFile& record, bool keep_folders,
                 RecoveryOutcome* outcome) {
  RecoveryOutcome local;
  RecoveryOutcome& out = outcome ? *outcome : local;
  out = RecoveryOutcome{};
  if (record.name.empty()) return 1;  // a wiped record is no file any more
  const auto fail = [&out](const std::string& reason) {
    messages::out_text(messages::get_message(72) + reason);
    out.result.failed = true;
    return 1;
  };
  out.output_path = output_path_for(record, keep_folders, destination_folder, run_output_paths);
  if (!open_run_destination()) {
    return fail(std::string(std::strerror(errno)) + ": " + destination_folder);
  }
  // Folders are made even for a record no engine reads, as the folder path is the run's.
  const std::optional<std::string> folder =
      run_destination.make_folders(output_folders_for(record, keep_folders));
  const std::string_view fs = record.fs_name.view();
  if (!is_fat(fs) && fs != "NTFS") return 1;
  out.engine_ran = true;
  if (!folder) return fail(std::string(std::strerror(errno)) + ": " + out.output_path);
  catalogue::CreatedFile created = run_destination.create_file(
      *folder, safe_component(record.name.view()),
      [](const std::string& path) { return run_output_paths.count(path) != 0; });
  out.output_path = created.path;
  if (created.fd < 0) return fail(created.reason);
  run_output_paths.insert(created.path);
  catalogue::OutputFile file;
  file.adopt(created.fd);
  hold_read_session(record.drive_letter);
  if (is_fat(fs)) {
    fat::recover_fat_file(record, file, created.path, &out.result);
  } else {
    ntfs::recover_ntfs_file(record, file, created.path, &out.result);
  }
  if (out.result.destination_full) {
    // The run ends here; an output that got no byte is not left behind.
    if (out.result.bytes_written == 0) run_destination.remove(created.relative);
    messages::out_text(messages::get_message(messages::destination_full) + created.path);
  }
  return 1;
}

int wipe_file(const catalogue::TDeletedFile& record, bool* wiped) {
  if (wiped) *wiped = false;
  if (record.name.empty()) return 1;
  // The engine's checking reads and its writes all go through this session's descriptor.
  const volume::WriteSession session(record.drive_letter);
  switch (session.refusal()) {
    case volume::WriteRefusal::none:
      break;
    case volume::WriteRefusal::mounted:
      messages::out_text(messages::get_message(messages::wipe_refused_mounted) +
                         session.volume_path());
      return 1;
    case volume::WriteRefusal::not_the_scanned_volume:
      messages::out_text(messages::get_message(messages::volume_not_the_scanned_one) +
                         session.volume_path());
      return 1;
    case volume::WriteRefusal::cannot_open:
      messages::out_text(messages::get_message(72) + "Cannot wipe " + record.name.str() + ": " +
                         std::strerror(session.error()) + ": " + session.volume_path());
      return 1;
  }
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

bool read_record_raw(const catalogue::TDeletedFile& record,
                     std::array<std::uint8_t, 1024>& buffer) {
  if (record.fs_name.view() != "NTFS" || record.entry_cluster <= 0) return false;
  volume::TBuffer reader(std::string(1, record.drive_letter), volume::reader_sectors);
  if (reader.error != 0) return false;
  // The geometry of the record's own volume, read afresh, so that the dump can never come
  // from a position computed with another volume's sector and cluster sizes.
  std::array<std::uint8_t, 512> boot{};
  if (reader.read(512, boot.data(), 0) != 512) return false;
  const std::int64_t bytes_per_sector = volume::le16_or0(boot, 11);
  const std::int64_t sectors_per_cluster = volume::u8_or0(boot, 13);
  if (bytes_per_sector == 0) return false;
  // The offset inside the cluster is kept whole: with sectors larger than a record, a record
  // need not begin on a sector.
  const std::int64_t position =
      record.entry_cluster * sectors_per_cluster * bytes_per_sector + record.entry_offset;
  std::array<std::uint8_t, 1024> bytes{};
  if (reader.read(1024, bytes.data(), position) != 1024) return false;
  buffer = bytes;
  return true;
}

bool read_boot_sector_raw(char drive_letter, std::array<std::uint8_t, 512>& buffer) {
  messages::process_pending_events();
  volume::TBuffer reader(std::string(1, drive_letter), volume::reader_sectors);
  if (reader.error != 0) return false;
  std::array<std::uint8_t, 512> bytes{};
  if (reader.read(512, bytes.data(), 0) != 512) return false;
  buffer = bytes;
  return true;
}

}  // namespace fennick::dispatch

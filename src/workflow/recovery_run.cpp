// The recovery run and the same-volume check.
#include "workflow/recovery_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "catalogue/output_file.h"
#include "catalogue/output_paths.h"
#include "catalogue/sha256.h"
#include "engine/run_progress.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "volume/mount_lookup.h"
#include "workflow/engines.h"

namespace fennick::workflow {

namespace {

// The device of the destination, taken from its nearest existing folder (the run creates
// missing ones below it).
bool destination_device(const std::string& destination, dev_t& device) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(destination, ec);
  if (ec) return false;
  while (!std::filesystem::exists(p, ec)) {
    if (!p.has_parent_path() || p.parent_path() == p) return false;
    p = p.parent_path();
  }
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return false;
  device = st.st_dev;
  return true;
}

// Does a file written below the destination land on the volume of this drive: the file
// system mounted from it (looked up afresh, the mount may have changed since the drive list
// was made), or, for a block device, the device itself. An image that is not mounted cannot
// be written through a folder.
bool lands_on_drive(dev_t destination, const Drive& drive) {
  std::string mount = volume::find_mount_point(drive.source_path, drive.offset);
  if (mount.empty()) mount = drive.mount_point;
  struct stat st {};
  if (!mount.empty() && ::stat(mount.c_str(), &st) == 0 && st.st_dev == destination) return true;
  if (!drive.is_image && drive.offset == 0 && ::stat(drive.source_path.c_str(), &st) == 0 &&
      S_ISBLK(st.st_mode) && st.st_rdev == destination) {
    return true;
  }
  return false;
}

const Drive* drive_of(const DriveList& drives, const catalogue::FoundFile& record) {
  if (record.drive_index < 0 || static_cast<std::size_t>(record.drive_index) >= drives.size()) {
    return nullptr;
  }
  return &drives[static_cast<std::size_t>(record.drive_index)];
}

}  // namespace

RecoveryRun::RecoveryRun(const DriveList& drives, std::string destination, run::RunControl& run,
                         messages::StatusChannel& channel)
    : drives_(drives), destination_(std::move(destination)), run_(run), channel_(channel) {}

RecoveryRun::~RecoveryRun() {
  for (const auto& source : sessions_) source->end_read_session();
  folder_.close();
}

void RecoveryRun::hold_read_session(const std::shared_ptr<volume::VolumeSource>& source) {
  if (!source) return;
  for (const auto& held : sessions_) {
    if (held == source) return;
  }
  source->begin_read_session();
  sessions_.push_back(source);
}

bool RecoveryRun::open_destination() {
  if (folder_.is_open()) return true;
  folder_.on_in_the_way = [this](const std::string& path, catalogue::InTheWay why) {
    channel_.log(channel_.text(why == catalogue::InTheWay::link ? messages::link_not_followed
                                                                : messages::not_a_regular_file) +
                 path);
  };
  // A folder the user named but that is not there yet is made.
  std::error_code ec;
  std::filesystem::create_directories(destination_, ec);
  return folder_.open(destination_, catalogue::requester_from_environment());
}

RecoveryOutcome RecoveryRun::recover(const catalogue::FoundFile& record, bool keep_folders) {
  RecoveryOutcome out;
  if (record.name.empty()) return out;  // a wiped record is no file any more
  const auto fail = [&](const std::string& reason) {
    channel_.log(channel_.text(messages::error_prefix) + reason);
    out.result.failed = true;
    return out;
  };
  out.output_path = catalogue::output_path_for(record, keep_folders, destination_, output_paths_);
  if (!open_destination()) return fail(std::string(std::strerror(errno)) + ": " + destination_);
  // Folders are made even for a record no engine reads, as the folder path is the run's.
  const std::optional<std::string> folder =
      folder_.make_folders(catalogue::output_folders_for(record, keep_folders));
  const engine::Engine* engine = engine_for(record.fs_kind);
  if (engine == nullptr) return out;
  out.engine_ran = true;
  if (!folder) return fail(std::string(std::strerror(errno)) + ": " + out.output_path);
  const Drive* drive = drive_of(drives_, record);
  if (drive == nullptr) {
    return fail(channel_.text(messages::volume_not_in_drive_table) + out.output_path);
  }
  catalogue::CreatedFile created = folder_.create_file(
      *folder, catalogue::safe_component(record.name.view()),
      [this](const std::string& path) { return output_paths_.count(path) != 0; });
  out.output_path = created.path;
  if (created.fd < 0) return fail(created.reason);
  out.relative_path = created.relative;
  output_paths_.insert(created.path);
  catalogue::OutputFile file;
  file.adopt(created.fd);
  hold_read_session(drive->source);
  std::unique_ptr<engine::RecoveryMemory>& memory = memories_[record.drive_index];
  if (!memory) memory = engine->make_recovery_memory();
  out.result = engine->recover(*drive, record, file, created.path, memory.get(), run_, channel_);
  // The copy carries the time the file was last written, not the time of its recovery, as its
  // modified and access times. Its created time is not carried: Linux gives no call that sets
  // a file's birth time.
  if (file_times_ && !out.result.destination_full) {
    if (const auto when = catalogue::unix_time_of(record.modified)) {
      folder_.set_times(created.relative, when->seconds, when->nanoseconds);
    }
  }
  if (out.result.destination_full) {
    // The run ends here; an output that got no byte is not left behind.
    if (out.result.bytes_written == 0) folder_.remove(created.relative);
    channel_.log(channel_.text(messages::destination_full) + created.path);
  }
  return out;
}

std::string RecoveryRun::output_sha256(const RecoveryOutcome& outcome) {
  if (outcome.relative_path.empty()) return {};
  const int fd = folder_.open_for_reading(outcome.relative_path);
  if (fd < 0) return {};
  const std::optional<std::string> hash = catalogue::sha256_of_descriptor(fd);
  ::close(fd);
  return hash.value_or(std::string());
}

bool RecoveryRun::start_manifest_in_destination(const std::string& name, RecoveryManifest& manifest,
                                                std::string& path) {
  if (!open_destination()) return false;
  const auto taken = [this](const std::string& p) { return output_paths_.count(p) != 0; };
  catalogue::CreatedFile list = folder_.create_file("", name, taken);
  if (list.fd < 0) {
    errno = list.error;
    return false;
  }
  // The table beside it takes the name the list got, whatever number that needed.
  const std::string list_name = list.relative;
  catalogue::CreatedFile table = folder_.create_file("", list_name + ".tsv", taken);
  if (table.fd < 0) {
    ::close(list.fd);
    errno = table.error;
    return false;
  }
  // Neither is a recovered file: no later file of the run may take their names.
  output_paths_.insert(list.path);
  output_paths_.insert(table.path);
  path = list.path;
  return manifest.start(list.fd, table.fd);
}

void warn_if_destination_on_source(const DriveList& drives, const catalogue::Catalogue& catalogue,
                                   const std::vector<std::int32_t>& indexes,
                                   const std::string& destination,
                                   messages::StatusChannel& channel) {
  dev_t device = 0;
  if (!destination_device(destination, device)) return;
  std::set<std::int32_t> drive_indexes;
  for (const std::int32_t i : indexes)
    drive_indexes.insert(catalogue.files()[static_cast<std::size_t>(i)].drive_index);
  for (const std::int32_t d : drive_indexes) {
    if (d < 0 || static_cast<std::size_t>(d) >= drives.size()) continue;
    const Drive& drive = drives[static_cast<std::size_t>(d)];
    if (!lands_on_drive(device, drive)) continue;
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(drive.drive_letter)));
    channel.log(channel.text(messages::destination_on_source) + letter + ":\\" +
                channel.text(messages::destination_on_source_rest));
  }
}

namespace {

// "fennick-manifest-20261211-071812.sha256": the window's manifest, named by the local time
// the run began.
std::string manifest_name(std::time_t now) {
  struct tm fields {};
  char stamp[32] = "unknown";
  if (localtime_r(&now, &fields) != nullptr) {
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &fields);
  }
  return std::string("fennick-manifest-") + stamp + ".sha256";
}

void count_outcome(const RecoveryOutcome& outcome, RecoverySummary& summary) {
  const engine::RecoveryOutcome how =
      outcome.engine_ran ? outcome.result.outcome() : engine::RecoveryOutcome::failed;
  if (how != engine::RecoveryOutcome::recovered) summary.any_failed = true;
  switch (how) {
    case engine::RecoveryOutcome::recovered:
      ++summary.recovered;
      break;
    case engine::RecoveryOutcome::overwritten:
      ++summary.overwritten;
      break;
    case engine::RecoveryOutcome::damaged_units:
      ++summary.damaged_units;
      break;
    case engine::RecoveryOutcome::zeros:
      ++summary.with_zeros;
      break;
    case engine::RecoveryOutcome::interrupted:
      ++summary.interrupted;
      summary.interrupted_paths.push_back(outcome.output_path);
      break;
    case engine::RecoveryOutcome::failed:
      ++summary.not_recovered;
      break;
  }
}

ManifestEntry manifest_entry(const DriveList& drives, const catalogue::FoundFile& record,
                             const RecoveryOutcome& outcome, std::string sha256) {
  ManifestEntry e;
  e.relative_path = outcome.relative_path;
  if (const Drive* drive = drive_of(drives, record)) {
    e.drive =
        std::string(
            1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive->drive_letter)))) +
        ":";
    e.source = drive->source_path;
  }
  e.record_no = record.record_no;
  e.size = record.size;
  e.quality = record.quality;
  const engine::RecoveryResult& r = outcome.result;
  e.outcome = outcome.engine_ran ? outcome_word(r.outcome()) : "failed";
  // Every stretch of the file that is zeros in place of its content, whatever the cause.
  e.zero_ranges = r.zero_ranges;
  e.zero_ranges.insert(e.zero_ranges.end(), r.damaged_ranges.begin(), r.damaged_ranges.end());
  std::sort(e.zero_ranges.begin(), e.zero_ranges.end());
  e.sha256 = std::move(sha256);
  return e;
}

}  // namespace

std::string recovery_counts_text(const RecoverySummary& summary,
                                 const messages::StatusChannel& channel) {
  std::string text = channel.text(messages::files_recovered) + std::to_string(summary.recovered);
  const std::pair<int, std::int64_t> partial[] = {
      {messages::files_overwritten, summary.overwritten},
      {messages::files_with_zeros, summary.with_zeros},
      {messages::files_with_damaged_units, summary.damaged_units},
      {messages::files_interrupted, summary.interrupted},
  };
  for (const auto& [id, count] : partial) {
    if (count > 0) text += channel.text(id) + std::to_string(count);
  }
  return text + channel.text(messages::files_not_recovered) + std::to_string(summary.not_recovered);
}

const char* outcome_word(engine::RecoveryOutcome outcome) {
  switch (outcome) {
    case engine::RecoveryOutcome::recovered:
      return "recovered";
    case engine::RecoveryOutcome::overwritten:
      return "overwritten";
    case engine::RecoveryOutcome::damaged_units:
      return "damaged";
    case engine::RecoveryOutcome::zeros:
      return "zeros";
    case engine::RecoveryOutcome::interrupted:
      return "interrupted";
    case engine::RecoveryOutcome::failed:
      break;
  }
  return "failed";
}

RecoverySummary recover_files(const DriveList& drives, catalogue::Catalogue& catalogue,
                              const std::vector<std::int32_t>& indexes,
                              const RecoverySettings& settings, run::RunControl& run,
                              messages::StatusChannel& channel) {
  RecoverySummary summary;
  std::int64_t total = 0;
  for (const std::int32_t i : indexes) total += catalogue.files()[static_cast<std::size_t>(i)].size;
  run.work_total = total;
  run.work_done = 0;
  run.files_total = static_cast<std::int64_t>(indexes.size());
  run.files_done = 0;
  if (indexes.empty()) {
    summary.nothing_to_do = true;
    channel.out_text(channel.text(messages::no_files_to_undelete), messages::DialogKind::error,
                     true);
    return summary;
  }
  channel.set_progress_range(100);
  channel.set_progress(0);
  channel.set_run_files(0, run.files_total);
  warn_if_destination_on_source(drives, catalogue, indexes, settings.destination, channel);
  channel.log(channel.text(messages::undelete_started));
  {
    RecoveryRun recovery(drives, settings.destination, run, channel);
    recovery.set_file_times(settings.file_times);
    RecoveryManifest manifest;
    const bool with_manifest = !settings.manifest_path.empty() || settings.manifest_in_destination;
    if (with_manifest) {
      std::string path = settings.manifest_path;
      const bool started = settings.manifest_in_destination
                               ? recovery.start_manifest_in_destination(
                                     manifest_name(std::time(nullptr)), manifest, path)
                               : manifest.open(path);
      if (!started) {
        // Asked for and not possible: nothing is recovered without it.
        channel.log(channel.text(messages::manifest_not_written) + std::strerror(errno) + ": " +
                    (path.empty() ? settings.destination : path));
        summary.manifest_failed = true;
        summary.any_failed = true;
        channel.log(channel.text(messages::undelete_interrupted));
        channel.set_run_files(0, 0);
        return summary;
      }
      summary.manifest_written = path;
    }
    for (const std::int32_t i : indexes) {
      if (run.stop_requested()) break;
      const catalogue::FoundFile& record = catalogue.files()[static_cast<std::size_t>(i)];
      const bool keep_folders = settings.keep_folders && settings.keep_folders();
      const RecoveryOutcome outcome = recovery.recover(record, keep_folders);
      if (with_manifest && outcome.engine_ran) {
        // A file the run left in the destination, whatever became of it, so that what is
        // there can be checked; one that is not there has no row.
        std::string hash = recovery.output_sha256(outcome);
        if (!hash.empty() && !manifest.add(manifest_entry(drives, record, outcome, hash))) {
          summary.manifest_failed = true;
        }
      }
      if (settings.after_file) settings.after_file(i, outcome);
      count_outcome(outcome, summary);
      ++run.files_done;
      engine::show_run_progress(run, channel);
      channel.set_run_files(run.files_done, run.files_total);
      // A destination without room ends the run; the log has said so.
      if (outcome.result.destination_full) {
        summary.destination_full = true;
        break;
      }
      // Between files too, so that a stop lands cleanly after the file just finished.
      run.pump_events();
    }
    if (with_manifest && !manifest.close()) summary.manifest_failed = true;
    if (summary.manifest_failed) {
      summary.any_failed = true;
      channel.log(channel.text(messages::manifest_not_written) + std::strerror(errno) + ": " +
                  summary.manifest_written);
    } else if (with_manifest) {
      channel.log(channel.text(messages::manifest_written) + summary.manifest_written);
    }
  }
  summary.stopped = run.stop_requested();
  // A run that ended early (stopped, or a medium that went away) left files unrecovered.
  if (summary.stopped || run.source_lost()) summary.any_failed = true;
  channel.log(recovery_counts_text(summary, channel));
  channel.log(channel.text(summary.stopped || summary.destination_full
                               ? messages::undelete_interrupted
                               : messages::undelete_ended));
  channel.set_progress(100);
  return summary;
}

}  // namespace fennick::workflow

// The recovery run: copying the chosen found files into the destination folder, with the
// same-volume warning, the log lines, the progress and the counters, for both front ends.
//
// A RecoveryRun is one run's state: the destination folder held open (it remembers the
// folders it made and where links made it go), the output paths given out, the read sessions
// that let one descriptor and one copy of a volume's first sectors serve all its files, and
// what each engine keeps for a volume from file to file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/destination_folder.h"
#include "engine/engine.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "workflow/drive_list.h"
#include "workflow/recovery_manifest.h"

namespace fennick::workflow {

// What the recovery of one found file wrote.
struct RecoveryOutcome {
  std::string output_path;    // the path actually written
  std::string relative_path;  // the same below the destination ("/" separators)
  engine::RecoveryResult result;
  bool engine_ran = false;  // false for a wiped record or one of no known file system
};

class RecoveryRun {
 public:
  RecoveryRun(const DriveList& drives, std::string destination, run::RunControl& run,
              messages::StatusChannel& channel);
  // Lets go of the volumes the run read from and of the destination.
  ~RecoveryRun();
  RecoveryRun(const RecoveryRun&) = delete;
  RecoveryRun& operator=(const RecoveryRun&) = delete;

  // Recovers the record below the destination, with its folder path when keep_folders is
  // set. The engine logs its own outcome; a destination without room is logged here.
  RecoveryOutcome recover(const catalogue::FoundFile& record, bool keep_folders);
  // Whether recovered files get the found file's modified time (on by default).
  void set_file_times(bool on) { file_times_ = on; }
  // The SHA-256 of what the recovery of a file left in the destination, read back from
  // there; empty when nothing is there or it cannot be read.
  std::string output_sha256(const RecoveryOutcome& outcome);
  // Starts the manifest in the destination folder under the name (and the name + ".tsv");
  // false with errno set. The path used is given back.
  bool start_manifest_in_destination(const std::string& name, RecoveryManifest& manifest,
                                     std::string& path);

 private:
  bool open_destination();
  void hold_read_session(const std::shared_ptr<volume::VolumeSource>& source);

  const DriveList& drives_;
  std::string destination_;
  run::RunControl& run_;
  messages::StatusChannel& channel_;
  catalogue::DestinationFolder folder_;
  std::set<std::string> output_paths_;
  std::vector<std::shared_ptr<volume::VolumeSource>> sessions_;
  std::map<std::int32_t, std::unique_ptr<engine::RecoveryMemory>> memories_;
  bool file_times_ = true;
};

struct RecoverySettings {
  std::string destination;
  // Read for every file: a change of the window's box during the run applies to the files
  // after it.
  std::function<bool()> keep_folders;
  // Recovered files get the found file's modified time (fennick-cli recover --no-times: off).
  bool file_times = true;
  // The hash manifest: written to this path (and the path + ".tsv") when not empty
  // (fennick-cli recover --manifest), or, when manifest_in_destination is set, into the
  // destination folder as fennick-manifest-YYYYMMDD-HHMMSS.sha256 (the window's box).
  std::string manifest_path;
  bool manifest_in_destination = false;
  // After each file, with its catalogue index.
  std::function<void(std::int32_t index, const RecoveryOutcome&)> after_file;
};

struct RecoverySummary {
  bool nothing_to_do = false;     // no file was chosen: message 55
  bool any_failed = false;        // some chosen file is not recovered whole (or not reached)
  bool destination_full = false;  // the run ended for lack of room
  bool stopped = false;
  bool manifest_failed = false;  // the hash manifest could not be written (logged)
  std::string manifest_written;  // the manifest's path when one was written
  // Files the run reached, by how they came out; only `recovered` counts whole files.
  std::int64_t recovered = 0;
  std::int64_t overwritten = 0;    // copied, but graded overwritten
  std::int64_t with_zeros = 0;     // zeros for bytes the medium could not deliver
  std::int64_t damaged_units = 0;  // compressed units that did not decode
  std::int64_t interrupted = 0;    // cut short by a stop
  std::int64_t not_recovered = 0;  // failed, or of no file system an engine reads
  // Where the files a stop cut short were left (their output paths).
  std::vector<std::string> interrupted_paths;
};

// " Files recovered: 50, overwritten: 1, interrupted: 1, not recovered: 2": the counts of a
// run in the channel's language, the kinds of partial recovery only where there are some.
std::string recovery_counts_text(const RecoverySummary& summary,
                                 const messages::StatusChannel& channel);

// The word the manifest's outcome column gives an outcome: "recovered", "overwritten",
// "damaged", "zeros", "interrupted" or "failed".
const char* outcome_word(engine::RecoveryOutcome outcome);

// Recovers the records at the catalogue indexes, in that order (empty files too: their name
// is their content): warns when the destination lies on a volume files are recovered from,
// logs the start (52), the counts and the end (53 or 54), keeps the run's work counters and
// the progress bar, and ends on a stop or a full destination.
RecoverySummary recover_files(const DriveList& drives, catalogue::Catalogue& catalogue,
                              const std::vector<std::int32_t>& indexes,
                              const RecoverySettings& settings, run::RunControl& run,
                              messages::StatusChannel& channel);

// Logs the same-volume warning for each drive of the records whose volume the destination
// folder lies on: a file written there can overwrite deleted files still to be recovered.
void warn_if_destination_on_source(const DriveList& drives, const catalogue::Catalogue& catalogue,
                                   const std::vector<std::int32_t>& indexes,
                                   const std::string& destination,
                                   messages::StatusChannel& channel);

}  // namespace fennick::workflow

// Shared by the whole-volume fuzz targets: makes the fuzzer's bytes drive C: (a memory volume,
// the only entry of a drive list) with the facts its own boot sector gives, and recovers a
// few of the files a scan found into a scratch folder where links lie in wait. Every input
// gets fresh objects: nothing one input leaves behind reaches the next.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/output_paths.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/file_system_kind.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"
#include "workflow/engines.h"
#include "workflow/recovery_run.h"

namespace fennick::fuzzing {

// One input's world: its drive list (drive C: only), the catalogue a scan fills, the run
// control and a channel that drops what it is told.
struct FuzzVolume {
  workflow::DriveList drives;
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::SilentChannel channel;

  workflow::Drive& drive() { return drives.at(0); }
};

// Makes the bytes drive C: of v with the facts its boot sector gives. kind_if_unknown is used
// when the bytes do not identify themselves, so that the engine under test always runs.
inline void bind_volume(FuzzVolume& v, const std::uint8_t* data, std::size_t size,
                        volume::FileSystemKind kind_if_unknown) {
  auto source =
      std::make_shared<volume::MemorySource>(std::vector<std::uint8_t>(data, data + size));
  const volume::VolumeFacts facts = workflow::probe_volume(*source);
  workflow::Drive drive;
  drive.drive_letter = 'c';
  drive.drive_index = 0;
  drive.is_image = true;
  drive.ticked = true;
  drive.size_mb = static_cast<double>(size / 1048576);
  drive.kind = facts.kind == volume::FileSystemKind::unknown ? kind_if_unknown : facts.kind;
  drive.cluster_size = facts.cluster_size;
  drive.total_bytes = facts.total_bytes;
  drive.free_bytes = facts.free_bytes;
  drive.length = source->size_bytes();
  drive.source = std::move(source);
  v.drives = {std::move(drive)};
}

// Recovers up to `count` of the files found into a scratch folder in memory-backed /dev/shm
// (or /tmp), each file removed again at once. Before each file a symbolic link to a file
// outside the folder is planted where the file would go, and one where its first folder
// would be: the recovery must go beside them, never through them. What the files take on
// disk is bounded by the volume: a cluster can decode to at most one compression unit of 16.
inline void recover_some(FuzzVolume& v, std::size_t count) {
  static const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  static const std::string folder = [] {
    std::string templ = base + "/fennick-fuzz-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    // The folder goes when the fuzzer ends (libFuzzer leaves through exit()).
    static std::string made;
    made = templ;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(made, ec);
    });
    return templ;
  }();
  // The link targets live beside the destination, not in it: an empty file and an empty
  // folder that must stay empty.
  static const std::string bait_file = folder + ".bait";
  static const std::string bait_folder = folder + ".bait-folder";
  static const bool baits_made = [] {
    if (FILE* f = std::fopen(bait_file.c_str(), "w")) std::fclose(f);
    ::mkdir(bait_folder.c_str(), 0700);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove(bait_file, ec);
      std::filesystem::remove_all(bait_folder, ec);
    });
    return true;
  }();
  (void)baits_made;
  workflow::RecoveryRun run(v.drives, folder, v.run, v.channel);
  const std::size_t n = std::min<std::size_t>(count, v.catalogue.files().size());
  const std::int64_t volume_bytes = v.drive().source ? v.drive().source->size_bytes() : 0;
  std::int64_t stored = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const catalogue::FoundFile& record = v.catalogue.files()[i];
    const bool keep = i % 2 == 1;
    const std::string planned = catalogue::output_path_for(record, keep, folder, {});
    if (planned.rfind(folder + "/", 0) != 0) std::abort();
    const std::size_t slash = planned.find('/', folder.size() + 1);
    if (slash == std::string::npos) {
      ::symlink(bait_file.c_str(), planned.c_str());
    } else {
      ::symlink(bait_folder.c_str(), planned.substr(0, slash).c_str());
    }
    const workflow::RecoveryOutcome outcome = run.recover(record, keep);
    if (!outcome.output_path.empty()) {
      // Everything a recovery writes must stay inside the destination folder.
      if (outcome.output_path.rfind(folder + "/", 0) != 0) std::abort();
      struct stat st {};
      if (::lstat(outcome.output_path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) std::abort();
        stored += static_cast<std::int64_t>(st.st_blocks) * 512;
      }
      unlink(outcome.output_path.c_str());
    }
    struct stat bait {};
    if (::stat(bait_file.c_str(), &bait) != 0 || bait.st_size != 0) std::abort();
    if (!std::filesystem::is_empty(bait_folder)) std::abort();
    // Folders made for "keep folder structure" go, and the links with them.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      std::filesystem::remove_all(entry.path(), ec);
    }
  }
  if (stored > static_cast<std::int64_t>(n) * (16 * volume_bytes + (std::int64_t{1} << 20)))
    std::abort();
}

}  // namespace fennick::fuzzing

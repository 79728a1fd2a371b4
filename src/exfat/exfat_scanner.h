// The exFAT scanner: the walk of every folder reachable from the root (exfat_scan.cpp) and
// the deep pass over the clusters no walk reached (exfat_deep_scan.cpp), sharing the folder
// table, the clusters already claimed and the found files' cluster claims.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/folder_table.h"
#include "engine/presumed_claims.h"
#include "exfat/exfat_entries.h"
#include "exfat/exfat_layout.h"
#include "exfat/exfat_volume.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/volume.h"

namespace fennick::exfat {

// The root has no parent; its folder entry records parent 4, as on FAT.
constexpr std::int32_t root_parent_id = 4;
// A directory holds at most 256 MiB of entries.
constexpr std::uint64_t max_directory_bytes = std::uint64_t{256} << 20;

struct Slot {
  std::array<std::uint8_t, entry::bytes> bytes{};
  std::uint32_t cluster = 0;
  std::uint32_t offset = 0;
};

// A stretch of clusters [first, end) that a found file's data takes.
struct Claim {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  std::size_t record = 0;  // index in the catalogue
};

// Deleted files whose clusters another deleted file took later are no longer whole, though
// the bitmap shows the clusters free: compared beyond this many files at one cluster, a
// crafted volume could make the comparison quadratic.
constexpr std::size_t most_overlapping_claims = 64;

struct PendingDirectory {
  std::uint32_t first_cluster = 0;
  std::uint64_t length = 0;
  bool contiguous = false;
  bool deleted = false;
  // A deleted folder whose first cluster another file holds now: the folder's entry sets may
  // still stand after that file's data, in the rest of the cluster.
  bool reused = false;
  std::int32_t dir_id = 0;
};

class ExfatScanner {
 public:
  ExfatScanner(ExfatVolume& v, const volume::Volume& volume, catalogue::Catalogue& catalogue,
               run::RunControl& run, messages::StatusChannel& channel)
      : v_(v),
        volume_(volume),
        catalogue_(catalogue),
        run_(run),
        channel_(channel),
        folders_(catalogue, volume.drive_index, volume.kind, volume.drive_letter),
        used_bytes_(volume.total_bytes - volume.free_bytes),
        first_record_(catalogue.files().size()) {}

  void run();
  // Reads every free cluster no walk reached for entry sets whose checksum matches, and walks
  // the folders they make up: nested by the folder sets among them, the top of each under
  // "Lost folders". Their files are marked as found by the deep scan.
  void deep_pass();
  // After deep_pass(): lowers the grades of its finds whose clusters are guessed (their FAT
  // chain is gone) where the entries found beside them show the guess fails
  // (engine/presumed_claims.h).
  void grade_deep_finds();
  // Lowers the grade of every found file whose clusters a file deleted later also claims.
  void grade_overlaps();
  std::int64_t checksum_mismatches() const { return checksum_mismatches_; }

 private:
  void walk(const PendingDirectory& d);
  // Walks the pending folders, then the deleted folders whose first cluster is in use again.
  void drain();
  void walk_reused();
  std::int32_t lost_folders_id();
  // Reads the directory's entries into the queue until it holds `want` or the directory ends.
  bool fill(std::size_t want);
  void take_set(const EntrySet& set, const Slot& first, const PendingDirectory& d,
                std::vector<PendingDirectory>& children);
  void open_directory(const EntrySet& set, bool deleted, std::int32_t parent_id,
                      std::vector<PendingDirectory>& children);
  void add_file(const EntrySet& set, const Slot& first, const PendingDirectory& d);
  void show_progress();
  // A deleted folder's entries may go on past the length its set records: a folder shrinks
  // to its first cluster as its files are deleted one by one, and the deleted sets stay in
  // the clusters after it. The next cluster is taken while it is free, unclaimed and begins
  // with an entry of a set.
  std::optional<std::uint32_t> continuation();

  ExfatVolume& v_;
  const volume::Volume& volume_;
  catalogue::Catalogue& catalogue_;
  run::RunControl& run_;
  messages::StatusChannel& channel_;
  engine::FolderTable folders_;
  std::vector<PendingDirectory> stack_;
  std::vector<PendingDirectory> reused_;  // deleted folders whose first cluster is in use
  // Clusters walked as part of live folders, and those read as deleted folders': kept apart,
  // so that a cluster a deleted folder once held never hides a live folder.
  std::unordered_set<std::uint32_t> live_clusters_;
  std::unordered_set<std::uint32_t> deleted_clusters_;
  std::unordered_map<std::int32_t, catalogue::PathText> path_of_dir_;
  std::int64_t checksum_mismatches_ = 0;
  std::vector<Claim> claims_;
  std::int64_t live_bytes_ = 0;
  std::int64_t live_count_ = 0;
  std::int64_t used_bytes_ = 0;
  bool deep_ = false;  // the walks of the deep pass: their files are marked
  std::vector<engine::ClusterClaim> deep_claims_;
  std::size_t first_record_ = 0;  // this volume's first record in the catalogue
  std::int32_t lost_folders_id_ = -1;

  // The directory being walked.
  std::optional<ClusterRun> clusters_;
  const PendingDirectory* current_ = nullptr;
  std::uint32_t cluster_ = 0;
  std::int64_t offset_ = 0;
  bool ended_ = false;
  std::uint64_t walked_ = 0;  // clusters of the directory read
  std::deque<Slot> queue_;
};

}  // namespace fennick::exfat

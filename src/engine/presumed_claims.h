// Grades of files whose clusters are presumed rather than known. After a quick format, or for
// a file whose FAT chain is gone, a found file's data is taken as contiguous from its first
// cluster; today's FAT or bitmap shows those clusters free, but other files of the same old
// volume may have held them. The entries found beside it tell where that presumption fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::engine {

// The clusters one found entry claims: a file's presumed run, or a folder's first cluster.
struct ClusterClaim {
  std::uint64_t first = 0;
  std::uint64_t clusters = 1;  // presumed contiguous from first
  // Its entry was still in use in the file system it belongs to: its clusters were its own
  // when that file system was last written.
  bool live = false;
  catalogue::Timestamp modified;
  std::optional<std::size_t> record;  // index of the found file; none for a folder
  bool regrade = false;               // its grade may be lowered (the deep scan's finds)
};

// Lowers the grades of the claims marked regrade, in files:
//  - a run that meets the first cluster of a live entry, or of one modified later, cannot
//    be the file's past that cluster: it counts as whole only up to there;
//  - a file whose first cluster lies in the run (so cut) of a live entry, or of one
//    modified later, while it is not live itself or the other is a later file: "Overwritten"
//    (0), as that file wrote there after it;
//  - a run cut short went on after the cut in the clusters of entries deleted before it was
//    written (a file written into a fragmented volume fills the free clusters in order):
//    those entries' files are "Overwritten" (0), as many as the rest of the run needs.
// Grades only go down. Work stays near n log n: at most max_claims_met other claims are
// looked at for one claim, and a claim that meets more counts as cut at the last one met.
constexpr std::size_t max_claims_met = 64;
void grade_presumed_claims(std::vector<ClusterClaim> claims,
                           std::vector<catalogue::FoundFile>& files);

// The same for a deep scan's finds: its claims, and those of the files the walk from the root
// found on the volume (the records from first_record on not found by the deep scan), whose
// clusters are taken as contiguous from their first one.
void grade_deep_finds(std::vector<ClusterClaim> deep_claims,
                      std::vector<catalogue::FoundFile>& files, std::size_t first_record,
                      std::int64_t cluster_bytes);

}  // namespace fennick::engine

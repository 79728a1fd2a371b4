// Which clusters hold a file's data, and how many of them are still free: one rule for the
// scan's grade and the recovery's copy, so that a grade of 100 means the copy is whole.
//
// A set that says its data has no FAT chain was contiguous: the clusters from the first on.
// One that has a FAT chain follows it while it is still whole. A deleted file's chain is
// usually gone (its FAT entries are zeroed), and the file was fragmented, or it would not have
// needed one: the first cluster is then followed by the free clusters after it, skipping
// those in use now, as the clusters a fragmented file took were the free ones of its time.
#pragma once

#include <cstdint>
#include <optional>

#include "exfat/exfat_entries.h"
#include "exfat/exfat_volume.h"

namespace fennick::exfat {

enum class ClusterOrder {
  contiguous,     // the first cluster and the ones after it
  fat_chain,      // the FAT's links, whole
  free_clusters,  // the first cluster, then the free ones after it
};

ClusterOrder cluster_order(ExfatVolume& v, const EntrySet& set);

// The clusters of the set's data in the order above, up to the ones its length needs.
class FileClusters {
 public:
  FileClusters(ExfatVolume& v, const EntrySet& set);
  std::optional<std::uint32_t> next();
  ClusterOrder order() const { return order_; }
  std::uint64_t needed() const { return run_.needed(); }

 private:
  ExfatVolume& v_;
  ClusterOrder order_;
  ClusterRun run_;
  std::uint64_t given_ = 0;
  std::uint32_t last_ = 0;
};

// 0..100 (halves to the even neighbour): the share of the clusters the data needs that the
// bitmap shows free, taken in the order above; for a guessed order (free clusters after the
// first) only the free clusters that follow the first without a gap count, as nothing says
// the clusters after a gap are the file's. 0 when the first cluster is in use
// ("Overwritten"), lies outside the heap or the bitmap cannot be read. Clusters past the
// heap count as taken.
std::int8_t file_quality(ExfatVolume& v, const EntrySet& set);

}  // namespace fennick::exfat

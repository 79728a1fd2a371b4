// The clusters of a file's data and its grade.
#include "exfat/exfat_file_clusters.h"

#include "engine/grading.h"

namespace fennick::exfat {

ClusterOrder cluster_order(ExfatVolume& v, const EntrySet& set) {
  if (set.no_fat_chain) return ClusterOrder::contiguous;
  if (fat_chain_intact(v.layout, *v.fat_reader, set.first_cluster, set.data_length)) {
    return ClusterOrder::fat_chain;
  }
  return v.bitmap && v.bitmap->usable() ? ClusterOrder::free_clusters : ClusterOrder::contiguous;
}

FileClusters::FileClusters(ExfatVolume& v, const EntrySet& set)
    : v_(v),
      order_(cluster_order(v, set)),
      run_(v.layout, &*v.fat_reader, set.first_cluster, set.data_length,
           order_ != ClusterOrder::fat_chain) {}

std::optional<std::uint32_t> FileClusters::next() {
  if (order_ != ClusterOrder::free_clusters || given_ == 0) {
    const auto c = run_.next();
    if (c) {
      ++given_;
      last_ = *c;
    }
    return c;
  }
  if (given_ >= run_.needed()) return std::nullopt;
  const auto c = v_.bitmap->next_free(last_);
  if (!c) return std::nullopt;
  ++given_;
  last_ = *c;
  return c;
}

std::int8_t file_quality(ExfatVolume& v, const EntrySet& set) {
  if (!v.bitmap || !v.bitmap->usable() || !v.layout.cluster_in_volume(set.first_cluster)) {
    return 0;
  }
  // No file holds more clusters than the heap: a length that claims more is damage, and
  // counting it would take time in proportion to the claim.
  const auto cluster_bytes = static_cast<std::uint64_t>(v.layout.cluster_bytes());
  if (set.data_length / cluster_bytes > v.layout.cluster_count) return 0;
  const ClusterOrder order = cluster_order(v, set);
  ClusterRun run(v.layout, &*v.fat_reader, set.first_cluster, set.data_length,
                 order != ClusterOrder::fat_chain);
  std::uint64_t free = 0;
  bool first = true;
  while (const auto c = run.next()) {
    const bool used = v.bitmap->in_use(*c).value_or(true);
    if (first && used) return 0;
    first = false;
    if (used && order == ClusterOrder::free_clusters) break;
    if (!used) ++free;
  }
  return engine::share_percent(static_cast<std::int64_t>(free),
                               static_cast<std::int64_t>(run.needed()));
}

}  // namespace fennick::exfat

// The exFAT probe: cluster size, data bytes and free bytes (zero bits of the allocation
// bitmap).
#include "exfat/exfat_probe.h"

#include <vector>

#include "exfat/exfat_layout.h"
#include "volume/le_read.h"

namespace fennick::exfat {

using volume::ByteSpan;
using volume::FileSystemKind;
using volume::le32_or0;
using volume::VolumeFacts;
using volume::VolumeSource;

bool probe_exfat(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  const LayoutResult checked = read_layout(boot);
  if (!checked.layout) return false;
  const ExfatLayout& l = *checked.layout;
  facts.kind = FileSystemKind::exfat;
  const auto cluster = static_cast<std::uint64_t>(l.cluster_bytes());
  const std::uint64_t clusters = l.cluster_count;
  facts.cluster_size = static_cast<std::int32_t>(cluster);
  facts.total_bytes = static_cast<std::int64_t>(clusters * cluster);
  const std::uint64_t heap = l.heap_offset * l.sector_bytes;
  const std::uint64_t root = l.root_cluster;
  const std::vector<std::uint8_t> dir =
      volume::read_bytes(source, heap + (root - 2) * cluster, cluster);
  for (std::size_t at = 0; at + entry::bytes <= dir.size(); at += entry::bytes) {
    if (dir[at] == entry::end_of_directory) break;
    if (dir[at] != entry::allocation_bitmap || (dir[at + entry::bitmap_flags] & 1) != 0) continue;
    const std::uint64_t first = le32_or0(dir, at + entry::bitmap_first_cluster);
    if (!l.cluster_in_volume(first)) return true;
    std::uint64_t got = 0;
    const std::uint64_t zeros =
        volume::count_zero_bits(source, heap + (first - 2) * cluster, clusters, got);
    if (got == clusters) {
      facts.free_bytes = static_cast<std::int64_t>(zeros * cluster);
      facts.free_known = true;
    }
    return true;
  }
  return true;
}

}  // namespace fennick::exfat

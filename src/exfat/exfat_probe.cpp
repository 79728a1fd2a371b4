// The exFAT probe: cluster size, data bytes and free bytes (zero bits of the allocation
// bitmap).
#include "exfat/exfat_probe.h"

#include <cstring>
#include <vector>

#include "exfat/exfat_layout.h"
#include "volume/le_read.h"

namespace fennick::exfat {

using volume::ByteSpan;
using volume::FileSystemKind;
using volume::le32_or0;
using volume::u8_or0;
using volume::VolumeFacts;
using volume::VolumeSource;

bool probe_exfat(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  if (std::memcmp(boot.data() + boot::file_system_name, "EXFAT   ", 8) != 0) return false;
  const unsigned sector_shift = u8_or0(boot, boot::sector_shift);
  const unsigned cluster_shift = u8_or0(boot, boot::cluster_shift);
  if (sector_shift < 9 || sector_shift > 12 || sector_shift + cluster_shift > 25) return false;
  facts.kind = FileSystemKind::exfat;
  const std::uint64_t sector = 1ull << sector_shift;
  const std::uint64_t cluster = sector << cluster_shift;
  const std::uint64_t clusters = le32_or0(boot, boot::cluster_count);
  facts.cluster_size = static_cast<std::int32_t>(cluster);
  facts.total_bytes = static_cast<std::int64_t>(clusters * cluster);
  const std::uint64_t heap = le32_or0(boot, boot::heap_offset) * sector;
  const std::uint64_t root = le32_or0(boot, boot::root_cluster);
  if (root < 2 || root - 2 >= clusters) return true;
  const std::vector<std::uint8_t> dir =
      volume::read_bytes(source, heap + (root - 2) * cluster, cluster);
  for (std::size_t at = 0; at + entry::bytes <= dir.size(); at += entry::bytes) {
    if (dir[at] == 0) break;
    if (dir[at] != entry::allocation_bitmap) continue;
    const std::uint64_t first = le32_or0(dir, at + entry::bitmap_first_cluster);
    if (first < 2 || first - 2 >= clusters) return true;
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

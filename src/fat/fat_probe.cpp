// The FAT12/16/32 probe: the width, cluster size, data bytes and free bytes of a FAT volume.
#include "fat/fat_probe.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "fat/fat_layout.h"
#include "volume/boot_parameter_block.h"
#include "volume/le_read.h"

namespace fennick::fat {

using volume::ByteSpan;
using volume::FileSystemKind;
using volume::le16_or0;
using volume::le32_or0;
using volume::u8_or0;
using volume::VolumeFacts;
using volume::VolumeSource;
namespace bpb = volume::bpb;

namespace {

bool count_free_fat_entries(VolumeSource& source, std::uint64_t fat_offset, unsigned width,
                            std::uint64_t clusters, std::uint64_t& free_clusters) {
  // Entries 2 .. clusters + 1 describe the data clusters.
  const std::uint64_t last_entry = clusters + 1;
  const std::uint64_t fat_bytes = (last_entry + 1) * width / 8 + 2;
  free_clusters = 0;
  std::vector<std::uint8_t> piece;
  std::uint64_t piece_start = 0;
  for (std::uint64_t n = 2; n <= last_entry; ++n) {
    const std::uint64_t at = n * width / 8;
    if (piece.empty() || at + 4 > piece_start + piece.size()) {
      // Pieces overlap by a few bytes so an entry never straddles two of them.
      piece_start = at;
      const std::uint64_t want =
          std::min<std::uint64_t>(volume::facts_piece_bytes, fat_bytes - at + 4);
      piece = volume::read_bytes(source, fat_offset + piece_start, want);
    }
    const std::size_t entry_bytes = width == 32 ? 4 : 2;
    if (at + entry_bytes > piece_start + piece.size()) return false;  // the FAT is cut short
    const volume::ByteSpan bytes(piece);
    const std::size_t local = static_cast<std::size_t>(at - piece_start);
    std::uint32_t value = 0;
    if (width == 12) {
      value = le16_or0(bytes, local);
      value = (n & 1) ? value >> 4 : value & 0xFFF;
    } else if (width == 16) {
      value = le16_or0(bytes, local);
    } else {
      value = le32_or0(bytes, local) & 0x0FFFFFFF;
    }
    if (value == 0) ++free_clusters;
  }
  return true;
}

}  // namespace

bool probe_fat(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  const std::uint32_t bps = le16_or0(boot, bpb::bytes_per_sector);
  const std::uint32_t spc = u8_or0(boot, bpb::sectors_per_cluster);
  const std::uint32_t reserved = le16_or0(boot, bpb::reserved_sectors);
  const std::uint32_t fats = u8_or0(boot, bpb::fat_count);
  const std::uint32_t root_entries = le16_or0(boot, bpb::root_entries);
  if (!bpb::valid_sector_size(bps) || !std::has_single_bit(spc) || reserved == 0 || fats == 0 ||
      le16_or0(boot, boot::signature) != boot::signature_value) {
    return false;
  }
  const std::uint64_t fat_sectors = le16_or0(boot, bpb::fat_sectors16) != 0
                                        ? le16_or0(boot, bpb::fat_sectors16)
                                        : le32_or0(boot, boot::fat_sectors32);
  const std::uint64_t total_sectors = le16_or0(boot, bpb::total_sectors16) != 0
                                          ? le16_or0(boot, bpb::total_sectors16)
                                          : le32_or0(boot, bpb::total_sectors32);
  const std::uint64_t root_sectors = (std::uint64_t{root_entries} * 32 + bps - 1) / bps;
  const std::uint64_t data_start = reserved + fats * fat_sectors + root_sectors;
  if (fat_sectors == 0 || total_sectors <= data_start) return false;
  const std::uint64_t clusters = (total_sectors - data_start) / spc;
  const auto width = static_cast<unsigned>(fat_width_from_boot(
      le16_or0(boot, bpb::fat_sectors16), le32_or0(boot, boot::fat_sectors32), clusters));
  facts.kind = width == 32   ? FileSystemKind::fat32
               : width == 16 ? FileSystemKind::fat16
                             : FileSystemKind::fat12;
  facts.cluster_size = static_cast<std::int32_t>(bps * spc);
  facts.total_bytes = static_cast<std::int64_t>(clusters * bps * spc);
  // The FAT must be large enough to describe every data cluster; else the count is unknown.
  if ((clusters + 2) * width / 8 > fat_sectors * bps) return true;
  std::uint64_t free_clusters = 0;
  if (count_free_fat_entries(source, std::uint64_t{reserved} * bps, width, clusters,
                             free_clusters)) {
    facts.free_bytes = static_cast<std::int64_t>(free_clusters * bps * spc);
    facts.free_known = true;
  }
  return true;
}

}  // namespace fennick::fat

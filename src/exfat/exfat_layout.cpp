// The exFAT boot-sector layout, the boot checksum, FAT lookups and cluster runs.
#include "exfat/exfat_layout.h"

#include <algorithm>
#include <cstring>

#include "messages/program_texts.h"

namespace fennick::exfat {

using volume::ByteSpan;
using volume::le16_or0;
using volume::le32_or0;
using volume::le64_or0;
using volume::u8_or0;

LayoutResult read_layout(ByteSpan b) {
  LayoutResult result;
  if (b.size() < 512 || std::memcmp(b.data() + boot::file_system_name, "EXFAT   ", 8) != 0) {
    result.problem = messages::exfat_not_named;
    return result;
  }
  if (le16_or0(b, boot::signature) != boot::signature_value) {
    result.problem = messages::exfat_no_signature;
    return result;
  }
  const unsigned sector_shift = u8_or0(b, boot::sector_shift);
  const unsigned cluster_shift = u8_or0(b, boot::cluster_shift);
  // Sectors of 512 to 4096 bytes and clusters of at most 32 MiB.
  if (sector_shift < 9 || sector_shift > 12 || cluster_shift > 25 - sector_shift) {
    result.problem = messages::exfat_shifts;
    result.values = std::to_string(sector_shift) + ", " + std::to_string(cluster_shift);
    return result;
  }
  ExfatLayout l;
  l.sector_bytes = 1u << sector_shift;
  l.sectors_per_cluster = 1u << cluster_shift;
  l.volume_sectors = le64_or0(b, boot::volume_length);
  l.fat_offset = le32_or0(b, boot::fat_offset);
  l.fat_length = le32_or0(b, boot::fat_length);
  l.heap_offset = le32_or0(b, boot::heap_offset);
  l.cluster_count = le32_or0(b, boot::cluster_count);
  l.root_cluster = le32_or0(b, boot::root_cluster);
  l.fat_count = u8_or0(b, boot::fat_count);
  // Every figure below is at most 2^32 x 2^25, so sums and products stay inside 64 bits.
  const std::uint64_t heap_sectors = std::uint64_t{l.cluster_count} << cluster_shift;
  const std::uint64_t fat_bytes_needed = (std::uint64_t{l.cluster_count} + 2) * 4;
  if (l.fat_count != 1 && l.fat_count != 2) {
    result.problem = messages::exfat_fat_count;
    result.values = std::to_string(l.fat_count);
  } else if (l.fat_offset < 24 || l.fat_length == 0 ||
             l.fat_offset + l.fat_length * l.fat_count > l.heap_offset ||
             l.fat_length * l.sector_bytes < fat_bytes_needed) {
    result.problem = messages::exfat_fat_place;
    result.values = std::to_string(l.fat_offset) + ", " + std::to_string(l.fat_length) + ", " +
                    std::to_string(l.heap_offset);
  } else if (l.cluster_count == 0 || l.heap_offset + heap_sectors > l.volume_sectors) {
    result.problem = messages::exfat_heap_past_end;
    result.values = std::to_string(l.cluster_count) + ", " + std::to_string(l.heap_offset) + ", " +
                    std::to_string(l.volume_sectors);
  } else if (!l.cluster_in_volume(l.root_cluster)) {
    result.problem = messages::exfat_root_outside;
    result.values = std::to_string(l.root_cluster);
  } else {
    result.layout = l;
  }
  return result;
}

std::uint32_t boot_checksum(ByteSpan sectors, std::uint32_t sector_bytes) {
  const std::size_t length = std::size_t{boot::checksummed_sectors} * sector_bytes;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length && i < sectors.size(); ++i) {
    // The volume flags and the percent in use change while the volume is in use.
    if (i == boot::volume_flags || i == boot::volume_flags + 1 || i == boot::percent_in_use) {
      continue;
    }
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + sectors[i];
  }
  return sum;
}

bool boot_checksum_matches(ByteSpan sectors, std::uint32_t sector_bytes) {
  const std::size_t at = std::size_t{boot::checksummed_sectors} * sector_bytes;
  if (!volume::field_fits(sectors, at, sector_bytes)) return false;
  const std::uint32_t sum = boot_checksum(sectors, sector_bytes);
  for (std::size_t i = 0; i < sector_bytes; i += 4) {
    if (le32_or0(sectors, at + i) != sum) return false;
  }
  return true;
}

std::optional<std::uint32_t> read_fat_entry(volume::SectorReader& reader, const ExfatLayout& layout,
                                            std::uint32_t cluster) {
  std::uint8_t bytes[4] = {};
  const std::int64_t at = layout.fat_position() + std::int64_t{cluster} * 4;
  if (reader.read(4, bytes, at) != 4) return std::nullopt;
  return le32_or0(ByteSpan(bytes, 4), 0);
}

ClusterRun::ClusterRun(const ExfatLayout& layout, volume::SectorReader* fat_reader,
                       std::uint32_t first, std::uint64_t length, bool contiguous)
    : layout_(layout), fat_reader_(fat_reader), contiguous_(contiguous || !fat_reader) {
  const auto cluster_bytes = static_cast<std::uint64_t>(layout.cluster_bytes());
  needed_ = cluster_bytes == 0 ? 0 : length / cluster_bytes + (length % cluster_bytes != 0);
  current_ = first;
}

std::optional<std::uint32_t> ClusterRun::next() {
  if (broken_ || given_ >= needed_) return std::nullopt;
  if (given_ > 0) {
    if (contiguous_) {
      ++current_;
    } else {
      const auto link = read_fat_entry(*fat_reader_, layout_, current_);
      if (!link) {
        broken_ = true;
        return std::nullopt;
      }
      current_ = *link;
    }
  }
  if (!layout_.cluster_in_volume(current_)) {
    broken_ = true;
    return std::nullopt;
  }
  ++given_;
  return current_;
}

bool fat_chain_intact(const ExfatLayout& layout, volume::SectorReader& fat_reader,
                      std::uint32_t first, std::uint64_t length) {
  ClusterRun run(layout, &fat_reader, first, length, false);
  std::uint32_t last = 0;
  while (const auto c = run.next()) last = *c;
  if (!run.intact() || run.needed() == 0) return false;
  const auto end = read_fat_entry(fat_reader, layout, last);
  return end && *end == fat_end_of_chain;
}

}  // namespace fennick::exfat

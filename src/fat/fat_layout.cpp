// FAT volume layout, FAT lookups and the recovery-quality estimate.
#include "fat/fat_layout.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/grading.h"
#include "volume/le_read.h"

namespace fennick::fat {

namespace {

constexpr std::uint32_t fat32_end_marker = 0x0FFFFFF8;
constexpr std::uint32_t fat16_end_marker = 0xFFF8;

}  // namespace

std::int64_t FatLayout::data_start() const {
  if (is_fat32()) return reserved_sectors + std::int64_t{fat_count} * fat_sectors32;
  const std::int64_t root_sectors =
      bytes_per_sector == 0 ? 0 : root_region_bytes() / bytes_per_sector;
  return root_region_start() + root_sectors;
}

std::int64_t FatLayout::cluster_position(std::uint32_t cluster) const {
  // Every factor is at most 32 bits wide and the sector counts at most 40, so the product stays
  // far inside int64 for any boot sector.
  const std::int64_t sector =
      data_start() + (static_cast<std::int64_t>(cluster) - 2) * sectors_per_cluster;
  return sector * bytes_per_sector;
}

std::uint32_t FatLayout::cluster_limit() const {
  const std::int64_t limit = cluster_count + 2;
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(limit, 2, std::numeric_limits<std::uint32_t>::max()));
}

int fat_width_by_clusters(std::int64_t data_clusters) {
  return data_clusters < fat16_min_clusters ? 12 : 16;
}

int fat_width_from_boot(std::uint32_t fat_sectors16, std::uint32_t fat_sectors32,
                        std::uint64_t data_clusters) {
  if (fat_sectors16 == 0) return fat_sectors32 != 0 ? 32 : 0;
  return fat_width_by_clusters(static_cast<std::int64_t>(
      std::min<std::uint64_t>(data_clusters, static_cast<std::uint64_t>(fat16_min_clusters))));
}

int fat_width(volume::FileSystemKind kind, std::int64_t cluster_count) {
  if (kind == volume::FileSystemKind::fat32) return 32;
  return fat_width_by_clusters(cluster_count);
}

std::int64_t volume_cluster_count(std::int64_t total_bytes, std::uint32_t sectors_per_cluster,
                                  std::uint32_t bytes_per_sector) {
  if (sectors_per_cluster == 0 || bytes_per_sector == 0 || total_bytes <= 0) return 0;
  return total_bytes / sectors_per_cluster / bytes_per_sector;
}

std::uint32_t end_of_chain_threshold(int width) {
  switch (width) {
    case 12:
      return 0xFF8;
    case 16:
      return 0xFFF8;
    default:
      return 0x0FFFFFF8;
  }
}

bool end_of_chain(std::uint32_t value, int width) { return value >= end_of_chain_threshold(width); }

std::uint32_t end_of_chain_marker(const FatLayout& layout) {
  return layout.is_fat32() ? fat32_end_marker : fat16_end_marker;
}

FatLayout make_layout(std::span<const std::uint8_t> boot_bytes, volume::FileSystemKind kind,
                      std::int64_t total_bytes) {
  using namespace volume;
  FatLayout l;
  l.kind = kind;
  l.bytes_per_sector = le16_or0(boot_bytes, boot::bytes_per_sector);
  l.sectors_per_cluster = u8_or0(boot_bytes, boot::sectors_per_cluster);
  l.reserved_sectors = le16_or0(boot_bytes, boot::reserved_sectors);
  l.fat_count = u8_or0(boot_bytes, boot::fat_count);
  l.root_entries = le16_or0(boot_bytes, boot::root_entries);
  l.fat_sectors16 = le16_or0(boot_bytes, boot::fat_sectors16);
  l.fat_sectors32 = le32_or0(boot_bytes, boot::fat_sectors32);
  l.root_cluster = le32_or0(boot_bytes, boot::root_cluster32);
  l.cluster_count = volume_cluster_count(total_bytes, l.sectors_per_cluster, l.bytes_per_sector);
  // The boot sector decides, by the rule the drive list's probe uses too; only a boot sector
  // that gives no FAT size at all leaves it to the volume's kind.
  l.width =
      fat_width_from_boot(l.fat_sectors16, l.fat_sectors32,
                          static_cast<std::uint64_t>(std::max<std::int64_t>(l.cluster_count, 0)));
  if (l.width == 0) l.width = fat_width(kind, l.cluster_count);
  return l;
}

BootSector load_boot_sector(volume::SectorReader& reader) {
  BootSector boot{};
  if (reader.read(boot.size(), boot.data(), 0) != boot.size()) boot.fill(0);
  return boot;
}

std::uint32_t read_fat_entry(volume::SectorReader& fat_reader, const FatLayout& layout,
                             std::uint32_t cluster, bool deleted_directory) {
  const auto w = static_cast<std::uint64_t>(layout.width);
  const std::uint64_t bit = std::uint64_t{cluster} * w;
  const auto position = static_cast<std::int64_t>(layout.fat_position() + bit / 8);
  std::array<std::uint8_t, 4> bytes{};
  if (fat_reader.read(4, bytes.data(), position) != 4) return end_of_chain_marker(layout);
  std::uint32_t value = volume::le32_or0(bytes, 0);
  // Only FAT12 entries of odd clusters start in the middle of a byte.
  if (bit % 8 != 0) value >>= 4;
  if (layout.width == 12) value &= 0xFFF;
  if (layout.width == 16) value &= 0xFFFF;
  if (deleted_directory && value == 0) return end_of_chain_marker(layout);
  return value;
}

namespace {

// Entries of FAT16 and FAT32 looked at per read while searching for a free cluster.
constexpr std::uint64_t search_chunk_entries = 2048;

}  // namespace

bool FreeClusterMap::describes(const FatLayout& layout, std::uint32_t search_limit) const {
  return fat_position == layout.fat_position() && width == layout.width && limit == search_limit;
}

void FreeClusterMap::reset(const FatLayout& layout, std::uint32_t search_limit) {
  fat_position = layout.fat_position();
  width = layout.width;
  limit = search_limit;
  pieces.assign(
      static_cast<std::size_t>((std::uint64_t{search_limit} + piece_entries - 1) / piece_entries),
      {});
}

namespace {

// A FAT16 (2-byte) or FAT32 (4-byte, all 32 bits) entry of 0: the cluster is free.
bool free_entry(const std::uint8_t* e, std::uint64_t entry_bytes) {
  return entry_bytes == 2 ? (e[0] | e[1]) == 0 : (e[0] | e[1] | e[2] | e[3]) == 0;
}

// Reads piece p of the FAT into the map, with the chunk search's two bytes of slack; false
// when it cannot be read (the piece stays unknown).
bool load_free_piece(volume::SectorReader& fat_reader, const FatLayout& layout, FreeClusterMap& map,
                     std::size_t p) {
  const std::uint64_t entry_bytes = static_cast<std::uint64_t>(layout.width) / 8;
  const std::uint64_t first = p * FreeClusterMap::piece_entries;
  const std::uint64_t count =
      std::min<std::uint64_t>(FreeClusterMap::piece_entries, map.limit - first);
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(count * entry_bytes + 2));
  const auto position = static_cast<std::int64_t>(layout.fat_position() + first * entry_bytes);
  if (fat_reader.read(static_cast<std::uint32_t>(chunk.size()), chunk.data(), position) !=
      static_cast<std::int64_t>(chunk.size())) {
    return false;
  }
  std::vector<std::uint64_t> bits(static_cast<std::size_t>((count + 63) / 64), 0);
  for (std::uint64_t i = 0; i < count; ++i) {
    if (free_entry(chunk.data() + i * entry_bytes, entry_bytes)) {
      bits[static_cast<std::size_t>(i / 64)] |= std::uint64_t{1} << (i % 64);
    }
  }
  map.pieces[p] = std::move(bits);
  return true;
}

// The map's answer from k on; k is left where the map could not go on (a piece that cannot be
// read), or at limit when no free cluster is left.
std::optional<std::uint32_t> search_free_map(volume::SectorReader& fat_reader,
                                             const FatLayout& layout, FreeClusterMap& map,
                                             std::uint64_t& k) {
  while (k < map.limit) {
    const auto p = static_cast<std::size_t>(k / FreeClusterMap::piece_entries);
    if (map.pieces[p].empty() && !load_free_piece(fat_reader, layout, map, p)) return std::nullopt;
    const std::vector<std::uint64_t>& bits = map.pieces[p];
    const std::uint64_t first = std::uint64_t{p} * FreeClusterMap::piece_entries;
    for (std::uint64_t i = k - first; i / 64 < bits.size();) {
      const std::uint64_t word = bits[static_cast<std::size_t>(i / 64)] >> (i % 64);
      if (word != 0) {
        // Bits are set only for entries below the limit.
        return static_cast<std::uint32_t>(first + i +
                                          static_cast<std::uint64_t>(std::countr_zero(word)));
      }
      i = (i / 64 + 1) * 64;
    }
    k = first + FreeClusterMap::piece_entries;
  }
  k = map.limit;
  return std::uint32_t{0};
}

}  // namespace

std::uint32_t next_free_cluster(volume::SectorReader& fat_reader, const FatLayout& layout,
                                std::uint32_t cluster, std::uint32_t limit, FreeClusterMap* known) {
  std::uint64_t k = std::uint64_t{cluster} + 1;
  if (known && (layout.width == 16 || layout.width == 32)) {
    if (!known->describes(layout, limit)) known->reset(layout, limit);
    if (const auto found = search_free_map(fat_reader, layout, *known, k)) return *found;
  }
  if (layout.width == 16 || layout.width == 32) {
    // The search passes every cluster in use, often thousands in a row on a full volume, so
    // FAT16 and FAT32 entries are read a chunk at a time and tested in place. A chunk that
    // cannot be read is searched entry by entry below, with the single-entry rule for a
    // failed read (the entry counts as in use).
    const std::uint64_t entry_bytes = static_cast<std::uint64_t>(layout.width) / 8;
    std::vector<std::uint8_t> chunk;
    while (k < limit) {
      const std::uint64_t count = std::min<std::uint64_t>(search_chunk_entries, limit - k);
      // Two bytes more than the entries, as the single-entry read takes four bytes.
      chunk.resize(static_cast<std::size_t>(count * entry_bytes + 2));
      const auto position = static_cast<std::int64_t>(layout.fat_position() + k * entry_bytes);
      if (fat_reader.read(static_cast<std::uint32_t>(chunk.size()), chunk.data(), position) !=
          static_cast<std::int64_t>(chunk.size())) {
        break;
      }
      for (std::uint64_t i = 0; i < count; ++i) {
        if (free_entry(chunk.data() + i * entry_bytes, entry_bytes)) {
          return static_cast<std::uint32_t>(k + i);
        }
      }
      k += count;
    }
  }
  for (; k < limit; ++k) {
    if (read_fat_entry(fat_reader, layout, static_cast<std::uint32_t>(k), false) == 0) {
      return static_cast<std::uint32_t>(k);
    }
  }
  return 0;
}

std::int8_t quality_percent(std::int64_t free_clusters, std::int64_t needed_clusters) {
  return engine::share_percent(free_clusters, needed_clusters);
}

std::int8_t recovery_quality(volume::SectorReader& fat_reader, const FatLayout& layout,
                             std::uint32_t first_cluster, std::int64_t size,
                             messages::StatusChannel& channel) {
  if (layout.bytes_per_sector == 0) {
    channel.log("Division by Zero - CheckRecoveryQuality - 1");
    return catalogue::quality_error;
  }
  const std::int64_t cluster_bytes = layout.cluster_bytes();
  if (cluster_bytes <= 0) {
    channel.log("Division by Zero - CheckRecoveryQuality - 2");
    return catalogue::quality_error;
  }
  // Exactly the clusters the size fills; a file that ends on a cluster boundary needs no more.
  const std::int64_t needed = std::max<std::int64_t>(1, (size + cluster_bytes - 1) / cluster_bytes);
  std::int64_t free_run = 0;
  for (std::uint64_t k = first_cluster; free_run < needed; ++k) {
    // A cluster outside the volume can never be recovered, so it counts as taken.
    if (!layout.cluster_in_volume(k)) break;
    if (read_fat_entry(fat_reader, layout, static_cast<std::uint32_t>(k), false) != 0) break;
    ++free_run;
  }
  return quality_percent(free_run, needed);
}

}  // namespace fennick::fat

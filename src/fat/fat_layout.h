// FAT volume layout and the FAT lookups shared by the scan, the recovery and the wipe: the
// boot-sector fields, the FAT width, where clusters and the FAT12/FAT16 root region lie, the
// FAT entry of a cluster, the next free cluster, and the recovery-quality estimate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "messages/status_channel.h"
#include "volume/boot_parameter_block.h"
#include "volume/file_system_kind.h"
#include "volume/sector_reader.h"

namespace fennick::fat {

// Boot-sector fields (byte offsets in sector 0, little-endian): the shared parameter block
// and the FAT32 extension.
namespace boot {
constexpr std::size_t bytes_per_sector = volume::bpb::bytes_per_sector;        // u16
constexpr std::size_t sectors_per_cluster = volume::bpb::sectors_per_cluster;  // u8
constexpr std::size_t reserved_sectors = volume::bpb::reserved_sectors;  // u16; first FAT here
constexpr std::size_t fat_count = volume::bpb::fat_count;                // u8
constexpr std::size_t root_entries = volume::bpb::root_entries;          // u16, FAT12/FAT16
constexpr std::size_t total_sectors16 = volume::bpb::total_sectors16;    // u16
constexpr std::size_t fat_sectors16 = volume::bpb::fat_sectors16;        // u16, FAT12/FAT16
constexpr std::size_t total_sectors32 = volume::bpb::total_sectors32;    // u32
/*0x24*/ constexpr std::size_t fat_sectors32 = 0x24;                     // u32, FAT32
/*0x2C*/ constexpr std::size_t root_cluster32 = 0x2C;                    // u32, FAT32
/*0x1FE*/ constexpr std::size_t signature = 0x1FE;                       // u16 0xAA55
constexpr std::uint16_t signature_value = 0xAA55;
}  // namespace boot

// A FAT12 or FAT16 volume of this many data clusters or more has 16-bit FAT entries.
constexpr std::int64_t fat16_min_clusters = 4085;

constexpr std::uint32_t directory_entry_bytes = 32;

// What a FAT operation needs to know about its volume: the boot-sector fields, the volume's
// kind as the drive list probed it, the FAT width and the cluster count.
struct FatLayout {
  volume::FileSystemKind kind = volume::FileSystemKind::unknown;
  int width = 0;                   // 12, 16 or 32
  std::int64_t cluster_count = 0;  // volume_cluster_count; data clusters are 2..count+1
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t reserved_sectors = 0;
  std::uint32_t fat_count = 0;
  std::uint32_t root_entries = 0;
  std::uint32_t fat_sectors16 = 0;
  std::uint32_t fat_sectors32 = 0;
  std::uint32_t root_cluster = 0;

  bool is_fat32() const { return width == 32; }
  std::int64_t cluster_bytes() const {
    return std::int64_t{sectors_per_cluster} * bytes_per_sector;
  }
  // A layout whose clusters cannot hold a directory entry cannot be walked or copied.
  bool usable() const { return bytes_per_sector > 0 && cluster_bytes() >= directory_entry_bytes; }
  std::int64_t fat_position() const { return std::int64_t{reserved_sectors} * bytes_per_sector; }
  // In sectors.
  std::int64_t root_region_start() const {
    return reserved_sectors + std::int64_t{fat_count} * fat_sectors16;
  }
  std::int64_t root_region_bytes() const { return std::int64_t{root_entries} * 32; }
  std::int64_t data_start() const;  // in sectors
  std::int64_t root_region_position() const { return root_region_start() * bytes_per_sector; }
  std::int64_t cluster_position(std::uint32_t cluster) const;
  // Clusters 2 .. cluster_count + 1 hold data; nothing outside is read or followed.
  bool cluster_in_volume(std::uint64_t cluster) const {
    return cluster >= 2 && cluster <= static_cast<std::uint64_t>(cluster_count) + 1;
  }
  // The first cluster number past the volume's last data cluster.
  std::uint32_t cluster_limit() const;
};

// The FAT width (12, 16 or 32) of a volume, as the kernel and libblkid decide it: FAT32 when
// the 16-bit FAT size is 0 and the FAT32 one is not; otherwise by the data cluster count,
// FAT12 below 4085 clusters, else FAT16. 0 when the boot sector gives no FAT size at all.
int fat_width_from_boot(std::uint32_t fat_sectors16, std::uint32_t fat_sectors32,
                        std::uint64_t data_clusters);
// 12 below 4085 data clusters, else 16.
int fat_width_by_clusters(std::int64_t data_clusters);
// 12, 16 or 32 for the volume's kind and cluster count; used only when the boot sector gives
// no FAT size (see fat_width_from_boot).
int fat_width(volume::FileSystemKind kind, std::int64_t cluster_count);
// total_bytes ÷ sectors per cluster ÷ bytes per sector, both rounded down; 0 when either is 0.
std::int64_t volume_cluster_count(std::int64_t total_bytes, std::uint32_t sectors_per_cluster,
                                  std::uint32_t bytes_per_sector);
// The smallest FAT value that ends a chain for the width.
std::uint32_t end_of_chain_threshold(int width);
bool end_of_chain(std::uint32_t value, int width);
// The value a lookup gives for "no further cluster": a free entry inside a deleted directory,
// or an entry that cannot be read.
std::uint32_t end_of_chain_marker(const FatLayout& layout);

using BootSector = std::array<std::uint8_t, 512>;

// The layout of a boot sector on a volume of the kind with total_bytes of data (the cluster
// count comes from the latter, as the drive list learnt it).
FatLayout make_layout(std::span<const std::uint8_t> boot_bytes, volume::FileSystemKind kind,
                      std::int64_t total_bytes);
// Sector 0 read through the reader (zeros when it cannot be read).
BootSector load_boot_sector(volume::SectorReader& reader);

// The first FAT's entry of the cluster. With deleted_directory set, a free entry (0) is taken
// as the end of the directory's chain. An entry that cannot be read gives the end-of-chain
// marker, so that walks and recoveries stop there instead of wandering.
std::uint32_t read_fat_entry(volume::SectorReader& fat_reader, const FatLayout& layout,
                             std::uint32_t cluster, bool deleted_directory);
// Which clusters of a FAT16 or FAT32 volume are free, learnt from the FAT a piece at a time
// and kept. A recovery run holds one per volume, so that its files, which on a full volume
// each search long stretches of clusters in use, do not read and test those stretches again.
struct FreeClusterMap {
  static constexpr std::uint64_t piece_entries = 8192;
  std::int64_t fat_position = -1;
  int width = 0;
  std::uint32_t limit = 0;
  // Per piece of piece_entries entries: one bit per entry, set when free; empty until read.
  std::vector<std::vector<std::uint64_t>> pieces;

  // Whether the map describes this volume's FAT up to limit; if not, reset makes it so.
  bool describes(const FatLayout& layout, std::uint32_t search_limit) const;
  void reset(const FatLayout& layout, std::uint32_t search_limit);
};

// The first cluster after `cluster` whose FAT entry is 0, or 0 when there is none below limit.
// With a map that describes the volume, pieces of the FAT it already knows are not read again.
std::uint32_t next_free_cluster(volume::SectorReader& fat_reader, const FatLayout& layout,
                                std::uint32_t cluster, std::uint32_t limit,
                                FreeClusterMap* known = nullptr);
// free ÷ n × 100, rounded to the nearest integer with halves going to the even neighbour;
// 0 when n is not positive.
std::int8_t quality_percent(std::int64_t free_clusters, std::int64_t needed_clusters);
// Recovery estimate 0..100 from the free clusters at the file's first cluster onwards;
// quality_error (-1) after a "Division by Zero" line to the channel, when the boot sector
// gives no cluster size.
std::int8_t recovery_quality(volume::SectorReader& fat_reader, const FatLayout& layout,
                             std::uint32_t first_cluster, std::int64_t size,
                             messages::StatusChannel& channel);

}  // namespace fennick::fat

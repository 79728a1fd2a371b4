// exFAT volume layout: the boot-sector fields, the checked layout they give (sector and
// cluster size, where the FAT and the cluster heap lie), the boot checksum, and the FAT
// lookups the scan, the recovery and the wipe share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "volume/le_read.h"
#include "volume/sector_reader.h"

namespace fennick::exfat {

namespace boot {
/*0x03*/ constexpr std::size_t file_system_name = 0x03;  // 8 bytes: "EXFAT   "
/*0x40*/ constexpr std::size_t partition_offset = 0x40;  // u64, in sectors (informational)
/*0x48*/ constexpr std::size_t volume_length = 0x48;     // u64, in sectors
/*0x50*/ constexpr std::size_t fat_offset = 0x50;        // u32, in sectors
/*0x54*/ constexpr std::size_t fat_length = 0x54;        // u32, in sectors
/*0x58*/ constexpr std::size_t heap_offset = 0x58;       // u32: cluster heap, in sectors
/*0x5C*/ constexpr std::size_t cluster_count = 0x5C;     // u32
/*0x60*/ constexpr std::size_t root_cluster = 0x60;      // u32: first cluster of the root
/*0x6A*/ constexpr std::size_t volume_flags = 0x6A;      // u16: active FAT, dirty, media failure
/*0x6C*/ constexpr std::size_t sector_shift = 0x6C;      // u8: log2 of the sector size
/*0x6D*/ constexpr std::size_t cluster_shift = 0x6D;     // u8: log2 of sectors per cluster
/*0x6E*/ constexpr std::size_t fat_count = 0x6E;         // u8: 1 or 2
/*0x70*/ constexpr std::size_t percent_in_use = 0x70;    // u8
/*0x1FE*/ constexpr std::size_t signature = 0x1FE;       // u16 0xAA55
constexpr std::uint16_t signature_value = 0xAA55;
// The boot region's checksum covers sectors 0-10 (skipping the three fields that change
// while the volume is in use) and fills sector 11 with copies of itself.
constexpr std::uint32_t checksummed_sectors = 11;
}  // namespace boot

namespace entry {
constexpr std::size_t bytes = 32;
constexpr std::uint8_t end_of_directory = 0x00;
constexpr std::uint8_t in_use = 0x80;  // type bit: clear in a deleted entry
constexpr std::uint8_t allocation_bitmap = 0x81;
constexpr std::uint8_t upcase_table = 0x82;
constexpr std::uint8_t file = 0x85;
constexpr std::uint8_t stream_extension = 0xC0;
constexpr std::uint8_t file_name = 0xC1;
// Allocation bitmap and up-case table entries.
/*0x01*/ constexpr std::size_t bitmap_flags = 0x01;          // u8: bit 0, which FAT it serves
/*0x14*/ constexpr std::size_t bitmap_first_cluster = 0x14;  // u32 (also the up-case table's)
/*0x18*/ constexpr std::size_t bitmap_length = 0x18;         // u64 bytes (also the up-case's)
}  // namespace entry

// Sector 0's facts, checked against one another; cluster numbers 2 .. cluster_count + 1 lie
// in the heap.
struct ExfatLayout {
  std::uint32_t sector_bytes = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint64_t volume_sectors = 0;
  std::uint64_t fat_offset = 0;   // sectors
  std::uint64_t fat_length = 0;   // sectors
  std::uint64_t heap_offset = 0;  // sectors
  std::uint32_t cluster_count = 0;
  std::uint32_t root_cluster = 0;
  std::uint32_t fat_count = 1;

  std::int64_t cluster_bytes() const { return std::int64_t{sector_bytes} * sectors_per_cluster; }
  bool cluster_in_volume(std::uint64_t cluster) const {
    return cluster >= 2 && cluster - 2 < cluster_count;
  }
  std::int64_t cluster_position(std::uint32_t cluster) const {
    return static_cast<std::int64_t>(heap_offset * sector_bytes) +
           static_cast<std::int64_t>(cluster - 2) * cluster_bytes();
  }
  std::int64_t fat_position() const { return static_cast<std::int64_t>(fat_offset * sector_bytes); }
  volume::VolumeExtent extent() const { return {volume_sectors, sector_bytes}; }
};

// The layout sector 0 describes, or the reason it describes none: the signature, the
// "EXFAT   " name, the shifts within their ranges, and the FAT and the cluster heap inside
// the volume, none overlapping the boot region or each other. The reason is a message number
// (src/messages/program_texts.h) and the values that go after it.
struct LayoutResult {
  std::optional<ExfatLayout> layout;
  int problem = 0;  // 0 when the layout is usable
  std::string values;
};
LayoutResult read_layout(volume::ByteSpan boot_sector);

// The boot checksum over sectors 0-10 of the given bytes (sector_bytes each), skipping the
// volume flags and the percent-in-use field of sector 0.
std::uint32_t boot_checksum(volume::ByteSpan sectors, std::uint32_t sector_bytes);
// Whether sector 11 (at sectors + 11 x sector_bytes) holds the checksum of sectors 0-10 in
// every one of its 32-bit slots.
bool boot_checksum_matches(volume::ByteSpan sectors, std::uint32_t sector_bytes);

// FAT values: a cluster number 2 .. count + 1 links on; these end a chain.
constexpr std::uint32_t fat_bad_cluster = 0xFFFFFFF7;
constexpr std::uint32_t fat_end_of_chain = 0xFFFFFFFF;

// The FAT entry of the cluster; nullopt when it cannot be read.
std::optional<std::uint32_t> read_fat_entry(volume::SectorReader& reader, const ExfatLayout& layout,
                                            std::uint32_t cluster);

// The clusters of a stream of `length` bytes from `first`: the next ones in order when
// contiguous, else the FAT chain. No more clusters are handed out than the length needs, so a
// chain that loops cannot run on. A run that leaves the volume or a chain that ends early ends
// the stream there (intact() then tells it did not cover the length).
class ClusterRun {
 public:
  ClusterRun(const ExfatLayout& layout, volume::SectorReader* fat_reader, std::uint32_t first,
             std::uint64_t length, bool contiguous);
  // The next cluster, or nullopt when the stream is done or broken.
  std::optional<std::uint32_t> next();
  bool intact() const { return !broken_; }
  std::uint64_t needed() const { return needed_; }

 private:
  const ExfatLayout& layout_;
  volume::SectorReader* fat_reader_;
  bool contiguous_;
  std::uint64_t needed_ = 0;
  std::uint64_t given_ = 0;
  std::uint32_t current_ = 0;
  bool broken_ = false;
};

// Whether the FAT chain from the cluster links exactly the clusters a stream of `length` bytes
// needs, inside the volume, and ends there. A chain that loops never reaches its end, so it
// fails too; no memory of the clusters walked is needed.
bool fat_chain_intact(const ExfatLayout& layout, volume::SectorReader& fat_reader,
                      std::uint32_t first, std::uint64_t length);

}  // namespace fennick::exfat

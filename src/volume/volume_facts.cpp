// Reading file-system type, cluster size and space figures from a volume's own structures.
#include "volume/volume_facts.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "ntfs/mft_record.h"
#include "volume/le_read.h"

namespace fennick::volume {

namespace {

// A FAT12/FAT16 volume of this many data clusters or more has 16-bit FAT entries.
constexpr std::int64_t fat16_min_clusters = 4085;

// Allocation structures are read in pieces of this size, whatever the volume's size.
constexpr std::size_t piece_bytes = 1 << 20;

std::vector<std::uint8_t> read_bytes(VolumeSource& source, std::uint64_t offset,
                                     std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  const SourceResult r = source.read_at(offset, bytes.data(), count);
  bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(r.bytes, 0)));
  return bytes;
}

bool is_power_of_two(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// FAT boot sector (offsets from sector 0).
constexpr std::size_t bs_bytes_per_sector = 11;     // u16
constexpr std::size_t bs_sectors_per_cluster = 13;  // u8
constexpr std::size_t bs_reserved_sectors = 14;     // u16
constexpr std::size_t bs_fat_count = 16;            // u8
constexpr std::size_t bs_root_entries = 17;         // u16
constexpr std::size_t bs_total_sectors16 = 19;      // u16
constexpr std::size_t bs_fat_sectors16 = 22;        // u16
constexpr std::size_t bs_total_sectors32 = 32;      // u32
constexpr std::size_t bs_fat_sectors32 = 36;        // u32
constexpr std::size_t bs_oem_name = 3;              // 8 bytes

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
      const std::uint64_t want = std::min<std::uint64_t>(piece_bytes, fat_bytes - at + 4);
      piece = read_bytes(source, fat_offset + piece_start, want);
    }
    const std::size_t entry_bytes = width == 32 ? 4 : 2;
    if (at + entry_bytes > piece_start + piece.size()) return false;  // the FAT is cut short
    const ByteSpan bytes(piece);
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

bool read_fat_facts(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  const std::uint32_t bps = le16_or0(boot, bs_bytes_per_sector);
  const std::uint32_t spc = u8_or0(boot, bs_sectors_per_cluster);
  const std::uint32_t reserved = le16_or0(boot, bs_reserved_sectors);
  const std::uint32_t fats = u8_or0(boot, bs_fat_count);
  const std::uint32_t root_entries = le16_or0(boot, bs_root_entries);
  if (bps < 512 || bps > 4096 || !is_power_of_two(bps) || !is_power_of_two(spc) || reserved == 0 ||
      fats == 0 || le16_or0(boot, 510) != 0xAA55) {
    return false;
  }
  const std::uint64_t fat_sectors = le16_or0(boot, bs_fat_sectors16) != 0
                                        ? le16_or0(boot, bs_fat_sectors16)
                                        : le32_or0(boot, bs_fat_sectors32);
  const std::uint64_t total_sectors = le16_or0(boot, bs_total_sectors16) != 0
                                          ? le16_or0(boot, bs_total_sectors16)
                                          : le32_or0(boot, bs_total_sectors32);
  const std::uint64_t root_sectors = (std::uint64_t{root_entries} * 32 + bps - 1) / bps;
  const std::uint64_t data_start = reserved + fats * fat_sectors + root_sectors;
  if (fat_sectors == 0 || total_sectors <= data_start) return false;
  const std::uint64_t clusters = (total_sectors - data_start) / spc;
  const auto width = static_cast<unsigned>(fat_width_from_boot(
      le16_or0(boot, bs_fat_sectors16), le32_or0(boot, bs_fat_sectors32), clusters));
  facts.type = width == 32 ? "FAT32" : width == 16 ? "FAT16" : "FAT12";
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

std::uint64_t count_zero_bits(VolumeSource& source, std::uint64_t offset, std::uint64_t bits,
                              std::uint64_t& counted) {
  std::uint64_t zeros = 0;
  counted = 0;
  while (counted < bits) {
    const std::uint64_t bytes_left = (bits - counted + 7) / 8;
    const std::vector<std::uint8_t> piece =
        read_bytes(source, offset + counted / 8, std::min<std::uint64_t>(piece_bytes, bytes_left));
    if (piece.empty()) break;
    for (const std::uint8_t byte : piece) {
      const std::uint64_t in_byte = std::min<std::uint64_t>(8, bits - counted);
      const std::uint8_t mask = static_cast<std::uint8_t>((1u << in_byte) - 1);
      zeros += in_byte - static_cast<unsigned>(std::popcount(static_cast<unsigned>(byte & mask)));
      counted += in_byte;
    }
  }
  return zeros;
}

// NTFS boot sector.
constexpr std::size_t ntfs_total_sectors = 0x28;     // i64
constexpr std::size_t ntfs_mft_lcn = 0x30;           // i64
constexpr std::size_t ntfs_record_size_code = 0x40;  // i8: clusters, or 2^-n bytes if negative
constexpr std::int64_t bitmap_record = 6;

bool read_ntfs_facts(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  if (std::memcmp(boot.data() + bs_oem_name, "NTFS    ", 8) != 0) return false;
  const std::uint32_t bps = le16_or0(boot, bs_bytes_per_sector);
  const std::uint32_t spc = u8_or0(boot, bs_sectors_per_cluster);
  if (bps < 256 || bps > 4096 || !is_power_of_two(bps) || !is_power_of_two(spc)) return false;
  facts.type = "NTFS";
  const std::uint64_t cluster = std::uint64_t{bps} * spc;
  facts.cluster_size = static_cast<std::int32_t>(cluster);
  const std::uint64_t clusters = le64_or0(boot, ntfs_total_sectors) / spc;
  facts.total_bytes =
      static_cast<std::int64_t>(std::min<std::uint64_t>(clusters, 1ull << 40) * cluster);
  const auto code = static_cast<std::int8_t>(u8_or0(boot, ntfs_record_size_code));
  const std::uint64_t record_size =
      code < 0 ? (-code < 31 ? 1ull << -code : 0) : std::uint64_t(code) * cluster;
  const std::uint64_t mft_lcn = le64_or0(boot, ntfs_mft_lcn);
  if (record_size < 512 || record_size > 65536 || mft_lcn >= clusters) return true;

  std::vector<std::uint8_t> record =
      read_bytes(source, mft_lcn * cluster + bitmap_record * record_size, record_size);
  if (record.size() != record_size || !ntfs::has_file_signature(record)) return true;
  ntfs::apply_fixups(record);
  const auto data = ntfs::find_attribute(record, ntfs::type_data);
  if (!data) return true;
  std::uint64_t zeros = 0;
  std::uint64_t counted = 0;
  for (const ntfs::DataRun& run : ntfs::decode_runs(record, *data)) {
    if (counted >= clusters) break;
    const std::uint64_t run_bits = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(run.length) * cluster * 8, clusters - counted);
    if (run.sparse || static_cast<std::uint64_t>(run.lcn) >= clusters) return true;
    std::uint64_t got = 0;
    zeros += count_zero_bits(source, static_cast<std::uint64_t>(run.lcn) * cluster, run_bits, got);
    counted += got;
    if (got != run_bits) return true;
  }
  if (counted != clusters) return true;
  facts.free_bytes = static_cast<std::int64_t>(zeros * cluster);
  facts.free_known = true;
  return true;
}

// exFAT boot sector and the allocation-bitmap entry of its root directory.
constexpr std::size_t exfat_heap_offset = 88;     // u32 sectors
constexpr std::size_t exfat_cluster_count = 92;   // u32
constexpr std::size_t exfat_root_cluster = 96;    // u32
constexpr std::size_t exfat_sector_shift = 108;   // u8
constexpr std::size_t exfat_cluster_shift = 109;  // u8
constexpr std::uint8_t exfat_bitmap_entry = 0x81;

bool read_exfat_facts(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  if (std::memcmp(boot.data() + bs_oem_name, "EXFAT   ", 8) != 0) return false;
  const unsigned sector_shift = u8_or0(boot, exfat_sector_shift);
  const unsigned cluster_shift = u8_or0(boot, exfat_cluster_shift);
  if (sector_shift < 9 || sector_shift > 12 || sector_shift + cluster_shift > 25) return false;
  facts.type = "exFAT";
  const std::uint64_t sector = 1ull << sector_shift;
  const std::uint64_t cluster = sector << cluster_shift;
  const std::uint64_t clusters = le32_or0(boot, exfat_cluster_count);
  facts.cluster_size = static_cast<std::int32_t>(cluster);
  facts.total_bytes = static_cast<std::int64_t>(clusters * cluster);
  const std::uint64_t heap = le32_or0(boot, exfat_heap_offset) * sector;
  const std::uint64_t root = le32_or0(boot, exfat_root_cluster);
  if (root < 2 || root - 2 >= clusters) return true;
  const std::vector<std::uint8_t> dir = read_bytes(source, heap + (root - 2) * cluster, cluster);
  for (std::size_t at = 0; at + 32 <= dir.size(); at += 32) {
    if (dir[at] == 0) break;
    if (dir[at] != exfat_bitmap_entry) continue;
    const std::uint64_t first = le32_or0(dir, at + 20);
    if (first < 2 || first - 2 >= clusters) return true;
    std::uint64_t got = 0;
    const std::uint64_t zeros =
        count_zero_bits(source, heap + (first - 2) * cluster, clusters, got);
    if (got == clusters) {
      facts.free_bytes = static_cast<std::int64_t>(zeros * cluster);
      facts.free_known = true;
    }
    return true;
  }
  return true;
}

}  // namespace

int fat_width_by_clusters(std::int64_t data_clusters) {
  return data_clusters < fat16_min_clusters ? 12 : 16;
}

int fat_width_from_boot(std::uint32_t fat_sectors16, std::uint32_t fat_sectors32,
                        std::uint64_t data_clusters) {
  if (fat_sectors16 == 0) return fat_sectors32 != 0 ? 32 : 0;
  return fat_width_by_clusters(
      static_cast<std::int64_t>(std::min<std::uint64_t>(data_clusters, fat16_min_clusters)));
}

VolumeFacts read_volume_facts(VolumeSource& source) {
  VolumeFacts facts;
  const std::vector<std::uint8_t> boot = read_bytes(source, 0, 512);
  if (boot.size() < 512) return facts;
  if (read_ntfs_facts(source, boot, facts)) return facts;
  if (read_exfat_facts(source, boot, facts)) return facts;
  if (read_fat_facts(source, boot, facts)) return facts;
  return VolumeFacts{};
}

}  // namespace fennick::volume

// What a volume's own bytes say about it: file-system kind, cluster size, and total and free
// bytes, read from the boot sector and the allocation structures. Each engine's probe fills
// one (fat/fat_probe.h, ntfs/ntfs_probe.h, exfat/exfat_probe.h); the drive list uses them for
// volumes that are not mounted. Also the two source reads the probes share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/file_system_kind.h"
#include "volume/volume_source.h"

namespace fennick::volume {

struct VolumeFacts {
  FileSystemKind kind = FileSystemKind::unknown;
  std::int32_t cluster_size = 0;
  std::int64_t total_bytes = 0;  // data clusters x cluster size
  std::int64_t free_bytes = 0;   // free clusters x cluster size
  bool free_known = false;       // false when the allocation structures could not be read
};

// Allocation structures are read in pieces of this size, whatever the volume's size.
constexpr std::size_t facts_piece_bytes = 1 << 20;

// Up to count bytes at the offset; fewer (or none) where the source ends or fails.
std::vector<std::uint8_t> read_bytes(VolumeSource& source, std::uint64_t offset, std::size_t count);
// The zero bits among the first `bits` bits of a bitmap at the offset, read a piece at a time;
// counted tells how many bits could be read.
std::uint64_t count_zero_bits(VolumeSource& source, std::uint64_t offset, std::uint64_t bits,
                              std::uint64_t& counted);

}  // namespace fennick::volume

// What a volume's own bytes say about it: file-system type, cluster size, and total and free
// bytes, read from the boot sector and the allocation structures (the FAT, the NTFS $Bitmap,
// the exFAT allocation bitmap). Used for volumes that are not mounted.
#pragma once

#include <cstdint>
#include <string>

#include "volume/volume_source.h"

namespace fennick::volume {

struct VolumeFacts {
  std::string type;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", or empty when unknown
  std::int32_t cluster_size = 0;
  std::int64_t total_bytes = 0;  // data clusters x cluster size
  std::int64_t free_bytes = 0;   // free clusters x cluster size
  bool free_known = false;       // false when the allocation structures could not be read
};

// The FAT width (12, 16 or 32) of a volume, as the kernel and libblkid decide it: FAT32 when
// the 16-bit FAT size is 0 and the FAT32 one is not; otherwise by the data cluster count,
// FAT12 below 4085 clusters, else FAT16. 0 when the boot sector gives no FAT size at all.
int fat_width_from_boot(std::uint32_t fat_sectors16, std::uint32_t fat_sectors32,
                        std::uint64_t data_clusters);
// 12 below 4085 data clusters, else 16.
int fat_width_by_clusters(std::int64_t data_clusters);

// Reads the facts from the source; a volume that is none of the known types gives an empty
// type and zeros. Never writes.
VolumeFacts read_volume_facts(VolumeSource& source);

}  // namespace fennick::volume

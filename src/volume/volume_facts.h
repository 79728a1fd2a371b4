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

// Reads the facts from the source; a volume that is none of the known types gives an empty
// type and zeros. Never writes.
VolumeFacts read_volume_facts(VolumeSource& source);

}  // namespace fennick::volume

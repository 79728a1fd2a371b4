// Recognises a FAT12, FAT16 or FAT32 volume from its boot sector and reads its facts.
#pragma once

#include "volume/le_read.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"

namespace fennick::fat {

// True when sector 0 (boot, 512 bytes) is a FAT boot sector this program can use: facts then
// holds the kind (by the one FAT-width rule, fat_width_from_boot), the cluster size, the data
// bytes and, when the FAT describes every data cluster and can be read, the free bytes.
bool probe_fat(volume::VolumeSource& source, volume::ByteSpan boot, volume::VolumeFacts& facts);

}  // namespace fennick::fat

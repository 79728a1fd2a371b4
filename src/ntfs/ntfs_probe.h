// Recognises an NTFS volume from its boot sector and reads its facts.
#pragma once

#include "volume/le_read.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"

namespace fennick::ntfs {

// True when sector 0 (boot, 512 bytes) names NTFS with a usable sector and cluster size:
// facts then holds the kind, the cluster size, the volume's bytes and, when $Bitmap can be
// read whole, the free bytes.
bool probe_ntfs(volume::VolumeSource& source, volume::ByteSpan boot, volume::VolumeFacts& facts);

}  // namespace fennick::ntfs

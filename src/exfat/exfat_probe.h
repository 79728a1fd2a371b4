// Recognises an exFAT volume from its boot sector and reads its facts.
#pragma once

#include "volume/le_read.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"

namespace fennick::exfat {

// True when sector 0 (boot, 512 bytes) is an exFAT boot sector whose layout checks out:
// facts then holds the kind, the cluster size, the data bytes and, when the allocation bitmap
// can be read whole, the free bytes.
bool probe_exfat(volume::VolumeSource& source, volume::ByteSpan boot, volume::VolumeFacts& facts);

}  // namespace fennick::exfat

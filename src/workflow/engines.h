// The engines by file-system kind, and the probe that tells a volume's kind.
#pragma once

#include "engine/engine.h"
#include "volume/file_system_kind.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"

namespace fennick::workflow {

// The engine that reads volumes of the kind; null for a kind no engine reads. exFAT goes to
// the FAT engine, as every volume whose name holds "FAT" does.
const engine::Engine* engine_for(volume::FileSystemKind kind);

// What the volume's own structures say about it: NTFS, exFAT and FAT are tried in that order
// on sector 0. A volume none of them knows gives an unknown kind and zeros. Never writes.
volume::VolumeFacts probe_volume(volume::VolumeSource& source);

}  // namespace fennick::workflow

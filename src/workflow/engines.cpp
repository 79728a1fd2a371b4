// The engine table and the volume probe.
#include "workflow/engines.h"

#include <vector>

#include "exfat/exfat_engine.h"
#include "fat/fat_engine.h"
#include "ntfs/ntfs_engine.h"

namespace fennick::workflow {

namespace {

const fat::FatEngine fat_engine;
const exfat::ExfatEngine exfat_engine;
const ntfs::NtfsEngine ntfs_engine;

}  // namespace

const engine::Engine* engine_for(volume::FileSystemKind kind) {
  using volume::FileSystemKind;
  switch (kind) {
    case FileSystemKind::fat12:
    case FileSystemKind::fat16:
    case FileSystemKind::fat32:
      return &fat_engine;
    case FileSystemKind::exfat:
      return &exfat_engine;
    case FileSystemKind::ntfs:
      return &ntfs_engine;
    case FileSystemKind::unknown:
      break;
  }
  return nullptr;
}

volume::VolumeFacts probe_volume(volume::VolumeSource& source) {
  volume::VolumeFacts facts;
  const std::vector<std::uint8_t> boot = volume::read_bytes(source, 0, 512);
  if (boot.size() < 512) return facts;
  if (ntfs_engine.probe(source, boot, facts)) return facts;
  if (exfat_engine.probe(source, boot, facts)) return facts;
  if (fat_engine.probe(source, boot, facts)) return facts;
  return volume::VolumeFacts{};
}

}  // namespace fennick::workflow

// Fuzz target: the whole FAT scan (boot sector, FAT, every directory walk) over the fuzzer's
// bytes as a volume, then recovery of a few of the files it found.
#include <cstddef>
#include <cstdint>

#include "fat/fat_engine.h"
#include "fuzz_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  using volume::FileSystemKind;
  fuzzing::FuzzVolume v;
  // Bytes that name no file system are tried as FAT12/16 or FAT32 by their length's parity.
  fuzzing::bind_volume(v, data, size,
                       size % 2 == 0 ? FileSystemKind::fat16 : FileSystemKind::fat32);
  // Whatever else they name (NTFS), the FAT engine reads them as a FAT volume.
  if (volume::table_name(v.drive().kind) != "FAT" &&
      volume::table_name(v.drive().kind) != "FAT32") {
    v.drive().kind = FileSystemKind::fat16;
  }
  fat::scan_fat_volume(v.drive(), v.catalogue, v.run, v.channel);
  fuzzing::recover_some(v, 3);
  return 0;
}

// Fuzz target: the FAT deep scan (the ordinary walk, then every cluster it did not reach read
// for folder starts and later folder clusters, nested by their ".." links and walked) over
// the fuzzer's bytes as a volume, then recovery of a few of the files it found.
#include <cstddef>
#include <cstdint>

#include "fat/fat_engine.h"
#include "fuzz_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  using volume::FileSystemKind;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, data, size,
                       size % 2 == 0 ? FileSystemKind::fat16 : FileSystemKind::fat32);
  if (!volume::is_fat(v.drive().kind)) v.drive().kind = FileSystemKind::fat16;
  fat::scan_fat_volume(v.drive(), v.catalogue, v.run, v.channel, true);
  fuzzing::recover_some(v, 3);
  return 0;
}

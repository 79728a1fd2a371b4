// Fuzz target: the whole FAT scan (boot sector, FAT, every directory walk) over the fuzzer's
// bytes as a volume, then recovery of a few of the files it found.
#include <cstddef>
#include <cstdint>

#include "fat/fat_unit.h"
#include "fuzz_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  // Bytes that name no file system are tried as FAT12/16 or FAT32 by their length's parity.
  fuzzing::bind_volume(data, size, size % 2 == 0 ? "FAT" : "FAT32");
  if (volume::drive_table[0].fs_name != "FAT" && volume::drive_table[0].fs_name != "FAT32") {
    volume::drive_table[0].fs_name = "FAT";
  }
  fat::scan_fat_volume();
  fuzzing::recover_some(3);
  return 0;
}

// Fuzz target: the whole NTFS scan (boot sector, $MFT and its attribute list, the MFT bitmap,
// every free record, folder paths, the cluster bitmap) over the fuzzer's bytes as a volume,
// then recovery of a few of the files it found (runs, sparse and compressed data).
#include <cstddef>
#include <cstdint>

#include "fuzz_volume.h"
#include "ntfs/ntfs_unit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  fuzzing::bind_volume(data, size, "NTFS");
  volume::drive_table[0].fs_name = "NTFS";
  ntfs::scan_ntfs();
  fuzzing::recover_some(3);
  return 0;
}

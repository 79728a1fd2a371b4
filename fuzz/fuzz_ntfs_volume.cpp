// Fuzz target: the whole NTFS scan (boot sector, $MFT and its attribute list, the MFT bitmap,
// every free record, folder paths, the cluster bitmap) over the fuzzer's bytes as a volume,
// then recovery of a few of the files it found (runs, sparse and compressed data).
#include <cstddef>
#include <cstdint>

#include "fuzz_volume.h"
#include "ntfs/ntfs_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, data, size, volume::FileSystemKind::ntfs);
  v.drive().kind = volume::FileSystemKind::ntfs;
  ntfs::scan_ntfs(v.drive(), v.catalogue, v.run, v.channel);
  fuzzing::recover_some(v, 3);
  return 0;
}

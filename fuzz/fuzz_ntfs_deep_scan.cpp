// Fuzz target: the NTFS deep scan (the walk over the MFT, then every free cluster outside it
// read for MFT records of files it no longer holds, their folders rebuilt from the parent
// references among them) over the fuzzer's bytes as a volume, then recovery of a few of the
// files it found, which for the deep finds reads their record at its place.
#include <cstddef>
#include <cstdint>

#include "fuzz_volume.h"
#include "ntfs/ntfs_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, data, size, volume::FileSystemKind::ntfs);
  v.drive().kind = volume::FileSystemKind::ntfs;
  ntfs::scan_ntfs(v.drive(), v.catalogue, v.run, v.channel, true);
  fuzzing::recover_some(v, 3);
  return 0;
}

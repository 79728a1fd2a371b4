// Fuzz target: the whole exFAT scan (boot region, bitmap and up-case lookup, every folder walk,
// deleted folders and their continuation, the overlap grading) over the fuzzer's bytes as a
// volume, then recovery of a few of the files it found.
#include <cstddef>
#include <cstdint>

#include "exfat/exfat_engine.h"
#include "fuzz_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, data, size, volume::FileSystemKind::exfat);
  v.drive().kind = volume::FileSystemKind::exfat;
  exfat::scan_exfat_volume(v.drive(), v.catalogue, v.run, v.channel);
  fuzzing::recover_some(v, 3);
  return 0;
}

// Fuzz target: the exFAT deep scan (the walk from the root, then every free cluster no walk
// reached read for entry sets whose checksum matches, the folders they make up nested and
// walked) over the fuzzer's bytes as a volume, then recovery of a few of the files it found.
#include <cstddef>
#include <cstdint>

#include "exfat/exfat_engine.h"
#include "fuzz_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, data, size, volume::FileSystemKind::exfat);
  v.drive().kind = volume::FileSystemKind::exfat;
  exfat::scan_exfat_volume(v.drive(), v.catalogue, v.run, v.channel, true);
  fuzzing::recover_some(v, 3);
  return 0;
}

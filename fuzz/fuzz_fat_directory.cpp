// Fuzz target: the FAT directory walk. A fixed, valid FAT12 boot sector (64 KiB volume,
// 512-byte clusters, 16 root entries) is followed by the fuzzer's bytes as FATs, root region
// and data clusters, so every input reaches the walk: long-name runs, deleted folders,
// chains that loop or leave the volume, self-containing folders. The entry decoders run on
// every 32-byte slice as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fat/fat_engine.h"
#include "fat/fat_scan.h"
#include "fuzz_volume.h"

namespace {

std::vector<std::uint8_t> fat12_boot_sector() {
  std::vector<std::uint8_t> b(512, 0);
  const std::uint8_t jump[] = {0xEB, 0x3C, 0x90};
  std::memcpy(b.data(), jump, 3);
  std::memcpy(b.data() + 3, "FENNICK ", 8);
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  put16(11, 512);  // bytes per sector
  b[13] = 1;       // sectors per cluster
  put16(14, 1);    // reserved sectors
  b[16] = 2;       // FATs
  put16(17, 16);   // root entries: one sector
  put16(19, 128);  // total sectors: 64 KiB
  b[21] = 0xF8;
  put16(22, 1);  // sectors per FAT
  put16(24, 32);
  put16(26, 2);
  b[38] = 0x29;
  std::memcpy(b.data() + 43, "FUZZ WALK  FAT12   ", 19);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  for (std::size_t at = 0; at + 32 <= size; at += 32) {
    const std::span<const std::uint8_t> entry(data + at, 32);
    (void)fat::short_entry_name(entry);
    (void)fat::long_name_piece(entry);
    (void)fat::entry_first_cluster(entry);
    (void)fat::valid_entry_name(fat::short_entry_name(entry));
    (void)catalogue::format_timestamp(fat::decode_fat_timestamp(
        static_cast<std::uint16_t>(entry[16] | entry[17] << 8),
        static_cast<std::uint16_t>(entry[14] | entry[15] << 8), entry[13]));
  }
  static const std::vector<std::uint8_t> boot = fat12_boot_sector();
  std::vector<std::uint8_t> volume(128 * 512, 0);
  std::copy(boot.begin(), boot.end(), volume.begin());
  std::copy_n(data, std::min(size, volume.size() - 512), volume.begin() + 512);
  fuzzing::FuzzVolume v;
  fuzzing::bind_volume(v, volume.data(), volume.size(), volume::FileSystemKind::fat16);
  fat::scan_fat_volume(v.drive(), v.catalogue, v.run, v.channel);
  fuzzing::recover_some(v, 2);
  return 0;
}

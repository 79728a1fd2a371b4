// exFAT on-disk fields the probe reads: the boot sector and the allocation-bitmap entry of
// the root directory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick::exfat {

namespace boot {
/*0x03*/ constexpr std::size_t file_system_name = 0x03;  // 8 bytes: "EXFAT   "
/*0x58*/ constexpr std::size_t heap_offset = 0x58;       // u32: cluster heap, in sectors
/*0x5C*/ constexpr std::size_t cluster_count = 0x5C;     // u32
/*0x60*/ constexpr std::size_t root_cluster = 0x60;      // u32: first cluster of the root
/*0x6C*/ constexpr std::size_t sector_shift = 0x6C;      // u8: log2 of the sector size
/*0x6D*/ constexpr std::size_t cluster_shift = 0x6D;     // u8: log2 of sectors per cluster
}  // namespace boot

namespace entry {
constexpr std::size_t bytes = 32;
constexpr std::uint8_t allocation_bitmap = 0x81;             // entry type
/*0x14*/ constexpr std::size_t bitmap_first_cluster = 0x14;  // u32
}  // namespace entry

}  // namespace fennick::exfat

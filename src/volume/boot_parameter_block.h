// The BIOS parameter block: the fields that the boot sectors of FAT12/16/32, exFAT's
// predecessors and NTFS share at the same offsets of sector 0. The file systems' own tables
// (fat/fat_layout.h, ntfs/ntfs_layout.h) name these offsets from here, so each is written once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick::volume::bpb {

/*0x03*/ constexpr std::size_t oem_name = 0x03;             // 8 bytes
/*0x0B*/ constexpr std::size_t bytes_per_sector = 0x0B;     // u16
/*0x0D*/ constexpr std::size_t sectors_per_cluster = 0x0D;  // u8
/*0x0E*/ constexpr std::size_t reserved_sectors = 0x0E;     // u16 (FAT; 0 on NTFS)
/*0x10*/ constexpr std::size_t fat_count = 0x10;            // u8 (FAT)
/*0x11*/ constexpr std::size_t root_entries = 0x11;         // u16 (FAT12/16)
/*0x13*/ constexpr std::size_t total_sectors16 = 0x13;      // u16 (FAT)
/*0x15*/ constexpr std::size_t media = 0x15;                // u8: media descriptor
/*0x16*/ constexpr std::size_t fat_sectors16 = 0x16;        // u16 (FAT12/16)
/*0x18*/ constexpr std::size_t sectors_per_track = 0x18;    // u16
/*0x1A*/ constexpr std::size_t heads = 0x1A;                // u16
/*0x20*/ constexpr std::size_t total_sectors32 = 0x20;      // u32 (FAT)
/*0x28*/ constexpr std::size_t total_sectors64 = 0x28;      // i64 (NTFS)

// The media descriptor of a floppy disk.
constexpr std::uint8_t floppy_media = 0xF0;

// Sector sizes a volume may have: a power of two from 512 to 4096 bytes.
constexpr std::uint32_t min_sector_size = 512;
constexpr std::uint32_t max_sector_size = 4096;
constexpr bool valid_sector_size(std::uint32_t size) {
  return size >= min_sector_size && size <= max_sector_size && (size & (size - 1)) == 0;
}

}  // namespace fennick::volume::bpb

// NTFS on-disk structures as this program reads them: the boot sector, the MFT record header,
// attribute headers, attribute-list entries and the file-name value, with the well-known
// record numbers. Offsets are in bytes from the structure's start; every field is read with
// the bounds-checked little-endian helpers of volume/le_read.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "volume/boot_parameter_block.h"

namespace fennick::ntfs {

// Boot sector.
namespace boot {
constexpr std::size_t oem_name = volume::bpb::oem_name;                        // "NTFS    "
constexpr std::size_t bytes_per_sector = volume::bpb::bytes_per_sector;        // u16
constexpr std::size_t sectors_per_cluster = volume::bpb::sectors_per_cluster;  // u8
constexpr std::size_t total_sectors = volume::bpb::total_sectors64;            // i64
/*0x30*/ constexpr std::size_t mft_cluster = 0x30;                             // i64
/*0x40*/ constexpr std::size_t record_size_code = 0x40;  // i8: clusters, or 2^-n bytes if < 0
}  // namespace boot
// The names the engine has always used for them.
constexpr std::size_t boot_bytes_per_sector = boot::bytes_per_sector;
constexpr std::size_t boot_sectors_per_cluster = boot::sectors_per_cluster;
constexpr std::size_t boot_total_sectors = boot::total_sectors;
constexpr std::size_t boot_mft_cluster = boot::mft_cluster;
constexpr std::size_t boot_record_code = boot::record_size_code;

// Records outside these sizes are no NTFS this program can read; the bounds keep every
// per-record buffer small whatever the boot sector claims.
constexpr std::int32_t min_record_size = 512;
constexpr std::int32_t max_record_size = 64 * 1024;

// Well-known MFT records.
constexpr std::int64_t root_record = 5;    // the root folder
constexpr std::int64_t bitmap_record = 6;  // $Bitmap, the volume's cluster bitmap

// Record header.
/*0x00*/ constexpr std::size_t rec_signature = 0x00;        // 4 bytes "FILE"
/*0x04*/ constexpr std::size_t rec_usa_offset = 0x04;       // u16 update sequence array offset
/*0x06*/ constexpr std::size_t rec_usa_count = 0x06;        // u16 entries, sequence number included
/*0x10*/ constexpr std::size_t rec_sequence = 0x10;         // u16 sequence number
/*0x14*/ constexpr std::size_t rec_first_attribute = 0x14;  // u16
/*0x16*/ constexpr std::size_t rec_flags = 0x16;            // u16: 0x1 in use, 0x2 directory
/*0x18*/ constexpr std::size_t rec_bytes_in_use = 0x18;     // u32 bytes of the record in use
/*0x1C*/ constexpr std::size_t rec_allocated = 0x1C;        // u32 size of the record
/*0x20*/ constexpr std::size_t rec_base_reference = 0x20;   // u64: base record of an extension
/*0x2C*/ constexpr std::size_t rec_record_number = 0x2C;    // u32, NTFS 3.1 and later
constexpr std::uint16_t record_in_use = 0x0001;
constexpr std::uint16_t record_is_directory = 0x0002;
// The update sequence array's offset in records that carry their own number (NTFS 3.1).
constexpr std::size_t usa_offset_with_record_number = 0x30;
// The fix-up blocks the update sequence array protects.
constexpr std::size_t fixup_block = 512;
// A file reference: the low 48 bits are the record number.
constexpr std::uint64_t record_number_mask = (std::uint64_t{1} << 48) - 1;

// Attribute header, common part.
/*0x00*/ constexpr std::size_t attr_type = 0x00;    // u32; 0xFFFF in the low 16 bits ends the list
/*0x04*/ constexpr std::size_t attr_length = 0x04;  // u32 length of the whole attribute
/*0x08*/ constexpr std::size_t attr_non_resident = 0x08;  // u8
/*0x09*/ constexpr std::size_t attr_name_length = 0x09;   // u8 UTF-16 units
/*0x0C*/ constexpr std::size_t attr_flags = 0x0C;  // u16; 0x0001 compressed, 0x4000 encrypted
constexpr std::uint16_t attr_flag_compressed = 0x0001;
constexpr std::uint16_t attr_flag_encrypted = 0x4000;
constexpr std::size_t min_attribute_length = 16;
// Resident part.
/*0x10*/ constexpr std::size_t attr_value_length = 0x10;  // u32
/*0x14*/ constexpr std::size_t attr_value_offset = 0x14;  // u16
                                                          // Non-resident part.
/*0x10*/ constexpr std::size_t attr_first_vcn = 0x10;     // i64
/*0x18*/ constexpr std::size_t attr_last_vcn = 0x18;      // i64
/*0x20*/ constexpr std::size_t attr_runs_offset = 0x20;   // u16
/*0x28*/ constexpr std::size_t attr_allocated = 0x28;     // i64
/*0x30*/ constexpr std::size_t attr_data = 0x30;          // i64
/*0x38*/ constexpr std::size_t attr_initialised = 0x38;   // i64

constexpr std::uint32_t type_standard_information = 0x10;
constexpr std::uint32_t type_attribute_list = 0x20;
constexpr std::uint32_t type_file_name = 0x30;
constexpr std::uint32_t type_data = 0x80;
constexpr std::uint32_t type_bitmap = 0xB0;

// Attribute-list entry.
/*0x00*/ constexpr std::size_t list_type = 0x00;          // u32
/*0x04*/ constexpr std::size_t list_entry_length = 0x04;  // u16
/*0x06*/ constexpr std::size_t list_name_length = 0x06;   // u8
/*0x08*/ constexpr std::size_t list_first_vcn = 0x08;     // u64
/*0x10*/ constexpr std::size_t list_reference = 0x10;     // u64, low 48 bits the record number
constexpr std::size_t list_min_entry = 0x1A;

// $STANDARD_INFORMATION value.
/*0x00*/ constexpr std::size_t info_created = 0x00;   // i64 FILETIME
/*0x08*/ constexpr std::size_t info_modified = 0x08;  // i64 FILETIME: last write of the data
constexpr std::size_t info_min_length = 0x10;

// $FILE_NAME value.
/*0x00*/ constexpr std::size_t name_parent = 0x00;           // u48 record of the folder
/*0x06*/ constexpr std::size_t name_parent_sequence = 0x06;  // u16 its sequence number
/*0x40*/ constexpr std::size_t name_length_at = 0x40;        // u8 UTF-16 units
/*0x41*/ constexpr std::size_t name_space_at = 0x41;         // u8
/*0x42*/ constexpr std::size_t name_at = 0x42;               // the name

}  // namespace fennick::ntfs

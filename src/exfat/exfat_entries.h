// exFAT directory entry sets: a File entry, its Stream Extension and its File Name entries
// (and any further secondary entries the File entry counts), decoded from their raw bytes,
// in use or deleted. The set checksum, the name and the timestamps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "volume/le_read.h"

namespace fennick::exfat {

namespace file_entry {
/*0x01*/ constexpr std::size_t secondary_count = 0x01;  // u8
/*0x02*/ constexpr std::size_t set_checksum = 0x02;     // u16
/*0x04*/ constexpr std::size_t attributes = 0x04;       // u16
/*0x08*/ constexpr std::size_t created = 0x08;          // u32: DOS time (low) and date (high)
/*0x0C*/ constexpr std::size_t modified = 0x0C;         // u32
/*0x14*/ constexpr std::size_t created_10ms = 0x14;     // u8: 0-199 hundredths of a second
/*0x15*/ constexpr std::size_t modified_10ms = 0x15;    // u8
/*0x16*/ constexpr std::size_t created_utc = 0x16;      // u8: bit 7 valid, 7-bit quarter hours
/*0x17*/ constexpr std::size_t modified_utc = 0x17;     // u8
constexpr std::uint16_t attr_directory = 0x10;
}  // namespace file_entry

namespace stream_entry {
/*0x01*/ constexpr std::size_t flags = 0x01;              // u8
/*0x03*/ constexpr std::size_t name_length = 0x03;        // u8: UTF-16 units
/*0x08*/ constexpr std::size_t valid_data_length = 0x08;  // u64
/*0x14*/ constexpr std::size_t first_cluster = 0x14;      // u32
/*0x18*/ constexpr std::size_t data_length = 0x18;        // u64
constexpr std::uint8_t flag_no_fat_chain = 0x02;          // the data's clusters are contiguous
}  // namespace stream_entry

namespace name_entry {
/*0x02*/ constexpr std::size_t units = 0x02;  // 15 UTF-16 units
constexpr std::size_t units_per_entry = 15;
}  // namespace name_entry

// A File entry counts 2 to 18 secondary entries: the stream, up to 17 name entries (255
// units), and vendor entries, within that count.
constexpr std::size_t min_secondary = 2;
constexpr std::size_t max_secondary = 18;
constexpr std::size_t max_set_entries = max_secondary + 1;

// What an entry set says about its file.
struct EntrySet {
  bool deleted = false;      // the File entry's in-use bit is clear
  std::size_t entries = 0;   // File entry and secondaries
  bool checksum_ok = false;  // the stored set checksum matches the entries
  std::uint16_t attributes = 0;
  std::string name;  // UTF-8
  std::uint64_t valid_data_length = 0;
  std::uint64_t data_length = 0;
  std::uint32_t first_cluster = 0;
  bool no_fat_chain = false;
  catalogue::Timestamp created;
  catalogue::Timestamp modified;

  bool directory() const { return (attributes & file_entry::attr_directory) != 0; }
};

// Decodes the set whose File entry begins `bytes` (the entries that follow it in the directory
// after it). The secondaries must be a Stream Extension, then the name entries the stream's
// name length needs, then secondaries of any kind up to the count. A deleted set's
// secondaries must be deleted too, a live set's in use: a slot taken by another set breaks
// the set. Nothing when the bytes hold no whole set of that form.
std::optional<EntrySet> decode_entry_set(volume::ByteSpan bytes);

// The set checksum over the set's entries, as it was written: every entry with its in-use
// bit set, the File entry's checksum field left out.
std::uint16_t entry_set_checksum(volume::ByteSpan bytes, std::size_t entries);

// A timestamp (DOS date in the high half, time in the low half) with its 10 ms count and UTC
// offset byte: in UTC when the offset is valid (bit 7), else local time as stored; missing
// for a missing or invalid date.
catalogue::Timestamp decode_exfat_time(std::uint32_t stamp, std::uint8_t hundredths,
                                       std::uint8_t utc_offset);

}  // namespace fennick::exfat

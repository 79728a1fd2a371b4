// Pieces of the FAT deleted-entry scan that tests and the other FAT operations use: the
// directory-entry fields, the name and attribute tests and the date decoder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "volume/file_system_kind.h"

namespace fennick::fat {

// Directory-entry fields (byte offsets in a 32-byte entry).
namespace dirent {
constexpr std::size_t name = 0;            // 8 bytes base name
constexpr std::size_t extension = 8;       // 3 bytes
constexpr std::size_t attributes = 11;     // 8-bit
constexpr std::size_t case_flags = 12;     // 8-bit: lower-case base (0x08) and extension (0x10)
constexpr std::size_t created_10ms = 13;   // 8-bit: 10 ms units (0-199) on the created time
constexpr std::size_t created_time = 14;   // 16-bit
constexpr std::size_t created_date = 16;   // 16-bit
constexpr std::size_t cluster_high = 20;   // 16-bit
constexpr std::size_t modified_time = 22;  // 16-bit
constexpr std::size_t modified_date = 24;  // 16-bit
constexpr std::size_t cluster_low = 26;    // 16-bit
constexpr std::size_t size = 28;           // 32-bit
// Long-name entries: 5, 6 and 2 UTF-16 characters at these offsets.
constexpr std::size_t lfn_run1 = 1;
constexpr std::size_t lfn_run2 = 14;
constexpr std::size_t lfn_run3 = 28;
}  // namespace dirent

constexpr std::uint8_t attr_long_name = 0x0F;
constexpr std::uint8_t attr_volume_label = 0x08;
constexpr std::uint8_t attr_directory = 0x10;
constexpr std::uint8_t deleted_mark = 0xE5;
constexpr std::uint8_t case_lower_base = 0x08;
constexpr std::uint8_t case_lower_extension = 0x10;
// Sequence byte of the long-name piece that holds the end of the name.
constexpr std::uint8_t lfn_last_piece = 0x40;

using DirEntry = std::array<std::uint8_t, 32>;

// First cluster of an entry: high word at 20, low word at 26.
std::uint32_t entry_first_cluster(std::span<const std::uint8_t> entry);

// The 8.3 name as stored (code page 437 bytes): base and extension each up to their first zero
// byte and trimmed, joined by "." when the extension is not empty, trailing "?" removed.
std::string short_entry_name(std::span<const std::uint8_t> entry);
// The 13 characters of a long-name entry in UTF-8, each run cut at its first zero character.
std::string long_name_piece(std::span<const std::uint8_t> entry);
// The 13 UTF-16 units of a long-name entry, as stored.
std::u16string long_name_units(std::span<const std::uint8_t> entry);
// A long name's units, joined in name order, in UTF-8: up to the first zero unit, without
// trailing 0xFFFF padding; terminated tells whether a zero unit was there.
std::string long_name_text(std::u16string_view units, bool& terminated);
// The 8.3 name as the file system shows it: bytes 'A'-'Z' of the base or the extension in
// lower case when the entry's case flags say so.
std::string apply_case_flags(std::span<const std::uint8_t> entry, std::string name);
// Whether a long name that fills its pieces has the extension of its 8.3 entry (or both
// have none).
bool long_name_looks_whole(const std::string& name, std::span<const std::uint8_t> short_entry);
// A long name whose end was lost, marked as cut ("…") and given the 8.3 entry's extension
// when it lacks one: "Annual accoun….XLS".
std::string complete_cut_long_name(std::string cut, std::span<const std::uint8_t> short_entry);

// Not empty, none of \ / : * ? " < > |, and not beginning or ending with the code 0x14.
bool valid_entry_name(std::string_view name);
// Bits 0x40 and 0x80 clear, and bit 0x08 clear unless the entry is a long-name entry.
bool valid_entry_attributes(std::uint8_t attributes);
// A directory entry's date and time words (and, for the created time, its 10 ms count) as
// local time; missing for a missing or invalid date and for a year past 2050.
catalogue::Timestamp decode_fat_timestamp(std::uint16_t date, std::uint16_t time,
                                          std::uint8_t hundredths = 0);

}  // namespace fennick::fat

// exFAT entry sets: decoding, the set checksum and timestamps.
#include "exfat/exfat_entries.h"

#include <algorithm>

#include "catalogue/date_time.h"
#include "exfat/exfat_layout.h"

namespace fennick::exfat {

using volume::ByteSpan;
using volume::le16_or0;
using volume::le32_or0;
using volume::le64_or0;
using volume::u8_or0;

std::uint16_t entry_set_checksum(ByteSpan bytes, std::size_t entries) {
  std::uint16_t sum = 0;
  const std::size_t length = std::min(bytes.size(), entries * entry::bytes);
  for (std::size_t i = 0; i < length; ++i) {
    if (i == file_entry::set_checksum || i == file_entry::set_checksum + 1) continue;
    std::uint8_t byte = bytes[i];
    // The checksum was taken while the set was in use.
    if (i % entry::bytes == 0) byte |= entry::in_use;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

catalogue::Timestamp decode_exfat_time(std::uint32_t stamp, std::uint8_t hundredths,
                                       std::uint8_t utc_offset) {
  const catalogue::Timestamp stored =
      catalogue::decode_dos_timestamp(static_cast<std::uint16_t>(stamp >> 16),
                                      static_cast<std::uint16_t>(stamp & 0xFFFF), hundredths);
  if (stored.missing() || (utc_offset & 0x80) == 0) return stored;
  // A signed 7-bit count of quarter hours east of UTC: the stored time is local to that zone.
  int quarters = utc_offset & 0x7F;
  if (quarters >= 64) quarters -= 128;
  constexpr std::int64_t ticks_per_quarter = 15 * 60 * catalogue::Timestamp::ticks_per_second;
  return catalogue::Timestamp::from_ticks(stored.ticks() - quarters * ticks_per_quarter,
                                          catalogue::TimeBase::utc);
}

std::optional<EntrySet> decode_entry_set(ByteSpan bytes) {
  if (bytes.size() < entry::bytes * (min_secondary + 1)) return std::nullopt;
  const std::uint8_t type = bytes[0];
  if ((type | entry::in_use) != entry::file) return std::nullopt;
  EntrySet set;
  set.deleted = (type & entry::in_use) == 0;
  const std::size_t secondaries = u8_or0(bytes, file_entry::secondary_count);
  if (secondaries < min_secondary || secondaries > max_secondary) return std::nullopt;
  set.entries = secondaries + 1;
  if (bytes.size() < set.entries * entry::bytes) return std::nullopt;
  const std::uint8_t use_bit = set.deleted ? 0 : entry::in_use;
  const auto type_at = [&](std::size_t k) { return bytes[k * entry::bytes]; };
  const auto entry_at = [&](std::size_t k) {
    return bytes.subspan(k * entry::bytes, entry::bytes);
  };

  // The Stream Extension.
  if (type_at(1) != ((entry::stream_extension & ~entry::in_use) | use_bit)) return std::nullopt;
  const ByteSpan stream = entry_at(1);
  const std::size_t name_units = u8_or0(stream, stream_entry::name_length);
  if (name_units == 0) return std::nullopt;
  const std::size_t name_entries =
      (name_units + name_entry::units_per_entry - 1) / name_entry::units_per_entry;
  if (1 + name_entries > secondaries) return std::nullopt;
  // The name entries, then any other secondaries (their type has the secondary bit 0x40).
  std::u16string units;
  for (std::size_t k = 2; k < set.entries; ++k) {
    const std::uint8_t t = type_at(k);
    if ((t & entry::in_use) != use_bit) return std::nullopt;
    if (k < 2 + name_entries) {
      if ((t | entry::in_use) != entry::file_name) return std::nullopt;
      const ByteSpan e = entry_at(k);
      for (std::size_t u = 0; u < name_entry::units_per_entry && units.size() < name_units; ++u) {
        units.push_back(static_cast<char16_t>(le16_or0(e, name_entry::units + 2 * u)));
      }
    } else if ((t & 0x40) == 0) {
      return std::nullopt;
    }
  }
  // A name holds no zero unit; one that does was cut or is not a name.
  if (units.find(u'\0') != std::u16string::npos) return std::nullopt;
  set.name = catalogue::wide_to_ansi(units);
  set.attributes = le16_or0(bytes, file_entry::attributes);
  set.checksum_ok =
      entry_set_checksum(bytes, set.entries) == le16_or0(bytes, file_entry::set_checksum);
  set.no_fat_chain = (u8_or0(stream, stream_entry::flags) & stream_entry::flag_no_fat_chain) != 0;
  set.valid_data_length = le64_or0(stream, stream_entry::valid_data_length);
  set.data_length = le64_or0(stream, stream_entry::data_length);
  set.first_cluster = le32_or0(stream, stream_entry::first_cluster);
  set.created = decode_exfat_time(le32_or0(bytes, file_entry::created),
                                  u8_or0(bytes, file_entry::created_10ms),
                                  u8_or0(bytes, file_entry::created_utc));
  set.modified = decode_exfat_time(le32_or0(bytes, file_entry::modified),
                                   u8_or0(bytes, file_entry::modified_10ms),
                                   u8_or0(bytes, file_entry::modified_utc));
  return set;
}

}  // namespace fennick::exfat

// MFT record decoding.
#include "ntfs/mft_record.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "engine/grading.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

using volume::le16_or0;
using volume::le32_or0;
using volume::le64_or0;
using volume::u8_or0;

namespace {

// Signed little-endian value of width bytes (1..8) at p; false when it does not fit.
bool read_signed(ConstBytes bytes, std::size_t p, unsigned width, std::int64_t& value) {
  if (width == 0 || width > 8 || !volume::field_fits(bytes, p, width)) return false;
  std::uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= std::uint64_t{bytes[p + i]} << (8 * i);
  if (width < 8 && (bytes[p + width - 1] & 0x80)) v |= ~std::uint64_t{0} << (8 * width);
  value = static_cast<std::int64_t>(v);
  return true;
}

bool add_overflows(std::int64_t a, std::int64_t b) {
  return (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) ||
         (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b);
}

}  // namespace

bool has_file_signature(ConstBytes record) {
  return record.size() >= 4 && record[0] == 'F' && record[1] == 'I' && record[2] == 'L' &&
         record[3] == 'E';
}

std::size_t recognise_file_record(ConstBytes raw) {
  if (!has_file_signature(raw)) return 0;
  const std::uint32_t size = le32_or0(raw, rec_allocated);
  if (size < static_cast<std::uint32_t>(min_record_size) ||
      size > static_cast<std::uint32_t>(max_record_size) || !std::has_single_bit(size) ||
      size > raw.size()) {
    return 0;
  }
  const ConstBytes record = raw.first(size);
  const std::size_t array = le16_or0(record, rec_usa_offset);
  const std::size_t count = le16_or0(record, rec_usa_count);
  const std::size_t first_attribute = le16_or0(record, rec_first_attribute);
  const std::size_t in_use = le32_or0(record, rec_bytes_in_use);
  // The array follows the header's fixed fields, which end at 0x28 in every NTFS version.
  if (array < rec_base_reference + 8 || array % 2 != 0 || count != size / fixup_block + 1) return 0;
  if (array + 2 * count > first_attribute || first_attribute % 8 != 0) return 0;
  // The first attribute's type and length, or at least the end marker, lie in the used part.
  if (first_attribute + 8 > in_use || in_use > size) return 0;
  const std::uint16_t sequence = le16_or0(record, array);
  for (std::size_t block = 1; block < count; ++block) {
    if (le16_or0(record, fixup_block * block - 2) != sequence) return 0;
  }
  return size;
}

void apply_fixups(std::span<std::uint8_t> record) {
  const ConstBytes view(record.data(), record.size());
  const std::size_t array = le16_or0(view, rec_usa_offset);
  const std::size_t count = le16_or0(view, rec_usa_count);
  if (count < 2) return;
  for (std::size_t k = 1; k < count; ++k) {
    const std::size_t from = array + 2 * k;
    const std::size_t to = fixup_block * k - 2;
    if (!volume::field_fits(view, from, 2) || !volume::field_fits(view, to, 2)) return;
    record[to] = record[from];
    record[to + 1] = record[from + 1];
  }
}

std::optional<std::size_t> find_attribute(ConstBytes record, std::uint32_t type,
                                          int first_position) {
  std::size_t at = le16_or0(record, rec_first_attribute);
  int counter = first_position;
  while (volume::field_fits(record, at, min_attribute_length)) {
    const std::uint32_t this_type = le32_or0(record, at + attr_type);
    if ((this_type & 0xFFFF) == 0xFFFF) return std::nullopt;
    const std::uint32_t length = le32_or0(record, at + attr_length);
    // A length that does not move forward or leaves the record ends the walk.
    if (length < min_attribute_length || length > record.size() - at) return std::nullopt;
    if (counter == 0 && (this_type & 0xFFFF) == (type & 0xFFFF) &&
        u8_or0(record, at + attr_name_length) == 0) {
      return at;
    }
    if (counter != 0) --counter;
    at += length;
  }
  return std::nullopt;
}

std::vector<std::size_t> find_attributes(ConstBytes record, std::uint32_t type) {
  std::vector<std::size_t> found;
  std::size_t at = le16_or0(record, rec_first_attribute);
  while (volume::field_fits(record, at, min_attribute_length)) {
    const std::uint32_t this_type = le32_or0(record, at + attr_type);
    if ((this_type & 0xFFFF) == 0xFFFF) break;
    const std::uint32_t length = le32_or0(record, at + attr_length);
    if (length < min_attribute_length || length > record.size() - at) break;
    if ((this_type & 0xFFFF) == (type & 0xFFFF) && u8_or0(record, at + attr_name_length) == 0) {
      found.push_back(at);
    }
    at += length;
  }
  return found;
}

std::uint16_t attr_flags_of(ConstBytes record, std::size_t attribute) {
  return le16_or0(record, attribute + attr_flags);
}

std::int64_t attr_first_vcn_of(ConstBytes record, std::size_t attribute) {
  return static_cast<std::int64_t>(le64_or0(record, attribute + attr_first_vcn));
}

std::int64_t attr_last_vcn_of(ConstBytes record, std::size_t attribute) {
  return static_cast<std::int64_t>(le64_or0(record, attribute + attr_last_vcn));
}

bool attr_is_non_resident(ConstBytes record, std::size_t attribute) {
  return u8_or0(record, attribute + attr_non_resident) != 0;
}

std::int64_t attr_allocated_size(ConstBytes record, std::size_t attribute) {
  if (attr_is_non_resident(record, attribute)) {
    return static_cast<std::int64_t>(le64_or0(record, attribute + attr_allocated));
  }
  return le32_or0(record, attribute + attr_value_length);
}

std::int64_t attr_data_size(ConstBytes record, std::size_t attribute) {
  if (attr_is_non_resident(record, attribute)) {
    return static_cast<std::int64_t>(le64_or0(record, attribute + attr_data));
  }
  return le32_or0(record, attribute + attr_value_length);
}

std::optional<ResidentValue> attr_value(ConstBytes record, std::size_t attribute) {
  if (attr_is_non_resident(record, attribute)) return std::nullopt;
  const std::size_t length = le32_or0(record, attribute + attr_value_length);
  const std::size_t offset = attribute + le16_or0(record, attribute + attr_value_offset);
  const std::size_t attribute_end =
      std::min<std::size_t>(record.size(), attribute + le32_or0(record, attribute + attr_length));
  if (offset > attribute_end || length > attribute_end - offset) return std::nullopt;
  return ResidentValue{offset, length};
}

std::vector<DataRun> decode_runs(ConstBytes record, std::size_t attribute) {
  std::vector<DataRun> runs;
  if (!attr_is_non_resident(record, attribute)) return runs;
  const std::size_t attribute_end =
      std::min<std::size_t>(record.size(), attribute + le32_or0(record, attribute + attr_length));
  const ConstBytes bytes = record.first(attribute_end);
  std::size_t p = attribute + le16_or0(record, attribute + attr_runs_offset);
  std::int64_t vcn = static_cast<std::int64_t>(le64_or0(record, attribute + attr_first_vcn));
  // VCNs count from 0: a negative start is damage, and mapping from it could overflow.
  if (vcn < 0) return runs;
  std::int64_t lcn = 0;
  while (p < bytes.size()) {
    const std::uint8_t header = bytes[p];
    if (header == 0) break;
    const unsigned length_size = header & 0x0F;
    const unsigned offset_size = header >> 4;
    std::int64_t length = 0;
    if (!read_signed(bytes, p + 1, length_size, length)) break;
    // The length field is unsigned; a width of 8 with the top bit set is no real run.
    if (length_size < 8 && length < 0) length &= (std::int64_t{1} << (8 * length_size)) - 1;
    if (length <= 0) break;
    std::int64_t delta = 0;
    if (offset_size != 0 && !read_signed(bytes, p + 1 + length_size, offset_size, delta)) break;
    if (add_overflows(lcn, delta) || add_overflows(vcn, length)) break;
    lcn += delta;
    // Every cluster of a run must have a number: lcn + length - 1 is what mapping computes.
    if (delta != 0 && add_overflows(lcn, length)) break;
    const bool sparse = delta == 0;
    runs.push_back({vcn, length, sparse ? 0 : lcn, sparse});
    vcn += length;
    p += 1 + length_size + offset_size;
  }
  return runs;
}

VcnMapping map_vcn(ConstBytes record, std::size_t attribute, std::int64_t vcn) {
  if (!attr_is_non_resident(record, attribute)) return {};
  const auto first = static_cast<std::int64_t>(le64_or0(record, attribute + attr_first_vcn));
  const auto last = static_cast<std::int64_t>(le64_or0(record, attribute + attr_last_vcn));
  if (vcn < first || vcn > last) return {};
  for (const DataRun& run : decode_runs(record, attribute)) {
    if (vcn >= run.first_vcn && vcn - run.first_vcn < run.length) {
      return {true, run.sparse ? 0 : run.lcn + (vcn - run.first_vcn),
              run.first_vcn + run.length - vcn};
    }
  }
  return {};
}

std::vector<DataRun> attribute_runs(ConstBytes record, std::size_t attribute) {
  std::vector<DataRun> runs;
  if (!attr_is_non_resident(record, attribute)) return runs;
  const std::int64_t first = attr_first_vcn_of(record, attribute);
  const std::int64_t last = attr_last_vcn_of(record, attribute);
  if (first < 0 || last < first) return runs;
  for (DataRun run : decode_runs(record, attribute)) {
    if (run.first_vcn > last) break;
    // Compared without adding 1 to last - first, which overflows for a last VCN of 2^63 - 1.
    if (run.length - 1 > last - run.first_vcn) run.length = last - run.first_vcn + 1;
    runs.push_back(run);
  }
  return runs;
}

VcnMapping map_runs(std::span<const DataRun> runs, std::int64_t vcn) {
  // The last run that begins at or before the VCN is the only one that can hold it.
  std::size_t lo = 0;
  std::size_t hi = runs.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (runs[mid].first_vcn <= vcn) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return {};
  const DataRun& run = runs[lo - 1];
  if (vcn - run.first_vcn >= run.length) return {};
  return {true, run.sparse ? 0 : run.lcn + (vcn - run.first_vcn), run.first_vcn + run.length - vcn};
}

std::optional<FileNameValue> file_name_of(ConstBytes record, std::size_t attribute) {
  const auto value = attr_value(record, attribute);
  if (!value || value->length < name_at) return std::nullopt;
  const ConstBytes bytes = record.subspan(value->offset, value->length);
  FileNameValue result;
  result.parent_record = le32_or0(bytes, name_parent);
  result.parent_sequence = le16_or0(bytes, name_parent_sequence);
  result.name_space = u8_or0(bytes, name_space_at);
  result.name = name_to_ansi(bytes.subspan(name_at), u8_or0(bytes, name_length_at));
  return result;
}

void add_file_names(ChosenName& chosen, ConstBytes record) {
  constexpr std::uint8_t last_usable_namespace = 3;
  for (const std::size_t at : find_attributes(record, type_file_name)) {
    const auto value = file_name_of(record, at);
    if (!value) continue;
    chosen.any = true;
    chosen.parent = static_cast<std::int32_t>(value->parent_record);
    chosen.parent_sequence = value->parent_sequence;
    if (value->name_space <= last_usable_namespace && value->name_space < chosen.name_space) {
      chosen.name_space = value->name_space;
      chosen.name = value->name;
      chosen.found = true;
    }
  }
}

ChosenName choose_file_name(ConstBytes record) {
  ChosenName chosen;
  add_file_names(chosen, record);
  return chosen;
}

bool parent_sequence_matches(std::uint16_t reference, std::uint16_t record_sequence,
                             bool record_in_use) {
  if (reference == 0 || reference == record_sequence) return true;
  if (record_in_use) return false;
  const auto after_delete = static_cast<std::uint16_t>(reference == 0xFFFF ? 1 : reference + 1);
  return record_sequence == after_delete;
}

std::int8_t free_share_percent(std::int64_t free_clusters, std::int64_t used_clusters) {
  if (free_clusters < 0 || used_clusters < 0) return 0;
  return engine::share_percent(free_clusters, free_clusters + used_clusters);
}

catalogue::Timestamp filetime_to_timestamp(std::uint64_t filetime) {
  constexpr std::int64_t ticks_per_day = catalogue::Timestamp::ticks_per_day;
  // 1601-01-01 lies 109,205 days before 1899-12-30, 10000-01-01 2,958,466 days after it.
  constexpr std::uint64_t ticks_to_1899 = 109'205 * ticks_per_day;
  constexpr std::uint64_t ticks_to_10000 = (109'205 + 2'958'466) * ticks_per_day;
  if (filetime >= ticks_to_10000) return {};
  return catalogue::Timestamp::from_ticks(
      static_cast<std::int64_t>(filetime) - static_cast<std::int64_t>(ticks_to_1899),
      catalogue::TimeBase::utc);
}

std::string name_to_ansi(ConstBytes utf16le, std::size_t units) {
  units = std::min(units, utf16le.size() / 2);
  std::u16string wide(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) {
    wide[i] = static_cast<char16_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8));
  }
  return catalogue::wide_to_ansi(wide);
}

}  // namespace fennick::ntfs

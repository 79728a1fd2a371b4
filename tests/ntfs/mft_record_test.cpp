// MFT record decoding on hand-made records: fix-ups, attribute walk, run lists, times.
#include "ntfs/mft_record.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fennick::ntfs {
namespace {

void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) {
  r[at] = v & 0xFF;
  r[at + 1] = v >> 8;
}
void put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + i] = (v >> (8 * i)) & 0xFF;
}
void put64(std::vector<std::uint8_t>& r, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) r[at + i] = (v >> (8 * i)) & 0xFF;
}

// A record with attributes laid out one after another from 0x38.
struct RecordBuilder {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(1024, 0);
  std::size_t next = 0x38;
  RecordBuilder() {
    bytes[0] = 'F';
    bytes[1] = 'I';
    bytes[2] = 'L';
    bytes[3] = 'E';
    put16(bytes, rec_first_attribute, 0x38);
    put32(bytes, next, 0xFFFFFFFF);
  }
  std::size_t resident(std::uint32_t type, std::uint8_t name_length = 0) {
    const std::size_t at = next;
    put32(bytes, at + attr_type, type);
    put32(bytes, at + attr_length, 0x28);
    bytes[at + attr_name_length] = name_length;
    put32(bytes, at + attr_value_length, 8);
    put16(bytes, at + attr_value_offset, 0x18);
    next += 0x28;
    put32(bytes, next, 0xFFFFFFFF);
    return at;
  }
  std::size_t non_resident(std::uint32_t type, std::vector<std::uint8_t> runs,
                           std::int64_t last_vcn) {
    const std::size_t at = next;
    const std::uint32_t length = static_cast<std::uint32_t>((0x40 + runs.size() + 7) & ~7u);
    put32(bytes, at + attr_type, type);
    put32(bytes, at + attr_length, length);
    bytes[at + attr_non_resident] = 1;
    put64(bytes, at + attr_first_vcn, 0);
    put64(bytes, at + attr_last_vcn, static_cast<std::uint64_t>(last_vcn));
    put16(bytes, at + attr_runs_offset, 0x40);
    for (std::size_t i = 0; i < runs.size(); ++i) bytes[at + 0x40 + i] = runs[i];
    next += length;
    put32(bytes, next, 0xFFFFFFFF);
    return at;
  }
};

TEST(FixupTest, RestoresTheLastWordOfEveryBlock) {
  std::vector<std::uint8_t> r(1024, 0xAB);
  put16(r, rec_usa_offset, 0x30);
  put16(r, rec_usa_count, 3);
  put16(r, 0x30, 0x1111);
  put16(r, 0x32, 0x2222);
  put16(r, 0x34, 0x3333);
  apply_fixups(r);
  EXPECT_EQ(r[510] | r[511] << 8, 0x2222);
  EXPECT_EQ(r[1022] | r[1023] << 8, 0x3333);
  EXPECT_EQ(r[0x30] | r[0x31] << 8, 0x1111) << "the sequence number is left as it is";

  for (std::uint16_t count : {0, 1}) {
    std::vector<std::uint8_t> same(1024, 0xAB);
    put16(same, rec_usa_offset, 0x30);
    put16(same, rec_usa_count, count);
    const auto before = same;
    apply_fixups(same);
    EXPECT_EQ(same, before);
  }
  // An array that claims more blocks than the record has stops at the record's end.
  std::vector<std::uint8_t> big(1024, 0);
  put16(big, rec_usa_offset, 0x3F0);
  put16(big, rec_usa_count, 0xFFFF);
  apply_fixups(big);
  SUCCEED();
}

// A record as it lies on the volume: sized, with its update sequence array at 0x30 and the
// sequence number written over the last word of every block.
std::vector<std::uint8_t> on_disk_record(std::uint32_t size) {
  std::vector<std::uint8_t> r(size, 0x5A);
  std::copy_n("FILE", 4, r.begin());
  const std::uint16_t blocks = static_cast<std::uint16_t>(size / 512);
  put16(r, rec_usa_offset, 0x30);
  put16(r, rec_usa_count, blocks + 1);
  const std::size_t first = (0x30 + 2 * (blocks + 1) + 7) & ~std::size_t{7};
  put16(r, rec_first_attribute, static_cast<std::uint16_t>(first));
  put32(r, first, 0xFFFFFFFF);
  put32(r, rec_bytes_in_use, static_cast<std::uint32_t>(first + 8));
  put32(r, rec_allocated, size);
  put16(r, 0x30, 0x0007);
  for (std::uint16_t b = 1; b <= blocks; ++b) put16(r, 512u * b - 2, 0x0007);
  return r;
}

TEST(RecogniseRecordTest, TakesSoundRecordsOfEverySizeAndNothingElse) {
  for (const std::uint32_t size : {512u, 1024u, 4096u}) {
    std::vector<std::uint8_t> r = on_disk_record(size);
    EXPECT_EQ(recognise_file_record(r), size);
    // What follows the record on the volume does not matter; what is missing does.
    std::vector<std::uint8_t> longer = r;
    longer.resize(size + 3000, 0xEE);
    EXPECT_EQ(recognise_file_record(longer), size);
    EXPECT_EQ(recognise_file_record(std::span(r).first(size - 1)), 0u);
  }
  struct Damage {
    const char* what;
    void (*apply)(std::vector<std::uint8_t>&);
  };
  const Damage damages[] = {
      {"no signature", [](auto& r) { r[0] = 'B'; }},
      {"size not a power of two", [](auto& r) { put32(r, rec_allocated, 1536); }},
      {"size beyond 64 KiB", [](auto& r) { put32(r, rec_allocated, 128 * 1024); }},
      {"size below a block", [](auto& r) { put32(r, rec_allocated, 256); }},
      {"array inside the header", [](auto& r) { put16(r, rec_usa_offset, 0x10); }},
      {"odd array offset", [](auto& r) { put16(r, rec_usa_offset, 0x31); }},
      {"array count not the block count", [](auto& r) { put16(r, rec_usa_count, 2); }},
      {"first attribute inside the array", [](auto& r) { put16(r, rec_first_attribute, 0x30); }},
      {"first attribute not aligned", [](auto& r) { put16(r, rec_first_attribute, 0x3A); }},
      {"used length past the record", [](auto& r) { put32(r, rec_bytes_in_use, 4096); }},
      {"used length before the first attribute", [](auto& r) { put32(r, rec_bytes_in_use, 0x38); }},
      {"torn: a block without the sequence number", [](auto& r) { put16(r, 1022, 0x0008); }},
  };
  for (const Damage& d : damages) {
    std::vector<std::uint8_t> r = on_disk_record(1024);
    d.apply(r);
    EXPECT_EQ(recognise_file_record(r), 0u) << d.what;
  }
}

TEST(FindAttributeTest, FindsUnnamedAttributesFromAPosition) {
  RecordBuilder b;
  b.resident(type_standard_information);
  const auto dos_name = b.resident(type_file_name);
  const auto win32_name = b.resident(type_file_name);
  b.resident(type_data, 4);  // an alternate stream
  const auto data = b.resident(type_data);
  EXPECT_EQ(find_attribute(b.bytes, type_file_name, 0), dos_name);
  EXPECT_EQ(find_attribute(b.bytes, type_file_name, 2), win32_name);
  EXPECT_EQ(find_attribute(b.bytes, type_file_name, 3), std::nullopt);
  EXPECT_EQ(find_attribute(b.bytes, type_data, 0), data) << "the named stream is passed over";
}

TEST(FindAttributeTest, DamagedHeadersEndTheWalk) {
  RecordBuilder zero_length;
  const auto at = zero_length.resident(type_standard_information);
  put32(zero_length.bytes, at + attr_length, 0);
  EXPECT_EQ(find_attribute(zero_length.bytes, type_data), std::nullopt);

  RecordBuilder past_end;
  const auto p = past_end.resident(type_standard_information);
  put32(past_end.bytes, p + attr_length, 5000);
  EXPECT_EQ(find_attribute(past_end.bytes, type_data), std::nullopt);

  RecordBuilder first_outside;
  put16(first_outside.bytes, rec_first_attribute, 0xFFF0);
  EXPECT_EQ(find_attribute(first_outside.bytes, type_data), std::nullopt);
}

TEST(AttributeValueTest, ResidentValueMustLieInsideItsAttribute) {
  RecordBuilder b;
  const auto at = b.resident(type_standard_information);
  const auto v = attr_value(b.bytes, at);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->offset, at + 0x18);
  EXPECT_EQ(v->length, 8u);
  put32(b.bytes, at + attr_value_length, 0x7FFFFFFF);
  EXPECT_FALSE(attr_value(b.bytes, at).has_value());
}

struct MapCase {
  std::vector<std::uint8_t> runs;
  std::int64_t last_vcn;
  std::int64_t vcn;
  VcnMapping expected;
};

TEST(MapVcnTest, MapsThroughTheRunList) {
  const std::vector<MapCase> cases = {
      {{0x31, 0x20, 0x00, 0x00, 0x01, 0x00}, 31, 5, {true, 65541, 27}},
      {{0x21, 0x08, 0x00, 0x10, 0x21, 0x08, 0x00, 0xF0, 0x00}, 15, 9, {true, 1, 7}},
      {{0x21, 0x08, 0x00, 0x10, 0x21, 0x08, 0x00, 0xF0, 0x00}, 15, 2, {true, 4098, 6}},
      // A sparse run of 16 after a first run of 8.
      {{0x11, 0x08, 0x40, 0x01, 0x10, 0x00}, 23, 12, {true, 0, 12}},
      {{0x31, 0x20, 0x00, 0x00, 0x01, 0x00}, 31, 32, {false, 0, 0}},
      // A run list that runs past its attribute stops there.
      {{0x48, 0x20}, 31, 0, {false, 0, 0}},
  };
  for (const MapCase& c : cases) {
    RecordBuilder b;
    const auto at = b.non_resident(type_data, c.runs, c.last_vcn);
    const VcnMapping m = map_vcn(b.bytes, at, c.vcn);
    EXPECT_EQ(m.covered, c.expected.covered) << "vcn " << c.vcn;
    EXPECT_EQ(m.lcn, c.expected.lcn) << "vcn " << c.vcn;
    EXPECT_EQ(m.clusters_left, c.expected.clusters_left) << "vcn " << c.vcn;
  }
}

TEST(MapVcnTest, RunsAreCutToTheAttributesVcnRangeAndFoundByBinarySearch) {
  // Two runs of 32 clusters, but the header says the attribute ends at VCN 39.
  RecordBuilder b;
  const auto at = b.non_resident(type_data, {0x11, 0x20, 0x10, 0x11, 0x20, 0x20}, 39);
  const std::vector<DataRun> runs = attribute_runs(b.bytes, at);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].first_vcn, 32);
  EXPECT_EQ(runs[1].length, 8);
  EXPECT_EQ(runs[1].lcn, 0x30);
  for (std::int64_t vcn : {0, 5, 31, 32, 39, 40, -1}) {
    const VcnMapping a = map_runs(runs, vcn);
    const VcnMapping m = map_vcn(b.bytes, at, vcn);
    EXPECT_EQ(a.covered, m.covered) << vcn;
    EXPECT_EQ(a.lcn, m.lcn) << vcn;
    if (a.covered) {
      EXPECT_EQ(a.clusters_left, std::min<std::int64_t>(m.clusters_left, 40 - vcn)) << vcn;
    }
  }
  // A last VCN below the first one gives no runs at all.
  put64(b.bytes, at + attr_last_vcn, static_cast<std::uint64_t>(-5));
  EXPECT_TRUE(attribute_runs(b.bytes, at).empty());
}

TEST(FileNameTest, ShortValuesAreNoNameAndLongNamesStopAtTheValue) {
  RecordBuilder b;
  const auto at = b.resident(type_file_name);  // an 8-byte value: too short for a name
  EXPECT_FALSE(file_name_of(b.bytes, at).has_value());
  EXPECT_TRUE(find_attributes(b.bytes, type_file_name).size() == 1);

  // A value of 0x46 bytes whose name length claims 200 units: two units are there.
  put32(b.bytes, at + attr_length, 0x60);
  put32(b.bytes, at + attr_value_length, 0x46);
  b.bytes[at + 0x18 + 0x40] = 200;
  b.bytes[at + 0x18 + 0x41] = 1;
  b.bytes[at + 0x18 + 0x42] = 'o';
  b.bytes[at + 0x18 + 0x44] = 'k';
  put32(b.bytes, at + 0x18, 0x1234);
  const auto name = file_name_of(b.bytes, at);
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->name, "ok");
  EXPECT_EQ(name->parent_record, 0x1234u);
  EXPECT_EQ(name->name_space, 1);
}

TEST(FiletimeTest, KeepsEveryTickInUtc) {
  using catalogue::make_timestamp;
  using catalogue::Timestamp;
  constexpr auto utc = catalogue::TimeBase::utc;
  constexpr std::uint64_t unix_epoch = 116444736000000000;  // 1970-01-01 in FILETIME ticks
  constexpr std::uint64_t per_second = 10'000'000;
  struct Case {
    const char* what;
    std::uint64_t filetime;
    Timestamp expected;
  };
  const Case cases[] = {
      {"1970", unix_epoch, make_timestamp(1970, 1, 1, 0, 0, 0, 0, utc)},
      {"100 ns", unix_epoch + 1705311240ull * per_second + 1234567,
       make_timestamp(2024, 1, 15, 9, 34, 0, 1234567, utc)},
      {"the last tick of a second", unix_epoch + 1705311240ull * per_second + 9999999,
       make_timestamp(2024, 1, 15, 9, 34, 0, 9999999, utc)},
      {"0: 1601-01-01", 0, Timestamp::from_ticks(-109205 * Timestamp::ticks_per_day, utc)},
      {"one tick after 1601", 1,
       Timestamp::from_ticks(-109205 * Timestamp::ticks_per_day + 1, utc)},
      {"before 1980", unix_epoch + 170000000ull * per_second + 5,
       make_timestamp(1975, 5, 22, 14, 13, 20, 5, utc)},
      {"1899-12-30: the missing time", 94353120000000000, Timestamp{}},
      {"the last tick of 9999", 2650467743999999999,
       make_timestamp(9999, 12, 31, 23, 59, 59, 9999999, utc)},
      {"the year 10000", 2650467744000000000, Timestamp{}},
      {"the largest signed", 0x7FFFFFFFFFFFFFFF, Timestamp{}},
      {"the sign bit set", 0x8000000000000000, Timestamp{}},
      {"all ones", 0xFFFFFFFFFFFFFFFF, Timestamp{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Timestamp got = filetime_to_timestamp(c.filetime);
    EXPECT_EQ(got, c.expected) << catalogue::format_timestamp(got);
    EXPECT_EQ(got.missing(), c.expected.missing());
    EXPECT_FALSE(got.is_local());
  }
  EXPECT_EQ(catalogue::format_timestamp(filetime_to_timestamp(0)), "1601-01-01 00:00:00");
}

TEST(NameTest, ConvertsExactlyTheGivenUnits) {
  const std::vector<std::uint8_t> name = {'a', 0, 'b', 0, 0xFC, 0, 'z', 0};
  EXPECT_EQ(name_to_ansi(name, 3), "ab\xC3\xBC");
  EXPECT_EQ(name_to_ansi(name, 40), "ab\xC3\xBCz") << "never reads past the bytes";
}

}  // namespace
}  // namespace fennick::ntfs

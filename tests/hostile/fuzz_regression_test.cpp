// Inputs the fuzzers found to break the decoders, each kept as a small hand-made case: the
// decoding must stay defined (the sanitizers watch it) and give "nothing" for the damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "ntfs/mft_record.h"

namespace fennick::ntfs {
namespace {

void put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v) {
  r[at] = v & 0xFF;
  r[at + 1] = v >> 8;
}
void put64(std::vector<std::uint8_t>& r, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) r[at + i] = (v >> (8 * i)) & 0xFF;
}

// A record holding one non-resident $DATA at 0x38 whose header and run list are given.
std::vector<std::uint8_t> record_with_runs(std::int64_t first_vcn, std::int64_t last_vcn,
                                           const std::vector<std::uint8_t>& runs) {
  std::vector<std::uint8_t> r(1024, 0);
  r[0] = 'F';
  r[1] = 'I';
  r[2] = 'L';
  r[3] = 'E';
  put16(r, rec_first_attribute, 0x38);
  const std::size_t at = 0x38;
  r[at] = 0x80;
  put16(r, at + attr_length, 0x60);
  r[at + attr_non_resident] = 1;
  put64(r, at + attr_first_vcn, static_cast<std::uint64_t>(first_vcn));
  put64(r, at + attr_last_vcn, static_cast<std::uint64_t>(last_vcn));
  put16(r, at + attr_runs_offset, 0x40);
  for (std::size_t i = 0; i < runs.size(); ++i) r[at + 0x40 + i] = runs[i];
  put64(r, at + 0x60, 0xFFFFFFFF);
  return r;
}

constexpr std::int64_t max64 = std::numeric_limits<std::int64_t>::max();

// Found by fuzz_mft_record: a negative first VCN made map_vcn compute vcn - first_vcn past
// the int64 range. VCNs count from 0, so such a run list maps nothing.
TEST(FuzzRegressionTest, NegativeFirstVcnMapsNothing) {
  const auto r =
      record_with_runs(-0x6000000000000000, 0x4000000000000000, {0x11, 0x10, 0x20, 0x00});
  const ConstBytes bytes(r);
  EXPECT_TRUE(decode_runs(bytes, 0x38).empty());
  for (const std::int64_t vcn : {std::int64_t{0}, std::int64_t{0x4000000000000000}, max64}) {
    EXPECT_FALSE(map_vcn(bytes, 0x38, vcn).covered) << vcn;
  }
}

// A run whose clusters would be numbered past int64 (start 2^62, 2^62 clusters long) is no
// real run: mapping its last VCN would overflow. Runs before it are kept.
TEST(FuzzRegressionTest, RunWhoseClustersOverflowIsDropped) {
  const auto r =
      record_with_runs(0, max64, {0x11, 0x02, 0x05,  // 2 clusters at 5
                                  0x88, 0,    0,    0, 0, 0, 0, 0,    0x40,
                                  0,    0,    0,    0, 0, 0, 0, 0x40,  // 2^62 at 5 + 2^62
                                  0x00});
  const ConstBytes bytes(r);
  const std::vector<DataRun> runs = decode_runs(bytes, 0x38);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lcn, 5);
  EXPECT_EQ(map_vcn(bytes, 0x38, 1).lcn, 6);
  EXPECT_FALSE(map_vcn(bytes, 0x38, std::int64_t{1} << 62).covered);
  EXPECT_FALSE(map_runs(attribute_runs(bytes, 0x38), std::int64_t{1} << 62).covered);
}

}  // namespace
}  // namespace fennick::ntfs

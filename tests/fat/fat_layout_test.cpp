// FAT layout and lookups: entry positions of the three widths, the width threshold, the
// end-of-chain rules, the free-cluster search and the recovery-quality estimate with its
// rounding, on small FATs held in memory.
#include "fat/fat_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/file_system_kind.h"
#include "volume/sector_reader.h"
#include "volume/volume_source.h"

namespace fennick::fat {
namespace {

// A volume of 512-byte sectors whose boot sector has the given fields, with a FAT at sector
// `reserved` that the test fills entry by entry.
class FatInMemory {
 public:
  FatInMemory(int width, std::uint16_t reserved, std::uint32_t sectors = 64)
      : width_(width), reserved_(reserved), bytes_(sectors * 512, 0) {
    bytes_[11] = 0x00;
    bytes_[12] = 0x02;  // 512 bytes per sector
    bytes_[13] = 1;     // sectors per cluster
    bytes_[14] = static_cast<std::uint8_t>(reserved);
    bytes_[15] = 0;
    bytes_[16] = 1;
    bytes_[46] = 1;  // keeps the reader's 64-bit sector limit far above the volume
  }
  void set(std::uint32_t cluster, std::uint32_t value) {
    const std::size_t base = reserved_ * 512u;
    if (width_ == 12) {
      const std::size_t at = base + cluster * 3 / 2;
      if (cluster % 2 == 0) {
        bytes_[at] = value & 0xFF;
        bytes_[at + 1] = static_cast<std::uint8_t>((bytes_[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
      } else {
        bytes_[at] = static_cast<std::uint8_t>((bytes_[at] & 0x0F) | ((value << 4) & 0xF0));
        bytes_[at + 1] = static_cast<std::uint8_t>(value >> 4);
      }
      return;
    }
    const std::size_t at = base + cluster * (width_ / 8);
    for (int i = 0; i < width_ / 8; ++i)
      bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }
  // Makes a memory volume of the bytes (source_) and returns a layout for them.
  FatLayout attach(volume::FileSystemKind kind, std::int64_t clusters) {
    source_ = std::make_shared<volume::MemorySource>(bytes_);
    return make_layout(bytes_, kind, clusters * 512);
  }
  std::shared_ptr<volume::MemorySource> source_;

 private:
  int width_;
  std::uint16_t reserved_;
  std::vector<std::uint8_t> bytes_;
};

using volume::FileSystemKind;
// The kind a volume the drive list names "FAT" has (volume::kind_from_name).
constexpr FileSystemKind fat_kind = FileSystemKind::fat16;
constexpr FileSystemKind fat32_kind = FileSystemKind::fat32;

class FatLayoutTest : public ::testing::Test {
 protected:
  // Where the quality estimate reports.
  messages::RecordingChannel log;
};

TEST(FatWidthTest, FatNameBelow4085ClustersIsTwelveBitsElseSixteen) {
  std::vector<std::uint8_t> boot(512, 0);
  boot[11] = 0;
  boot[12] = 4;  // 1024 bytes per sector
  boot[13] = 2;  // 2 KiB clusters
  EXPECT_EQ(make_layout(boot, fat_kind, 4084LL * 2048).width, 12);
  EXPECT_EQ(make_layout(boot, fat_kind, 4085LL * 2048).width, 16);
  EXPECT_EQ(make_layout(boot, fat_kind, 4087LL * 2048 - 1).cluster_count, 4086);
  boot[22] = 8;  // a 16-bit FAT size: the cluster count decides, whatever the name
  EXPECT_EQ(make_layout(boot, fat32_kind, 4084LL * 2048).width, 12);
  EXPECT_EQ(make_layout(boot, fat32_kind, 70000LL * 2048).width, 16);
  boot[22] = 0;
  boot[36] = 8;  // only a 32-bit FAT size: FAT32, however few the clusters
  EXPECT_EQ(make_layout(boot, fat_kind, 100LL * 2048).width, 32);
  boot[36] = 0;
  EXPECT_EQ(make_layout(boot, fat32_kind, 100 * 2048).width, 32);
  EXPECT_TRUE(end_of_chain(0xFF8, 12));
  EXPECT_FALSE(end_of_chain(0xFF7, 12));
  EXPECT_FALSE(end_of_chain(0xFFF7, 16));
  EXPECT_TRUE(end_of_chain(0x1FFFFFFF, 32));
}

TEST(FatWidthTest, PositionsFollowTheBootSector) {
  std::vector<std::uint8_t> boot(512, 0);
  boot[11] = 0;
  boot[12] = 2;  // 512
  boot[13] = 4;
  boot[14] = 1;  // reserved
  boot[16] = 2;  // FATs
  boot[17] = 0;
  boot[18] = 2;   // 512 root entries
  boot[22] = 32;  // sectors per FAT (16-bit)
  const FatLayout fat16 = make_layout(boot, fat_kind, 10000LL * 2048);
  EXPECT_EQ(fat16.root_region_position(), (1 + 2 * 32) * 512);
  EXPECT_EQ(fat16.cluster_position(2), (1 + 64 + 32) * 512);
  EXPECT_EQ(fat16.cluster_position(5), (1 + 64 + 32 + 12) * 512);
  boot[22] = 0;  // FAT32 has no 16-bit FAT size
  boot[36] = 0x10;
  boot[37] = 0x01;  // 272 sectors per FAT (32-bit)
  const FatLayout fat32 = make_layout(boot, fat32_kind, 100000LL * 2048);
  EXPECT_EQ(fat32.cluster_position(2), (1 + 2 * 272) * 512);
}

TEST_F(FatLayoutTest, Fat12EntriesAtOddClustersAreShiftedAndEvenOnesMasked) {
  FatInMemory fat(12, 1);
  fat.set(2, 0x123);
  fat.set(3, 0xABC);
  fat.set(600, 0x456);
  fat.set(601, 0xFFF);
  const FatLayout layout = fat.attach(fat_kind, 3000);
  ASSERT_EQ(layout.width, 12);
  // Cluster 3 lies at bytes 4 and 5 of the FAT, cluster 2 at bytes 3 and 4, cluster 600 at 900.
  EXPECT_EQ(fat.bytes()[512 + 3], 0x23);
  EXPECT_EQ(fat.bytes()[512 + 4], 0xC1);
  EXPECT_EQ(fat.bytes()[512 + 900], 0x56);
  volume::SectorReader reader(fat.source_, 2);
  EXPECT_EQ(read_fat_entry(reader, layout, 2, false), 0x123u);
  EXPECT_EQ(read_fat_entry(reader, layout, 3, false), 0xABCu);
  EXPECT_EQ(read_fat_entry(reader, layout, 600, false), 0x456u);
  EXPECT_EQ(read_fat_entry(reader, layout, 601, false), 0xFFFu);
  EXPECT_EQ(read_fat_entry(reader, layout, 4, false), 0u);
}

TEST_F(FatLayoutTest, Fat16EntryOfCluster300LiesAtByte1112) {
  FatInMemory fat(16, 1);
  fat.bytes()[1112] = 0x34;
  fat.bytes()[1113] = 0x12;
  const FatLayout layout = fat.attach(fat_kind, 20000);
  volume::SectorReader reader(fat.source_, 2);
  EXPECT_EQ(read_fat_entry(reader, layout, 300, false), 0x1234u);
}

TEST_F(FatLayoutTest, Fat32KeepsTheTopBitsAndTakesThemAsEndOfChain) {
  FatInMemory fat(32, 2);
  fat.set(10, 0x1FFFFFFF);
  fat.set(11, 0xFFFFFFFF);
  const FatLayout layout = fat.attach(fat32_kind, 70000);
  volume::SectorReader reader(fat.source_, 2);
  EXPECT_EQ(read_fat_entry(reader, layout, 10, false), 0x1FFFFFFFu);
  EXPECT_EQ(read_fat_entry(reader, layout, 11, false), 0xFFFFFFFFu);
  EXPECT_TRUE(end_of_chain(read_fat_entry(reader, layout, 10, false), 32));
}

TEST_F(FatLayoutTest, FreeEntryOfADeletedDirectoryEndsItsChain) {
  struct Case {
    int width;
    FileSystemKind fs;
    std::int64_t clusters;
    std::uint32_t end;
  };
  for (const Case c : {Case{12, fat_kind, 3000, 0xFFF8}, Case{16, fat_kind, 20000, 0xFFF8},
                       Case{32, fat32_kind, 70000, 0x0FFFFFF8}}) {
    FatInMemory fat(c.width, 1);
    const FatLayout layout = fat.attach(c.fs, c.clusters);
    volume::SectorReader reader(fat.source_, 2);
    EXPECT_EQ(read_fat_entry(reader, layout, 7, true), c.end) << c.width;
    EXPECT_EQ(read_fat_entry(reader, layout, 7, false), 0u) << c.width;
  }
}

TEST_F(FatLayoutTest, AnUnreadableFatEntryEndsTheChain) {
  FatInMemory fat(16, 1);
  const FatLayout layout = fat.attach(fat_kind, 20000);
  fat.source_->unreadable_from = 512;
  volume::SectorReader reader(fat.source_, 2);
  EXPECT_TRUE(end_of_chain(read_fat_entry(reader, layout, 9, false), 16));
  EXPECT_EQ(next_free_cluster(reader, layout, 5, 40), 0u);
}

TEST_F(FatLayoutTest, NextFreeClusterSkipsClustersInUse) {
  FatInMemory fat(16, 1);
  for (std::uint32_t c = 2; c < 200; ++c) fat.set(c, 0xFFFF);
  fat.set(103, 0);
  const FatLayout layout = fat.attach(fat_kind, 20000);
  volume::SectorReader reader(fat.source_, 2);
  EXPECT_EQ(next_free_cluster(reader, layout, 100, 198), 103u);
  EXPECT_EQ(next_free_cluster(reader, layout, 103, 198), 0u);
  EXPECT_EQ(next_free_cluster(reader, layout, 100, 103), 0u);
}

// A recovery run keeps what it learnt of the FAT in a map: every answer must be the one the
// plain search gives, across piece boundaries, at the search limit and over an unreadable
// stretch, and pieces known already must not be read again.
TEST_F(FatLayoutTest, AFreeClusterMapGivesThePlainSearchsAnswersAndReadsEachPieceOnce) {
  struct Case {
    int width;
    FileSystemKind fs;
    std::int64_t clusters;
    std::uint32_t limit;
    bool hole;
  };
  for (const Case c :
       {Case{32, fat32_kind, 20000, 19990, false}, Case{16, fat_kind, 20000, 17000, false},
        Case{32, fat32_kind, 20000, 19990, true}}) {
    SCOPED_TRACE(c.width);
    const std::uint32_t sectors = static_cast<std::uint32_t>(2 + 20002 * (c.width / 8) / 512 + 2);
    FatInMemory fat(c.width, 1, sectors);
    const std::uint32_t used = c.width == 16 ? 0xFFFF : 0x0FFFFFFF;
    for (std::uint32_t k = 2; k < 20000; ++k) fat.set(k, used);
    // Free clusters on both sides of piece boundaries, one just below the limit, a few between.
    for (const std::uint32_t k : {8191u, 8192u, 12000u, 16383u, 16384u, 16999u, 19989u})
      fat.set(k, 0);
    const FatLayout layout = fat.attach(c.fs, c.clusters);
    if (c.hole) fat.source_->unreadable_from = 512 + 10000 * 4;  // the FAT from cluster 10000 on
    volume::SectorReader plain_reader(fat.source_, 64);
    volume::SectorReader map_reader(fat.source_, 64);
    FreeClusterMap map;
    const std::vector<std::uint32_t> starts = {2,     100,   8190,  8191,  8192,
                                               9000,  12000, 16382, 16383, 16998,
                                               16999, 19988, 19989, 19990, 30000};
    for (const std::uint32_t start : starts) {
      EXPECT_EQ(next_free_cluster(map_reader, layout, start, c.limit, &map),
                next_free_cluster(plain_reader, layout, start, c.limit))
          << "from " << start;
    }
    if (c.hole) continue;
    const std::int64_t reads = fat.source_->read_calls;
    for (const std::uint32_t start : starts)
      next_free_cluster(map_reader, layout, start, c.limit, &map);
    EXPECT_EQ(fat.source_->read_calls, reads);
  }
}

TEST(FatQualityTest, HalvesRoundToTheEvenNeighbour) {
  EXPECT_EQ(quality_percent(1, 8), 12);  // 12.5
  EXPECT_EQ(quality_percent(3, 8), 38);  // 37.5
  EXPECT_EQ(quality_percent(5, 8), 62);  // 62.5
  EXPECT_EQ(quality_percent(1, 40), 2);  // 2.5, exactly half despite 1/40 not being binary
  EXPECT_EQ(quality_percent(3, 5), 60);
  EXPECT_EQ(quality_percent(2, 3), 67);
  EXPECT_EQ(quality_percent(0, 0), 0);
}

TEST_F(FatLayoutTest, QualityCountsFreeClustersFromTheFirstOne) {
  FatInMemory fat(16, 1);
  fat.set(20, 0xFFFF);  // the 1-byte file at 19 is followed by a cluster in use
  fat.set(33, 0xFFFF);  // 5-cluster file at 30: 30..32 free, 33 in use
  fat.set(40, 0xFFFF);  // a file in use
  fat.set(51, 0xFFFF);  // 8-cluster files at 50, 60, 70: 1, 3 and 5 of 8 needed free
  fat.set(63, 0xFFFF);
  fat.set(75, 0xFFFF);
  const FatLayout layout = fat.attach(fat_kind, 20000);
  volume::SectorReader reader(fat.source_, 64);
  EXPECT_EQ(recovery_quality(reader, layout, 19, 1, log), 100);
  EXPECT_EQ(recovery_quality(reader, layout, 40, 1, log), 0);
  EXPECT_EQ(recovery_quality(reader, layout, 30, 4 * 512 + 1, log), 60);
  EXPECT_EQ(recovery_quality(reader, layout, 50, 7 * 512 + 1, log), 12);
  EXPECT_EQ(recovery_quality(reader, layout, 60, 7 * 512 + 1, log), 38);
  EXPECT_EQ(recovery_quality(reader, layout, 70, 7 * 512 + 1, log), 62);
  EXPECT_EQ(recovery_quality(reader, layout, 0, 100, log), 0);
  // A size that fills its clusters exactly needs no more: one cluster at 19 (20 in use) is
  // whole, four at 30 have three free.
  EXPECT_EQ(recovery_quality(reader, layout, 19, 512, log), 100);
  EXPECT_EQ(recovery_quality(reader, layout, 30, 4 * 512, log), 75);
  EXPECT_EQ(recovery_quality(reader, layout, 30, 3 * 512, log), 100);
  // Clusters past the volume's end (here 2..101) never count as free, though the FAT sector
  // that would describe them reads as zeros.
  const FatLayout small = make_layout(fat.bytes(), fat32_kind, 100 * 512);
  EXPECT_EQ(recovery_quality(reader, small, 99, 4 * 512 + 1, log), 60);
  EXPECT_EQ(recovery_quality(reader, small, 102, 1, log), 0);
}

TEST_F(FatLayoutTest, QualityWithoutClusterSizeLogsDivisionByZero) {
  FatInMemory fat(16, 1);
  FatLayout layout = fat.attach(fat_kind, 20000);
  volume::SectorReader reader(fat.source_, 2);
  layout.bytes_per_sector = 0;
  EXPECT_EQ(recovery_quality(reader, layout, 5, 100, log), -1);
  layout.bytes_per_sector = 512;
  layout.sectors_per_cluster = 0;
  EXPECT_EQ(recovery_quality(reader, layout, 5, 100, log), -1);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "Division by Zero - CheckRecoveryQuality - 1");
  EXPECT_EQ(log.lines[1], "Division by Zero - CheckRecoveryQuality - 2");
}

}  // namespace
}  // namespace fennick::fat

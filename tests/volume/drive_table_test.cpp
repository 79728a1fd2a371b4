// The drive table: names, captions, letters and ticks of named volumes, and problems with
// volumes that cannot be read.
#include "volume/drive_table.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"
#include "volume/volume_source.h"

namespace fennick::volume {
namespace {

TEST(DriveTableTest, FileSystemNamesMapByTheSubstringRule) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"FAT32", "FAT32"}, {"FAT16", "FAT"}, {"FAT12", "FAT"}, {"exFAT", "FAT"},
      {"vfat", "FAT"},    {"NTFS", "NTFS"}, {"EXT4", ""},     {"", ""},
  };
  for (const auto& [probed, listed] : cases) EXPECT_EQ(table_fs_name(probed), listed) << probed;
}

TEST(DriveTableTest, CaptionsShowMegabytesBelow1000AndGigabytesFrom1000) {
  const std::vector<std::tuple<char, double, std::string>> cases = {
      {'c', 1000, "C:\\  (0.98 GB)"},
      {'c', 999, "C:\\  (999.00 MB)"},
      {'c', 76310, "C:\\  (74.52 GB)"},
      {'e', 512, "E:\\  (512.00 MB)"},
      {'d', 0, "D:\\  (0.00 MB)"},
  };
  for (const auto& [letter, mb, caption] : cases) {
    DriveInfo d;
    d.drive_letter = letter;
    d.size_mb = mb;
    EXPECT_EQ(drive_caption(d), caption);
  }
}

class NamedVolumesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    named_volumes.clear();
    drive_table.clear();
    detach_all_sources();
  }
};

TEST_F(NamedVolumesTest, NamedVolumesGetLettersFromCAndOnlyCIsTicked) {
  const std::string fat12 = testing::fixture_image("fat12.img");
  const std::string fat16 = testing::fixture_image("fat16.img");
  ASSERT_FALSE(fat12.empty() || fat16.empty()) << "fixture images missing";
  testing::TempDir dir;
  const std::string unknown = dir.path() + "/blank.img";
  std::ofstream(unknown, std::ios::binary) << std::string(3 << 20, '\0');

  named_volumes = {fat16, dir.path() + "/missing.img", unknown, fat12};
  const std::vector<DriveProblem> problems = get_drives(false);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].path, dir.path() + "/missing.img");
  EXPECT_EQ(problems[0].reason, "No such file or directory");

  ASSERT_EQ(drive_table.size(), 3u);
  EXPECT_EQ(drive_table[0].drive_letter, 'c');
  EXPECT_EQ(drive_table[1].drive_letter, 'd');
  EXPECT_EQ(drive_table[2].drive_letter, 'e');
  EXPECT_TRUE(drive_table[0].ticked);
  EXPECT_FALSE(drive_table[1].ticked);
  EXPECT_FALSE(drive_table[2].ticked);
  EXPECT_EQ(drive_table[0].fs_name, "FAT");
  EXPECT_EQ(drive_table[1].fs_name, "") << "an image of no known file system is still listed";
  EXPECT_EQ(drive_table[1].size_mb, 3);
  EXPECT_EQ(drive_table[2].fs_name, "FAT");
  EXPECT_EQ(get_file_system_name('c'), "FAT16");
  EXPECT_EQ(get_file_system_name('e'), "FAT12");
  EXPECT_EQ(get_file_system_name('d'), "");
  EXPECT_EQ(source_for('e')->path(), fat12) << "each entry's source is bound to its letter";
  EXPECT_GT(get_cluster_size('c'), 0);
}

TEST_F(NamedVolumesTest, AFolderIsNotAVolume) {
  testing::TempDir dir;
  named_volumes = {dir.path()};
  const std::vector<DriveProblem> problems = get_drives(false);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].reason, "not a volume image or block device");
  EXPECT_TRUE(drive_table.empty());
}

}  // namespace
}  // namespace fennick::volume

// Names and paths keep their length in characters, as the file systems count it: a deleted
// file of 150 Cyrillic letters (300 bytes of UTF-8) in a deep Cyrillic path on a real NTFS
// volume is listed whole, and recovered with its folders under names that fit Linux's
// 255-byte limit, each shortened in its stem with its extension kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../cleaning/mounted_ntfs.h"
#include "catalogue/catalogue.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "workflow/recovery_run.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

std::string repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(LongNamesTest, CyrillicNamesAndPathsAreKeptWholeAndFitLinuxOnRecovery) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, mkntfs, ntfs-3g and FUSE";
  const std::string name = repeat("\xD0\x96", 150) + ".docx";                         // Ж x 150
  const std::string folder = repeat("\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", 20);  // Папка x 20
  NtfsImage volume;
  ASSERT_TRUE(volume.mount());
  fs::create_directories(volume.path(folder + "/" + folder + "/" + folder));
  const std::string inside = folder + "/" + folder + "/" + folder + "/" + name;
  { std::ofstream(volume.path(inside)) << "the letter"; }
  run_command("sync");
  fs::remove(volume.path(inside));
  volume.unmount();

  DriveScope drive(volume.image());
  ASSERT_TRUE(drive.scan());
  const catalogue::FoundFile* found = nullptr;
  for (const catalogue::FoundFile& record : drive.catalogue.files()) {
    if (record.size == 10) found = &record;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->name.view(), name);
  EXPECT_EQ(found->path.view(), "C:\\" + folder + "\\" + folder + "\\" + folder + "\\");

  TempDir out;
  messages::RecordingChannel log;
  workflow::RecoveryOutcome outcome;
  {
    workflow::RecoveryRun recovery(drive.drives, out.path(), drive.run, log);
    outcome = recovery.recover(*found, true);
  }
  ASSERT_FALSE(outcome.result.failed) << (log.lines.empty() ? "" : log.lines.back());
  // 200 bytes of folder name fit; the file's 305 bytes become 255, keeping ".docx".
  const std::string short_name = repeat("\xD0\x96", 125) + ".docx";
  EXPECT_EQ(outcome.output_path,
            out.path() + "/" + folder + "/" + folder + "/" + folder + "/" + short_name);
  std::ifstream in(outcome.output_path);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "the letter");
}

}  // namespace
}  // namespace fennick::testing

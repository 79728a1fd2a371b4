// The recovery run and the texts around it: output paths (also from hostile names), the
// folders a run makes, size texts, preview text, status words, the per-drive scan lines and
// the raw diagnostic reads.
#include "workflow/recovery_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>

#include "catalogue/output_paths.h"
#include "engine/run_progress.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "run/time_left.h"
#include "test_support.h"
#include "workflow/raw_reads.h"
#include "workflow/record_text.h"
#include "workflow/scan_run.h"

namespace fennick::workflow {
namespace {

using catalogue::output_path_for;
using catalogue::safe_component;

catalogue::FoundFile record(std::string_view path, std::string_view name) {
  catalogue::FoundFile r;
  r.path = path;
  r.name = name;
  r.fs_kind = volume::FileSystemKind::fat16;
  return r;
}

TEST(OutputPathTest, FollowsTheDestinationAndTheKeepFolderFlag) {
  struct Case {
    std::string destination, path, name;
    bool keep;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/out", "E:\\", "A.TXT", false, "/out/A.TXT"},
      {"/out/", "E:\\", "A.TXT", false, "/out/A.TXT"},
      {"/out", "E:\\DOCS\\OLD\\", "A.TXT", true, "/out/DOCS/OLD/A.TXT"},
      {"/out", "E:\\DOCS\\OLD\\", "A.TXT", false, "/out/A.TXT"},
      {"/out", "E:\\", "A.TXT", true, "/out/A.TXT"},
      // A path cut at 255 bytes lacks its last separator: its tail is still a folder.
      {"/out", "E:\\DOCS\\OL", "A.TXT", true, "/out/DOCS/OL/A.TXT"},
      {"/out", "E:\\DOCS\\\\OLD\\", "A.TXT", true, "/out/DOCS/OLD/A.TXT"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(output_path_for(record(c.path, c.name), c.keep, c.destination, {}), c.expected)
        << c.path << c.name;
  }
}

TEST(OutputPathTest, NoVolumeNameLeavesTheDestination) {
  struct Case {
    std::string path, name, expected;
  };
  const std::vector<Case> cases = {
      {"E:\\..\\..\\", "..", "/out/__/__/__"},
      {"E:\\.\\", ".", "/out/_/_"},
      {"E:\\a/b\\", "x/../../etc", "/out/a_b/x_.._.._etc"},
      {"E:\\", std::string("bell\x07.txt"), "/out/bell_.txt"},
      {"E:\\", "tab\tname", "/out/tab_name"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(output_path_for(record(c.path, c.name), true, "/out", {}), c.expected) << c.name;
  }
  EXPECT_EQ(safe_component(""), "_");
}

TEST(OutputPathTest, ANameLongerThanALinuxNameKeepsItsExtension) {
  std::string cyrillic;
  for (int i = 0; i < 150; ++i) cyrillic += "\xD0\x96";  // 300 bytes
  const std::string name = safe_component(cyrillic + ".docx");
  EXPECT_EQ(name.size(), 255u);
  EXPECT_EQ(name, cyrillic.substr(0, 250) + ".docx");
  // Whole characters only: an odd room leaves a byte unused.
  EXPECT_EQ(safe_component("a" + cyrillic + ".docx"), "a" + cyrillic.substr(0, 248) + ".docx");
  // A folder of the path is shortened the same way when folders are kept.
  const std::string path =
      output_path_for(record("E:\\" + cyrillic + "\\", cyrillic + ".docx"), true, "/out", {});
  EXPECT_EQ(path, "/out/" + cyrillic.substr(0, 254) + "/" + name);
}

TEST(OutputPathTest, ASecondFileOfTheRunWithTheSamePathIsNumbered) {
  std::set<std::string> taken = {"/out/photo.jpg", "/out/photo (2).jpg", "/out/README"};
  EXPECT_EQ(output_path_for(record("E:\\", "photo.jpg"), false, "/out", taken),
            "/out/photo (3).jpg");
  EXPECT_EQ(output_path_for(record("E:\\", "README"), false, "/out", taken), "/out/README (2)");
  EXPECT_EQ(output_path_for(record("E:\\", ".profile"), false, "/out", {"/out/.profile"}),
            "/out/.profile (2)");
  // A numbered name never grows past the 255 bytes a file name may have.
  const std::string long_name = std::string(251, 'n') + ".txt";
  const std::string numbered =
      output_path_for(record("E:\\", long_name), false, "/out", {"/out/" + long_name});
  EXPECT_EQ(numbered.size() - 5, 255u);
  EXPECT_TRUE(numbered.ends_with(" (2).txt"));
}

TEST(RecoverFileTest, RecreatesTheFolderPathOnlyWithKeep) {
  testing::TempDir dir;
  const DriveList drives;
  run::RunControl run;
  messages::RecordingChannel log;
  RecoveryRun recovery(drives, dir.path(), run, log);
  catalogue::FoundFile r = record("E:\\DOCS\\OLD\\", "A.TXT");
  r.fs_kind = volume::FileSystemKind::unknown;  // no engine: only the path work happens
  RecoveryOutcome outcome = recovery.recover(r, true);
  EXPECT_EQ(outcome.output_path, dir.path() + "/DOCS/OLD/A.TXT");
  EXPECT_FALSE(outcome.engine_ran);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/DOCS/OLD"));
  outcome = recovery.recover(record("E:\\OTHER\\", "B.TXT"), false);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/OTHER"));
}

TEST(SizeTextTest, UsesBytesBinaryKiloAndDecimalMega) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0 b"},           {1000, "1000 b"},     {1023, "1023 b"},
      {1024, "1 Kb"},       {2048, "2 Kb"},       {999999, "977 Kb"},
      {1000000, "1.00 Mb"}, {1500000, "1.50 Mb"}, {-5, "-5 b"},
  };
  for (const auto& [size, text] : cases) EXPECT_EQ(size_text(size), text) << size;
}

TEST(ScanDriveTest, AVolumeOfNoKnownFileSystemIsADriveError) {
  DriveList drives(2);
  drives[0].drive_letter = 'c';
  drives[0].ticked = true;
  drives[1].drive_letter = 'd';
  drives[1].drive_index = 1;
  drives[1].ticked = false;
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::RecordingChannel log;
  EXPECT_FALSE(scan_ticked_drives(drives, catalogue, run, log, ScanSettings{}).any_scanned);
  EXPECT_EQ(log.lines, (std::vector<std::string>{" Scan C:\\ ...", " ERROR: Drive Error"}));
}

TEST(ScanDriveTest, StatusWordsOfEveryQuality) {
  const std::vector<std::pair<int, int>> cases = {{-4, -1},
                                                  {-3, messages::quality_encrypted},
                                                  {-2, messages::quality_compressed},
                                                  {-1, messages::quality_error},
                                                  {0, messages::quality_overwritten},
                                                  {1, messages::quality_bad},
                                                  {33, messages::quality_bad},
                                                  {34, messages::quality_middle},
                                                  {66, messages::quality_middle},
                                                  {67, messages::quality_good},
                                                  {99, messages::quality_good},
                                                  {100, messages::quality_very_good},
                                                  {101, -1},
                                                  {127, -1}};
  for (const auto& [quality, message] : cases) {
    EXPECT_EQ(status_message(static_cast<std::int8_t>(quality)), message) << quality;
  }
}

TEST(RawReadTest, BootSectorIsReadAndOtherRecordsLeaveTheBufferAlone) {
  messages::RecordingChannel log;
  auto source = std::make_shared<volume::MemorySource>(testing::patterned_volume(64 * 512, 1, 64));
  Drive drive = testing::memory_drive('c', source, volume::FileSystemKind::fat16);
  std::array<std::uint8_t, 512> boot{};
  EXPECT_TRUE(read_boot_sector_raw(drive, boot, log));
  EXPECT_TRUE(std::equal(boot.begin(), boot.end(), source->bytes().begin()));

  std::array<std::uint8_t, 1024> raw;
  raw.fill(0x77);
  catalogue::FoundFile fat_record = record("C:\\", "a");
  fat_record.drive_letter = 'c';
  fat_record.entry_cluster = 3;
  EXPECT_FALSE(read_record_raw(drive, fat_record, raw, log));
  EXPECT_EQ(raw[0], 0x77);
  drive.source.reset();
  // A volume that is gone reads nothing, and says so.
  boot.fill(0x55);
  EXPECT_FALSE(read_boot_sector_raw(drive, boot, log));
  EXPECT_EQ(boot[0], 0x55);
  EXPECT_TRUE(log.has_line_starting(" Unable to read drive"));
}

// The bar of a recovery run counts bytes and files half each: one large file done of many
// leaves it near the middle, not at the end.
TEST(RunProgressTest, BytesAndFilesCountHalfEach) {
  struct Case {
    std::int64_t bytes_done, bytes_total, files_done, files_total;
    std::int32_t percent;
  };
  const Case cases[] = {
      {1000, 1000, 0, 0, 100},                           // a run that counts no files: bytes only
      {999, 1000, 1, 1000, 50},                          // one large file of a thousand
      {1000, 1001, 1000, 1000, 100},                     // the small files done, a byte short
      {0, 1000, 500, 1000, 25},      {0, 0, 3, 10, 30},  // a run of empty files: files only
  };
  for (const Case& c : cases) {
    run::RunControl run;
    run.work_done = c.bytes_done;
    run.work_total = c.bytes_total;
    run.files_done = c.files_done;
    run.files_total = c.files_total;
    messages::RecordingChannel channel;
    engine::show_run_progress(run, channel);
    EXPECT_EQ(channel.progress, c.percent) << c.bytes_done << " " << c.files_done;
  }
}

TEST(TimeLeftTest, EstimatesFromTheShareDoneOnceItCanTell) {
  using Clock = run::TimeLeft::Clock;
  const Clock::time_point start{};
  run::TimeLeft clock;
  clock.restart(start);
  const auto at = [&](double seconds) {
    return start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  EXPECT_EQ(clock.seconds_left(0.5, at(1.0)), std::nullopt);   // too early to tell
  EXPECT_EQ(clock.seconds_left(0.005, at(60)), std::nullopt);  // too little done
  EXPECT_EQ(clock.seconds_left(0.5, at(10)), 10);
  EXPECT_EQ(clock.seconds_left(0.25, at(10)), 30);
  EXPECT_EQ(clock.seconds_left(0.3, at(10)), 24);  // 23.3 rounded up
  EXPECT_EQ(clock.seconds_left(1.0, at(10)), 0);
  EXPECT_EQ(clock.seconds_left(std::nan(""), at(10)), std::nullopt);
  EXPECT_EQ(clock.seconds_left(0.01, at(1e9)), 100 * 86400);  // bounded

  const std::pair<std::int64_t, const char*> texts[] = {{0, "0:00"},
                                                        {42, "0:42"},
                                                        {65, "1:05"},
                                                        {3599, "59:59"},
                                                        {3600, "1:00:00"},
                                                        {3723, "1:02:03"},
                                                        {100 * 86400, "2400:00:00"},
                                                        {-5, "0:00"}};
  for (const auto& [seconds, text] : texts) EXPECT_EQ(run::clock_text(seconds), text);
}

// A whole run tells the channel its files: (0, n) first, (n, n) last, and the bar ends full.
TEST(RecoverFilesTest, TellsTheFilesDoneOfTheRun) {
  const std::string image = testing::fixture_image("fat16.img");
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  testing::DriveScope s(image);
  ASSERT_TRUE(s.scan());
  std::vector<std::int32_t> files;
  for (std::size_t i = 0; i < s.catalogue.files().size(); ++i) {
    if (s.catalogue.files()[i].size > 0) files.push_back(static_cast<std::int32_t>(i));
  }
  ASSERT_GE(files.size(), 5u);
  testing::TempDir out;
  RecoverySettings settings;
  settings.destination = out.path();
  std::vector<std::pair<std::int64_t, std::int64_t>> told;
  settings.after_file = [&](std::int32_t, const RecoveryOutcome&) {
    told.emplace_back(s.channel.run_files_done, s.channel.run_files_total);
  };
  s.channel.progress_history.clear();  // the scan's
  const RecoverySummary summary =
      recover_files(s.drives, s.catalogue, files, settings, s.run, s.channel);
  EXPECT_EQ(summary.recovered + summary.overwritten + summary.with_zeros + summary.damaged_units +
                summary.interrupted + summary.not_recovered,
            static_cast<std::int64_t>(files.size()));
  const auto n = static_cast<std::int64_t>(files.size());
  ASSERT_EQ(told.size(), files.size());
  for (std::size_t k = 0; k < told.size(); ++k) {
    EXPECT_EQ(told[k], std::make_pair(static_cast<std::int64_t>(k), n)) << k;
  }
  EXPECT_EQ(s.channel.run_files_done, n);
  EXPECT_EQ(s.channel.progress, 100);
  EXPECT_TRUE(std::is_sorted(s.channel.progress_history.begin(), s.channel.progress_history.end()))
      << ::testing::PrintToString(s.channel.progress_history);
}

}  // namespace
}  // namespace fennick::workflow

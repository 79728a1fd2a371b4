// The corrupt-image corpus (tests/fixtures/make-corrupt-images): each damaged copy of a real
// fixture volume is scanned and every file found is recovered. Each must end (CTest's timeout
// catches a hang) with the log line that names its damage, still find the files the damage
// left reachable, keep its peak memory within a bound set by the volume's size, write only
// inside the destination folder, and leave the image's bytes as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "workflow/drive_list.h"
#include "workflow/recovery_run.h"
#include "workflow/scan_run.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

struct CorruptCase {
  const char* image;
  // A line of the scan's or the recovery's log must contain this.
  std::string log_text;
  // Names that must still be found (the damage leaves them reachable).
  std::vector<std::string> found;
  // A found file's name and the size it must be listed with (0: not checked).
  const char* sized_name = nullptr;
  std::int64_t listed_size = 0;
};

std::string corrupt_image(const std::string& name) {
  const std::string path = std::string(FENNICK_FIXTURE_DIR) + "/corrupt/" + name;
  return fs::exists(path) ? path : std::string();
}

// Peak resident memory since the last reset, in bytes.
std::int64_t peak_rss_bytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}
bool reset_peak_rss() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}
std::int64_t current_rss_bytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

bool inside(const std::string& path, const std::string& folder) {
  const fs::path p = fs::weakly_canonical(path);
  const fs::path f = fs::weakly_canonical(folder);
  const auto [end, unused] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
  return end == f.end();
}

// A text of the program's block as the English log holds it.
std::string en(int k) { return messages::get_message(messages::english_base, k); }

// The line of a file the volume holds only part of: found bytes, then the file's size.
std::string part_of_file(const std::string& found, const std::string& size) {
  return en(messages::file_not_whole) + found + en(messages::file_not_whole_size) + size + ": ";
}

// The line of an NTFS boot sector that cannot be used: the field, then its value.
std::string boot_unusable(int field, const std::string& value) {
  return en(messages::ntfs_boot_unusable) + en(field) + value;
}

std::vector<CorruptCase> cases() {
  return {
      {"fat12-truncated-half.img", "End scan", {"Grüße.txt", "Backup 2023.zip", "draft v2.txt"}},
      {"fat12-zero-bytes-per-sector.img", "ERROR: Drive Error", {}},
      {"fat12-zero-sectors-per-cluster.img", "ERROR: Drive Error", {}},
      {"fat12-chain-loop.img",
       "End scan",
       {"Meeting minutes 2024-01.txt", "Q2 figures (final).csv"}},
      {"fat12-chain-past-end.img", "End scan", {"Backup 2023.zip", "Grüße.txt"}},
      {"fat12-folder-contains-itself.img",
       "End scan",
       {"Meeting minutes 2024-01.txt", "Grüße.txt", "写真一.png"}},
      {"fat12-deleted-file-4gib.img", "End scan", {"Grüße.txt"}, "Backup 2023.zip", 4294967295},
      {"fat32-root-chain-loop.img", "End scan", {"Grüße.txt", "写真一.png", "draft v1.txt"}},
      {"ntfs-truncated.img",
       en(messages::clusters_left_as_zeros),
       {"notes.txt", "Привет.txt", "server.log"}},
      {"ntfs-zero-bytes-per-sector.img", "ERROR: Drive Error", {}},
      {"ntfs-zero-sectors-per-cluster.img", "ERROR: Drive Error", {}},
      {"ntfs-record-size-127-clusters.img",
       boot_unusable(messages::boot_record_size, "520192"),
       {}},
      {"ntfs-record-size-2gib.img", boot_unusable(messages::boot_record_size, "2147483648"), {}},
      {"ntfs-mft-beyond-end.img", boot_unusable(messages::boot_mft_outside, ""), {}},
      {"ntfs-attribute-length-zero.img",
       "End scan",
       {"notes.txt", "Résumé 2024.docx", "video.mp4"}},
      {"ntfs-offsets-past-record.img",
       part_of_file("0", "30000"),
       {"Report for May.doc", "Grüße.txt"}},
      {"ntfs-runs-past-attribute.img", part_of_file("0", "300000"), {"写真.jpg", "notes.txt"}},
      {"ntfs-run-beyond-volume.img",
       en(messages::cluster_outside_volume) + "32767: ",
       {"Résumé 2024.docx", "Grüße.txt"}},
      {"ntfs-data-size-2p60.img",
       part_of_file("4096", "1152921504606846976"),
       {"notes.txt"},
       "Grüße.txt",
       std::int64_t{1} << 60},
      {"ntfs-mft-bitmap-4tib.img", "error in MFT AttributeBitmap", {}},
      {"ntfs-mft-billions-of-records.img",
       en(messages::mft_records_read) + "124",
       {"notes.txt", "video.mp4", "Overwritten report.pdf"}},
      {"exfat-cluster-shift-30.img", "ERROR: Drive Error", {}},
      {"exfat-root-chain-loop.img", "End scan", {"notes.txt", "Grüße.txt", "plan.txt"}},
      {"exfat-bitmap-outside.img",
       en(messages::allocation_bitmap_unreadable),
       {"notes.txt", "Backup 2023.zip"}},
      {"exfat-boot-checksum.img",
       en(messages::boot_checksum_mismatch),
       {"notes.txt", "写真一.png"}},
      {"exfat-deleted-folder-2p40.img", "End scan", {"plan.txt", "draft v2.txt", "Grüße.txt"}},
  };
}

class CorruptVolumeTest : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptVolumeTest, ScanAndRecoveryEndSafelyAndFindWhatIsLeft) {
  const CorruptCase& c = GetParam();
  const std::string image = corrupt_image(c.image);
  if (image.empty()) {
    if (std::string(c.image).rfind("ntfs", 0) == 0) GTEST_SKIP() << "no NTFS fixture here";
    if (std::string(c.image).rfind("exfat", 0) == 0) GTEST_SKIP() << "no exFAT fixture here";
    FAIL() << "missing corrupt image " << c.image;
  }
  const std::string hash_before = sha256_of(image);
  const std::int64_t image_bytes = static_cast<std::int64_t>(fs::file_size(image));

  messages::RecordingChannel log;
  TempDir out;
  {
    DriveScope s(image);
    const bool can_measure = reset_peak_rss();
    const std::int64_t before = current_rss_bytes();
    workflow::scan_drive(s.drive(), s.catalogue, s.run, log, {});

    std::set<std::string> names;
    for (const auto& f : s.catalogue.files()) {
      names.insert(f.name.str());
      if (c.sized_name && f.name.str() == c.sized_name) {
        EXPECT_EQ(f.size, c.listed_size);
      }
    }
    for (const std::string& want : c.found) EXPECT_TRUE(names.count(want)) << want << " not found";
    if (c.sized_name) {
      EXPECT_TRUE(names.count(c.sized_name)) << c.sized_name;
    }

    {
      workflow::RecoveryRun run(s.drives, out.path(), s.run, log);
      for (bool keep : {true, false}) {
        for (const auto& f : s.catalogue.files()) {
          const workflow::RecoveryOutcome outcome = run.recover(f, keep);
          if (!outcome.output_path.empty()) {
            EXPECT_TRUE(inside(outcome.output_path, out.path())) << outcome.output_path;
          }
        }
      }
    }
    // What is read is buffered in pieces, and no buffer may grow with what a damaged field
    // claims: the peak stays within a fixed allowance (the sanitizers' own bookkeeping
    // included) plus a few times the volume.
    if (can_measure && before > 0) {
      const std::int64_t grown = peak_rss_bytes() - before;
      EXPECT_LT(grown, 384 * (std::int64_t{1} << 20) + 4 * image_bytes) << "peak grew by " << grown;
    }
  }
  bool seen = false;
  for (const std::string& line : log.lines)
    seen = seen || line.find(c.log_text) != std::string::npos;
  std::string all;
  for (const std::string& line : log.lines) all += line + "\n";
  EXPECT_TRUE(seen) << "no log line with \"" << c.log_text << "\" in:\n" << all.substr(0, 4000);

  // Everything written lies inside the destination, and no file is larger than the volume.
  for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
    EXPECT_TRUE(inside(entry.path().string(), out.path())) << entry.path();
    if (entry.is_regular_file()) {
      EXPECT_LE(static_cast<std::int64_t>(entry.file_size()), image_bytes);
    }
  }
  EXPECT_EQ(sha256_of(image), hash_before) << "the scan or recovery changed the image";
}

void PrintTo(const CorruptCase& c, std::ostream* os) { *os << c.image; }

std::string case_name(const ::testing::TestParamInfo<CorruptCase>& info) {
  std::string name = info.param.image;
  name = name.substr(0, name.find(".img"));
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorruptVolumeTest, ::testing::ValuesIn(cases()), case_name);

// Damaged partition tables around a sound FAT12 volume: no drive or listed partition may point
// outside the disk, the damage is named where it is this program's to name, and the volume
// behind a sound entry is still found whole.
struct CorruptDiskCase {
  const char* image;
  std::size_t volumes;  // drives with the FAT12 volume
  std::size_t others;   // partitions listed without a drive
  const char* problem;  // a listing problem must contain this; empty: no problem
};

void PrintTo(const CorruptDiskCase& c, std::ostream* os) { *os << c.image; }

class CorruptDiskTest : public ::testing::TestWithParam<CorruptDiskCase> {};

TEST_P(CorruptDiskTest, ListsOnlyWhatLiesInsideTheDiskAndFindsTheSoundVolume) {
  const CorruptDiskCase& c = GetParam();
  const std::string image = corrupt_image(c.image);
  ASSERT_FALSE(image.empty()) << "missing corrupt image " << c.image;
  const std::string hash_before = sha256_of(image);
  const std::uint64_t disk_bytes = fs::file_size(image);

  workflow::DriveListing listing = workflow::list_drives({image}, false);
  std::string problems;
  for (const auto& p : listing.problems) problems += p.reason + "\n";
  if (*c.problem == '\0') {
    EXPECT_TRUE(listing.problems.empty()) << problems;
  } else {
    EXPECT_NE(problems.find(c.problem), std::string::npos) << problems;
  }
  for (const workflow::Drive& d : listing.drives) {
    EXPECT_LE(d.offset + static_cast<std::uint64_t>(d.length), disk_bytes) << d.offset;
  }
  for (const workflow::OtherPartition& o : listing.others) {
    EXPECT_LE(o.start + o.length, disk_bytes) << "#" << o.number;
  }
  EXPECT_EQ(listing.others.size(), c.others);

  std::size_t volumes = 0;
  TempDir out;
  for (std::size_t i = 0; i < listing.drives.size(); ++i) {
    workflow::DriveList one{listing.drives[i]};
    catalogue::Catalogue found;
    run::RunControl run;
    messages::RecordingChannel log;
    workflow::scan_drive(one[0], found, run, log, {});
    std::set<std::string> names;
    for (const auto& f : found.files()) names.insert(f.name.str());
    if (!names.count("Grüße.txt")) continue;
    ++volumes;
    EXPECT_EQ(one[0].offset, 1048576u);
    workflow::RecoveryRun recovery(one, out.path(), run, log);
    for (const auto& f : found.files()) {
      const workflow::RecoveryOutcome outcome = recovery.recover(f, true);
      if (!outcome.output_path.empty()) {
        EXPECT_TRUE(inside(outcome.output_path, out.path())) << outcome.output_path;
      }
    }
  }
  EXPECT_EQ(volumes, c.volumes);
  EXPECT_EQ(sha256_of(image), hash_before) << "the listing, scan or recovery changed the disk";
}

std::string disk_case_name(const ::testing::TestParamInfo<CorruptDiskCase>& info) {
  std::string name = info.param.image;
  name = name.substr(0, name.find(".img"));
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorruptDiskTest,
    ::testing::Values(
        CorruptDiskCase{"disk-mbr-entry-past-end.img", 1, 0, "partition 2 lies outside the disk"},
        CorruptDiskCase{"disk-mbr-end-overflows.img", 1, 0, "partition 2 lies outside the disk"},
        // The second entry starts 8 sectors into the volume: no file system there, so it is
        // listed as a partition of type 0x01 without a drive.
        CorruptDiskCase{"disk-mbr-overlapping.img", 1, 1, ""},
        CorruptDiskCase{"disk-ebr-loop.img", 1, 0, ""},
        CorruptDiskCase{"disk-ebr-outside.img", 1, 0, ""},
        // libblkid leaves out the entry past the end itself; the reversed one is ours to drop.
        CorruptDiskCase{"disk-gpt-entry-past-end.img", 1, 0,
                        "partition 3 is empty or ends before it starts"},
        // The table is refused as a whole: the disk is one drive with no file system.
        CorruptDiskCase{"disk-gpt-2p28-entries.img", 0, 0, ""}),
    disk_case_name);

}  // namespace
}  // namespace fennick::testing

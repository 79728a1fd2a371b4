// The exFAT engine on real volumes (tests/fixtures/make-exfat-images: mkfs.exfat, files written
// and deleted through exfat-fuse): the scan against each image's truth file and The Sleuth
// Kit's fls, the recovered bytes against the truth, the grade against the bytes, and the wipe
// of an entry set against the image's bytes and fsck.exfat. Decoding details of entry sets on
// hand-made bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/date_time.h"
#include "exfat/exfat_entries.h"
#include "exfat/exfat_layout.h"
#include "exfat/mounted_exfat.h"
#include "messages/program_texts.h"
#include "test_support.h"
#include "workflow/drive_list.h"

namespace fennick::exfat {
namespace {

namespace fs = std::filesystem;
using testing::DriveScope;
using testing::run_command;
using testing::shell_quote;

struct Truth {
  std::string path;
  std::int64_t size = 0;
  std::string sha256;
  std::string state;
};

std::vector<Truth> read_truth(const std::string& image) {
  std::ifstream in(image + ".truth.tsv");
  std::vector<Truth> out;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() != 4) continue;
    out.push_back({f[0], std::stoll(f[1]), f[2], f[3]});
  }
  return out;
}

// What the scan must list: deleted files with content, wherever their folder is.
bool listed_state(const std::string& state) {
  return state == "deleted" || state == "deleted-in-folder" || state == "deleted-fragmented" ||
         state == "deleted-overwritten";
}

// "C:\DOCS\OLD\" and "a.txt" -> "/DOCS/OLD/a.txt"
std::string slash_path(const catalogue::FoundFile& r) {
  std::string p = r.path.str().substr(2) + r.name.str();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

// Deleted regular files of non-zero size that fls lists under their folders, by path.
std::map<std::string, std::int64_t> fls_deleted_files(const std::string& image) {
  const auto r = run_command("fls -r -d -p -l -z UTC " + shell_quote(image));
  std::map<std::string, std::int64_t> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() < 7 || !f[0].starts_with("r/r * ") || f[1].starts_with("$OrphanFiles")) continue;
    const std::int64_t size = std::stoll(f[6]);
    if (size > 0) out["/" + f[1]] = size;
  }
  return out;
}

const char* const images[] = {"exfat.img", "exfat-4k.img", "random-exfat-1.img",
                              "random-exfat-2.img", "random-exfat-3.img"};

class ExfatImageTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    image_ = testing::fixture_image(GetParam());
    if (image_.empty()) GTEST_SKIP() << GetParam() << " was not made (needs root and FUSE)";
    truth_ = read_truth(image_);
    ASSERT_FALSE(truth_.empty());
  }
  std::string image_;
  std::vector<Truth> truth_;
};

TEST_P(ExfatImageTest, ScanListsEveryDeletedFileOfTheTruthAndOfFlsAndNothingElse) {
  DriveScope s(image_);
  ASSERT_EQ(s.drive().kind, volume::FileSystemKind::exfat);
  EXPECT_EQ(s.drive().fs_name(), "exFAT");
  ASSERT_TRUE(s.scan());
  std::map<std::string, const catalogue::FoundFile*> found;
  for (const auto& f : s.catalogue.files()) {
    EXPECT_TRUE(found.emplace(slash_path(f), &f).second) << "listed twice: " << slash_path(f);
  }
  std::map<std::string, const Truth*> by_path;
  for (const Truth& t : truth_) by_path[t.path] = &t;

  for (const Truth& t : truth_) {
    if (!listed_state(t.state)) continue;
    const auto it = found.find(t.path);
    if (it == found.end()) {
      ADD_FAILURE() << "not found: " << t.path << " (" << t.state << ")";
      continue;
    }
    EXPECT_EQ(it->second->size, t.size) << t.path;
  }
  // Nothing that is live, empty or made up.
  for (const auto& [path, record] : found) {
    const auto t = by_path.find(path);
    ASSERT_NE(t, by_path.end()) << "not on the volume: " << path;
    EXPECT_NE(t->second->state, "live") << path;
  }
  if (testing::have_program("fls")) {
    for (const auto& [path, size] : fls_deleted_files(image_)) {
      const auto it = found.find(path);
      if (it == found.end()) {
        ADD_FAILURE() << "fls lists " << path << ", the scan does not";
        continue;
      }
      EXPECT_EQ(it->second->size, size) << path;
    }
  }
}

TEST_P(ExfatImageTest, RecoveredBytesEqualTheTruthWhereverTheGradeSaysSo) {
  DriveScope s(image_);
  ASSERT_TRUE(s.scan());
  std::map<std::string, const Truth*> by_path;
  for (const Truth& t : truth_) by_path[t.path] = &t;
  // A file whose entry set is gone (slot reused, or in a folder cluster nothing links to any
  // more) may have taken another's clusters and been deleted since: the bitmap then shows
  // them free, and no scan that walks folders can know.
  const bool unseen_writers = std::any_of(truth_.begin(), truth_.end(), [](const Truth& t) {
    return t.state == "lost" || t.state == "orphan";
  });
  testing::TempDir out;
  int n = 0;
  int exact_hundreds = 0;
  for (const auto& f : s.catalogue.files()) {
    const auto t = by_path.find(slash_path(f));
    ASSERT_NE(t, by_path.end()) << slash_path(f);
    const Truth& truth = *t->second;
    const std::string path = out.path() + "/" + std::to_string(n++);
    const engine::RecoveryResult result = s.recover(f, path);
    EXPECT_FALSE(result.failed) << truth.path;
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(path)), truth.size) << truth.path;
    const bool exact = testing::sha256_of(path) == truth.sha256;
    if (truth.state == "deleted" || truth.state == "deleted-in-folder") {
      EXPECT_TRUE(exact) << truth.path << " (" << truth.state << ")";
      EXPECT_EQ(f.quality, 100) << truth.path;
    } else if (truth.state == "deleted-overwritten") {
      EXPECT_FALSE(exact) << truth.path;
      if (!unseen_writers) {
        EXPECT_LT(f.quality, 100) << truth.path;
      }
    }
    // A grade of 100 is a promise.
    if (f.quality == 100 && !(unseen_writers && truth.state == "deleted-overwritten")) {
      EXPECT_TRUE(exact) << truth.path << " graded 100";
      exact_hundreds += exact ? 1 : 0;
    }
    fs::remove(path);
  }
  EXPECT_GT(exact_hundreds, 0);
}

// The deep scan lists what the ordinary scan lists, in the same folders, and adds only sets
// that prove themselves in free clusters no walk reached: each one a file of the truth that
// the walk cannot reach (its name and size), under "Lost folders", whole where graded 100.
TEST_P(ExfatImageTest, DeepScanAddsTheUnreachableSetsAndKeepsWhatTheScanFinds) {
  DriveScope plain(image_);
  ASSERT_TRUE(plain.scan());
  DriveScope s(image_);
  ASSERT_TRUE(s.scan(true));
  std::map<std::string, const catalogue::FoundFile*> deep;
  for (const auto& f : s.catalogue.files()) {
    if (!f.found_by_deep_scan) deep.emplace(slash_path(f), &f);
  }
  for (const auto& f : plain.catalogue.files()) {
    EXPECT_EQ(f.found_by_deep_scan, 0);
    const auto again = deep.find(slash_path(f));
    ASSERT_NE(again, deep.end()) << "the deep scan lost " << slash_path(f);
    EXPECT_LE(again->second->quality, f.quality) << slash_path(f);
  }
  const std::string lost = "C:\\" + plain.channel.text(messages::lost_folders) + "\\";
  testing::TempDir out;
  std::size_t added = 0;
  for (const auto& f : s.catalogue.files()) {
    if (!f.found_by_deep_scan) continue;
    ++added;
    EXPECT_TRUE(f.path.str().starts_with(lost)) << f.path.str();
    const auto t = std::find_if(truth_.begin(), truth_.end(), [&](const Truth& t) {
      return t.path.ends_with("/" + f.name.str()) && t.size == f.size;
    });
    ASSERT_NE(t, truth_.end()) << f.name.str();
    EXPECT_TRUE(t->state == "orphan" || t->state == "lost") << t->path << " " << t->state;
    const std::string path = out.path() + "/" + std::to_string(added);
    EXPECT_FALSE(s.recover(f, path).failed);
    if (f.quality == 100) {
      EXPECT_EQ(testing::sha256_of(path), t->sha256) << t->path;
    }
  }
  if (std::string(GetParam()) == "random-exfat-1.img") {
    EXPECT_GE(added, 2u) << "its two orphans in free folder clusters";
  }
}

INSTANTIATE_TEST_SUITE_P(Images, ExfatImageTest, ::testing::ValuesIn(images), [](const auto& info) {
  std::string name = info.param;
  name = name.substr(0, name.find(".img"));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// The wipe overwrites the set's entries and nothing else: every byte that changed lies in the
// set, the volume stays consistent for fsck.exfat, and a new scan no longer finds the file
// while it finds every other one as before.
TEST(ExfatWipeTest, OverwritesOnlyTheEntrySetAndTheVolumeStaysConsistent) {
  const std::string original = testing::fixture_image("exfat.img");
  if (original.empty()) GTEST_SKIP() << "exfat.img was not made (needs root and FUSE)";
  testing::TempDir dir;
  const std::string image = dir.path() + "/exfat.img";
  fs::copy_file(original, image);
  const auto read_all = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  };
  const std::vector<char> before = read_all(image);

  std::size_t files_before = 0;
  std::int64_t set_start = 0;
  std::int64_t cluster_bytes = 0;
  std::vector<std::string> kept;
  {
    DriveScope s(image);
    ASSERT_TRUE(s.scan());
    files_before = s.catalogue.files().size();
    // A file in a deleted folder whose set crosses no cluster: the wipe of any set is the same.
    const auto victim = std::find_if(s.catalogue.files().begin(), s.catalogue.files().end(),
                                     [](const auto& f) { return f.name.str() == "Grüße.txt"; });
    ASSERT_NE(victim, s.catalogue.files().end());
    const LayoutResult layout =
        read_layout(std::span(reinterpret_cast<const std::uint8_t*>(before.data()), 512));
    ASSERT_TRUE(layout.layout);
    cluster_bytes = layout.layout->cluster_bytes();
    set_start = layout.layout->cluster_position(static_cast<std::uint32_t>(victim->entry_cluster)) +
                victim->entry_offset;
    for (const auto& f : s.catalogue.files()) {
      if (&f != &*victim) kept.push_back(slash_path(f));
    }
    ASSERT_EQ(s.wipe(*victim), engine::WipeOutcome::wiped);
    // A second wipe finds no set of that file any more and writes nothing.
    EXPECT_EQ(s.wipe(*victim), engine::WipeOutcome::left_alone);
  }
  const std::vector<char> after = read_all(image);
  ASSERT_EQ(after.size(), before.size());
  // "Grüße.txt": File, Stream and one Name entry.
  const std::int64_t set_end = set_start + 3 * 32;
  std::int64_t changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    ++changed;
    const auto at = static_cast<std::int64_t>(i);
    EXPECT_TRUE(at > set_start && at < set_end) << "byte " << at << " changed";
  }
  EXPECT_GT(changed, 0);
  for (std::int64_t e = set_start; e < set_end; e += 32) {
    EXPECT_EQ(after[static_cast<std::size_t>(e)] & 0x80, 0) << "entry types stay unused";
    EXPECT_NE(after[static_cast<std::size_t>(e)], 0) << "no end marker is made";
  }
  EXPECT_LT(set_end - set_start, cluster_bytes);
  if (testing::have_program("fsck.exfat")) {
    const auto r = run_command("fsck.exfat -n " + shell_quote(image) + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.out;
  }
  DriveScope again(image);
  ASSERT_TRUE(again.scan());
  EXPECT_EQ(again.catalogue.files().size(), files_before - 1);
  std::vector<std::string> now;
  for (const auto& f : again.catalogue.files()) now.push_back(slash_path(f));
  EXPECT_EQ(now, kept);
}

// A deleted folder whose first cluster a new, short file took: the folder's entry sets after
// that file's bytes still stand in the cluster, and their files' own clusters are free and
// intact. They are found under the folder's name, graded below 100, and come back whole.
TEST(ExfatReusedFolderTest, FilesOfAFolderWhoseClusterANewFileTookAreFound) {
  if (!testing::can_mount_exfat() || !testing::have_program("mkfs.exfat")) {
    GTEST_SKIP() << "needs root, /dev/fuse, losetup, exfatprogs and exfat-fuse";
  }
  testing::TempDir dir;
  const std::string image = dir.path() + "/reused.img";
  ASSERT_EQ(run_command("truncate -s 8M " + shell_quote(image) + " && mkfs.exfat -c 4K " +
                        shell_quote(image) + " >/dev/null")
                .exit_code,
            0);
  std::map<std::string, std::string> written;  // name -> sha256
  {
    testing::MountedExfat v(image);
    ASSERT_TRUE(v.mount());
    // The note goes into a folder of its own: in the root it would take the deleted
    // folder's entry slot.
    fs::create_directories(v.mount_point() + "/Notes");
    const std::string folder = v.mount_point() + "/Holiday";
    fs::create_directories(folder);
    for (int i = 0; i < 6; ++i) {
      const std::string name = "photo " + std::to_string(i) + ".jpg";
      std::ofstream(folder + "/" + name, std::ios::binary)
          << std::string(5000 + 1000 * i, static_cast<char>('a' + i));
    }
    for (const auto& e : fs::directory_iterator(folder)) {
      written[e.path().filename().string()] = testing::sha256_of(e.path().string());
    }
    ASSERT_EQ(run_command("rm -r " + shell_quote(folder)).exit_code, 0);
    // The lowest free cluster is the folder's own: a short file takes it and writes only its
    // first bytes.
    std::ofstream(v.mount_point() + "/Notes/note.txt") << "a short note";
  }
  DriveScope s(image);
  ASSERT_TRUE(s.scan());
  testing::TempDir out;
  std::size_t found = 0;
  for (const auto& f : s.catalogue.files()) {
    const auto w = written.find(f.name.str());
    if (w == written.end() || f.path.str() != "C:\\Holiday\\") continue;
    ++found;
    EXPECT_LT(f.quality, 100) << f.name.str();
    EXPECT_GT(f.quality, 0) << f.name.str();
    const std::string path = out.path() + "/" + f.name.str();
    EXPECT_FALSE(s.recover(f, path).failed);
    EXPECT_EQ(testing::sha256_of(path), w->second) << f.name.str();
  }
  // The note's 12 bytes took the first entry of the first set ("photo 0.jpg"): that set is
  // gone; the five after it stand.
  EXPECT_EQ(found, written.size() - 1);
  for (const auto& f : s.catalogue.files()) EXPECT_NE(f.name.str(), "photo 0.jpg");
}

// A volume quick-formatted by mkfs.exfat over its folders, then given a new file: the walk
// finds nothing of the old files; the deep scan finds the files of every old folder with
// their names, and the names of the folders below the top ones (whose own sets went with the
// old root), and recovers them whole.
TEST(ExfatDeepScanTest, FindsTheOldSubFoldersFilesAfterAQuickFormat) {
  if (!testing::can_mount_exfat() || !testing::have_program("mkfs.exfat")) {
    GTEST_SKIP() << "needs root, /dev/fuse, losetup, exfatprogs and exfat-fuse";
  }
  testing::TempDir dir;
  const std::string image = dir.path() + "/card.img";
  const std::string mkfs = "mkfs.exfat -c 4K " + shell_quote(image) + " >/dev/null";
  ASSERT_EQ(run_command("truncate -s 48M " + shell_quote(image) + " && " + mkfs).exit_code, 0);
  std::map<std::string, std::string> written;  // "/Trip/Day 1/photo 3.jpg" -> sha256
  {
    testing::MountedExfat v(image);
    ASSERT_TRUE(v.mount());
    std::ofstream(v.mount_point() + "/readme.txt") << std::string(9000, 'r');
    for (const std::string folder :
         {"/DCIM", "/DCIM/100CANON", "/Trip", "/Trip/Day 1 Ölfarbe", "/Trip/Day 1 Ölfarbe/raw"}) {
      fs::create_directories(v.mount_point() + folder);
      for (int i = 0; i < 12; ++i) {
        const std::string rel = folder + "/photo " + std::to_string(i) + ".jpg";
        std::string bytes(3000 + 7001 * i, '\0');
        for (std::size_t k = 0; k < bytes.size(); ++k) {
          bytes[k] = static_cast<char>((k * 31 + rel.size() * 7 + i) % 251);
        }
        std::ofstream(v.mount_point() + rel, std::ios::binary) << bytes;
        written[rel] = testing::sha256_of(v.mount_point() + rel);
      }
    }
  }
  ASSERT_EQ(run_command(mkfs).exit_code, 0);
  {
    testing::MountedExfat v(image);
    ASSERT_TRUE(v.mount());
    // One cluster: it takes the old readme's first cluster, not a folder's.
    std::ofstream(v.mount_point() + "/new.txt") << std::string(3000, 'n');
  }
  DriveScope plain(image);
  ASSERT_TRUE(plain.scan());
  EXPECT_TRUE(plain.catalogue.files().empty());

  DriveScope s(image);
  ASSERT_TRUE(s.scan(true));
  const std::string lost = "/" + s.channel.text(messages::lost_folders) + "/";
  testing::TempDir out;
  std::size_t found = 0;
  std::size_t exact = 0;
  for (const auto& f : s.catalogue.files()) {
    EXPECT_EQ(f.found_by_deep_scan, 1);
    const std::string path = slash_path(f);
    ASSERT_TRUE(path.starts_with(lost)) << path;
    // "/Lost folders/<top>/Day 1 Ölfarbe/raw/photo 3.jpg": the part below the top folder
    // (whose name went with the old root, unless a found set names it) ends a written path.
    const std::string below = path.substr(path.find('/', lost.size()));
    std::vector<std::string> could_be;
    for (const auto& [rel, sha] : written) {
      if (rel.ends_with(below)) could_be.push_back(sha);
    }
    ASSERT_FALSE(could_be.empty()) << path;
    ++found;
    const std::string copy = out.path() + "/" + std::to_string(found);
    EXPECT_FALSE(s.recover(f, copy).failed) << path;
    const bool same =
        std::find(could_be.begin(), could_be.end(), testing::sha256_of(copy)) != could_be.end();
    exact += same ? 1 : 0;
    if (f.quality == 100) {
      EXPECT_TRUE(same) << path << " graded 100";
    }
  }
  // Every written file lies in a folder, and every folder's entries fill less than a cluster.
  EXPECT_GE(found * 10, written.size() * 9) << found << " of " << written.size();
  EXPECT_GE(exact * 10, written.size() * 8) << exact << " of " << written.size();
  EXPECT_GT(std::count_if(s.catalogue.files().begin(), s.catalogue.files().end(),
                          [](const auto& f) { return f.path.str().ends_with("\\raw\\"); }),
            0)
      << "the names of folders below the top come from their sets";
}

// Hand-made entry sets: what a set must look like to be taken, its checksum, its times.
std::vector<std::uint8_t> make_set(std::u16string name, std::uint8_t file_type,
                                   std::uint8_t secondary_type) {
  const std::size_t name_entries = (name.size() + 14) / 15;
  std::vector<std::uint8_t> b((2 + name_entries) * 32, 0);
  b[0] = file_type;
  b[1] = static_cast<std::uint8_t>(1 + name_entries);
  b[4] = 0x20;
  // 2024-01-15 09:30:10 local, 1.23 s more, UTC+2 (8 quarter hours).
  const std::uint32_t stamp =
      ((2024 - 1980) << 25) | (1 << 21) | (15 << 16) | (9 << 11) | (30 << 5) | (10 / 2);
  for (std::size_t off : {std::size_t{8}, std::size_t{12}}) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(stamp >> (8 * i));
  }
  b[0x15] = 123;
  b[0x17] = 0x80 | 8;
  b[32] = secondary_type;
  b[33] = 0x03;  // allocation possible, no FAT chain
  b[35] = static_cast<std::uint8_t>(name.size());
  b[32 + 0x09] = 0x10;  // valid data length 4096
  b[32 + 0x14] = 5;     // first cluster 5
  b[32 + 0x19] = 0x20;  // data length 8192
  for (std::size_t k = 0; k < name_entries; ++k) {
    b[64 + 32 * k] = static_cast<std::uint8_t>(secondary_type + 1);
    for (std::size_t u = 0; u < 15 && 15 * k + u < name.size(); ++u) {
      b[64 + 32 * k + 2 + 2 * u] = static_cast<std::uint8_t>(name[15 * k + u]);
      b[64 + 32 * k + 3 + 2 * u] = static_cast<std::uint8_t>(name[15 * k + u] >> 8);
    }
  }
  const std::uint16_t sum = entry_set_checksum(b, b.size() / 32);
  b[2] = static_cast<std::uint8_t>(sum);
  b[3] = static_cast<std::uint8_t>(sum >> 8);
  return b;
}

// A File entry's timestamp: DOS words, the 10 ms count and the UTC offset byte (bit 7 valid,
// then a signed count of quarter hours east of UTC).
TEST(ExfatEntrySetTest, TimestampsTakeTheirTenMillisecondsAndOffset) {
  using catalogue::make_timestamp;
  using catalogue::Timestamp;
  constexpr auto utc = catalogue::TimeBase::utc;
  constexpr auto local = catalogue::TimeBase::local;
  constexpr std::int64_t ms = Timestamp::ticks_per_second / 1000;
  const auto stamp = [](int y, int mo, int d, int h, int mi, int s) {
    return static_cast<std::uint32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) |
                                      (mi << 5) | (s / 2));
  };
  struct Case {
    const char* what;
    std::uint32_t stamp;
    std::uint8_t hundredths;
    std::uint8_t offset;
    Timestamp expected;
  };
  const Case cases[] = {
      {"UTC+0, as exfat-fuse writes", stamp(2024, 1, 15, 9, 0, 0), 0, 0x80,
       make_timestamp(2024, 1, 15, 9, 0, 0, 0, utc)},
      {"an odd second", stamp(2024, 1, 15, 9, 0, 0), 100, 0x80,
       make_timestamp(2024, 1, 15, 9, 0, 1, 0, utc)},
      {"10 ms units", stamp(2024, 1, 15, 9, 0, 2), 137, 0x80,
       make_timestamp(2024, 1, 15, 9, 0, 3, 370 * ms, utc)},
      {"UTC+2", stamp(2024, 1, 15, 9, 30, 10), 123, 0x80 | 8,
       make_timestamp(2024, 1, 15, 7, 30, 11, 230 * ms, utc)},
      {"UTC-5, into the next day", stamp(2024, 1, 15, 22, 0, 0), 0, 0x80 | (128 - 20),
       make_timestamp(2024, 1, 16, 3, 0, 0, 0, utc)},
      {"UTC+15:45, the most east", stamp(2024, 1, 15, 22, 0, 0), 0, 0x80 | 63,
       make_timestamp(2024, 1, 15, 6, 15, 0, 0, utc)},
      {"UTC-16:00, the most west", stamp(2024, 1, 15, 22, 0, 0), 0, 0x80 | 64,
       make_timestamp(2024, 1, 16, 14, 0, 0, 0, utc)},
      {"UTC+1, across New Year backwards", stamp(1980, 1, 1, 0, 30, 0), 0, 0x80 | 4,
       make_timestamp(1979, 12, 31, 23, 30, 0, 0, utc)},
      {"no valid offset: local", stamp(2024, 1, 15, 9, 30, 10), 123, 8,
       make_timestamp(2024, 1, 15, 9, 30, 11, 230 * ms, local)},
      {"offset byte 0: local", stamp(2107, 12, 31, 23, 59, 58), 199, 0,
       make_timestamp(2107, 12, 31, 23, 59, 59, 990 * ms, local)},
      {"a 10 ms count past 199 is left out", stamp(2024, 1, 15, 9, 0, 0), 250, 0x80,
       make_timestamp(2024, 1, 15, 9, 0, 0, 0, utc)},
      {"a time out of range: the date alone", stamp(2024, 1, 15, 25, 0, 0), 50, 0x80 | 8,
       make_timestamp(2024, 1, 14, 22, 0, 0, 0, utc)},
      {"no date", 0x0000FFFF, 10, 0x80 | 8, Timestamp{}},
      {"not a date", stamp(2023, 2, 29, 9, 0, 0), 0, 0x80, Timestamp{}},
      {"month 15", stamp(2024, 15, 1, 9, 0, 0), 0, 0, Timestamp{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Timestamp got = decode_exfat_time(c.stamp, c.hundredths, c.offset);
    EXPECT_EQ(got, c.expected) << catalogue::format_timestamp(got);
    EXPECT_EQ(got.missing(), c.expected.missing());
    EXPECT_EQ(got.base(), c.expected.base());
  }
}

TEST(ExfatEntrySetTest, DecodesDeletedAndLiveSetsAndRefusesBrokenOnes) {
  // A deleted set: the name across two entries, a character outside the BMP kept whole.
  const std::u16string name = u"Sommer 2024 \U0001F389 Fotos.jpg";
  std::vector<std::uint8_t> deleted = make_set(name, 0x05, 0x40);
  const auto set = decode_entry_set(deleted);
  ASSERT_TRUE(set);
  EXPECT_TRUE(set->deleted);
  EXPECT_EQ(set->entries, 4u);
  EXPECT_TRUE(set->checksum_ok) << "the checksum is taken with the in-use bits set";
  EXPECT_EQ(set->name, "Sommer 2024 \xF0\x9F\x8E\x89 Fotos.jpg");
  EXPECT_EQ(set->first_cluster, 5u);
  EXPECT_EQ(set->data_length, 8192u);
  EXPECT_EQ(set->valid_data_length, 4096u);
  EXPECT_TRUE(set->no_fat_chain);
  // The stored local time less its UTC offset, with its hundredths; without a valid offset
  // (the creation time here) the time as stored.
  EXPECT_EQ(set->modified,
            catalogue::make_timestamp(2024, 1, 15, 7, 30, 11, 2'300'000, catalogue::TimeBase::utc));
  EXPECT_FALSE(set->modified.is_local());
  EXPECT_EQ(set->created, catalogue::make_timestamp(2024, 1, 15, 9, 30, 10));
  EXPECT_TRUE(set->created.is_local());

  const auto live = decode_entry_set(make_set(u"a.txt", 0x85, 0xC0));
  ASSERT_TRUE(live);
  EXPECT_FALSE(live->deleted);
  EXPECT_TRUE(live->checksum_ok);

  // A changed byte is still a set, whose checksum no longer matches.
  std::vector<std::uint8_t> changed = deleted;
  changed[32 + 0x14] = 6;
  ASSERT_TRUE(decode_entry_set(changed));
  EXPECT_FALSE(decode_entry_set(changed)->checksum_ok);

  struct Broken {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  } broken[] = {
      {"a live stream after a deleted File entry (the slot was taken)", 32, 0xC0},
      {"a name entry where the stream belongs", 32, 0x41},
      {"a live name entry in a deleted set", 64, 0xC1},
      {"one secondary entry only", 1, 1},
      {"more secondaries than a set can hold", 1, 19},
      {"a name of length 0", 35, 0},
      {"a name longer than its entries", 35, 40},
      {"a zero unit inside the name", 66, 0},
  };
  for (const Broken& c : broken) {
    std::vector<std::uint8_t> b = deleted;
    b[c.at] = c.value;
    if (c.at == 66) b[67] = 0;
    EXPECT_FALSE(decode_entry_set(b)) << c.what;
  }
  // Cut short: the bytes end inside the set.
  EXPECT_FALSE(decode_entry_set(std::span(deleted).first(deleted.size() - 32)));
}

// Hand-made boot sectors: a sound one gives a layout; each damaged field gives the message
// number of its reason and the values that follow it.
TEST(ExfatLayoutTest, ABootSectorIsRefusedWithTheReasonOfItsDamagedField) {
  const auto put = [](std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t value,
                      int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  std::vector<std::uint8_t> sound(512, 0);
  std::memcpy(sound.data() + boot::file_system_name, "EXFAT   ", 8);
  put(sound, boot::signature, boot::signature_value, 2);
  put(sound, boot::volume_length, 1000, 8);
  put(sound, boot::fat_offset, 24, 4);
  put(sound, boot::fat_length, 8, 4);
  put(sound, boot::heap_offset, 40, 4);
  put(sound, boot::cluster_count, 100, 4);
  put(sound, boot::root_cluster, 2, 4);
  put(sound, boot::sector_shift, 9, 1);
  put(sound, boot::cluster_shift, 3, 1);
  put(sound, boot::fat_count, 1, 1);
  struct Case {
    const char* what;
    std::size_t at;
    std::uint64_t value;
    int bytes;
    int problem;
    const char* values;
  };
  const Case cases[] = {
      {"sound", boot::fat_count, 1, 1, 0, ""},
      {"name", boot::file_system_name, 'N', 1, messages::exfat_not_named, ""},
      {"signature", boot::signature, 0, 2, messages::exfat_no_signature, ""},
      {"sector shift", boot::sector_shift, 8, 1, messages::exfat_shifts, "8, 3"},
      {"FAT count", boot::fat_count, 3, 1, messages::exfat_fat_count, "3"},
      {"FAT over the heap", boot::fat_offset, 38, 4, messages::exfat_fat_place, "38, 8, 40"},
      {"heap past the end", boot::cluster_count, 200, 4, messages::exfat_heap_past_end,
       "200, 40, 1000"},
      {"root outside", boot::root_cluster, 500, 4, messages::exfat_root_outside, "500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = sound;
    put(bytes, c.at, c.value, c.bytes);
    const LayoutResult result = read_layout(bytes);
    EXPECT_EQ(result.layout.has_value(), c.problem == 0);
    EXPECT_EQ(result.problem, c.problem);
    EXPECT_EQ(result.values, c.values);
  }
}

}  // namespace
}  // namespace fennick::exfat

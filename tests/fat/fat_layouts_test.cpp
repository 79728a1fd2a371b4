// FAT scan and recovery on the layouts of make-fat-layouts: live folders in clusters that
// deleted folders once held, names with characters outside the BMP, lower-case 8.3 names,
// long names that lost their first slot, FAT32 volumes with few clusters, deleted folders
// over several clusters, and the grade of files that fill their clusters exactly. Every
// image is checked against its truth file and The Sleuth Kit (fls, icat).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "fat/fat_layout.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/file_system_kind.h"
#include "volume/volume_facts.h"
#include "volume/volume_source.h"
#include "workflow/engines.h"

namespace fennick::fat {
namespace {

using testing::DriveScope;
using testing::run_command;
using testing::sha256_of;
using testing::shell_quote;

struct Truth {
  std::string path;
  std::int64_t size = 0;
  std::string sha256;
  std::string state;
  std::string shown;
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
    if (f.size() != 5) continue;
    out.push_back({f[0], std::stoll(f[1]), f[2], f[3], f[4]});
  }
  return out;
}

bool found_by_scan(const std::string& state) {
  return state == "deleted" || state == "deleted-in-folder";
}

// "C:\DOCS\OLD\" and "a.txt" -> "/DOCS/OLD/a.txt"
std::string shown_path(const catalogue::FoundFile& r) {
  std::string p = r.path.str().substr(2);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p + r.name.str();
}

struct FlsFile {
  std::string inode;
  std::string path;  // "/DOCS/a.txt"
  std::int64_t size = 0;
  bool orphan = false;
};

// Deleted regular files of non-zero size that fls lists.
std::vector<FlsFile> fls_deleted(const std::string& image, bool fat32_hint) {
  const auto r = run_command(std::string("fls ") + (fat32_hint ? "-f fat32 " : "") +
                             "-r -d -p -l " + shell_quote(image));
  std::vector<FlsFile> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() < 7 || !(f[0].starts_with("r/r * ") || f[0].starts_with("-/r * "))) continue;
    FlsFile e;
    e.inode = f[0].substr(6, f[0].find_first_not_of("0123456789", 6) - 6);
    e.path = "/" + f[1];
    e.size = std::stoll(f[6]);
    e.orphan = f[1].starts_with("$OrphanFiles/");
    if (e.size > 0) out.push_back(e);
  }
  return out;
}

struct Layout {
  const char* image;
  const char* table_name;  // the drive list's file-system name
  bool fat32_hint;         // fls needs -f fat32 (a FAT32 volume with few clusters)
};

class FatLayoutsTest : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    image_ = testing::fixture_image(GetParam().image);
    if (image_.empty()) GTEST_SKIP() << GetParam().image << " missing (ctest -R fixtures)";
    if (!testing::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    truth_ = read_truth(image_);
    ASSERT_FALSE(truth_.empty());
  }
  std::vector<std::string> found(const catalogue::Catalogue& catalogue) const {
    std::vector<std::string> out;
    for (const auto& r : catalogue.files()) out.push_back(shown_path(r));
    return out;
  }
  const catalogue::FoundFile* record(const catalogue::Catalogue& catalogue,
                                     const std::string& shown) const {
    for (const auto& r : catalogue.files()) {
      if (shown_path(r) == shown) return &r;
    }
    return nullptr;
  }
  std::string image_;
  std::vector<Truth> truth_;
  testing::TempDir dir_;
};

// What the scan must list: every deleted file fls names (with the name completed where the
// truth says the long name lost its first slot), and every deleted file of the truth, which
// fls finds only as a nameless orphan when its entry lies past a deleted folder's first
// cluster. Nothing else: no live file, no file whose entry was overwritten.
TEST_P(FatLayoutsTest, ScanListsEveryDeletedFileUnderTheFoldersPath) {
  const std::string before = sha256_of(image_);
  std::multiset<std::string> expected;
  for (const FlsFile& e : fls_deleted(image_, GetParam().fat32_hint)) {
    if (e.orphan) continue;
    std::string path = e.path;
    for (const Truth& t : truth_) {
      const std::size_t mark = t.shown.find("\u2026");
      if (found_by_scan(t.state) && mark != std::string::npos &&
          path.starts_with(t.shown.substr(0, mark)) && path.size() <= mark + 1) {
        path = t.shown;  // fls shows the cut long name as it is
      }
    }
    expected.insert(path + " " + std::to_string(e.size));
  }
  for (const Truth& t : truth_) {
    const std::string key = t.shown + " " + std::to_string(t.size);
    if (found_by_scan(t.state) && expected.count(key) == 0) expected.insert(key);
  }

  DriveScope s(image_);
  EXPECT_EQ(s.drive().fs_name(), GetParam().table_name);
  ASSERT_TRUE(s.scan());
  std::multiset<std::string> got;
  for (const auto& r : s.catalogue.files())
    got.insert(shown_path(r) + " " + std::to_string(r.size));
  for (const std::string& e : expected) {
    EXPECT_EQ(got.count(e), expected.count(e)) << "expected " << expected.count(e) << " of: " << e;
  }
  for (const std::string& g : got) EXPECT_EQ(expected.count(g), got.count(g)) << "found: " << g;
  for (const Truth& t : truth_) {
    if (t.state == "live" || t.state == "lost") {
      EXPECT_EQ(record(s.catalogue, t.shown), nullptr) << t.path << " is " << t.state;
    }
  }
  EXPECT_EQ(sha256_of(image_), before) << "the scan changed the image";
}

// Every file of these volumes lies in free clusters (nothing was written after the deletions
// but empty files): each is graded whole and its recovered bytes are those written, which are
// also icat's where fls names the file.
TEST_P(FatLayoutsTest, EveryFileIsGradedWholeAndRecoveredAsWritten) {
  std::map<std::string, std::string> icat_sha;
  for (const FlsFile& e : fls_deleted(image_, GetParam().fat32_hint)) {
    if (e.orphan) continue;
    const std::string out = dir_.path() + "/icat" + e.inode;
    run_command(std::string("icat ") + (GetParam().fat32_hint ? "-f fat32 " : "") +
                shell_quote(image_) + " " + e.inode + " > " + shell_quote(out));
    icat_sha[e.path] = sha256_of(out);
  }
  DriveScope s(image_);
  ASSERT_TRUE(s.scan());
  int recovered = 0;
  for (const Truth& t : truth_) {
    if (!found_by_scan(t.state)) continue;
    const catalogue::FoundFile* r = record(s.catalogue, t.shown);
    ASSERT_NE(r, nullptr) << t.shown << " not found";
    EXPECT_EQ(r->quality, 100) << t.shown;
    const std::string out = dir_.path() + "/out" + std::to_string(recovered++);
    const engine::RecoveryResult result = s.recover(*r, out);
    ASSERT_TRUE(result.output_created) << t.shown;
    EXPECT_FALSE(result.failed) << t.shown;
    EXPECT_EQ(sha256_of(out), t.sha256) << t.shown;
    const auto icat = icat_sha.find(t.shown);
    if (icat != icat_sha.end()) {
      EXPECT_EQ(icat->second, t.sha256) << t.shown;
    }
  }
  EXPECT_GT(recovered, 0);
}

INSTANTIATE_TEST_SUITE_P(Images, FatLayoutsTest,
                         ::testing::Values(Layout{"layout-reuse16.img", "FAT", false},
                                           Layout{"layout-reuse32.img", "FAT32", false},
                                           Layout{"layout-small32.img", "FAT32", true},
                                           Layout{"layout-names12.img", "FAT", false},
                                           Layout{"layout-names32.img", "FAT32", false},
                                           Layout{"layout-folders16.img", "FAT", false},
                                           Layout{"layout-folders32.img", "FAT32", false}),
                         [](const auto& info) {
                           std::string name = info.param.image;
                           name = name.substr(7, name.find('.') - 7);
                           return name;
                         });

// The FAT type from the boot sector, as the kernel and libblkid decide it: a 16-bit FAT size
// of 0 with a 32-bit one is FAT32 whatever the cluster count; otherwise FAT12 below 4085
// clusters, else FAT16. The drive list (the volume probe) and the engine (layout) agree.
TEST(FatTypeRuleTest, TheBootSectorDecidesForTheDriveListAndTheEngineAlike) {
  struct Case {
    std::uint16_t fat16;
    std::uint32_t fat32;
    std::uint32_t clusters;
    int width;
    const char* type;
  };
  for (const Case c : {Case{0, 200, 1000, 32, "FAT32"}, Case{0, 600, 70000, 32, "FAT32"},
                       Case{12, 0, 4084, 12, "FAT12"}, Case{12, 0, 4085, 16, "FAT16"},
                       Case{300, 0, 65524, 16, "FAT16"}, Case{0, 200, 4084, 32, "FAT32"}}) {
    // 512-byte sectors and clusters, 1 reserved sector, 1 FAT, 16 root entries (FAT12/16).
    const std::uint32_t fat_sectors = c.fat16 != 0 ? c.fat16 : c.fat32;
    const std::uint32_t root_sectors = c.fat16 != 0 ? 1 : 0;
    const std::uint32_t total = 1 + fat_sectors + root_sectors + c.clusters;
    std::vector<std::uint8_t> bytes(std::size_t{total} * 512, 0);
    bytes[11] = 0x00, bytes[12] = 0x02, bytes[13] = 1, bytes[14] = 1, bytes[16] = 1;
    bytes[17] = c.fat16 != 0 ? 16 : 0;
    bytes[22] = static_cast<std::uint8_t>(c.fat16),
    bytes[23] = static_cast<std::uint8_t>(c.fat16 >> 8);
    for (int i = 0; i < 4; ++i) {
      bytes[32 + i] = static_cast<std::uint8_t>(total >> (8 * i));
      bytes[36 + i] = static_cast<std::uint8_t>(c.fat32 >> (8 * i));
    }
    bytes[44] = c.fat32 != 0 ? 2 : 0;
    bytes[510] = 0x55, bytes[511] = 0xAA;
    volume::MemorySource source(bytes);
    const volume::VolumeFacts facts = workflow::probe_volume(source);
    EXPECT_EQ(volume::kind_name(facts.kind), c.type) << c.clusters;
    EXPECT_EQ(volume::table_name(facts.kind) == "FAT32", c.width == 32);
    // The engine gets the drive list's kind and size; the boot sector still decides.
    const FatLayout layout = make_layout(bytes, facts.kind, facts.total_bytes);
    EXPECT_EQ(layout.width, c.width) << c.clusters;
    EXPECT_EQ(layout.cluster_count, c.clusters);
    EXPECT_EQ(layout.is_fat32(), c.width == 32);
  }
}

}  // namespace
}  // namespace fennick::fat

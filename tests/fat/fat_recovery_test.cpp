// FAT recovery and wipe on the fixture images (checked against their truth files and The
// Sleuth Kit) and on small volumes that mtools builds for the directory-boundary cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "fat/fat_layout.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/sector_reader.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"
#include "workflow/recovery_run.h"

namespace fennick::fat {
namespace {

using testing::sha256_of;

using testing::DriveScope;

namespace fs = std::filesystem;
using engine::WipeOutcome;
using testing::run_command;
using testing::shell_quote;

// The drive's FAT layout, as its engine learns it from the boot sector.
FatLayout layout_of(const workflow::Drive& drive) {
  volume::SectorReader reader(drive.source, volume::reader_sectors);
  return make_layout(load_boot_sector(reader), drive.kind, drive.total_bytes);
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fs::file_size(path)));
  std::ifstream(path, std::ios::binary)
      .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::string lower_ascii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A name the scan shows ("_ACHE.DAT") against the name that was written ("CACHE.DAT"): a
// deleted short name has lost its first character.
bool same_component(const std::string& found, const std::string& written) {
  if (lower_ascii(found) == lower_ascii(written)) return true;
  if (found.empty() || found[0] != '_' || written.empty()) return false;
  std::size_t first = 1;
  while (first < written.size() && (static_cast<unsigned char>(written[first]) & 0xC0) == 0x80)
    ++first;
  return lower_ascii(found.substr(1)) == lower_ascii(written.substr(first));
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, sep))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

struct Truth {
  std::string path;  // "/DOCS/TMP/CACHE.DAT"
  std::int64_t size = 0;
  std::string sha256;
  std::string state;
};

std::vector<Truth> read_truth(const std::string& image) {
  std::ifstream in(image + ".truth.tsv");
  std::vector<Truth> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    const auto f = split(line, '\t');
    if (f.size() == 4) rows.push_back({f[0], std::stoll(f[1]), f[2], f[3]});
  }
  return rows;
}

const catalogue::FoundFile* find_record(const catalogue::Catalogue& catalogue, const Truth& t) {
  std::vector<std::string> want = split(t.path, '/');
  for (const auto& r : catalogue.files()) {
    std::vector<std::string> got = split(r.path.str().substr(3), '\\');
    got.push_back(r.name.str());
    if (r.size != t.size || got.size() != want.size()) continue;
    if (std::equal(got.begin(), got.end(), want.begin(), same_component)) return &r;
  }
  return nullptr;
}

bool recoverable(const std::string& state) {
  return state == "deleted" || state == "deleted-in-folder" || state == "deleted-fragmented";
}

template <int Width>
struct Image {
  static constexpr int width = Width;
  static std::string name() { return "fat" + std::to_string(Width) + ".img"; }
};

template <typename T>
class FatImageRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = testing::fixture_image(T::name());
    if (image_.empty()) GTEST_SKIP() << T::name() << " missing (ctest -R fixtures)";
  }
  // A private copy that a test may change.
  std::string copy() {
    const std::string path = dir_.path() + "/" + T::name();
    fs::copy_file(image_, path, fs::copy_options::overwrite_existing);
    return path;
  }
  std::string image_;
  testing::TempDir dir_;
};
using Widths = ::testing::Types<Image<12>, Image<16>, Image<32>>;
TYPED_TEST_SUITE(FatImageRecoveryTest, Widths);

TYPED_TEST(FatImageRecoveryTest, RecoversEveryFileWhoseClustersAreStillFree) {
  const std::string before = sha256_of(this->image_);
  DriveScope s(this->image_);
  ASSERT_TRUE(s.scan());
  const messages::RecordingChannel& log = s.channel;
  int recovered = 0;
  for (const Truth& t : read_truth(this->image_)) {
    if (!recoverable(t.state)) continue;
    const catalogue::FoundFile* r = find_record(s.catalogue, t);
    ASSERT_NE(r, nullptr) << t.path;
    // The fragmented file's fourth cluster belongs to a live file. The rest lie in free runs;
    // ONE.BIN fills exactly one cluster, so the live file in the cluster after it does not
    // count.
    const int expected_quality = t.state == "deleted-fragmented" ? 43 : 100;
    EXPECT_EQ(r->quality, expected_quality) << t.path;
    const std::string out = this->dir_.path() + "/out" + std::to_string(recovered++);
    const engine::RecoveryResult result = s.recover(*r, out);
    ASSERT_TRUE(result.output_created) << t.path;
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.bytes_written, t.size);
    EXPECT_EQ(sha256_of(out), t.sha256) << t.path;
    EXPECT_EQ(log.lines.back(), " Undeleted successfully: " + out);
  }
  EXPECT_GE(recovered, 15);
  EXPECT_EQ(sha256_of(this->image_), before) << "recovery changed the image";
}

// Descriptors of this process open on the file at path.
int descriptors_on(const std::string& path) {
  int n = 0;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::equivalent(fs::read_symlink(fd.path(), ec), path, ec)) ++n;
  }
  return n;
}

// A run keeps the volume open and what it learnt of the FAT from file to file: the bytes
// must be those of recoveries one by one, and the end of the run must let the volume go.
TYPED_TEST(FatImageRecoveryTest, ARecoveryRunGivesTheSameBytesAndLetsTheVolumeGoAtItsEnd) {
  DriveScope s(this->image_);
  ASSERT_TRUE(s.scan());
  std::vector<const catalogue::FoundFile*> records;
  std::vector<std::string> alone;
  for (const Truth& t : read_truth(this->image_)) {
    if (!recoverable(t.state)) continue;
    records.push_back(find_record(s.catalogue, t));
    ASSERT_NE(records.back(), nullptr) << t.path;
    alone.push_back(this->dir_.path() + "/alone" + std::to_string(alone.size()));
    ASSERT_TRUE(s.recover(*records.back(), alone.back()).output_created) << t.path;
  }
  fs::create_directory(this->dir_.path() + "/run");
  std::optional<workflow::RecoveryRun> run;
  run.emplace(s.drives, this->dir_.path() + "/run", s.run, s.channel);
  int recovered = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const workflow::RecoveryOutcome outcome = run->recover(*records[i], false);
    ASSERT_TRUE(outcome.engine_ran && !outcome.result.failed) << records[i]->name.view();
    EXPECT_EQ(sha256_of(outcome.output_path), sha256_of(alone[i])) << records[i]->name.view();
    ++recovered;
  }
  EXPECT_GE(recovered, 15);
  EXPECT_EQ(descriptors_on(this->image_), 1);
  run.reset();
  EXPECT_EQ(descriptors_on(this->image_), 0);
}

TYPED_TEST(FatImageRecoveryTest, QualityFollowsTheClustersInUse) {
  const std::string img = this->copy();
  const auto truth = read_truth(this->image_);
  const auto q2 = std::find_if(truth.begin(), truth.end(), [](const Truth& t) {
    return t.path.ends_with("Q2 figures (final).csv");
  });
  std::uint32_t first = 0;
  {
    DriveScope s(img);
    ASSERT_TRUE(s.scan());
    const auto* overwritten =
        find_record(s.catalogue, *std::find_if(truth.begin(), truth.end(), [](const Truth& t) {
                      return t.path == "/ARCHIVE/Overwritten report.pdf";
                    }));
    ASSERT_NE(overwritten, nullptr);
    EXPECT_EQ(overwritten->quality, 0);
    first = static_cast<std::uint32_t>(find_record(s.catalogue, *q2)->first_cluster);
  }
  // Mark the fourth of the file's six needed clusters as taken: 3 of 6 free, quality 50.
  auto bytes = file_bytes(img);
  const std::size_t fat = std::size_t{bytes[14]} | std::size_t{bytes[15]} << 8;
  const std::size_t bps = std::size_t{bytes[11]} | std::size_t{bytes[12]} << 8;
  const std::uint32_t c = first + 3;
  std::uint8_t* at = bytes.data() + fat * bps + c * TypeParam::width / 8;
  if (TypeParam::width == 12) {
    if (c % 2)
      at[0] |= 0x70, at[1] = 0xFF;
    else
      at[0] = 0xF7, at[1] |= 0x0F;
  } else {
    at[0] = 0xF7, at[1] = 0xFF;
  }
  write_bytes(img, bytes);
  DriveScope s(img);
  ASSERT_TRUE(s.scan());
  const auto* r = find_record(s.catalogue, *q2);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->quality, 50);
  // The copy skips the taken cluster: the first three clusters are right, the rest is not.
  const std::string out = this->dir_.path() + "/q2";
  ASSERT_TRUE(s.recover(*r, out).output_created);
  const auto got = file_bytes(out);
  ASSERT_EQ(static_cast<std::int64_t>(got.size()), q2->size);
  EXPECT_NE(sha256_of(out), q2->sha256);
  const std::string head = "/DOCS/Reports/2024/Quarterly/Q2 figures (final).csv\n";
  EXPECT_EQ(std::string(got.begin(), got.begin() + static_cast<long>(head.size())), head);
}

TYPED_TEST(FatImageRecoveryTest, StopAndFailuresEndTheFile) {
  DriveScope s(this->image_);
  ASSERT_TRUE(s.scan());
  const auto truth = read_truth(this->image_);
  const auto* zip = find_record(
      s.catalogue, *std::find_if(truth.begin(), truth.end(),
                                 [](const Truth& t) { return t.path == "/DOCS/Backup 2023.zip"; }));
  ASSERT_NE(zip, nullptr);
  const messages::RecordingChannel& log = s.channel;
  // An output file that cannot be made is a failure before the engine runs.
  engine::RecoveryResult result = s.recover(*zip, this->dir_.path() + "/no/such/folder/x");
  EXPECT_TRUE(result.failed);
  EXPECT_FALSE(result.output_created);

  result = s.recover(*zip, "/dev/full");
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(log.lines.back(), " Error: No space left on device: /dev/full");

  s.run.event_pump = [&s] { s.run.request_stop(); };
  const std::string out = this->dir_.path() + "/stopped";
  result = s.recover(*zip, out);
  EXPECT_TRUE(result.output_created);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(fs::file_size(out), static_cast<std::uintmax_t>(s.drive().cluster_size));
  EXPECT_EQ(log.lines.back(), " Process interrupted: " + out);
  s.run.clear_stop();
  s.run.event_pump = nullptr;

  // Clusters the medium cannot deliver become zeros: the file is written whole and reported
  // failed with the byte ranges that are zeros.
  auto memory = std::make_shared<volume::MemorySource>(file_bytes(this->image_));
  s.drive().source = memory;
  const FatLayout layout = layout_of(s.drive());
  const auto bad_from = static_cast<std::uint64_t>(
      layout.cluster_position(static_cast<std::uint32_t>(zip->first_cluster) + 1));
  memory->bad_ranges = {{bad_from, memory->bytes().size()}};
  result = s.recover(*zip, out);
  EXPECT_TRUE(result.output_created);
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(result.outcome(), engine::RecoveryOutcome::zeros);
  EXPECT_EQ(result.bytes_written, zip->size);
  const std::int64_t cluster = s.drive().cluster_size;
  EXPECT_EQ(log.lines.back(),
            " Recovered with zeros in place of bytes that could not be read: " + out + ": " +
                std::to_string(cluster) + "-" + std::to_string(zip->size - 1));
  const std::vector<std::uint8_t> written = file_bytes(out);
  ASSERT_EQ(written.size(), static_cast<std::size_t>(zip->size));
  EXPECT_TRUE(std::all_of(written.begin() + cluster, written.end(), [](auto b) { return b == 0; }));

  // A medium that has gone away delivers nothing: the file fails, the run is told once.
  memory->bad_ranges.clear();
  memory->gone = true;
  result = s.recover(*zip, out);
  EXPECT_TRUE(result.failed);
  EXPECT_TRUE(s.run.source_lost());
  EXPECT_TRUE(log.has_line_starting(" Read error: the medium is gone"));
}

// Byte ranges [begin, end) where two equally long buffers differ.
std::vector<std::pair<std::size_t, std::size_t>> differences(const std::vector<std::uint8_t>& a,
                                                             const std::vector<std::uint8_t>& b) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) {
      // Skip equal stretches a word at a time; the images are tens of megabytes.
      while (i + 8 < a.size() && std::memcmp(&a[i + 1], &b[i + 1], 8) == 0) i += 8;
      continue;
    }
    if (!ranges.empty() && ranges.back().second + 32 >= i)
      ranges.back().second = i + 1;
    else
      ranges.push_back({i, i + 1});
  }
  return ranges;
}

bool fls_lists(const std::string& image, const std::string& name, std::int64_t size) {
  const std::string out = run_command("fls -r -d -p -l " + shell_quote(image)).out;
  for (const auto& line : split(out, '\n')) {
    const auto f = split(line, '\t');
    if (f.size() >= 7 && (f[1].ends_with(name) || std::stoll(f[6]) == size) &&
        f[0].starts_with("r/r *"))
      return true;
  }
  return false;
}

TYPED_TEST(FatImageRecoveryTest, WipeOverwritesOnlyTheEntrySet) {
  if (!testing::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
  const std::string shared = sha256_of(this->image_);
  const auto truth = read_truth(this->image_);
  for (const char* target :
       {"/Résumé 2024.docx", "/DOCS/Reports/2024/Quarterly/Q2 figures (final).csv"}) {
    const std::string img = this->copy();
    const auto original = file_bytes(img);
    const Truth& t =
        *std::find_if(truth.begin(), truth.end(), [&](const Truth& x) { return x.path == target; });
    const std::string name = t.path.substr(t.path.rfind('/') + 1);
    ASSERT_TRUE(fls_lists(img, name, t.size));
    std::int64_t set_start = 0;
    {
      DriveScope s(img);
      ASSERT_TRUE(s.scan());
      const auto* r = find_record(s.catalogue, t);
      ASSERT_NE(r, nullptr) << target;
      const FatLayout layout = layout_of(s.drive());
      set_start = (r->entry_cluster == 0
                       ? layout.root_region_position()
                       : layout.cluster_position(static_cast<std::uint32_t>(r->entry_cluster))) +
                  r->entry_offset;
      EXPECT_EQ(s.wipe(*r), WipeOutcome::wiped);
      EXPECT_EQ(s.channel.lines.back(), " Wiped successfully: " + name);
    }
    const auto after = file_bytes(img);
    // Long-name entries and their short entry: 3 slots for these names, all in one block.
    const auto changed = differences(original, after);
    ASSERT_EQ(changed.size(), 1u) << target;
    EXPECT_GE(changed[0].first, static_cast<std::size_t>(set_start));
    EXPECT_LE(changed[0].second, static_cast<std::size_t>(set_start) + 3 * 32);
    const std::uint8_t* short_entry = after.data() + set_start + 64;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(short_entry), 11), "\xE5ZZZZZZZZZZ");
    EXPECT_FALSE(fls_lists(img, name, t.size)) << target;
    DriveScope s(img);
    ASSERT_TRUE(s.scan());
    EXPECT_EQ(find_record(s.catalogue, t), nullptr);
  }
  EXPECT_EQ(sha256_of(this->image_), shared);
}

TYPED_TEST(FatImageRecoveryTest, WipeOfChangedEntriesWritesNothing) {
  const std::string img = this->copy();
  const auto truth = read_truth(this->image_);
  const Truth& t = *std::find_if(truth.begin(), truth.end(), [](const Truth& x) {
    return x.path == "/DOCS/Reports/draft.doc";
  });
  DriveScope s(img);
  ASSERT_TRUE(s.scan());
  const catalogue::FoundFile record = *find_record(s.catalogue, t);
  const FatLayout layout = layout_of(s.drive());
  const auto at = static_cast<std::size_t>(
      layout.cluster_position(static_cast<std::uint32_t>(record.entry_cluster)) +
      record.entry_offset);
  const messages::RecordingChannel& log = s.channel;
  struct Change {
    std::size_t offset;
    std::uint8_t value;
    int reason;
  };
  for (const Change& c :
       {Change{28, 0x99, messages::entry_changed}, Change{0, 'D', messages::entry_not_deleted}}) {
    auto bytes = file_bytes(img);
    const auto saved = bytes[at + c.offset];
    bytes[at + c.offset] = c.value;
    write_bytes(img, bytes);
    EXPECT_EQ(s.wipe(record), WipeOutcome::left_alone);
    EXPECT_EQ(log.lines.back(), log.text(messages::error_prefix) + log.text(c.reason) +
                                    log.text(messages::nothing_written) + ": " + record.name.str());
    EXPECT_EQ(file_bytes(img), bytes);
    bytes[at + c.offset] = saved;
    write_bytes(img, bytes);
  }
}

// A FAT16 volume with 512-byte clusters whose folder /D holds 13 short names and then a long
// name whose three entries straddle the end of the folder's first cluster; the folder's second
// cluster lies behind the files' clusters. The long-named file is deleted.
class FatBoundaryWipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::have_program("mcopy") || !testing::have_program("fls"))
      GTEST_SKIP() << "needs mtools and TSK";
    img_ = dir_.path() + "/b.img";
    const std::string d = dir_.path();
    const auto r = run_command(
        "export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null; set -e; truncate -s 4M " + img_ +
        "; mkfs.fat -F 16 -s 1 " + img_ + " >/dev/null; mmd -i " + img_ +
        " ::/D;"
        "for i in $(seq -w 1 13); do echo $i > " +
        d + "/F$i.TXT; done; mcopy -i " + img_ + " " + d +
        "/F*.TXT ::/D; head -c 3000 /dev/urandom > " + d + "/l; mcopy -i " + img_ + " " + d +
        "/l '::/D/Long name here.txt'; mdel -i " + img_ + " '::/D/Long name here.txt'");
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  testing::TempDir dir_;
  std::string img_;
};

TEST_F(FatBoundaryWipeTest, WipeFollowsTheFatIntoTheNextDirectoryCluster) {
  const auto original = file_bytes(img_);
  ASSERT_TRUE(fls_lists(img_, "Long name here.txt", 3000));
  {
    DriveScope s(img_);
    ASSERT_TRUE(s.scan());
    ASSERT_EQ(s.catalogue.deleted_count(), 1);
    const auto r = s.catalogue.files()[0];
    EXPECT_EQ(r.name.str(), "Long name here.txt");
    EXPECT_EQ(r.entry_offset, 15 * 32);
    EXPECT_EQ(s.wipe(r), WipeOutcome::wiped);
  }
  const auto changed = differences(original, file_bytes(img_));
  ASSERT_EQ(changed.size(), 2u);  // the last slot of one cluster, the first two of another
  EXPECT_LE(changed[0].second - changed[0].first, 32u);
  EXPECT_EQ(changed[0].first % 512 / 32, 15u);
  EXPECT_LT(changed[1].first % 512, 32u);
  EXPECT_LE(changed[1].second % 512, 64u);
  EXPECT_GT(changed[1].first, changed[0].second + 512) << "the folder's clusters are not adjacent";
  EXPECT_FALSE(fls_lists(img_, "Long name here.txt", 3000));
}

TEST_F(FatBoundaryWipeTest, WipeWithoutANextClusterWritesNothing) {
  DriveScope s(img_);
  ASSERT_TRUE(s.scan());
  ASSERT_EQ(s.catalogue.deleted_count(), 1);
  const auto r = s.catalogue.files()[0];
  // Free the folder's first cluster in the FAT: the set has nowhere to continue.
  auto bytes = file_bytes(img_);
  const FatLayout layout = layout_of(s.drive());
  const std::uint32_t c = static_cast<std::uint32_t>(r.entry_cluster);
  bytes[static_cast<std::size_t>(layout.fat_position()) + 2 * c] = 0;
  bytes[static_cast<std::size_t>(layout.fat_position()) + 2 * c + 1] = 0;
  write_bytes(img_, bytes);
  const messages::RecordingChannel& log = s.channel;
  EXPECT_EQ(s.wipe(r), WipeOutcome::left_alone);
  EXPECT_TRUE(log.lines.back().starts_with(" Error: the FAT gives no next cluster"))
      << log.lines.back();
  EXPECT_EQ(file_bytes(img_), bytes);
}

}  // namespace
}  // namespace fennick::fat

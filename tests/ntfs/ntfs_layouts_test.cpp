// NTFS layouts that the main fixture lacks, on the volumes of make-ntfs-layouts: 4096-byte
// sectors read to the volume's end, a recovery whose clusters lie past the image's end, a live
// folder whose name is in an extension record, a deleted file whose parent record now holds
// another folder, and the last-write time as "modified". Checked against each volume's truth
// and facts files (themselves checked by the maker against istat, icat and fls) and fls.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/sector_reader.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"
#include "workflow/recovery_run.h"

namespace fennick::ntfs {
namespace {

using catalogue::FoundFile;
using testing::DriveScope;
using testing::run_command;
using testing::sha256_of;
using testing::shell_quote;

constexpr const char* skip_reason = "make-ntfs-layouts fixtures not built (needs root and FUSE)";

std::map<std::string, std::string> read_facts(const std::string& image) {
  std::map<std::string, std::string> facts;
  std::ifstream in(image + ".facts");
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return facts;
}

std::int64_t fact(const std::map<std::string, std::string>& facts, const std::string& key) {
  const auto it = facts.find(key);
  EXPECT_NE(it, facts.end()) << key;
  return it == facts.end() ? -1 : std::stoll(it->second);
}

struct Truth {
  std::string path;  // "/Photos/photo.jpg"
  std::int64_t size = 0;
  std::string sha256;
  std::string state;
};

std::vector<Truth> read_truth(const std::string& image) {
  std::vector<Truth> truth;
  std::ifstream in(image + ".truth.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    Truth t;
    std::string size;
    std::getline(f, t.path, '\t');
    std::getline(f, size, '\t');
    std::getline(f, t.sha256, '\t');
    std::getline(f, t.state, '\t');
    t.size = std::stoll(size);
    truth.push_back(t);
  }
  return truth;
}

std::vector<FoundFile> scan_all(DriveScope& s) {
  EXPECT_TRUE(s.scan());
  return s.catalogue.files();
}

// Message k in English, the language of the tests' channels.
std::string english(int k) { return messages::get_message(messages::english_base, k); }

const FoundFile* by_record(const std::vector<FoundFile>& files, std::int64_t record) {
  for (const auto& f : files) {
    if (f.record_no == record) return &f;
  }
  return nullptr;
}

// "C:\Photos\" + "photo.jpg" -> "/Photos/photo.jpg"
std::string slash_path(const FoundFile& f) {
  std::string p = "/" + f.path.str().substr(3) + f.name.str();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

// Deleted entries fls finds with their path (orphans left out): path -> record.
std::map<std::string, std::int64_t> fls_deleted(const std::string& image) {
  const auto r = run_command("fls -r -d -p " + shell_quote(image));
  static const std::regex line_re(R"(^[-rd]/[rd] \* (\d+)(-\d+-\d+)?:\t(.*)$)");
  std::map<std::string, std::int64_t> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, line_re) || m[3].str().starts_with("$OrphanFiles")) continue;
    out["/" + m[3].str()] = std::stoll(m[1]);
  }
  return out;
}

// A time given in seconds since 1970 (UTC) as the catalogue keeps NTFS times.
catalogue::Timestamp timestamp_of(std::int64_t unix_seconds) {
  constexpr std::int64_t days_1899_to_1970 = 25569;
  return catalogue::Timestamp::from_ticks(
      (days_1899_to_1970 * 86400 + unix_seconds) * catalogue::Timestamp::ticks_per_second,
      catalogue::TimeBase::utc);
}

// ---- 4096-byte sectors ---------------------------------------------------------------------

TEST(NtfsLayoutsTest, FourKiBSectorVolumesAreReadToTheirEndAndRecoveredWhole) {
  const std::string image = testing::fixture_image("ntfs-4k-sectors.img");
  if (image.empty()) GTEST_SKIP() << skip_reason;
  const auto facts = read_facts(image);
  DriveScope s(image);
  const workflow::Drive& info = s.drive();
  EXPECT_EQ(info.fs_name(), "NTFS");
  EXPECT_EQ(info.cluster_size, 4096);
  EXPECT_EQ(info.total_bytes, fact(facts, "total_clusters") * 4096);
  // The fixture's point: the data lie past the first eighth of the volume.
  ASSERT_GT(fact(facts, "photo_first_cluster") * 8, fact(facts, "total_clusters"));

  const auto files = scan_all(s);
  const auto fls = fls_deleted(image);
  testing::TempDir out;
  const messages::RecordingChannel& log = s.channel;
  int deleted = 0;
  for (const Truth& t : read_truth(image)) {
    SCOPED_TRACE(t.path);
    const auto listed = std::find_if(files.begin(), files.end(),
                                     [&](const FoundFile& f) { return slash_path(f) == t.path; });
    if (t.state == "live") {
      EXPECT_EQ(listed, files.end());
      continue;
    }
    ++deleted;
    ASSERT_NE(listed, files.end());
    ASSERT_TRUE(fls.count(t.path));
    EXPECT_EQ(listed->record_no, fls.at(t.path));
    EXPECT_EQ(listed->size, t.size);
    EXPECT_EQ(listed->quality, 100) << "every cluster of the file is free";
    const std::string output = out.path() + "/" + std::to_string(listed->record_no);
    const engine::RecoveryResult result = s.recover(*listed, output);
    EXPECT_TRUE(result.output_created);
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(sha256_of(output), t.sha256);
    EXPECT_TRUE(log.has_line_starting(english(74) + output));
  }
  EXPECT_EQ(deleted, 3);
}

// The reader's limit counts the volume's own sectors: a volume of large sectors is read to the
// last byte of its last whole cluster, and not one byte beyond.
TEST(NtfsLayoutsTest, TheReaderServesAVolumeOfLargeSectorsToItsLastByte) {
  struct Case {
    std::uint16_t sector;
    std::uint8_t per_cluster;
    std::uint64_t total_sectors;
  };
  for (const Case c :
       {Case{4096, 1, 64}, Case{2048, 2, 96}, Case{1024, 4, 130}, Case{512, 8, 512}}) {
    SCOPED_TRACE(c.sector);
    const std::size_t bytes = c.sector * (c.total_sectors - c.total_sectors % c.per_cluster);
    std::vector<std::uint8_t> volume =
        testing::patterned_volume(bytes, c.per_cluster, c.total_sectors);
    volume[11] = static_cast<std::uint8_t>(c.sector & 0xFF);
    volume[12] = static_cast<std::uint8_t>(c.sector >> 8);
    // A little more than the volume, so that only the limit stops a read past its end.
    volume.resize(bytes + 8192, 0x5A);
    volume::SectorReader reader(std::make_shared<volume::MemorySource>(volume), 8);
    ASSERT_EQ(reader.error, 0);
    std::vector<std::uint8_t> last(c.sector);
    ASSERT_EQ(reader.read(c.sector, last.data(), static_cast<std::int64_t>(bytes - c.sector)),
              c.sector);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), volume.end() - 8192 - c.sector));
    std::uint8_t beyond = 0;
    EXPECT_EQ(reader.read(1, &beyond, static_cast<std::int64_t>(bytes)), 0);
  }
}

// ---- unreadable clusters -------------------------------------------------------------------

TEST(NtfsLayoutsTest, ClustersPastTheImageEndFailTheRecoveryWithHolesAndOneLinePerStretch) {
  const std::string image = testing::fixture_image("ntfs-cut.img");
  if (image.empty()) GTEST_SKIP() << skip_reason;
  const auto facts = read_facts(image);
  const auto truth = read_truth(image);
  const auto tail_truth = std::find_if(truth.begin(), truth.end(),
                                       [](const Truth& t) { return t.path == "/tail.bin"; });
  ASSERT_NE(tail_truth, truth.end());
  std::string readable_sha =
      facts.count("tail_readable_sha256") ? facts.at("tail_readable_sha256") : "";
  {
    DriveScope s(image);
    const auto files = scan_all(s);
    const FoundFile* tail = by_record(files, fact(facts, "tail_record"));
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(slash_path(*tail), "/tail.bin");
    testing::TempDir out;
    messages::RecordingChannel log;
    workflow::RecoveryOutcome outcome;
    {
      workflow::RecoveryRun run(s.drives, out.path(), s.run, log);
      outcome = run.recover(*tail, false);
    }
    EXPECT_TRUE(outcome.engine_ran);
    EXPECT_EQ(outcome.result.outcome(), engine::RecoveryOutcome::zeros);
    const std::string error = english(72);
    const auto stretch_lines =
        std::count_if(log.lines.begin(), log.lines.end(), [&](const std::string& l) {
          return l.starts_with(error + english(messages::clusters_left_as_zeros));
        });
    EXPECT_EQ(stretch_lines, 1) << "one line for the one unreadable stretch";
    EXPECT_TRUE(log.has_line_starting(error + english(messages::clusters_left_as_zeros) +
                                      std::to_string(fact(facts, "cut_cluster")) + ": " +
                                      outcome.output_path));
    ASSERT_FALSE(log.lines.empty());
    // The last line names the file's bytes that are zeros: from the cut cluster on.
    EXPECT_TRUE(log.lines.back().starts_with(english(509) + outcome.output_path + ": "))
        << log.lines.back();
    EXPECT_FALSE(log.has_line_starting(english(74)));
    // The readable clusters are the file's; the others are holes.
    struct stat st {};
    ASSERT_EQ(::stat(outcome.output_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, tail_truth->size);
    EXPECT_EQ(sha256_of(outcome.output_path), readable_sha);
    EXPECT_LT(st.st_blocks * 512, tail_truth->size) << "the unreadable clusters take no room";
  }
  // The command line counts the file as not whole.
  testing::TempDir out;
  const auto r = run_command(shell_quote(testing::cli_path()) + " recover --to " +
                             shell_quote(out.path()) + " " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find(english(72) + english(messages::clusters_left_as_zeros)), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find(" Undeleted successfully: "), std::string::npos) << r.err;
  EXPECT_EQ(sha256_of(out.path() + "/tail.bin"), readable_sha);
}

// ---- folders -------------------------------------------------------------------------------

TEST(NtfsLayoutsTest, FolderPathsFollowAttributeListsAndSequenceNumbers) {
  const std::string image = testing::fixture_image("ntfs-layouts.img");
  if (image.empty()) GTEST_SKIP() << skip_reason;
  const auto facts = read_facts(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  const auto& folders = s.catalogue.folders(0);
  const auto folder = [&](std::int32_t id) -> const catalogue::FolderEntry* {
    for (const auto& e : folders) {
      if (e.dir_id == id) return &e;
    }
    return nullptr;
  };

  // A live folder whose $FILE_NAME lies in an extension record keeps its name.
  const FoundFile* inside = by_record(files, fact(facts, "inside_record"));
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(inside->path.str(), "C:\\Big folder\\");
  const auto* big = folder(static_cast<std::int32_t>(fact(facts, "big_folder_record")));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->name.str(), "Big folder");
  EXPECT_EQ(big->deleted, 0);
  EXPECT_EQ(big->parent_id, catalogue::ROOT_FOLDER_ID);

  // A deleted folder whose record is still free keeps its name, although deleting it moved
  // the record's sequence number on.
  const FoundFile* note = by_record(files, fact(facts, "note_record"));
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->path.str(), "C:\\trash\\");

  // A deleted folder whose record now holds another folder is a placeholder, under its own
  // id: the files of the new folder and those of the old one are never mixed.
  const std::int64_t old_record = fact(facts, "old_record");
  ASSERT_EQ(fact(facts, "unrelated_record"), old_record);
  const FoundFile* stale = by_record(files, fact(facts, "stale_record"));
  ASSERT_NE(stale, nullptr);
  EXPECT_EQ(stale->path.str(), "C:\\Deleted " + std::to_string(old_record) + "\\");
  EXPECT_NE(stale->parent_dir, old_record);
  const auto* placeholder = folder(stale->parent_dir);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_EQ(placeholder->name.str(), "Deleted " + std::to_string(old_record));
  EXPECT_EQ(placeholder->deleted, 1);
  EXPECT_EQ(placeholder->parent_id, catalogue::ROOT_FOLDER_ID);
  for (const auto& e : folders) EXPECT_NE(e.name.str(), "unrelated");

  // Every file fls lists with a path is listed with the same path; fls lists the stale file
  // only among its orphans.
  const auto fls = fls_deleted(image);
  for (const auto& [path, record] : fls) {
    const FoundFile* f = by_record(files, record);
    if (f == nullptr) continue;  // folders
    EXPECT_EQ(slash_path(*f), path);
  }
  EXPECT_EQ(std::count_if(fls.begin(), fls.end(),
                          [](const auto& e) { return e.first.find("stale") != std::string::npos; }),
            0);
}

// ---- times ---------------------------------------------------------------------------------

TEST(NtfsLayoutsTest, ModifiedIsTheLastWriteTimeNotTheRecordChange) {
  const std::string image = testing::fixture_image("ntfs-layouts.img");
  if (image.empty()) GTEST_SKIP() << skip_reason;
  const auto facts = read_facts(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  const FoundFile* dated = by_record(files, fact(facts, "dated_record"));
  ASSERT_NE(dated, nullptr);
  // The times were set in whole seconds: the ticks are exact, and UTC.
  EXPECT_EQ(dated->modified, timestamp_of(fact(facts, "dated_modified_unix")));
  EXPECT_EQ(dated->created, timestamp_of(fact(facts, "dated_created_unix")));
  EXPECT_FALSE(dated->modified.is_local());
  EXPECT_FALSE(dated->created.is_local());
  EXPECT_GT(std::abs(dated->modified.ticks() -
                     timestamp_of(fact(facts, "dated_mft_changed_unix")).ticks()),
            catalogue::Timestamp::ticks_per_day);
  // The same time as The Sleuth Kit's "File Modified".
  const auto r = run_command("istat " + shell_quote(image) + " " +
                             std::to_string(fact(facts, "dated_record")));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(\nFile Modified:\t(\S+ \S+)\.)")));
  const auto d = run_command("date -u -d " + shell_quote(m[1].str()) + " +%s");
  EXPECT_EQ(dated->modified, timestamp_of(std::stoll(d.out)));
}

}  // namespace
}  // namespace fennick::ntfs

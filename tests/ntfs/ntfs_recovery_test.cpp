// NTFS recovery and wipe on the fixture volume: byte-identical content for resident,
// fragmented, sparse and compressed files against the fixture's record and icat; the wipe of
// one record on a copy, checked byte by byte and with fls; refusals that write nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/volume_source.h"
#include "workflow/wipe_run.h"

namespace fennick::ntfs {
namespace {

using testing::sha256_of;

using testing::DriveScope;

using catalogue::FoundFile;
using engine::WipeOutcome;
using testing::run_command;
using testing::shell_quote;

std::vector<FoundFile> scan_all(DriveScope& s) {
  EXPECT_TRUE(s.scan());
  return s.catalogue.files();
}

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

struct Truth {
  std::int64_t size = 0;
  std::string sha256;
  std::string state;
};

// path ("/Documents/Report for May.doc") -> size, hash, state.
std::map<std::string, Truth> read_truth(const std::string& image) {
  std::map<std::string, Truth> truth;
  std::ifstream in(image + ".truth.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string path, size;
    Truth t;
    std::getline(f, path, '\t');
    std::getline(f, size, '\t');
    std::getline(f, t.sha256, '\t');
    std::getline(f, t.state, '\t');
    t.size = std::stoll(size);
    truth[path] = t;
  }
  return truth;
}

std::string slash_path(const FoundFile& f) {
  std::string p = "/" + f.path.str().substr(3) + f.name.str();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

const FoundFile* named(const std::vector<FoundFile>& files, const std::string& name) {
  for (const auto& f : files) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

TEST(NtfsRecoveryTest, RecoversEveryIntactDeletedFileByteForByte) {
  const std::string image = testing::fixture_image("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  const std::string before = sha256_of(image);
  const auto truth = read_truth(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  testing::TempDir out;
  const messages::RecordingChannel& log = s.channel;

  std::set<std::string> kinds;
  int recovered = 0;
  for (const FoundFile& f : files) {
    const auto t = truth.find(slash_path(f));
    if (t == truth.end() || t->second.state == "deleted-overwritten") continue;
    const std::string output = out.path() + "/" + std::to_string(f.record_no);
    const engine::RecoveryResult result = s.recover(f, output);
    EXPECT_TRUE(result.output_created);
    EXPECT_FALSE(result.failed) << slash_path(f);
    EXPECT_EQ(result.bytes_written, t->second.size) << slash_path(f);
    EXPECT_EQ(sha256_of(output), t->second.sha256)
        << slash_path(f) << " (" << t->second.state << ")";
    struct stat st {};
    ASSERT_EQ(::stat(output.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "recovered files are for their owner only";
    EXPECT_TRUE(log.has_line_starting(" Undeleted successfully: " + output));
    ++recovered;
    kinds.insert(t->second.state);
    if (f.size < 4096) kinds.insert("small");
    if (slash_path(f).starts_with("/Compressed/")) kinds.insert("compressed");
    if (f.name.str().find("Sparse") != std::string::npos) kinds.insert("sparse");
  }
  EXPECT_GE(recovered, 15);
  for (const char* kind :
       {"small", "compressed", "sparse", "deleted-fragmented", "deleted-in-folder"}) {
    EXPECT_TRUE(kinds.count(kind)) << "no " << kind << " file recovered";
  }
  EXPECT_EQ(sha256_of(image), before) << "recovery never writes to the volume";
}

TEST(NtfsRecoveryTest, AgreesWithIcatWhereIcatExtractsTheFile) {
  const std::string image = testing::fixture_image("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  if (!testing::have_program("icat")) GTEST_SKIP() << "icat missing";
  DriveScope s(image);
  const auto files = scan_all(s);
  testing::TempDir out;
  int compared = 0;
  for (const FoundFile& f : files) {
    const std::string ours = out.path() + "/ours";
    const std::string theirs = out.path() + "/icat";
    s.recover(f, ours);
    const auto r = run_command("icat " + shell_quote(image) + " " + std::to_string(f.record_no) +
                               " > " + shell_quote(theirs) + " 2>/dev/null");
    if (r.exit_code != 0) continue;
    const auto icat_bytes = read_file(theirs);
    if (icat_bytes.empty() && f.size > 0) continue;  // icat gave up on this record
    EXPECT_EQ(read_file(ours), icat_bytes) << f.name.str();
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

TEST(NtfsRecoveryTest, StopKeepsWhatWasWrittenAndFailuresAreLogged) {
  const std::string image = testing::fixture_image("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  DriveScope s(image);
  const auto files = scan_all(s);
  const FoundFile* photo = named(files, "写真.jpg");
  ASSERT_NE(photo, nullptr);
  testing::TempDir out;
  const messages::RecordingChannel& log = s.channel;
  {
    s.channel.lines.clear();
    int pumps = 0;
    s.run.event_pump = [&] {
      if (++pumps == 10) s.run.request_stop();
    };
    const std::string output = out.path() + "/stopped.jpg";
    const engine::RecoveryResult result = s.recover(*photo, output);
    EXPECT_TRUE(result.output_created);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.bytes_written, 10 * 4096) << "whole clusters up to the stop";
    EXPECT_EQ(read_file(output).size(), 10u * 4096);
    EXPECT_TRUE(log.has_line_starting(" Process interrupted: " + output));
    s.run.clear_stop();
    s.run.event_pump = nullptr;
  }
  {
    // An output file that cannot be made is a failure before the engine runs.
    const engine::RecoveryResult result = s.recover(*photo, out.path() + "/no such folder/x.jpg");
    EXPECT_FALSE(result.output_created);
    EXPECT_TRUE(result.failed);
  }
  {
    // A record number past the MFT: the output stays empty and the failure is said.
    s.channel.lines.clear();
    FoundFile gone = *photo;
    gone.record_no = 1 << 30;
    const engine::RecoveryResult result = s.recover(gone, out.path() + "/gone.jpg");
    EXPECT_TRUE(result.failed);
    EXPECT_TRUE(read_file(out.path() + "/gone.jpg").empty());
    EXPECT_TRUE(log.has_line_starting(" Error: "));
    EXPECT_FALSE(log.has_line_starting(" Undeleted successfully"));
  }
}

// A compressed file one of whose units no longer decodes (its first stored cluster now holds a
// chunk whose back-reference points before the chunk): the file is written whole, the unit as
// far as it decodes and zeros after, and it is told as damaged, with the bytes named, by the
// engine, the command line's end line, its exit status and the manifest: never "recovered".
TEST(NtfsRecoveryTest, ACompressedUnitThatDoesNotDecodeIsToldAsDamagedNeverRecovered) {
  const std::string fixture = testing::fixture_image("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  if (!testing::have_program("istat") || !testing::have_program("icat")) {
    GTEST_SKIP() << "istat and icat (sleuthkit) missing";
  }
  testing::TempDir dir;
  const auto intact = [&] {
    DriveScope s(fixture);
    const auto files = scan_all(s);
    const FoundFile* f = named(files, "server.log");
    return f ? std::optional<FoundFile>(*f) : std::nullopt;
  }();
  ASSERT_TRUE(intact.has_value());
  ASSERT_GT(intact->size, 65536 + 4096) << "a file of two units or more";
  const std::string record = std::to_string(intact->record_no);
  // The clusters of the second unit as istat lists them (sparse ones as 0).
  const auto istat = run_command("istat " + shell_quote(fixture) + " " + record);
  ASSERT_EQ(istat.exit_code, 0);
  const std::size_t data = istat.out.find("$DATA");
  ASSERT_NE(data, std::string::npos) << istat.out;
  std::istringstream list(istat.out.substr(istat.out.find('\n', data) + 1));
  std::vector<std::int64_t> clusters;
  for (std::string word; list >> word && std::all_of(word.begin(), word.end(), ::isdigit);) {
    clusters.push_back(std::stoll(word));
  }
  ASSERT_GT(clusters.size(), 16u);
  const std::int64_t unit_cluster = clusters[16];
  ASSERT_NE(unit_cluster, 0);
  const std::string whole = dir.path() + "/whole";
  ASSERT_EQ(run_command("icat " + shell_quote(fixture) + " " + record + " > " + shell_quote(whole))
                .exit_code,
            0);

  const std::string image = dir.path() + "/damaged-unit.img";
  std::vector<std::uint8_t> bytes = read_file(fixture);
  // Header 0xB002: a compressed chunk of 3 data bytes; flag 0x01: the first token is a
  // back-reference, which at the chunk's first byte can only point before it.
  const std::uint8_t bad_chunk[] = {0x02, 0xB0, 0x01, 0x00, 0x00};
  std::copy(std::begin(bad_chunk), std::end(bad_chunk),
            bytes.begin() + static_cast<std::ptrdiff_t>(unit_cluster * 4096));
  {
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  const std::int64_t unit_end = std::min<std::int64_t>(2 * 65536, intact->size);
  const std::string named_range = "65536-" + std::to_string(unit_end - 1);

  DriveScope s(image);
  const auto files = scan_all(s);
  const FoundFile* f = named(files, "server.log");
  ASSERT_NE(f, nullptr);
  const std::string output = dir.path() + "/server.log";
  const engine::RecoveryResult result = s.recover(*f, output);
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(result.outcome(), engine::RecoveryOutcome::damaged_units);
  EXPECT_EQ(result.damaged_ranges, (engine::ByteRanges{{65536, unit_end}}));
  EXPECT_EQ(s.channel.lines.back(),
            " Recovered with damaged compressed units, zeros where they did not decode: " + output +
                ": " + named_range);
  EXPECT_FALSE(s.channel.has_line_starting(" Undeleted successfully"));
  // Every unit but the damaged one is the file's; the damaged one is zeros.
  std::vector<std::uint8_t> expected = read_file(whole);
  std::fill(expected.begin() + 65536, expected.begin() + unit_end, 0);
  EXPECT_TRUE(read_file(output) == expected);

  // The command line: not counted as recovered, status 1, the manifest says "damaged".
  const std::string out = dir.path() + "/out";
  const auto cli = run_command(shell_quote(testing::cli_path()) + " recover --record " + record +
                               " --to " + shell_quote(out) + " --manifest " +
                               shell_quote(dir.path() + "/m.sha256") + " " + shell_quote(image));
  EXPECT_EQ(cli.exit_code, 1) << cli.err;
  EXPECT_NE(cli.err.find(" Files recovered: 0, with damaged compressed units: 1, not recovered: 0"),
            std::string::npos)
      << cli.err;
  std::ifstream table(dir.path() + "/m.sha256.tsv");
  std::string header, row;
  std::getline(table, header);
  std::getline(table, row);
  EXPECT_NE(row.find("\tdamaged\t" + named_range + "\t"), std::string::npos) << row;
}

// ---- wipe -------------------------------------------------------------------------------------

std::size_t record_position(const FoundFile& f) {
  return static_cast<std::size_t>(f.entry_cluster * 4096 + f.entry_offset);
}

TEST(NtfsWipeTest, ZeroesExactlyTheOneRecordAfterWhichNeitherWeNorFlsListTheFile) {
  const std::string fixture = testing::fixture_image("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  testing::TempDir dir;
  const std::string image = dir.path() + "/copy.img";
  ASSERT_EQ(run_command("cp " + shell_quote(fixture) + " " + shell_quote(image)).exit_code, 0);
  const auto before = read_file(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  const FoundFile* report = named(files, "Report for May.doc");
  ASSERT_NE(report, nullptr);
  const FoundFile target = *report;

  EXPECT_EQ(s.wipe(target), WipeOutcome::wiped);
  EXPECT_TRUE(s.channel.has_line_starting(" Wiped successfully: Report for May.doc ."));

  const auto after = read_file(image);
  ASSERT_EQ(after.size(), before.size());
  const std::size_t at = record_position(target);
  ASSERT_LE(at + 1024, after.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + at, after.begin()))
      << "bytes before the record changed";
  EXPECT_TRUE(std::all_of(after.begin() + at, after.begin() + at + 1024, [](std::uint8_t b) {
    return b == 0;
  })) << "the record is not all zeros";
  EXPECT_TRUE(std::equal(before.begin() + at + 1024, before.end(), after.begin() + at + 1024))
      << "bytes after the record changed";
  EXPECT_FALSE(std::all_of(before.begin() + at, before.begin() + at + 1024,
                           [](std::uint8_t b) { return b == 0; }));

  s.catalogue.clear();
  const auto rescan = scan_all(s);
  EXPECT_EQ(named(rescan, "Report for May.doc"), nullptr);
  EXPECT_EQ(rescan.size(), files.size() - 1);
  const auto fls = run_command("fls -r -d -p " + shell_quote(image));
  EXPECT_EQ(fls.out.find("Report for May.doc"), std::string::npos) << fls.out;

  // A second wipe finds no record there any more and writes nothing.
  EXPECT_EQ(s.wipe(target), WipeOutcome::left_alone);
  EXPECT_EQ(read_file(image), after);
}

TEST(NtfsWipeTest, RefusesRecordsThatAreNoLongerTheOneTheScanSaw) {
  const std::string fixture = testing::fixture_image("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  testing::TempDir dir;
  const std::string image = dir.path() + "/copy.img";
  ASSERT_EQ(run_command("cp " + shell_quote(fixture) + " " + shell_quote(image)).exit_code, 0);
  const std::string before = sha256_of(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  ASSERT_GE(files.size(), 2u);
  const FoundFile& file = files.front();

  // The root folder's record, in use, in the same cluster run as the MFT's start.
  const auto bytes = read_file(image);
  std::uint64_t mft_cluster = 0;
  for (int i = 0; i < 8; ++i) mft_cluster |= std::uint64_t{bytes[0x30 + i]} << (8 * i);
  FoundFile in_use = file;
  in_use.record_no = 5;
  in_use.entry_cluster = static_cast<std::int64_t>(mft_cluster) + 1;
  in_use.entry_offset = 1024;

  FoundFile other_number = file;
  other_number.record_no = file.record_no + 1;
  FoundFile no_place = file;
  no_place.entry_cluster = 0;
  FoundFile outside = file;
  outside.entry_cluster = 1LL << 40;
  FoundFile odd_offset = file;
  odd_offset.entry_offset = 100;

  const std::vector<std::pair<FoundFile, int>> cases = {
      {in_use, messages::record_in_use},
      {other_number, messages::record_moved},
      {no_place, messages::record_place_unknown},
      {outside, messages::record_place_outside},
      {odd_offset, messages::record_place_outside}};
  for (const auto& [record, reason] : cases) {
    messages::RecordingChannel log;
    EXPECT_EQ(workflow::wipe_file(s.drives, s.catalogue, record, s.run, log),
              WipeOutcome::left_alone)
        << reason;
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], log.text(messages::error_prefix) + log.text(messages::cannot_wipe) +
                                record.name.str() + ": " + log.text(reason));
  }
  EXPECT_EQ(sha256_of(image), before);
}

// A record larger than a cluster whose halves lie in two MFT fragments far apart: the wipe
// zeroes both halves where the MFT's runs put them, and no other byte (the cluster after the
// first half, where a contiguous write would land, keeps its bytes).
TEST(NtfsWipeTest, ARecordSplitAcrossMftFragmentsIsZeroedAtBothPlacesOnly) {
  const std::string fixture = testing::fixture_image("ntfs-split-record.img");
  if (fixture.empty())
    GTEST_SKIP() << "ntfs-split-record.img fixture not built (needs root and FUSE)";
  std::map<std::string, std::string> layout;
  {
    std::ifstream in(fixture + ".layout");
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) layout[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  ASSERT_TRUE(layout.count("victim_record") && layout.count("second_half_offset"));
  const std::int64_t record_no = std::stoll(layout["victim_record"]);
  const std::size_t first = std::stoull(layout["first_half_offset"]);
  const std::size_t second = std::stoull(layout["second_half_offset"]);
  const std::size_t half = std::stoull(layout["record_size"]) / 2;
  testing::TempDir dir;
  const std::string image = dir.path() + "/copy.img";
  ASSERT_EQ(run_command("cp " + shell_quote(fixture) + " " + shell_quote(image)).exit_code, 0);
  const auto before = read_file(image);
  DriveScope s(image);
  const auto files = scan_all(s);
  const auto victim = std::find_if(files.begin(), files.end(),
                                   [&](const FoundFile& f) { return f.record_no == record_no; });
  ASSERT_NE(victim, files.end());

  const messages::RecordingChannel& log = s.channel;
  EXPECT_EQ(s.wipe(*victim), WipeOutcome::wiped) << (log.lines.empty() ? "" : log.lines.back());
  const auto after = read_file(image);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const bool in_record = (i >= first && i < first + half) || (i >= second && i < second + half);
    if (in_record) {
      ASSERT_EQ(after[i], 0) << "record byte at " << i << " not zeroed";
    } else {
      ASSERT_EQ(after[i], before[i]) << "byte " << i << " outside the record changed";
    }
  }
  const auto fls = run_command("fls -r -d -p " + shell_quote(image));
  EXPECT_EQ(fls.out.find("victim"), std::string::npos) << fls.out;
}

}  // namespace
}  // namespace fennick::ntfs

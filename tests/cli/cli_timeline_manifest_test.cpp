// fennick-cli's outputs for the tools of the field: the body file of `scan --format bodyfile`
// read by The Sleuth Kit's mactime, and the hash manifest of `recover --manifest` checked by
// sha256sum; and the SHA-256 the manifest is made with, against the standard's examples.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "catalogue/sha256.h"
#include "cli/bodyfile.h"
#include "test_support.h"
#include "workflow/recovery_manifest.h"

namespace fennick::testing {
namespace {

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = line.find(separator, start);
    cells.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return cells;
    start = at + 1;
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string cli() { return shell_quote(cli_path()); }

TEST(Sha256Test, StandardExamplesAndAnyWayOfFeedingThem) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // 55, 56 and 64 bytes: the padding's edges.
      {std::string(55, 'x'), nullptr},
      {std::string(56, 'x'), nullptr},
      {std::string(64, 'x'), nullptr},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.message.data());
    catalogue::Sha256 whole;
    whole.update(bytes, c.message.size());
    const std::string digest = whole.hex();
    if (c.digest != nullptr) {
      EXPECT_EQ(digest, c.digest) << c.message.size();
    }
    // In uneven pieces, the same.
    catalogue::Sha256 pieces;
    std::size_t at = 0;
    for (std::size_t step = 1; at < c.message.size(); step = step * 3 % 97 + 1) {
      const std::size_t n = std::min(step, c.message.size() - at);
      pieces.update(bytes + at, n);
      at += n;
    }
    EXPECT_EQ(pieces.hex(), digest) << c.message.size();
  }
  // Against sha256sum for the padding edges.
  TempDir dir;
  for (const std::size_t n : {55u, 56u, 64u, 119u, 120u}) {
    const std::string path = dir.path() + "/f" + std::to_string(n);
    std::ofstream(path, std::ios::binary) << std::string(n, 'x');
    catalogue::Sha256 h;
    const std::string text(n, 'x');
    h.update(reinterpret_cast<const std::uint8_t*>(text.data()), n);
    EXPECT_EQ(run_command("sha256sum " + shell_quote(path)).out.substr(0, 64), h.hex()) << n;
  }
}

TEST(ManifestTextTest, LinesSha256sumAndTsvReadersTakeBack) {
  const std::string hash(64, 'a');
  EXPECT_EQ(workflow::sha256sum_line(hash, "Docs/a b.txt"), hash + "  Docs/a b.txt\n");
  // A backslash or line break in a name: escaped, and the line marked with a backslash.
  EXPECT_EQ(workflow::sha256sum_line(hash, "a\\b\nc"), "\\" + hash + "  a\\\\b\\nc\n");
  workflow::ManifestEntry e;
  e.relative_path = "x\ty.txt";
  e.drive = "C:";
  e.source = "/img/card.img";
  e.record_no = 7;
  e.size = 4096;
  e.quality = 80;
  e.outcome = "zeros";
  e.zero_ranges = {{512, 1024}, {2048, 2560}};
  e.sha256 = hash;
  EXPECT_EQ(workflow::manifest_tsv_row(e),
            "x\\ty.txt\tC:\t/img/card.img\t7\t4096\t80\tzeros\t512-1023,2048-2559\t" + hash + "\n");
}

TEST(BodyfileTest, KnownFieldsFilledTheRestZeroNamesEscaped) {
  catalogue::FoundFile r;
  r.path = "C:\\Docs\\";
  r.name = "a|b\x1b.txt";
  r.record_no = 42;
  r.size = 1500;
  r.fs_kind = volume::FileSystemKind::ntfs;
  // 2024-01-15 12:00:00.9999999 UTC: whole seconds in the body file, the fraction cut off.
  r.modified =
      catalogue::make_timestamp(2024, 1, 15, 12, 0, 0, 9'999'999, catalogue::TimeBase::utc);
  r.created = catalogue::Timestamp{};  // unknown
  EXPECT_EQ(cli::bodyfile_line(r),
            "0|C:/Docs/a\\x7Cb\\x1B.txt (deleted)|42|0|0|0|1500|0|1705320000|0|0\n");
}

// The body file of each fixture volume: one line per listed file, mtime as the TSV's
// modified date, and mactime makes a timeline that names every deleted file.
TEST(CliBodyfileTest, MactimeReadsItAndListsEveryDeletedFileOnceWithItsModifiedTime) {
  if (!have_program("mactime")) GTEST_SKIP() << "needs sleuthkit's mactime";
  int images = 0;
  for (const char* name : {"fat16.img", "ntfs.img", "exfat.img"}) {
    const std::string image = fixture_image(name);
    if (image.empty()) continue;
    ++images;
    SCOPED_TRACE(name);
    const std::string env = "TZ=UTC ";
    const CommandResult tsv = run_command(env + cli() + " scan --format tsv " + shell_quote(image));
    const CommandResult body =
        run_command(env + cli() + " scan --format bodyfile " + shell_quote(image));
    ASSERT_EQ(body.exit_code, 0) << body.err;
    const auto rows = lines_of(tsv.out);
    const auto lines = lines_of(body.out);
    ASSERT_GT(lines.size(), 3u);
    ASSERT_EQ(lines.size() + 1, rows.size());  // the TSV has a header
    std::multiset<std::string> names;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto f = split(lines[i], '|');
      ASSERT_EQ(f.size(), 11u) << lines[i];
      const auto cells = split(rows[i + 1], '\t');
      ASSERT_GE(cells.size(), 9u);
      // drive, record, name, path, size, quality, status, created, modified
      std::string want = cells[3] + cells[2];
      std::replace(want.begin(), want.end(), '\\', '/');
      EXPECT_EQ(f[1], want + " (deleted)");
      EXPECT_EQ(f[2], cells[1]);
      EXPECT_EQ(f[6], cells[4]);
      for (const int unknown : {0, 3, 4, 5, 7, 9})
        EXPECT_EQ(f[static_cast<std::size_t>(unknown)], "0");
      // The modified time, written as the TSV writes it (to the minute or second).
      const std::time_t mtime = std::stoll(f[8]);
      std::tm utc{};
      gmtime_r(&mtime, &utc);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
      EXPECT_TRUE(std::string(text).starts_with(cells[8])) << text << " vs " << cells[8];
      names.insert(f[1]);
    }
    const std::string file = fixture_image(name) + ".body-test";
    std::ofstream(file) << body.out;
    const CommandResult timeline =
        run_command("TZ=UTC mactime -b " + shell_quote(file) + " -d -z UTC");
    std::filesystem::remove(file);
    ASSERT_EQ(timeline.exit_code, 0) << timeline.err;
    // Date,Size,Type,Mode,UID,GID,Meta,File Name; every file once with "m" in its type (the
    // times Fennick does not know, 0, are listed by mactime as unknown dates).
    std::multiset<std::string> modified;
    for (const std::string& line : lines_of(timeline.out)) {
      const auto f = split(line, ',');
      if (f.size() < 8 || f[2].size() != 4 || f[2][0] != 'm') continue;
      std::string file_name = f[7];
      for (std::size_t k = 8; k < f.size(); ++k) file_name += "," + f[k];
      // mactime -d quotes the name.
      if (file_name.size() >= 2 && file_name.front() == '"' && file_name.back() == '"') {
        file_name = file_name.substr(1, file_name.size() - 2);
      }
      modified.insert(file_name);
    }
    for (const std::string& n : names) {
      EXPECT_EQ(modified.count(n), names.count(n)) << n;
    }
  }
  if (images == 0) GTEST_SKIP() << "fixtures missing";
}

// recover --manifest: sha256sum -c passes in the destination, and the table lists each file.
TEST(CliManifestTest, Sha256sumChecksTheRecoveredFilesAndTheTableDescribesThem) {
  const std::string image = fixture_image("fat16.img");
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  TempDir dir;
  const std::string out = dir.path() + "/out";
  const std::string manifest = dir.path() + "/run.sha256";
  const CommandResult run =
      run_command(cli() + " recover --keep-folders --to " + shell_quote(out) + " --manifest " +
                  shell_quote(manifest) + " " + shell_quote(image));
  // The fixture holds a file graded overwritten: it is copied, and the run is not all whole.
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find(" Hash manifest written: " + manifest), std::string::npos) << run.err;
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    // Hashing read them back without moving their access time off their modified time.
    struct stat st {};
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, st.st_mtim.tv_sec) << entry.path();
  }
  const CommandResult check =
      run_command("cd " + shell_quote(out) + " && sha256sum -c " + shell_quote(manifest));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  const auto listed = lines_of(check.out);
  EXPECT_EQ(listed.size(), files);
  std::ifstream table_in(manifest + ".tsv");
  std::stringstream table;
  table << table_in.rdbuf();
  const auto rows = lines_of(table.str());
  ASSERT_EQ(rows.size(), files + 1);
  std::size_t overwritten = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto cells = split(rows[i], '\t');
    ASSERT_EQ(cells.size(), 9u) << rows[i];
    EXPECT_EQ(cells[1], "C:");
    EXPECT_EQ(cells[2], image);
    EXPECT_EQ(cells[8].size(), 64u);
    EXPECT_TRUE(std::filesystem::is_regular_file(out + "/" + cells[0])) << cells[0];
    // Graded 0, the file's bytes are likely another file's: never "recovered".
    EXPECT_EQ(cells[6], cells[5] == "0" ? "overwritten" : "recovered") << rows[i];
    overwritten += cells[6] == "overwritten";
  }
  EXPECT_EQ(overwritten, 1u);
  EXPECT_NE(run.err.find(", overwritten: 1, not recovered: 0\n"), std::string::npos) << run.err;
  // A manifest path that holds a file already (here the last run's manifest) is not
  // truncated: the run does not start, and both files are as they were.
  const std::string list_before = table.str();
  const CommandResult again =
      run_command(cli() + " recover --to " + shell_quote(dir.path() + "/out3") + " --manifest " +
                  shell_quote(manifest) + " " + shell_quote(image));
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find(" Cannot write the hash manifest: File exists: " + manifest),
            std::string::npos)
      << again.err;
  std::ifstream table_again(manifest + ".tsv");
  std::stringstream after;
  after << table_again.rdbuf();
  EXPECT_EQ(after.str(), list_before);
  EXPECT_EQ(
      run_command("cd " + shell_quote(out) + " && sha256sum -c " + shell_quote(manifest)).exit_code,
      0);
  // A manifest that cannot be written: the run does not start, and says why.
  const CommandResult refused =
      run_command(cli() + " recover --to " + shell_quote(dir.path() + "/out2") + " --manifest " +
                  shell_quote(dir.path() + "/no/such/folder/m") + " " + shell_quote(image));
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find(" Cannot write the hash manifest: "), std::string::npos)
      << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/out2") &&
               !std::filesystem::is_empty(dir.path() + "/out2"));
}

}  // namespace
}  // namespace fennick::testing

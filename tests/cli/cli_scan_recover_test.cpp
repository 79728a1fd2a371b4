// fennick-cli scan, recover and wipe on the fixture images, checked against the files the
// fixture makers wrote (their truth files) and against the images' own hashes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

struct TruthFile {
  std::string path;  // "/DOCS/OLD/a.txt"
  long long size = 0;
  std::string sha256;
  std::string state;
};

std::vector<std::vector<std::string>> split_tsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    while (true) {
      const std::size_t tab = line.find('\t', start);
      cells.push_back(
          line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(cells);
  }
  return rows;
}

std::vector<TruthFile> read_truth(const std::string& image) {
  std::ifstream in(image + ".truth.tsv");
  std::stringstream ss;
  ss << in.rdbuf();
  std::vector<TruthFile> files;
  const auto rows = split_tsv(ss.str());
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].size() < 4) continue;
    files.push_back({rows[i][0], std::stoll(rows[i][1]), rows[i][2], rows[i][3]});
  }
  return files;
}

struct ScanRow {
  std::string drive, record, name, path, status, created, modified;
  long long size = 0;
  int quality = 0;
  // "/DOCS/OLD/name" from "C:\DOCS\OLD\" and the name.
  std::string volume_path() const {
    std::string p = path.size() >= 3 ? path.substr(2) : path;
    for (char& c : p)
      if (c == '\\') c = '/';
    return p + name;
  }
};

// A recovery of every listed file ends with status 0 only when each comes back whole: a file
// graded overwritten is copied, but its content is likely another file's.
std::int64_t overwritten_rows(const std::vector<ScanRow>& rows) {
  return std::count_if(rows.begin(), rows.end(),
                       [](const ScanRow& r) { return r.status == "Overwritten"; });
}
int recover_all_status(const std::vector<ScanRow>& rows) { return overwritten_rows(rows) ? 1 : 0; }

// The deep-scan mark came last, so that readers of the first nine columns read on as before.
const char* scan_header =
    "drive\trecord\tname\tpath\tsize\tquality\tstatus\tcreated\tmodified\tdeep";

std::vector<ScanRow> parse_scan(const std::string& out) {
  std::vector<ScanRow> rows;
  const auto cells = split_tsv(out);
  EXPECT_FALSE(cells.empty());
  for (std::size_t i = 1; i < cells.size(); ++i) {
    const auto& c = cells[i];
    if (c.size() != 10 || c[9] != "0") {
      ADD_FAILURE() << "row with " << c.size() << " cells";
      continue;
    }
    rows.push_back({c[0], c[1], c[2], c[3], c[6], c[7], c[8], std::stoll(c[4]), std::stoi(c[5])});
  }
  return rows;
}

// Deleted short names lose their first character to the deletion mark, which the scanner
// shows as "_"; folder names too. Otherwise names compare without case (FAT keeps 8.3 names
// upper case on disk).
bool same_volume_path(const std::string& ours, const std::string& truth) {
  std::vector<std::string> a, b;
  auto split = [](const std::string& p, std::vector<std::string>& out) {
    std::stringstream ss(p);
    std::string part;
    while (std::getline(ss, part, '/'))
      if (!part.empty()) out.push_back(part);
  };
  split(ours, a);
  split(truth, b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::string x = a[i], y = b[i];
    if (!x.empty() && x[0] == '_' && !y.empty()) {
      // Drop the first character of both (a whole UTF-8 character of the truth name).
      x.erase(0, 1);
      std::size_t n = 1;
      while (n < y.size() && (static_cast<unsigned char>(y[n]) & 0xC0) == 0x80) ++n;
      y.erase(0, n);
    }
    if (x.size() != y.size()) return false;
    for (std::size_t k = 0; k < x.size(); ++k) {
      if (std::tolower(static_cast<unsigned char>(x[k])) !=
          std::tolower(static_cast<unsigned char>(y[k])))
        return false;
    }
  }
  return true;
}

std::string cli() { return shell_quote(cli_path()); }

bool expected_intact(const TruthFile& f) {
  return f.size > 0 && (f.state == "deleted" || f.state == "deleted-in-folder" ||
                        f.state == "deleted-fragmented");
}

class CliOnImage : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    image = fixture_image(GetParam());
    if (image.empty()) {
      if (GetParam() == "ntfs.img") GTEST_SKIP() << "NTFS image not made (needs root and FUSE)";
      FAIL() << GetParam() << " missing";
    }
    truth = read_truth(image);
    ASSERT_FALSE(truth.empty());
  }
  std::vector<ScanRow> scan(const std::string& options = "") {
    const CommandResult r =
        run_command(cli() + " scan --format tsv " + options + " " + shell_quote(image));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), scan_header);
    return parse_scan(r.out);
  }
  const ScanRow* find_row(const std::vector<ScanRow>& rows, const TruthFile& f) {
    for (const ScanRow& row : rows) {
      if (row.size == f.size && same_volume_path(row.volume_path(), f.path)) return &row;
    }
    return nullptr;
  }
  std::string image;
  std::vector<TruthFile> truth;
};

TEST_P(CliOnImage, ScanListsEveryDeletedFileWithItsPathAndSize) {
  const std::vector<ScanRow> rows = scan();
  for (const TruthFile& f : truth) {
    if (f.state.rfind("deleted", 0) != 0 || f.size == 0) continue;
    EXPECT_NE(find_row(rows, f), nullptr) << f.path << " (" << f.state << ") not listed";
  }
  for (const ScanRow& row : rows) {
    EXPECT_EQ(row.drive, "C");
    EXPECT_EQ(row.path.substr(0, 3), "C:\\");
    if (GetParam() != "ntfs.img") {
      EXPECT_GT(row.size, 0) << "FAT files of size 0 are not listed";
    }
  }
}

// The listing is written row by row in all three formats: the same rows in the same order,
// and the log lines before it when both streams go to one file.
TEST_P(CliOnImage, TheThreeFormatsListTheSameRowsAfterTheLogLines) {
  const CommandResult tsv = run_command(cli() + " scan --format tsv " + shell_quote(image));
  ASSERT_EQ(tsv.exit_code, 0) << tsv.err;
  auto rows = split_tsv(tsv.out);
  ASSERT_GT(rows.size(), 2u);
  rows.erase(rows.begin());

  TempDir dir;
  const std::string json = dir.path() + "/scan.json";
  ASSERT_EQ(
      run_command(cli() + " scan --format json " + shell_quote(image) + " > " + shell_quote(json))
          .exit_code,
      0);
  const CommandResult as_tsv = run_command(
      "PYTHONIOENCODING=utf-8 python3 -c 'import json, sys\n"
      "for r in json.load(open(sys.argv[1])):\n"
      "    print(\"\\t\".join(str(r[k]) for k in sys.argv[2].split()))' " +
      shell_quote(json) + " 'drive record name path size quality status created modified deep'");
  ASSERT_EQ(as_tsv.exit_code, 0) << as_tsv.err;
  EXPECT_EQ(split_tsv(as_tsv.out), rows);

  const CommandResult table =
      run_command(cli() + " scan --format table " + shell_quote(image) + " 2>&1");
  ASSERT_EQ(table.exit_code, 0);
  std::vector<std::string> lines;
  std::istringstream in(table.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto header = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.rfind("drive  ", 0) == 0; });
  ASSERT_NE(header, lines.end());
  const auto end_scan = std::find(lines.begin(), lines.end(), " End scan C:\\");
  EXPECT_LT(end_scan, header) << "a log line came after the listing began";
  ASSERT_EQ(static_cast<std::size_t>(lines.end() - header - 1), rows.size());
  const std::size_t record_end = header->find("record") + 6;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& line = *(header + 1 + static_cast<std::ptrdiff_t>(i));
    EXPECT_NE(line.find(rows[i][2]), std::string::npos) << line;
    // Numbers are right-aligned under their heading.
    EXPECT_EQ(line.substr(0, record_end).ends_with(rows[i][1]), true) << line;
  }
}

TEST_P(CliOnImage, RecoverGivesTheOriginalBytesAndLeavesTheImageAlone) {
  const std::string before = sha256_of(image);
  const std::vector<ScanRow> rows = scan();
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "keep folders" : "flat");
    TempDir out;
    const CommandResult r = run_command(cli() + " recover --to " + shell_quote(out.path()) +
                                        (keep ? " --keep-folders " : " ") + shell_quote(image));
    ASSERT_EQ(r.exit_code, recover_all_status(rows)) << r.err;
    EXPECT_NE(r.err.find(" Start undelete"), std::string::npos);
    EXPECT_NE(r.err.find(" Undeleted successfully: " + out.path()), std::string::npos);
    EXPECT_NE(r.err.find(" End undelete"), std::string::npos);
    // Only whole files count as recovered; the overwritten ones are told apart.
    const std::int64_t overwritten = overwritten_rows(rows);
    const std::string counts =
        " Files recovered: " +
        std::to_string(static_cast<std::int64_t>(rows.size()) - overwritten) +
        (overwritten ? ", overwritten: " + std::to_string(overwritten) : std::string()) +
        ", not recovered: 0\n";
    EXPECT_NE(r.err.find(counts), std::string::npos) << r.err;
    std::multiset<std::string> hashes;
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out.path())) {
      if (!e.is_regular_file()) continue;
      ++files;
      hashes.insert(sha256_of(e.path().string()));
    }
    EXPECT_EQ(files, rows.size()) << "one output file per listed file, none lost to a clash";
    for (const TruthFile& f : truth) {
      if (!expected_intact(f)) continue;
      const ScanRow* row = find_row(rows, f);
      ASSERT_NE(row, nullptr) << f.path;
      if (keep) {
        std::string rel = row->volume_path();
        EXPECT_EQ(sha256_of(out.path() + rel), f.sha256) << f.path;
      } else {
        EXPECT_EQ(hashes.count(f.sha256), 1u) << f.path;
      }
    }
  }
  EXPECT_EQ(sha256_of(image), before) << "scanning and recovering never write to the volume";
}

// Recovered files carry the found file's modified time as the scan lists it (FAT times are
// local wall-clock times, NTFS ones UTC); with --no-times they carry the time of recovery.
TEST_P(CliOnImage, RecoveredFilesCarryTheModifiedTimeTheScanLists) {
  const std::vector<ScanRow> rows = scan();
  const bool utc = GetParam() == "ntfs.img";
  for (const bool times : {true, false}) {
    SCOPED_TRACE(times ? "with times" : "--no-times");
    TempDir out;
    const std::time_t started = std::time(nullptr);
    const CommandResult r =
        run_command(cli() + " recover --keep-folders --to " + shell_quote(out.path()) +
                    (times ? " " : " --no-times ") + shell_quote(image));
    ASSERT_EQ(r.exit_code, recover_all_status(rows)) << r.err;
    std::size_t checked = 0;
    for (const TruthFile& f : truth) {
      if (!expected_intact(f)) continue;
      const ScanRow* row = find_row(rows, f);
      ASSERT_NE(row, nullptr) << f.path;
      struct stat st {};
      ASSERT_EQ(::stat((out.path() + row->volume_path()).c_str(), &st), 0) << f.path;
      if (!times) {
        EXPECT_GE(st.st_mtime + 1, started) << f.path;
        continue;
      }
      std::tm fields{};
      if (utc) {
        gmtime_r(&st.st_mtime, &fields);
      } else {
        localtime_r(&st.st_mtime, &fields);
      }
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
      EXPECT_EQ(text, row->modified) << f.path;
      ++checked;
    }
    if (times) {
      EXPECT_GT(checked, 0u);
    }
  }
}

TEST_P(CliOnImage, SelectionOptionsPickRecords) {
  const std::vector<ScanRow> all = scan();
  ASSERT_GT(all.size(), 3u);
  const std::vector<ScanRow> by_record =
      scan("--record C:" + all[2].record + " --record " + all[0].record);
  ASSERT_EQ(by_record.size(), 2u);
  EXPECT_EQ(by_record[0].record, all[0].record);
  EXPECT_EQ(by_record[1].record, all[2].record);

  const std::vector<ScanRow> big = scan("--min-size 10000 --sort size");
  for (std::size_t i = 0; i < big.size(); ++i) {
    EXPECT_GT(big[i].size, 10000);
    if (i > 0) {
      EXPECT_GE(big[i - 1].size, big[i].size);
    }
  }
  const std::vector<ScanRow> named = scan("--name REPORT");
  for (const ScanRow& row : named) {
    std::string upper = row.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(upper.find("REPORT"), std::string::npos) << row.name;
  }
  EXPECT_FALSE(named.empty());
}

TEST_P(CliOnImage, WipeRemovesOnlyTheChosenFile) {
  TempDir dir;
  const std::string copy = dir.path() + "/copy.img";
  fs::copy_file(image, copy);
  const std::vector<ScanRow> rows = scan();
  const ScanRow* victim = nullptr;
  for (const ScanRow& row : rows) {
    if (row.name.find("Meeting") != std::string::npos ||
        row.name.find("Report for May") != std::string::npos)
      victim = &row;
  }
  ASSERT_NE(victim, nullptr);
  const CommandResult r =
      run_command(cli() + " wipe --yes --record " + victim->record + " " + shell_quote(copy));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find(" Wiped successfully: " + victim->name), std::string::npos) << r.err;

  const CommandResult again = run_command(cli() + " scan --format tsv " + shell_quote(copy));
  const std::vector<ScanRow> after = parse_scan(again.out);
  EXPECT_EQ(after.size(), rows.size() - 1);
  for (const ScanRow& row : after) {
    EXPECT_FALSE(row.name == victim->name && row.size == victim->size);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, CliOnImage,
                         ::testing::Values("fat12.img", "fat16.img", "fat32.img", "ntfs.img"),
                         [](const auto& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

TEST(CliScanTest, UsageErrorsAndUnreadableVolumes) {
  const std::string fat16 = fixture_image("fat16.img");
  ASSERT_FALSE(fat16.empty());
  struct Case {
    std::string args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"wipe " + shell_quote(fat16), 2, "confirm with --yes"},
      {"recover " + shell_quote(fat16), 2, "recover needs --to DIR"},
      {"scan", 2, "no volume given"},
      {"scan --sort colour " + shell_quote(fat16), 2, "unknown sort key: colour"},
      {"scan --modified-from 2024-13-01 " + shell_quote(fat16), 2, "not a date"},
      {"scan --modified-from 2024-01-01 --created-to 2024-02-01 " + shell_quote(fat16), 2,
       "cannot be combined"},
      {"scan --record X " + shell_quote(fat16), 2, "--record needs"},
      {"scan /nonexistent.img", 3, "cannot read volume /nonexistent.img"},
      {"recover --to /proc/fennick-cannot " + shell_quote(fat16), 2,
       "cannot use /proc/fennick-cannot as the destination folder"},
  };
  for (const Case& c : cases) {
    const CommandResult r = run_command(cli() + " " + c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

TEST(CliScanTest, AVolumeOfNoKnownFileSystemIsADriveErrorAndTheOthersAreScanned) {
  const std::string fat12 = fixture_image("fat12.img");
  ASSERT_FALSE(fat12.empty());
  TempDir dir;
  const std::string blank = dir.path() + "/blank.img";
  std::ofstream(blank, std::ios::binary) << std::string(2 << 20, '\0');
  const CommandResult r =
      run_command(cli() + " scan --format tsv " + shell_quote(blank) + " " + shell_quote(fat12));
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find(" Scan C:\\ ...\n ERROR: Drive Error\n Scan D:\\ ...\n End scan D:\\\n"),
            std::string::npos)
      << r.err;
  const std::vector<ScanRow> rows = parse_scan(r.out);
  EXPECT_FALSE(rows.empty());
  for (const ScanRow& row : rows) EXPECT_EQ(row.drive, "D");
}

}  // namespace
}  // namespace fennick::testing

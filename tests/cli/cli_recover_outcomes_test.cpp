// fennick-cli recover into a destination that already holds things, and of an empty file: the
// person's file of the same name, a folder of the same name and the files of an earlier run
// all stay exactly as they were, each recovered file going beside them under " (n)"; an empty
// deleted file is recovered like any other (its name is its content).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

std::string cli() { return shell_quote(cli_path()); }

struct Row {
  std::string record, name, path, status;
  long long size = 0;
  // "DOCS/Reports/name" from "C:\DOCS\Reports\" and the name.
  std::string relative() const {
    std::string p = path.size() > 3 ? path.substr(3) : std::string();
    std::replace(p.begin(), p.end(), '\\', '/');
    return p + name;
  }
};

std::vector<Row> scan_rows(const std::string& image) {
  const CommandResult r = run_command(cli() + " scan --format tsv " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<Row> rows;
  std::istringstream in(r.out);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> c;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) c.push_back(cell);
    if (c.size() < 7) continue;
    rows.push_back({c[1], c[2], c[3], c[6], std::stoll(c[4])});
  }
  return rows;
}

// "name (2).ext", as the destination numbers a name that is taken.
std::string numbered(const std::string& relative, int n) {
  const std::size_t slash = relative.rfind('/');
  const std::size_t dot = relative.rfind('.');
  const bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string suffix = " (" + std::to_string(n) + ")";
  return ext ? relative.substr(0, dot) + suffix + relative.substr(dot) : relative + suffix;
}

std::size_t regular_files(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

// Exit status of a recovery of every listed file: 0 only when each is whole, and a file
// graded overwritten is copied but not whole.
int status_for(const std::vector<Row>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const Row& r) { return r.status == "Overwritten"; })
             ? 1
             : 0;
}

TEST(CliRecoverKeepsTheDestinationTest, FilesAFolderAndAnEarlierRunStayAsTheyWere) {
  const std::string image = fixture_image("fat16.img");
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  const std::vector<Row> rows = scan_rows(image);
  std::vector<const Row*> whole;
  for (const Row& r : rows) {
    if (r.size > 0 && r.status == "Very Good") whole.push_back(&r);
  }
  ASSERT_GE(whole.size(), 2u);
  const Row& mine = *whole[0];    // the person has a current file of that name
  const Row& folder = *whole[1];  // and a folder of that name
  TempDir dir;
  const std::string dest = dir.path() + "/dest";
  fs::create_directories(fs::path(dest + "/" + mine.relative()).parent_path());
  { std::ofstream(dest + "/" + mine.relative()) << "my current version"; }
  fs::create_directories(dest + "/" + folder.relative());
  { std::ofstream(dest + "/" + folder.relative() + "/inside.txt") << "mine too"; }

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const std::string before = tree_listing(dest);
    const std::size_t files_before = regular_files(dest);
    const CommandResult r = run_command(cli() + " recover --keep-folders --to " +
                                        shell_quote(dest) + " " + shell_quote(image));
    EXPECT_EQ(r.exit_code, status_for(rows)) << r.err;
    EXPECT_EQ(entries_changed(before, tree_listing(dest)), "") << r.err;
    EXPECT_EQ(regular_files(dest), files_before + rows.size()) << "every file written anew";
    // The log names the path each file was written to. The person's file and folder took
    // the plain names before the first run; the first run took the plain names of the others,
    // so the second run numbers every file.
    for (const Row* r2 : {&mine, &folder}) {
      const std::string written = dest + "/" + numbered(r2->relative(), run + 1);
      EXPECT_NE(r.err.find(" Undeleted successfully: " + written + "\n"), std::string::npos)
          << written << "\n"
          << r.err;
      EXPECT_TRUE(fs::is_regular_file(written)) << written;
    }
    if (run == 1) {
      EXPECT_NE(
          r.err.find(" Left alone, not a regular file: " + dest + "/" + folder.relative() + "\n"),
          std::string::npos)
          << r.err;
    }
  }
  std::ifstream kept(dest + "/" + mine.relative());
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "my current version");
}

// An empty deleted file picked alone is recovered, not refused as "nothing to undelete" (NTFS
// lists deleted empty files; FAT and exFAT keep no trace of one that a scan could tell from a
// wiped entry).
TEST(CliRecoverKeepsTheDestinationTest, AnEmptyFileIsRecoveredLikeAnyOther) {
  const std::string image = fixture_image("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "NTFS fixture missing (it needs root and FUSE)";
  const std::vector<Row> rows = scan_rows(image);
  const auto empty = std::find_if(
      rows.begin(), rows.end(), [](const Row& r) { return r.size == 0 && r.name == "Empty.txt"; });
  ASSERT_NE(empty, rows.end()) << "the fixture's deleted Empty.txt";
  TempDir dir;
  const CommandResult r = run_command(cli() + " recover --record " + empty->record + " --to " +
                                      shell_quote(dir.path()) + " " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string written = dir.path() + "/" + empty->name;
  EXPECT_EQ(r.err.find(" No files to undelete"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" Undeleted successfully: " + written + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" Files recovered: 1, not recovered: 0\n"), std::string::npos) << r.err;
  ASSERT_TRUE(fs::is_regular_file(written));
  EXPECT_EQ(fs::file_size(written), 0u);
  // Nothing picked at all is still "nothing to undelete".
  const CommandResult none = run_command(cli() + " recover --name no-such-file --to " +
                                         shell_quote(dir.path()) + " " + shell_quote(image));
  EXPECT_NE(none.err.find(" No files to undelete"), std::string::npos) << none.err;
}

}  // namespace
}  // namespace fennick::testing

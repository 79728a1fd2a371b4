// The FAT deep scan on a quick-formatted volume made the way users make one: a FAT32 volume
// with 4 KiB clusters (each folder's entries fit its first cluster) filled with folders and
// files by mtools, formatted again by mkfs.fat with the same geometry,
// and given a few new files. The ordinary scan finds nothing of the old files; the deep scan
// finds the files of the old sub-folders with their names and the names of the folders below
// the top one (whose entries went with the old root), under "Lost folders", and recovers them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "messages/program_texts.h"
#include "test_support.h"
#include "workflow/scan_run.h"

namespace fennick::fat {
namespace {

namespace fs = std::filesystem;
using testing::run_command;
using testing::shell_quote;

struct OldFile {
  std::string folders;  // "/Photos/2023"
  std::string name;
  std::size_t size = 0;
};

// Bytes that begin with the file's path, then a pattern of its own.
std::string content_of(const OldFile& f) {
  std::string text = f.folders + "/" + f.name + "\n";
  for (std::size_t i = 0; text.size() < f.size; ++i) {
    text.push_back(static_cast<char>('a' + (i * 7 + f.name.size()) % 26));
  }
  text.resize(f.size);
  return text;
}

class FatDeepScanTest : public ::testing::TestWithParam<int> {};

// With 4 KiB clusters each folder's entries fit its first cluster; with 512-byte clusters
// they run on into a later cluster that mtools took when the first was full, somewhere after
// the files written before: that cluster is found by its entries and given back to its folder
// through the ".." link of the sub-folder it names (or to a folder of its own).
TEST_P(FatDeepScanTest, FindsTheOldSubFoldersFilesAfterAQuickFormat) {
  const int sectors_per_cluster = GetParam();
  if (!testing::have_program("mkfs.fat") || !testing::have_program("mcopy")) {
    GTEST_SKIP() << "needs dosfstools and mtools";
  }
  testing::TempDir dir;
  const std::string image = dir.path() + "/stick.img";
  const std::string mkfs =
      "mkfs.fat -F 32 -s 8 -S 512 --invariant -i 12345678 " + shell_quote(image) + " >/dev/null";
  ASSERT_EQ(run_command("truncate -s 300M " + shell_quote(image) + " && " + mkfs).exit_code, 0);
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  // Files in the old root first: they take the first clusters, which the new files take
  // again after the format. Their entries go with the root; they are not looked for.
  for (const std::string name : {"/readme.txt", "/notes.txt"}) {
    const std::string local = dir.path() + "/staged";
    std::ofstream(local) << std::string(8000, 'r');
    ASSERT_EQ(run_command(mtools + "mcopy -i " + shell_quote(image) + " " + shell_quote(local) +
                          " " + shell_quote("::" + name))
                  .exit_code,
              0);
  }
  std::vector<OldFile> files;
  for (const std::string folders : {"/Photos", "/Photos/Holiday 2023", "/Photos/Holiday 2023/Beach",
                                    "/Documents", "/Documents/Work reports"}) {
    ASSERT_EQ(
        run_command(mtools + "mmd -i " + shell_quote(image) + " " + shell_quote("::" + folders))
            .exit_code,
        0);
    for (int i = 0; i < 6; ++i) {
      files.push_back(
          {folders,
           "file " + std::to_string(i) + " of " + folders.substr(folders.rfind('/') + 1) + ".dat",
           static_cast<std::size_t>(3000 + 4500 * i)});
    }
  }
  for (const OldFile& f : files) {
    const std::string local = dir.path() + "/staged";
    std::ofstream(local, std::ios::binary) << content_of(f);
    ASSERT_EQ(run_command(mtools + "mcopy -i " + shell_quote(image) + " " + shell_quote(local) +
                          " " + shell_quote("::" + f.folders + "/" + f.name))
                  .exit_code,
              0);
  }
  // The quick format, then two new files.
  ASSERT_EQ(run_command(mkfs).exit_code, 0);
  for (const std::string name : {"new one.txt", "new two.txt"}) {
    const std::string local = dir.path() + "/staged";
    std::ofstream(local) << std::string(5000, 'n');
    ASSERT_EQ(run_command(mtools + "mcopy -i " + shell_quote(image) + " " + shell_quote(local) +
                          " " + shell_quote("::/" + name))
                  .exit_code,
              0);
  }

  testing::DriveScope plain(image);
  ASSERT_TRUE(plain.scan());
  EXPECT_TRUE(plain.catalogue.files().empty()) << "the new file system has nothing deleted";

  testing::DriveScope s(image);
  workflow::ScanSettings settings;
  settings.pause_before_scan = {};
  settings.deep = true;
  ASSERT_TRUE(workflow::scan_drive(s.drive(), s.catalogue, s.run, s.channel, settings));
  const std::string lost = "C:\\" + s.channel.text(messages::lost_folders) + "\\" +
                           s.channel.text(messages::made_up_folder_name);
  testing::TempDir out;
  std::size_t found = 0;
  std::size_t exact = 0;
  for (const OldFile& f : files) {
    // Below the top folder, whose name went with the old root, the names are the old ones.
    const std::size_t second = f.folders.find('/', 1);
    std::string below = second == std::string::npos ? "" : f.folders.substr(second + 1);
    for (char& c : below) c = c == '/' ? '\\' : c;
    const catalogue::FoundFile* hit = nullptr;
    for (const auto& r : s.catalogue.files()) {
      const std::string path = r.path.str();
      if (r.name.str() != f.name || static_cast<std::size_t>(r.size) != f.size) continue;
      if (!path.starts_with(lost)) continue;
      // Files in a later cluster with no sub-folder entry to tie it to its folder lie in a
      // folder of their own; the others below their own folders' names.
      if (sectors_per_cluster == 8 && !below.empty() && !path.ends_with("\\" + below + "\\")) {
        continue;
      }
      hit = &r;
    }
    if (hit == nullptr) {
      ADD_FAILURE() << "not found: " << f.folders << "/" << f.name;
      continue;
    }
    ++found;
    EXPECT_EQ(hit->found_by_deep_scan, 1);
    const std::string path = out.path() + "/" + std::to_string(found);
    s.recover(*hit, path);
    std::ifstream in(path, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), {});
    if (got == content_of(f)) {
      ++exact;
    } else {
      EXPECT_LT(hit->quality, 100) << f.name << " graded 100 but not whole";
    }
  }
  EXPECT_GE(found * 10, files.size() * 9);
  if (sectors_per_cluster == 1) {
    // /Photos's later cluster names its sub-folder "Holiday 2023": it is /Photos's.
    for (const auto& r : s.catalogue.files()) {
      if (r.name.str() != "file 5 of Photos.dat") continue;
      const std::string path = r.path.str();
      EXPECT_TRUE(path.starts_with(lost) && path.find('\\', lost.size()) == path.size() - 1)
          << path;
    }
  }
  EXPECT_GE(exact * 10, files.size() * 8);
  // The new files are not deleted and not listed.
  for (const auto& r : s.catalogue.files()) EXPECT_FALSE(r.name.str().starts_with("new "));

  // The command line: --deep lists the same files, each with deep 1 in its JSON.
  const testing::CommandResult cli = run_command(
      shell_quote(testing::cli_path()) + " scan --deep --format json " + shell_quote(image) +
      " | python3 -c 'import json, sys\n"
      "rows = json.load(sys.stdin)\n"
      "print(len(rows), sum(r[\"deep\"] == 1 for r in rows))'");
  EXPECT_EQ(cli.out, std::to_string(s.catalogue.files().size()) + " " +
                         std::to_string(s.catalogue.files().size()) + "\n");
  EXPECT_EQ(run_command(shell_quote(testing::cli_path()) + " scan --format tsv " +
                        shell_quote(image) + " | wc -l")
                .out,
            "1\n")
      << "without --deep only the header";
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, FatDeepScanTest, ::testing::Values(8, 1),
                         [](const auto& info) {
                           return info.param == 8 ? std::string("Clusters4K")
                                                  : std::string("Clusters512");
                         });

}  // namespace
}  // namespace fennick::fat

// fennick-cli drives on real images, checked against fsstat, fsck.fat and ntfsinfo.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <sstream>

#include "test_support.h"

namespace fennick::testing {
namespace {

struct DriveRow {
  std::string drive, caption, fs, source;
  long long cluster_size = 0, total = 0, free = 0;
};

std::vector<DriveRow> parse_drives_tsv(const std::string& out) {
  std::vector<DriveRow> rows;
  std::istringstream in(out);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "drive\tcaption\tfs\tcluster_size\ttotal_bytes\tfree_bytes\tsource\tpartition");
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, '\t')) f.push_back(cell);
    if (f.size() < 7) {
      ADD_FAILURE() << "short row: " << line;
      continue;
    }
    rows.push_back({f[0], f[1], f[2], f[6], std::stoll(f[3]), std::stoll(f[4]), std::stoll(f[5])});
  }
  return rows;
}

long long regex_number(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) return -1;
  return std::stoll(m[1]);
}

struct Oracle {
  long long cluster_size = -1;
  long long free_clusters = -1;
};

// Cluster size from fsstat; free clusters from fsck.fat (total - used) or ntfsinfo.
Oracle oracle_for(const std::string& image, bool ntfs) {
  Oracle o;
  const CommandResult fsstat = run_command("fsstat " + shell_quote(image));
  o.cluster_size = regex_number(fsstat.out, "Cluster Size: ([0-9]+)");
  if (ntfs) {
    const CommandResult info = run_command("ntfsinfo -m " + shell_quote(image));
    o.free_clusters = regex_number(info.out, "Free Clusters: ([0-9]+)");
  } else {
    const CommandResult fsck = run_command("fsck.fat -n -v " + shell_quote(image));
    std::smatch m;
    if (std::regex_search(fsck.out, m, std::regex("([0-9]+)/([0-9]+) clusters"))) {
      o.free_clusters = std::stoll(m[2]) - std::stoll(m[1]);
    }
  }
  return o;
}

TEST(CliDrivesTest, ListsTheFixtureImagesWithFiguresOfIndependentTools) {
  const std::vector<std::pair<std::string, std::string>> images = {
      {"fat12.img", "FAT"}, {"fat16.img", "FAT"}, {"fat32.img", "FAT32"}, {"ntfs.img", "NTFS"}};
  std::string args;
  std::vector<std::pair<std::string, std::string>> present;
  for (const auto& [name, fs] : images) {
    const std::string path = fixture_image(name);
    if (path.empty()) {
      ASSERT_EQ(name, "ntfs.img") << name << " missing";
      continue;  // the NTFS image needs root and FUSE
    }
    present.push_back({path, fs});
    args += " " + shell_quote(path);
  }
  const CommandResult r = run_command(shell_quote(cli_path()) + " drives --format tsv" + args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<DriveRow> rows = parse_drives_tsv(r.out);
  ASSERT_EQ(rows.size(), present.size());
  const std::string letters = "CDEF";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [path, fs] = present[i];
    SCOPED_TRACE(path);
    EXPECT_EQ(rows[i].drive, std::string(1, letters[i]) + ":");
    EXPECT_EQ(rows[i].fs, fs);
    EXPECT_EQ(rows[i].source, path);
    EXPECT_EQ(rows[i].caption.substr(0, 5), std::string(1, letters[i]) + ":\\  ");
    const Oracle o = oracle_for(path, fs == "NTFS");
    ASSERT_GT(o.cluster_size, 0) << "fsstat gave no cluster size";
    ASSERT_GE(o.free_clusters, 0) << "no free-cluster figure from the oracle";
    EXPECT_EQ(rows[i].cluster_size, o.cluster_size);
    EXPECT_EQ(rows[i].free, o.free_clusters * o.cluster_size);
    EXPECT_GT(rows[i].total, rows[i].free);
  }
  if (present.size() < images.size()) GTEST_SKIP() << "NTFS image not made (needs root and FUSE)";
}

TEST(CliDrivesTest, JsonCarriesTheSameColumns) {
  const std::string fat16 = fixture_image("fat16.img");
  ASSERT_FALSE(fat16.empty());
  const CommandResult r =
      run_command(shell_quote(cli_path()) + " drives --format json " + shell_quote(fat16));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\"drive\": \"C:\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"fs\": \"FAT\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"cluster_size\": "), std::string::npos) << r.out;
}

TEST(CliDrivesTest, BadInputGivesAClearMessageAndItsExitStatus) {
  struct Case {
    std::string args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"drives /nonexistent/disk.img", 3, "cannot read volume /nonexistent/disk.img"},
      {"drives --colour", 2, "unknown option: --colour"},
      {"drives --format xml", 2, "unknown format: xml"},
      {"frobnicate", 2, "unknown command: frobnicate"},
      {"", 2, "no command given"},
      {"--lang Klingon drives", 2, "unknown language: Klingon"},
  };
  for (const Case& c : cases) {
    const CommandResult r = run_command(shell_quote(cli_path()) + " " + c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

// Runs a command and returns its trimmed stdout.
std::string output_of(const std::string& command) {
  std::string out = run_command(command).out;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

TEST(CliDrivesTest, ListsALoopDeviceHoldingAFatVolume) {
  if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root";
  const std::string fat16 = fixture_image("fat16.img");
  ASSERT_FALSE(fat16.empty());
  TempDir dir;
  // A copy, so the shared fixture is never attached to a device.
  const std::string copy = dir.path() + "/loop.img";
  ASSERT_EQ(run_command("cp " + shell_quote(fat16) + " " + shell_quote(copy)).exit_code, 0);
  const std::string device = output_of("losetup -f --show -r " + shell_quote(copy));
  if (device.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop device could be attached";
  const CommandResult r = run_command(shell_quote(cli_path()) + " drives --format tsv");
  run_command("losetup -d " + shell_quote(device));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  bool listed = false;
  for (const DriveRow& row : parse_drives_tsv(r.out)) {
    if (row.source == device) {
      listed = true;
      EXPECT_EQ(row.fs, "FAT");
      const Oracle o = oracle_for(fat16, false);
      EXPECT_EQ(row.cluster_size, o.cluster_size);
      EXPECT_EQ(row.free, o.free_clusters * o.cluster_size);
    }
  }
  EXPECT_TRUE(listed) << device << " not in:\n" << r.out;
}

}  // namespace
}  // namespace fennick::testing

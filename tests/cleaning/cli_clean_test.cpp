// fennick-cli clean on small NTFS volumes mounted through ntfs-3g: after --free-space no
// deleted file's content can be recovered or found anywhere on the image, after --entries
// neither our scan nor The Sleuth Kit finds the deleted files, and the user's files and
// folders stay as they were. Also the command's usage errors and its refusal of a volume
// that is not mounted.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "cleaning/mounted_ntfs.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

std::string cli() { return shell_quote(cli_path()); }

// The scan's rows (drive record name path size ...) whose name starts with the prefix.
std::map<std::string, std::string> scanned_records(const std::string& image,
                                                   const std::string& prefix) {
  const CommandResult r = run_command(cli() + " scan --format tsv " + shell_quote(image));
  std::map<std::string, std::string> by_name;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string drive, record, name;
    std::getline(cells, drive, '\t');
    std::getline(cells, record, '\t');
    std::getline(cells, name, '\t');
    if (name.starts_with(prefix)) by_name[name] = record;
  }
  return by_name;
}

std::vector<std::uint8_t> recover_record(const std::string& image, const std::string& record,
                                         const std::string& to) {
  run_command("rm -rf " + shell_quote(to) + " && mkdir -p " + shell_quote(to));
  run_command(cli() + " recover --record " + record + " --to " + shell_quote(to) + " " +
              shell_quote(image));
  for (const auto& entry : fs::directory_iterator(to)) return read_bytes(entry.path().string());
  return {};
}

TEST(CliCleanTest, UsageErrorsAndAVolumeThatIsNotMounted) {
  const std::string fat = fixture_image("fat16.img");
  if (fat.empty()) GTEST_SKIP() << "fat16.img fixture missing";
  struct Case {
    std::string args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"clean " + shell_quote(fat), 2, "at least one of --entries, --tips, --free-space"},
      {"clean --tips", 2, "exactly one volume"},
      {"clean --tips " + shell_quote(fat) + " " + shell_quote(fat), 2, "exactly one volume"},
      {"clean --wipe-all " + shell_quote(fat), 2, "unknown option: --wipe-all"},
      {"clean --free-space /nonexistent.img", 3, "cannot read volume /nonexistent.img"},
      {"clean --entries --tips --free-space " + shell_quote(fat), 3,
       "Not mounted; mount it first to clean it: "},
  };
  const std::string before = sha256_of(fat);
  for (const Case& c : cases) {
    const CommandResult r = run_command(cli() + " " + c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.find("Erase"), std::string::npos) << "no job starts: " << c.args;
  }
  EXPECT_EQ(sha256_of(fat), before);
}

TEST(CliCleanTest, FreeSpaceLeavesNoByteOfDeletedFilesAndKeepsLiveOnes) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  NtfsImage v(24);
  const std::vector<std::size_t> live_sizes = {5000, 30000, 70001};
  const std::vector<std::size_t> gone_sizes = {9000, 20000, 45000, 150000, 333333};
  std::map<std::string, std::vector<std::uint8_t>> gone;
  ASSERT_TRUE(v.mount());
  run_command("mkdir -p " + shell_quote(v.path("docs/old")));
  for (std::size_t i = 0; i < live_sizes.size(); ++i) {
    ASSERT_TRUE(write_bytes(v.path("docs/live" + std::to_string(i) + ".bin"),
                            marked_content("live" + std::to_string(i), live_sizes[i])));
  }
  for (std::size_t i = 0; i < gone_sizes.size(); ++i) {
    const std::string name = "secret" + std::to_string(i) + ".bin";
    gone[name] = marked_content("SECRET" + std::to_string(i), gone_sizes[i]);
    ASSERT_TRUE(write_bytes(v.path("docs/old/" + name), gone[name]));
  }
  run_command("rm " + shell_quote(v.path("docs/old")) + "/secret*");
  v.unmount();

  // Before: every deleted file is found and comes back whole.
  const auto records = scanned_records(v.image(), "secret");
  ASSERT_EQ(records.size(), gone.size());
  for (const auto& [name, record] : records) {
    EXPECT_EQ(recover_record(v.image(), record, v.scratch() + "/out"), gone[name]) << name;
  }

  ASSERT_TRUE(v.mount());
  std::map<std::string, std::string> live_hashes;
  for (std::size_t i = 0; i < live_sizes.size(); ++i) {
    const std::string p = v.path("docs/live" + std::to_string(i) + ".bin");
    live_hashes[p] = sha256_of(p);
  }
  const std::vector<std::string> root_before = folder_listing(v.mount_point());
  const std::int64_t free_before = v.free_bytes();
  const CommandResult r = run_command(cli() + " clean --free-space " + shell_quote(v.image()));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, " Erase free space ...\n Ok\n");
  EXPECT_EQ(folder_listing(v.mount_point()), root_before) << "no DELTEMP or counter file is left";
  // The space comes back; what the MFT grew by to hold the small cleanup files stays (a record
  // per file, well inside a cluster per file).
  const std::int64_t free_after = v.free_bytes();
  EXPECT_LE(free_after, free_before);
  EXPECT_GE(free_after, free_before - 16 * 4096);
  for (const auto& [path, hash] : live_hashes) EXPECT_EQ(sha256_of(path), hash) << path;
  v.unmount();

  for (const auto& [name, record] : records) {
    const std::vector<std::uint8_t> recovered =
        recover_record(v.image(), record, v.scratch() + "/out");
    const std::vector<std::uint8_t>& original = gone[name];
    std::size_t same = 0;
    for (std::size_t i = 0; i < std::min(recovered.size(), original.size()); ++i)
      same += recovered[i] == original[i];
    EXPECT_LT(same, original.size() / 64) << name << ": recovered bytes still match the original";
  }
  // Not a line of any deleted file is left anywhere on the volume.
  const std::vector<std::uint8_t> image = read_bytes(v.image());
  for (std::size_t i = 0; i < gone_sizes.size(); ++i) {
    EXPECT_FALSE(contains(image, "SECRET" + std::to_string(i) + "@")) << i;
  }
  EXPECT_TRUE(contains(image, "live1@")) << "the live files are still on the image";
}

TEST(CliCleanTest, DirectoryEntriesLeaveNoDeletedRecordToFind) {
  if (!can_mount_ntfs() || !have_program("fls"))
    GTEST_SKIP() << "needs root, /dev/fuse, mkntfs, ntfs-3g, sleuthkit";
  NtfsImage v(16);
  ASSERT_TRUE(v.mount());
  run_command("mkdir -p " + shell_quote(v.path("old")) + " " + shell_quote(v.path("TMPDIR000000")));
  ASSERT_TRUE(write_bytes(v.path("TMPDIR000000/mine.txt"), marked_content("mine", 100)));
  for (int i = 0; i < 40; ++i) {
    const std::string folder = i % 2 == 0 ? "old/" : "";
    ASSERT_TRUE(write_bytes(v.path(folder + "gone" + std::to_string(i) + ".txt"),
                            marked_content("gone" + std::to_string(i), 300 + 100 * i)));
  }
  run_command("rm " + shell_quote(v.path("old")) + "/gone* " + shell_quote(v.mount_point()) +
              "/gone*");
  v.unmount();
  const auto fls_deleted = [&] {
    return run_command("fls -r -d -p " + shell_quote(v.image()) + " | grep -c gone").out;
  };
  ASSERT_EQ(scanned_records(v.image(), "gone").size(), 40u);
  ASSERT_NE(fls_deleted(), "0\n");

  ASSERT_TRUE(v.mount());
  const std::vector<std::string> root_before = folder_listing(v.mount_point());
  const std::string mine = sha256_of(v.path("TMPDIR000000/mine.txt"));
  const CommandResult r = run_command(cli() + " clean --entries " + shell_quote(v.image()));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, " Erase directory entries ...\n Ok\n");
  EXPECT_EQ(folder_listing(v.mount_point()), root_before)
      << "no TMPDIR folder of the job's is left";
  EXPECT_EQ(folder_listing(v.path("TMPDIR000000")), std::vector<std::string>{"mine.txt"})
      << "a folder of the user's under a job's name is left alone";
  EXPECT_EQ(sha256_of(v.path("TMPDIR000000/mine.txt")), mine);
  v.unmount();

  EXPECT_TRUE(scanned_records(v.image(), "gone").empty());
  EXPECT_EQ(fls_deleted(), "0\n");
}

}  // namespace
}  // namespace fennick::testing

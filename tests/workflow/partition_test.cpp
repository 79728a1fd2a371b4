// Whole-disk images with partition tables (made by tests/fixtures/make-disk-images from the
// fixture volumes): each partition that holds a volume becomes a drive in disk order, where
// mmls puts it; its scan, recovery and wipe are those of the same volume on its own; a table
// entry that runs past the disk makes no drive; "disk.img#N" and "disk.img@BYTES" name one
// volume; fennick-cli drives shows where each lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "test_support.h"
#include "workflow/drive_list.h"
#include "workflow/engines.h"

namespace fennick::workflow {
namespace {

namespace fs = std::filesystem;
using testing::CommandResult;
using testing::run_command;
using testing::shell_quote;

struct PartitionCase {
  std::string disk;    // the disk image
  int number;          // its partition
  std::string volume;  // the fixture volume copied into it
  volume::FileSystemKind kind;
};

std::string ntfs_or_fat16() {
  // Without the NTFS fixture the maker puts FAT16 where NTFS would be.
  return testing::fixture_image("ntfs.img").empty() ? "fat16.img" : "ntfs.img";
}

std::vector<PartitionCase> partition_cases() {
  const std::string nt = ntfs_or_fat16();
  const auto nt_kind =
      nt == "ntfs.img" ? volume::FileSystemKind::ntfs : volume::FileSystemKind::fat16;
  return {
      {"disk-mbr.img", 1, "fat16.img", volume::FileSystemKind::fat16},
      {"disk-mbr.img", 5, nt, nt_kind},
      {"disk-mbr.img", 6, "fat32.img", volume::FileSystemKind::fat32},
      {"disk-gpt.img", 1, "fat32.img", volume::FileSystemKind::fat32},
      {"disk-gpt.img", 2, nt, nt_kind},
  };
}

// Start and length in sectors of every partition mmls lists, by start.
std::map<std::uint64_t, std::uint64_t> mmls_partitions(const std::string& image) {
  std::map<std::uint64_t, std::uint64_t> found;
  const CommandResult r = run_command("mmls " + shell_quote(image));
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string index, slot, start, end, length;
    fields >> index >> slot >> start >> end >> length;
    if (slot == "Meta" || slot.starts_with("---") || length.empty()) continue;
    if (start.find_first_not_of("0123456789") != std::string::npos) continue;
    found[std::stoull(start)] = std::stoull(length);
  }
  return found;
}

std::vector<std::uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// What a scan found, without the drive it was found on.
std::vector<std::string> scanned_files(const Drive& drive) {
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::SilentChannel channel;
  const engine::Engine* engine = engine_for(drive.kind);
  if (engine == nullptr || !engine->scan(drive, catalogue, run, channel)) return {"not scanned"};
  std::vector<std::string> rows;
  for (const catalogue::FoundFile& f : catalogue.files()) {
    std::ostringstream row;
    row << f.record_no << '|' << f.name.view() << '|' << f.path.view().substr(1) << '|' << f.size
        << '|' << int{f.quality} << '|' << f.created.ticks() << '|' << f.created.is_local() << '|'
        << f.modified.ticks() << '|' << f.modified.is_local() << '|' << f.parent_dir << '|'
        << f.entry_cluster << '|' << f.entry_offset;
    rows.push_back(row.str());
  }
  return rows;
}

class PartitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::fixture_image("disk-mbr.img").empty() ||
        testing::fixture_image("disk-gpt.img").empty()) {
      GTEST_SKIP() << "disk image fixtures missing (sfdisk, sgdisk)";
    }
  }
};

TEST_F(PartitionTest, EachPartitionWithAVolumeIsADriveWhereMmlsPutsIt) {
  for (const std::string disk : {"disk-mbr.img", "disk-gpt.img"}) {
    SCOPED_TRACE(disk);
    const std::string path = testing::fixture_image(disk);
    const DriveListing listing = list_drives({path}, false);
    EXPECT_TRUE(listing.problems.empty());
    std::vector<PartitionCase> expected;
    for (const PartitionCase& c : partition_cases()) {
      if (c.disk == disk) expected.push_back(c);
    }
    ASSERT_EQ(listing.drives.size(), expected.size());
    const auto mmls = mmls_partitions(path);
    const bool have_mmls = testing::have_program("mmls");
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const Drive& d = listing.drives[i];
      EXPECT_EQ(d.partition_number, expected[i].number);
      EXPECT_EQ(d.kind, expected[i].kind);
      EXPECT_EQ(d.drive_letter, static_cast<char>('c' + i)) << "letters in disk order";
      EXPECT_EQ(d.length, fs::file_size(testing::fixture_image(expected[i].volume)));
      EXPECT_EQ(d.source_path, path);
      EXPECT_EQ(d.source->size_bytes(), d.length);
      EXPECT_EQ(drive_caption(d).find(disk + " #" + std::to_string(expected[i].number)), 5u)
          << drive_caption(d);
      if (have_mmls) {
        ASSERT_EQ(mmls.count(d.offset / 512), 1u) << d.offset;
        EXPECT_EQ(mmls.at(d.offset / 512) * 512, static_cast<std::uint64_t>(d.length));
      }
    }
    // The Linux partition is listed with its type and gets no drive.
    ASSERT_EQ(listing.others.size(), 1u);
    EXPECT_EQ(listing.others[0].number, 3);
    EXPECT_FALSE(listing.others[0].type.empty());
  }
}

TEST_F(PartitionTest, APartitionScansAndRecoversAsTheSameVolumeOnItsOwn) {
  for (const PartitionCase& c : partition_cases()) {
    SCOPED_TRACE(c.disk + " #" + std::to_string(c.number));
    const std::string disk = testing::fixture_image(c.disk);
    const std::string alone = testing::fixture_image(c.volume);
    const DriveListing part = list_drives({disk + "#" + std::to_string(c.number)}, false);
    const DriveListing own = list_drives({alone}, false);
    ASSERT_EQ(part.drives.size(), 1u);
    ASSERT_EQ(own.drives.size(), 1u);
    EXPECT_EQ(part.drives[0].total_bytes, own.drives[0].total_bytes);
    EXPECT_EQ(part.drives[0].free_bytes, own.drives[0].free_bytes);
    const std::vector<std::string> files = scanned_files(part.drives[0]);
    EXPECT_FALSE(files.empty());
    EXPECT_EQ(files, scanned_files(own.drives[0]));

    testing::TempDir out;
    const std::string cli = shell_quote(testing::cli_path());
    const CommandResult a =
        run_command(cli + " recover --keep-folders --to " + shell_quote(out.path() + "/a") + " " +
                    shell_quote(disk + "#" + std::to_string(c.number)));
    const CommandResult b = run_command(cli + " recover --keep-folders --to " +
                                        shell_quote(out.path() + "/b") + " " + shell_quote(alone));
    EXPECT_EQ(a.exit_code, b.exit_code);
    const CommandResult diff = run_command("diff -r " + shell_quote(out.path() + "/a") + " " +
                                           shell_quote(out.path() + "/b"));
    EXPECT_EQ(diff.exit_code, 0) << diff.out;
  }
}

TEST_F(PartitionTest, AWipeInAPartitionChangesWhatItChangesOnTheVolumeAloneAndNothingElse) {
  testing::TempDir dir;
  const std::string disk = dir.path() + "/disk.img";
  const std::string alone = dir.path() + "/fat16.img";
  fs::copy_file(testing::fixture_image("disk-mbr.img"), disk);
  fs::copy_file(testing::fixture_image("fat16.img"), alone);
  const std::string cli = shell_quote(testing::cli_path());
  EXPECT_EQ(run_command(cli + " wipe --yes " + shell_quote(disk + "#1")).exit_code,
            run_command(cli + " wipe --yes " + shell_quote(alone)).exit_code);

  const std::vector<std::uint8_t> before = read_all(testing::fixture_image("disk-mbr.img"));
  const std::vector<std::uint8_t> after = read_all(disk);
  const std::vector<std::uint8_t> wiped = read_all(alone);
  const std::vector<std::uint8_t> original = read_all(testing::fixture_image("fat16.img"));
  ASSERT_EQ(after.size(), before.size());
  ASSERT_NE(wiped, original) << "the wipe changed the volume";
  const DriveListing listing = list_drives({testing::fixture_image("disk-mbr.img") + "#1"}, false);
  ASSERT_EQ(listing.drives.size(), 1u);
  const auto start = static_cast<std::ptrdiff_t>(listing.drives[0].offset);
  const auto length = static_cast<std::ptrdiff_t>(wiped.size());
  EXPECT_TRUE(std::equal(after.begin() + start, after.begin() + start + length, wiped.begin()));
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, before.begin()));
  EXPECT_TRUE(
      std::equal(after.begin() + start + length, after.end(), before.begin() + start + length));
}

TEST_F(PartitionTest, ADamagedEntryMakesNoDriveAndNamedPiecesAreChecked) {
  const std::string bad = testing::fixture_image("disk-bad.img");
  ASSERT_FALSE(bad.empty());
  const DriveListing listing = list_drives({bad}, false);
  ASSERT_EQ(listing.problems.size(), 1u);
  EXPECT_NE(listing.problems[0].reason.find("partition 3 lies outside the disk"),
            std::string::npos);
  EXPECT_EQ(listing.drives.size(), 3u);
  EXPECT_TRUE(listing.others.empty());
  for (const Drive& d : listing.drives) {
    EXPECT_LE(d.offset + static_cast<std::uint64_t>(d.length), fs::file_size(bad));
  }

  const std::string disk = testing::fixture_image("disk-mbr.img");
  const std::uint64_t size = fs::file_size(disk);
  const struct {
    std::string named;
    std::string reason;  // empty: one drive
    std::uint64_t offset;
    std::uint64_t length;
  } cases[] = {
      {disk + "#9", "it has no partition 9", 0, 0},
      // A partition the user names is listed whatever it holds.
      {disk + "#3", "", 145752064, 4194304},
      {disk + "@1048576", "", 1048576, size - 1048576},
      {disk + "@" + std::to_string(size), "lies past the end", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const DriveListing one = list_drives({c.named}, false);
    if (c.reason.empty()) {
      ASSERT_EQ(one.drives.size(), 1u);
      EXPECT_EQ(one.drives[0].offset, c.offset);
      EXPECT_EQ(static_cast<std::uint64_t>(one.drives[0].length), c.length);
    } else {
      ASSERT_EQ(one.problems.size(), 1u);
      EXPECT_NE(one.problems[0].reason.find(c.reason), std::string::npos) << one.problems[0].reason;
      EXPECT_TRUE(one.drives.empty());
    }
  }
}

TEST_F(PartitionTest, TheCliListsWhereEachVolumeLiesAndThePartitionsItDoesNotRead) {
  const std::string disk = testing::fixture_image("disk-mbr.img");
  const CommandResult r =
      run_command(shell_quote(testing::cli_path()) + " drives --format tsv " + shell_quote(disk));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::istringstream lines(r.out);
  std::string header;
  std::getline(lines, header);
  EXPECT_EQ(header, "drive\tcaption\tfs\tcluster_size\ttotal_bytes\tfree_bytes\tsource\tpartition");
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0].find("\tFAT\t"), std::string::npos);
  EXPECT_TRUE(rows[0].ends_with("\t#1 at 1048576, 33554432 bytes")) << rows[0];
  EXPECT_TRUE(rows[3].starts_with("\tdisk-mbr.img #3\t")) << rows[3];
  EXPECT_TRUE(rows[3].ends_with("\t#3 at 145752064, 4194304 bytes")) << rows[3];

  // The scan's log names the partition each letter stands for.
  const CommandResult scan =
      run_command(shell_quote(testing::cli_path()) + " scan " + shell_quote(disk));
  EXPECT_EQ(scan.exit_code, 0) << scan.err;
  for (const std::string line :
       {" Scan C:\\ (disk-mbr.img #1) ...\n", " Scan D:\\ (disk-mbr.img #5) ...\n",
        " Scan E:\\ (disk-mbr.img #6) ...\n"}) {
    EXPECT_NE(scan.err.find(line), std::string::npos) << line << scan.err;
  }
}

// The same disk in every image format other tools write: the same drives where the raw disk
// has them, the same files found and the same bytes recovered; a wipe is refused, and the
// format is told by the signature, not by the name.
TEST_F(PartitionTest, ImageFormatsGiveTheRawDisksDrivesFilesAndBytes) {
  const std::string raw = testing::fixture_image("disk-mbr.img");
  const DriveListing expected = list_drives({raw}, false);
  ASSERT_EQ(expected.drives.size(), 3u);
  const std::string cli = shell_quote(testing::cli_path());
  int formats = 0;
  for (const std::string image : {"disk-mbr.vpc", "disk-mbr.vhdx", "disk-mbr.vmdk",
                                  "disk-mbr.qcow2", "disk-ewf.E01", "disk-split.001"}) {
    SCOPED_TRACE(image);
    const std::string path = testing::fixture_image(image);
    if (path.empty()) continue;  // qemu-img or ewfacquire missing where the fixtures were made
    ++formats;
    const DriveListing listing = list_drives({path}, false);
    EXPECT_TRUE(listing.problems.empty());
    ASSERT_EQ(listing.drives.size(), expected.drives.size());
    for (std::size_t i = 0; i < expected.drives.size(); ++i) {
      const Drive& d = listing.drives[i];
      EXPECT_EQ(d.partition_number, expected.drives[i].partition_number);
      EXPECT_EQ(d.offset, expected.drives[i].offset);
      EXPECT_EQ(d.length, expected.drives[i].length);
      EXPECT_EQ(d.kind, expected.drives[i].kind);
      EXPECT_EQ(scanned_files(d), scanned_files(expected.drives[i]));
    }
    ASSERT_EQ(listing.others.size(), 1u);
    EXPECT_EQ(listing.others[0].number, 3);

    testing::TempDir out;
    const CommandResult a =
        run_command(cli + " recover --keep-folders --to " + shell_quote(out.path() + "/a") + " " +
                    shell_quote(path + "#5"));
    const CommandResult b =
        run_command(cli + " recover --keep-folders --to " + shell_quote(out.path() + "/b") + " " +
                    shell_quote(raw + "#5"));
    EXPECT_EQ(a.exit_code, b.exit_code) << a.err;
    EXPECT_EQ(run_command("diff -r " + shell_quote(out.path() + "/a") + " " +
                          shell_quote(out.path() + "/b"))
                  .exit_code,
              0);

    // Only a plain raw image is written in place: the wipe is refused (split raw too, whose
    // first segment holds partition 1), the image stays as it is.
    const std::string before = testing::sha256_of(path);
    const CommandResult wipe = run_command(cli + " wipe --yes " + shell_quote(path + "#1"));
    EXPECT_EQ(wipe.exit_code, 1);
    EXPECT_NE(wipe.err.find("the image's format is not written in place"), std::string::npos)
        << wipe.err;
    EXPECT_EQ(testing::sha256_of(path), before);
  }
  if (formats == 0) GTEST_SKIP() << "no image-format fixtures (qemu-img, ewfacquire)";

  // A QCOW image named like a raw one is still read as QCOW; a raw disk named .vmdk as raw.
  const std::string qcow = testing::fixture_image("disk-mbr.qcow2");
  if (!qcow.empty()) {
    testing::TempDir dir;
    fs::copy_file(qcow, dir.path() + "/disk.img");
    fs::copy_file(raw, dir.path() + "/disk.vmdk");
    for (const std::string name : {"disk.img", "disk.vmdk"}) {
      const DriveListing listing = list_drives({dir.path() + "/" + name}, false);
      EXPECT_EQ(listing.drives.size(), 3u) << name;
    }
  }
}

}  // namespace
}  // namespace fennick::workflow

// The drive list: names, captions, letters and ticks of named volumes, problems with
// volumes that cannot be read, and the mount lookup (real mounts found, source texts that
// merely name a volume not taken for its mount).
#include "workflow/drive_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cleaning/mounted_ntfs.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "test_support.h"
#include "volume/file_system_kind.h"
#include "volume/mount_lookup.h"
#include "volume/volume_source.h"

namespace fennick::workflow {
namespace {

// exFAT has an engine of its own and is shown as such; every other name holding "FAT" is FAT.
TEST(DriveTableTest, FileSystemNamesMapToWhatTheDriveTableShows) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"FAT32", "FAT32"}, {"FAT16", "FAT"}, {"FAT12", "FAT"}, {"exFAT", "exFAT"},
      {"vfat", "FAT"},    {"NTFS", "NTFS"}, {"EXT4", ""},     {"", ""},
  };
  for (const auto& [probed, listed] : cases) {
    EXPECT_EQ(volume::table_name(volume::kind_from_name(probed)), listed) << probed;
  }
}

TEST(DriveTableTest, CaptionsShowMegabytesBelow1000AndGigabytesFrom1000) {
  const std::vector<std::tuple<char, double, std::string>> cases = {
      {'c', 1000, "C:\\  (0.98 GB)"},   {'c', 999, "C:\\  (999.00 MB)"},
      {'c', 76310, "C:\\  (74.52 GB)"}, {'e', 512, "E:\\  (512.00 MB)"},
      {'d', 0, "D:\\  (0.00 MB)"},
  };
  for (const auto& [letter, mb, caption] : cases) {
    Drive d;
    d.drive_letter = letter;
    d.size_mb = mb;
    EXPECT_EQ(drive_caption(d), caption);
  }
}

TEST(NamedVolumesTest, NamedVolumesGetLettersFromCAndOnlyCIsTicked) {
  const std::string fat12 = testing::fixture_image("fat12.img");
  const std::string fat16 = testing::fixture_image("fat16.img");
  ASSERT_FALSE(fat12.empty() || fat16.empty()) << "fixture images missing";
  testing::TempDir dir;
  const std::string unknown = dir.path() + "/blank.img";
  std::ofstream(unknown, std::ios::binary) << std::string(3 << 20, '\0');

  const DriveListing listing =
      list_drives({fat16, dir.path() + "/missing.img", unknown, fat12}, false);
  const std::vector<DriveProblem>& problems = listing.problems;
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].path, dir.path() + "/missing.img");
  EXPECT_EQ(problems[0].reason, "No such file or directory");

  const DriveList& drives = listing.drives;
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].drive_letter, 'c');
  EXPECT_EQ(drives[1].drive_letter, 'd');
  EXPECT_EQ(drives[2].drive_letter, 'e');
  EXPECT_TRUE(drives[0].ticked);
  EXPECT_FALSE(drives[1].ticked);
  EXPECT_FALSE(drives[2].ticked);
  EXPECT_EQ(drives[0].fs_name(), "FAT");
  EXPECT_EQ(drives[1].fs_name(), "") << "an image of no known file system is still listed";
  EXPECT_EQ(drives[1].size_mb, 3);
  EXPECT_EQ(drives[2].fs_name(), "FAT");
  EXPECT_EQ(volume::kind_name(drives[0].kind), "FAT16");
  EXPECT_EQ(volume::kind_name(drives[2].kind), "FAT12");
  EXPECT_EQ(volume::kind_name(drives[1].kind), "");
  ASSERT_NE(drives[2].source, nullptr);
  EXPECT_EQ(drives[2].source->path(), fat12) << "each entry carries the source of its volume";
  EXPECT_GT(drives[0].cluster_size, 0);
}

TEST(NamedVolumesTest, AFolderIsNotAVolume) {
  testing::TempDir dir;
  const DriveListing listing = list_drives({dir.path()}, false);
  const std::vector<DriveProblem>& problems = listing.problems;
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].reason, "not a volume image or block device");
  EXPECT_TRUE(listing.drives.empty());
}

// ---- the mount lookup ------------------------------------------------------------------

// A mount made by a shell command for one test, unmounted at the end of the scope.
class ScopedMount {
 public:
  ScopedMount(const std::string& command, std::string mount_point)
      : mount_point_(std::move(mount_point)) {
    mounted_ = testing::run_command(command).exit_code == 0;
  }
  ~ScopedMount() {
    if (mounted_) testing::run_command("umount " + testing::shell_quote(mount_point_));
  }
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string mount_point_;
  bool mounted_ = false;
};

// A loop device over an image (or over the stretch the losetup options name), detached at the
// end of the scope; empty path when losetup cannot make one here.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image, const std::string& options = "") {
    if (::geteuid() != 0 || !testing::have_program("losetup")) return;
    const testing::CommandResult r = testing::run_command(
        "losetup -f --show " + options + " " + testing::shell_quote(image) + " 2>/dev/null");
    if (r.exit_code == 0) path_ = r.out.substr(0, r.out.find('\n'));
  }
  ~LoopDevice() {
    if (!path_.empty()) testing::run_command("losetup -d " + testing::shell_quote(path_));
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs the rest of the scope in another working folder.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& folder) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~WorkingFolder() { std::filesystem::current_path(saved_); }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::filesystem::path saved_;
};

// File systems mounted with a source text that names the volume, but not from the volume: a
// tmpfs named by the image's path, by a relative name that is the image's from where the
// lookup runs, by a symbolic link to it, and by the path of a loop device over the image.
TEST(MountLookupTest, AMountWhoseSourceTextMerelyNamesTheVolumeIsNotItsMount) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  testing::TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::string mnt = dir.path() + "/mnt";
  std::ofstream(image, std::ios::binary) << std::string(1 << 20, '\0');
  std::filesystem::create_directory(mnt);
  std::filesystem::create_symlink(image, dir.path() + "/link.img");
  const WorkingFolder in_dir(dir.path());
  const LoopDevice loop(image);

  struct Case {
    std::string source;  // the text the tmpfs is mounted with
    std::string looked_up;
  };
  std::vector<Case> cases = {
      {image, image},
      {"v.img", image},
      {dir.path() + "/link.img", image},
  };
  if (!loop.path().empty()) cases.push_back({loop.path(), loop.path()});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const ScopedMount tmpfs(
        "mount -t tmpfs " + testing::shell_quote(c.source) + " " + testing::shell_quote(mnt), mnt);
    ASSERT_TRUE(tmpfs.mounted());
    EXPECT_EQ(volume::find_mount_point(c.looked_up), "");
  }
  if (loop.path().empty()) GTEST_SKIP() << "no loop device here: the loop source was not tried";
}

// ntfs-3g serving an image file itself: found by the image's path or a link to it, and no
// longer once the path names another file (the daemon still serves the old one) or the
// volume is unmounted.
TEST(MountLookupTest, AnNtfs3gMountOfAnImageIsFoundWhileThePathIsThatImage) {
  if (!testing::can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  testing::NtfsImage v;
  ASSERT_TRUE(v.mount());
  const std::string link = v.scratch() + "/link.img";
  std::filesystem::create_symlink(v.image(), link);
  EXPECT_EQ(volume::find_mount_point(v.image()), v.mount_point());
  EXPECT_EQ(volume::find_mount_point(link), v.mount_point());

  // The served image moves away and a copy takes its name: the mount's source text still
  // names the path, but the daemon does not hold the file there.
  const std::string moved = v.scratch() + "/moved.img";
  std::filesystem::rename(v.image(), moved);
  std::filesystem::copy_file(moved, v.image());
  EXPECT_EQ(volume::find_mount_point(v.image()), "");
  EXPECT_EQ(volume::find_mount_point(link), "");
  v.unmount();
  std::filesystem::remove(v.image());
  std::filesystem::rename(moved, v.image());
  EXPECT_EQ(volume::find_mount_point(v.image()), "");
}

// A volume mounted from a loop device (ntfs-3g on the device, so a FUSE block mount): found
// by the device's numbers, from the device's path and from the image's.
TEST(MountLookupTest, ALoopDeviceMountIsFoundByDeviceNumbers) {
  if (!testing::can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  testing::NtfsImage v;
  const LoopDevice loop(v.image());
  if (loop.path().empty()) GTEST_SKIP() << "losetup cannot make a loop device here";
  EXPECT_EQ(volume::find_mount_point(loop.path()), "");
  EXPECT_EQ(volume::find_mount_point(v.image()), "");
  {
    const ScopedMount ntfs("ntfs-3g " + testing::shell_quote(loop.path()) + " " +
                               testing::shell_quote(v.mount_point()),
                           v.mount_point());
    ASSERT_TRUE(ntfs.mounted());
    EXPECT_EQ(volume::find_mount_point(loop.path()), v.mount_point());
    EXPECT_EQ(volume::find_mount_point(v.image()), v.mount_point());
  }
  EXPECT_EQ(volume::find_mount_point(v.image()), "");
}

// A disk whose partitions the kernel made devices for (a loop device with -P): named alone,
// its table gives the drives; with the machine's devices listed too, the partition devices are
// the drives and the table is not read a second time.
TEST(NamedVolumesTest, ANamedDiskWithPartitionDevicesIsNotListedTwice) {
  const std::string disk = testing::fixture_image("disk-mbr.img");
  if (disk.empty()) GTEST_SKIP() << "disk image fixture missing";
  const LoopDevice loop(disk, "-r -P");
  if (loop.path().empty()) GTEST_SKIP() << "losetup cannot make a loop device here";
  const std::string name = std::filesystem::path(loop.path()).filename().string();
  // The kernel makes the partition devices a moment after the loop device.
  for (int i = 0; i < 50 && !std::filesystem::exists("/sys/class/block/" + name + "p1"); ++i) {
    ::usleep(100000);
  }
  if (!std::filesystem::exists("/sys/class/block/" + name + "p1")) {
    GTEST_SKIP() << "no partition devices for loop devices here";
  }
  const DriveListing alone = list_drives({loop.path()}, false);
  ASSERT_EQ(alone.drives.size(), 3u);
  EXPECT_EQ(alone.drives[1].partition_number, 5);

  const DriveListing all = list_drives({loop.path()}, true);
  int from_table = 0;
  int partition_devices = 0;
  for (const Drive& d : all.drives) {
    if (d.source_path == loop.path() && d.partition_number > 0) ++from_table;
    if (d.source_path.starts_with(loop.path() + "p")) ++partition_devices;
  }
  EXPECT_EQ(from_table, 0);
  EXPECT_EQ(partition_devices, 3);
}

// A partition of a disk image mounted from a loop device over its stretch (losetup -o and
// --sizelimit): found for that partition's offset only, and a wipe of its files is refused
// with the image left as it was.
TEST(MountLookupTest, APartitionMountedFromALoopDeviceOverItsStretchIsFound) {
  if (!testing::can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  const std::string disk = testing::fixture_image("disk-mbr.img");
  if (disk.empty() || testing::fixture_image("ntfs.img").empty()) {
    GTEST_SKIP() << "disk image with an NTFS partition missing";
  }
  testing::TempDir dir;
  const std::string copy = dir.path() + "/disk.img";
  std::filesystem::copy_file(disk, copy);
  const DriveListing listing = list_drives({copy + "#5"}, false);
  ASSERT_EQ(listing.drives.size(), 1u);
  const Drive& ntfs = listing.drives[0];
  ASSERT_EQ(ntfs.kind, volume::FileSystemKind::ntfs);
  const LoopDevice loop(
      copy, "-o " + std::to_string(ntfs.offset) + " --sizelimit " + std::to_string(ntfs.length));
  if (loop.path().empty()) GTEST_SKIP() << "losetup cannot make a loop device here";
  const std::string mount_point = dir.path() + "/mnt";
  std::filesystem::create_directory(mount_point);
  const std::string before = testing::sha256_of(copy);
  {
    const ScopedMount mounted(
        "ntfs-3g " + testing::shell_quote(loop.path()) + " " + testing::shell_quote(mount_point),
        mount_point);
    ASSERT_TRUE(mounted.mounted());
    EXPECT_EQ(volume::find_mount_point(copy, ntfs.offset), mount_point);
    EXPECT_EQ(volume::find_mount_point(copy), "") << "the whole disk is not mounted";
    EXPECT_EQ(volume::find_mount_point(copy, 1048576), "") << "nor its first partition";
    const testing::CommandResult wipe =
        testing::run_command(testing::shell_quote(testing::cli_path()) + " wipe --yes " +
                             testing::shell_quote(copy + "#5"));
    EXPECT_NE(wipe.err.find(
                  messages::get_message(messages::english_base, messages::wipe_refused_mounted)),
              std::string::npos)
        << wipe.err;
  }
  EXPECT_EQ(testing::sha256_of(copy), before);
}

}  // namespace
}  // namespace fennick::workflow

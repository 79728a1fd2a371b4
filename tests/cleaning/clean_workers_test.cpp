// The cleaning workers on their own: overwrite_region and delete_folder_tree on ordinary
// files, the refusals, and the three jobs on small NTFS volumes mounted through ntfs-3g
// (cluster tips with the bytes checked on the image, stops and full volumes that must leave
// nothing behind, folders swapped for links while a job works in them).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <sstream>

#include "cleaning/clean_jobs.h"
#include "cleaning/mounted_ntfs.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "run/run_control.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;
using messages::RecordingChannel;

// A run whose event pump counts its calls and runs the test's action at each.
struct CountingRun {
  CountingRun() {
    run.event_pump = [this] {
      ++calls;
      if (on_pump) on_pump();
    };
  }
  CountingRun(const CountingRun&) = delete;
  CountingRun& operator=(const CountingRun&) = delete;
  run::RunControl run;
  std::int64_t calls = 0;
  std::function<void()> on_pump;
};

// ---- overwrite_region and delete_folder_tree --------------------------------------------

TEST(OverwriteRegionTest, WritesZerosThenOnesThenRandomBytesAndLeavesThePositionAfterTheRegion) {
  TempDir dir;
  const std::string file = dir.path() + "/f";
  ASSERT_TRUE(write_bytes(file, std::vector<std::uint8_t>(4 << 20, 'A')));
  const int fd = ::open(file.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  constexpr std::int64_t start = 10;
  constexpr std::int64_t length = 3'000'000;  // three pieces of at most 1 MiB
  ASSERT_EQ(::lseek(fd, start, SEEK_SET), start);

  // What the first and last byte of the region hold each time events are let through.
  CountingRun counted;
  std::vector<std::pair<int, int>> seen;
  counted.on_pump = [&] {
    std::uint8_t first = 0, last = 0;
    ::pread(fd, &first, 1, start);
    ::pread(fd, &last, 1, start + length - 1);
    seen.emplace_back(first, last);
  };
  cleaning::OverwritePatterns patterns;
  ASSERT_TRUE(cleaning::overwrite_region(fd, length, patterns, counted.run));
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), start + length);
  ::close(fd);

  // Events before each pass and after each of its three pieces.
  EXPECT_EQ(counted.calls, 12);
  ASSERT_EQ(seen.size(), 12u);
  EXPECT_EQ(seen[3], std::make_pair(0, 0)) << "after the zero pass";
  EXPECT_EQ(seen[7], std::make_pair(0xFF, 0xFF)) << "after the 0xFF pass";
  const std::vector<std::uint8_t> bytes = read_bytes(file);
  ASSERT_EQ(bytes.size(), std::size_t{4} << 20);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + start, [](auto b) { return b == 'A'; }));
  EXPECT_TRUE(
      std::all_of(bytes.begin() + start + length, bytes.end(), [](auto b) { return b == 'A'; }));
  const auto region = std::span(bytes).subspan(start, length);
  std::map<std::uint8_t, std::int64_t> counts;
  for (const std::uint8_t b : region) ++counts[b];
  EXPECT_EQ(counts.size(), 256u) << "the last pass is random bytes";
  for (const auto& [value, count] : counts) EXPECT_LT(count, length / 128) << int{value};
}

TEST(OverwriteRegionTest, FailsWhenTheFileCannotBeWrittenAndFallsBackFromDirectIo) {
  TempDir dir;
  const std::string file = dir.path() + "/f";
  ASSERT_TRUE(write_bytes(file, std::vector<std::uint8_t>(100, 'A')));
  const int read_only = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(read_only, 0);
  run::RunControl run;
  cleaning::OverwritePatterns patterns;
  EXPECT_FALSE(cleaning::overwrite_region(read_only, 50, patterns, run));
  ::close(read_only);
  EXPECT_EQ(read_bytes(file), std::vector<std::uint8_t>(100, 'A'));

  // 1000 bytes from an odd offset: no direct write can take that, an ordinary one can.
  const int direct = ::open(file.c_str(), O_RDWR | O_DIRECT);
  if (direct < 0) GTEST_SKIP() << "this file system refuses O_DIRECT at open";
  ASSERT_EQ(::lseek(direct, 3, SEEK_SET), 3);
  EXPECT_TRUE(cleaning::overwrite_region(direct, 1000, patterns, run));
  ::close(direct);
  EXPECT_EQ(read_bytes(file).size(), 1003u);
}

TEST(DeleteFolderTreeTest, RemovesTheTreeButNothingItsLinksPointTo) {
  TempDir dir;
  const fs::path tree = fs::path(dir.path()) / "tree";
  const fs::path outside = fs::path(dir.path()) / "outside";
  fs::create_directories(tree / "a" / "b");
  fs::create_directories(outside);
  ASSERT_TRUE(write_bytes((outside / "keep.txt").string(), {'k'}));
  ASSERT_TRUE(write_bytes((tree / "a" / "b" / "x").string(), {'x'}));
  fs::create_directory_symlink(outside, tree / "a" / "link-to-folder");
  fs::create_symlink(outside / "keep.txt", tree / "link-to-file");

  EXPECT_TRUE(cleaning::delete_folder_tree(tree.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(read_bytes((outside / "keep.txt").string()), std::vector<std::uint8_t>{'k'});
  EXPECT_TRUE(cleaning::delete_folder_tree(tree.string())) << "nothing there is nothing left";
}

// ---- refusals ------------------------------------------------------------------------------

TEST(CleanRefusalTest, NonNtfsAndUnmountedVolumesAreRefusedWithALogLineAndNothingIsMade) {
  const std::string fat = fixture_image("fat16.img");
  if (fat.empty()) GTEST_SKIP() << "fat16.img fixture missing";
  TempDir dir;
  const std::string copy = dir.path() + "/fat16.img";
  fs::copy_file(fat, copy);
  const std::string before = sha256_of(copy);
  DriveScope drive(copy);
  ASSERT_EQ(drive.drives.size(), 1u);
  const workflow::Drive& d = drive.drive();

  RecordingChannel& rec = drive.channel;
  const cleaning::CleanJob job{d, drive.run, rec};
  EXPECT_FALSE(cleaning::erase_directory_entries(job));
  EXPECT_EQ(rec.lines, std::vector<std::string>{rec.text(messages::not_an_ntfs_drive)});

  rec.lines.clear();
  EXPECT_FALSE(cleaning::erase_cluster_tips(job, d.cluster_size, 1000));
  EXPECT_FALSE(cleaning::erase_free_space(job));
  ASSERT_EQ(rec.lines.size(), 2u);
  for (const std::string& line : rec.lines) {
    EXPECT_EQ(line, rec.text(messages::drive_not_mounted) + copy);
  }
  EXPECT_EQ(sha256_of(copy), before);
}

// ---- mounted NTFS volumes ------------------------------------------------------------------

// Creation, last write and last access (ntfs-3g's fourth time, the MFT change, moves with
// any change of the record and is not one of the times a file keeps).
std::string ntfs_times(const std::string& path) {
  return run_command("getfattr --only-values -n system.ntfs_times " + shell_quote(path) +
                     " | head -c 24 | od -An -tx8")
      .out;
}

std::string ntfs_attributes(const std::string& path) {
  return run_command("getfattr --only-values -n system.ntfs_attrib_be " + shell_quote(path) +
                     " | od -An -tx1")
      .out;
}

// The clusters of a file's unnamed data stream, by The Sleuth Kit, from the file's path.
std::vector<std::int64_t> clusters_of(const std::string& image, const std::string& path) {
  const std::string inode =
      run_command("ifind -n " + shell_quote(path) + " " + shell_quote(image)).out;
  const std::string text = run_command("istat " + shell_quote(image) + " " + inode).out;
  std::vector<std::int64_t> clusters;
  const std::size_t data = text.find("Type: $DATA (128-");
  if (data == std::string::npos || text.find("Non-Resident", data) == std::string::npos)
    return clusters;
  std::istringstream in(text.substr(text.find('\n', data) + 1));
  std::int64_t c = 0;
  while (in >> c) clusters.push_back(c);
  return clusters;
}

struct TipCase {
  std::string name;
  std::size_t size;
  bool read_only;
};

// Every file keeps length, content and all its times; the bytes past each end, which held a
// known old pattern, hold something else afterwards. A compressed file is left alone.
TEST(ClusterTipsTest, TipsAreOverwrittenWhileLengthContentTimesAndAttributesStay) {
  if (!can_mount_ntfs() || !have_program("istat"))
    GTEST_SKIP() << "needs root, /dev/fuse, mkntfs, ntfs-3g, sleuthkit";
  NtfsImage v;
  const std::vector<TipCase> cases = {
      {"top.bin", 5000, false},          {"docs/a.bin", 4097, false},
      {"docs/deep/b.bin", 12000, false}, {"docs/deep/ro.bin", 6000, true},
      {"docs/whole.bin", 8192, false},   {"empty.bin", 0, false},
      {"tiny.txt", 20, false},
  };
  std::map<std::string, std::string> hashes, times, attributes;
  ASSERT_TRUE(v.mount());
  run_command("mkdir -p " + shell_quote(v.path("docs/deep")) + " " + shell_quote(v.path("packed")));
  run_command("setfattr -n system.ntfs_attrib_be -v 0x00000810 " + shell_quote(v.path("packed")));
  for (const TipCase& c : cases) {
    // Written with 0xAB up to the cluster's end, then cut back: the tip holds 0xAB.
    const std::size_t full = (c.size + 4095) / 4096 * 4096;
    std::vector<std::uint8_t> content = marked_content("tip-" + c.name, c.size);
    content.resize(full, 0xAB);
    ASSERT_TRUE(write_bytes(v.path(c.name), content));
    run_command("truncate -s " + std::to_string(c.size) + " " + shell_quote(v.path(c.name)));
  }
  ASSERT_TRUE(write_bytes(v.path("packed/c.txt"), marked_content("packed", 10000)));
  // Small enough to stay inside its MFT record: no cluster, no tip.
  ASSERT_TRUE(write_bytes(v.path("resident.txt"), marked_content("resident", 30)));
  run_command("touch -d '2001-02-03 04:05:06' " + shell_quote(v.path("top.bin")));
  for (const TipCase& c : cases) {
    if (c.read_only)
      run_command("setfattr -n system.ntfs_attrib_be -v 0x00000021 " + shell_quote(v.path(c.name)));
  }
  std::vector<std::string> names = {"packed/c.txt", "resident.txt"};
  for (const TipCase& c : cases) names.push_back(c.name);
  v.unmount();
  // Precondition: the old tips hold 0xAB on the image.
  const auto image_bytes = [&] { return read_bytes(v.image()); };
  std::vector<std::uint8_t> before = image_bytes();
  for (const TipCase& c : cases) {
    if (c.size % 4096 == 0) continue;
    const auto clusters = clusters_of(v.image(), c.name);
    ASSERT_FALSE(clusters.empty()) << c.name;
    const std::size_t at = static_cast<std::size_t>(clusters.back()) * 4096 + c.size % 4096;
    ASSERT_EQ(before[at], 0xAB) << c.name;
  }

  ASSERT_TRUE(v.mount());
  // Reading a file may move its access time (relatime), so the times are taken after the
  // hashes before the run and before them after it.
  for (const std::string& n : names) {
    hashes[n] = sha256_of(v.path(n));
    times[n] = ntfs_times(v.path(n));
    attributes[n] = ntfs_attributes(v.path(n));
    ASSERT_FALSE(times[n].empty()) << n;
  }
  const std::string listing_before =
      run_command("cd " + shell_quote(v.mount_point()) + " && ls -lR --time-style=full-iso").out;
  {
    DriveScope drive(v.image());
    RecordingChannel& rec = drive.channel;
    const workflow::Drive& d = drive.drive();
    cleaning::TipsCounts counts;
    EXPECT_TRUE(cleaning::erase_cluster_tips(cleaning::CleanJob{d, drive.run, rec}, d.cluster_size,
                                             d.total_bytes - d.free_bytes, &counts));
    EXPECT_TRUE(rec.lines.empty()) << rec.lines.front();
    EXPECT_EQ(rec.progress, 100);
    // Handled: the five files with a tip, the whole-cluster one and the empty one; the
    // resident and the compressed one are only counted.
    EXPECT_EQ(counts.files, 7u);
    std::int64_t total = 10000 + 30;
    for (const TipCase& c : cases) total += static_cast<std::int64_t>(c.size);
    EXPECT_EQ(counts.seen_bytes, total);
  }
  EXPECT_EQ(
      run_command("cd " + shell_quote(v.mount_point()) + " && ls -lR --time-style=full-iso").out,
      listing_before);
  for (const std::string& n : names) {
    EXPECT_EQ(ntfs_times(v.path(n)), times[n]) << n;
    EXPECT_EQ(ntfs_attributes(v.path(n)), attributes[n]) << n;
    EXPECT_EQ(sha256_of(v.path(n)), hashes[n]) << n;
  }
  v.unmount();

  const std::vector<std::uint8_t> after = image_bytes();
  for (const TipCase& c : cases) {
    if (c.size % 4096 == 0) continue;
    const auto clusters = clusters_of(v.image(), c.name);
    ASSERT_FALSE(clusters.empty()) << c.name;
    const std::size_t cluster_end = static_cast<std::size_t>(clusters.back() + 1) * 4096;
    const std::size_t tip_start = cluster_end - (4096 - c.size % 4096);
    std::size_t old_bytes = 0;
    for (std::size_t i = tip_start; i < cluster_end; ++i) old_bytes += after[i] == 0xAB;
    // The last pass writes random bytes, 1 in 256 of which is 0xAB by chance: only a tip that
    // mostly still holds the old bytes was not overwritten (a tighter bound made short tips
    // fail now and then).
    EXPECT_LT(old_bytes, (cluster_end - tip_start) / 2)
        << c.name << ": tip still holds the old bytes";
  }
  // No file or folder of the job's own is left.
  EXPECT_EQ(run_command("fls -r -p " + shell_quote(v.image()) + " | grep -v '\\$' | wc -l").out,
            std::to_string(names.size() + 3) + "\n");
}

std::vector<std::string> root_listing(const NtfsImage& v) {
  return folder_listing(v.mount_point());
}

// Stops at chosen moments and full volumes: every run ends with the root as it was and the
// free space given back.
TEST(CleanStopTest, StoppedAndFullRunsLeaveNothingBehind) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  NtfsImage v;
  ASSERT_TRUE(v.mount());
  ASSERT_TRUE(write_bytes(v.path("keep.txt"), marked_content("keep", 9000)));
  const std::string keep_hash = sha256_of(v.path("keep.txt"));
  const std::vector<std::string> listing = root_listing(v);
  const std::int64_t free_before = v.free_bytes();
  DriveScope drive(v.image());
  const workflow::Drive& d = drive.drive();

  // Descriptors open now; the free-space job holds one per cleanup file.
  const auto open_files = [] {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  const std::size_t baseline = open_files();

  struct StopCase {
    std::string name;
    std::function<bool(const cleaning::CleanJob&)> job;
    std::function<bool(std::int64_t calls)> stop_when;
  };
  const std::vector<StopCase> stops = {
      {"free space, large-file phase",
       [](const cleaning::CleanJob& job) { return cleaning::erase_free_space(job); },
       [](std::int64_t calls) { return calls == 20; }},
      {"free space, small-file phase",
       [](const cleaning::CleanJob& job) { return cleaning::erase_free_space(job); },
       [&](std::int64_t) { return open_files() >= baseline + 3; }},
      {"directory entries",
       [](const cleaning::CleanJob& job) { return cleaning::erase_directory_entries(job); },
       [](std::int64_t calls) { return calls == 15; }},
  };
  for (const StopCase& s : stops) {
    SCOPED_TRACE(s.name);
    RecordingChannel rec;
    CountingRun counted;
    counted.on_pump = [&] {
      if (s.stop_when(counted.calls)) counted.run.request_stop();
    };
    s.job(cleaning::CleanJob{d, counted.run, rec});
    EXPECT_TRUE(counted.run.stop_requested()) << "the stop came during the run";
    EXPECT_EQ(rec.progress, 100);
    EXPECT_EQ(root_listing(v), listing);
    EXPECT_EQ(open_files(), baseline);
  }
  // The small-file phase had cleanup files of its own before the stop.
  EXPECT_GE(v.free_bytes(), free_before - 8 * 4096);

  // A full volume: the user's own file takes every free cluster.
  run_command("dd if=/dev/zero of=" + shell_quote(v.path("filler")) + " bs=64k 2>/dev/null");
  ASSERT_LT(v.free_bytes(), 64 * 1024);
  const std::vector<std::string> full_listing = root_listing(v);
  {
    RecordingChannel rec;
    run::RunControl run;
    const cleaning::CleanJob job{d, run, rec};
    EXPECT_TRUE(cleaning::erase_free_space(job));
    cleaning::erase_directory_entries(job);  // may or may not see the MFT grow; must clean up
    EXPECT_EQ(root_listing(v), full_listing);
    EXPECT_EQ(open_files(), baseline);
    EXPECT_EQ(sha256_of(v.path("keep.txt")), keep_hash);
  }
}

// ---- folders swapped for links while a job works in them ---------------------------------

// A user who can write to the volume replaces the job's TMPDIR folder with a link to a folder
// elsewhere while the job fills it: the job goes on in the folder it made, and nothing lands
// where the link points.
TEST(CleanLinkTest, ATmpdirFolderSwappedForALinkGetsNoFileOutsideTheVolume) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  NtfsImage v;
  TempDir outside;
  ASSERT_TRUE(v.mount());
  const std::vector<std::string> listing = root_listing(v);
  DriveScope drive(v.image());
  const workflow::Drive& d = drive.drive();

  const std::string folder = v.path("TMPDIR000000");
  bool swapped = false;
  CountingRun counted;
  counted.on_pump = [&] {
    if (!swapped && counted.calls >= 10 && fs::is_directory(fs::symlink_status(folder))) {
      fs::rename(folder, v.path("moved"));
      fs::create_directory_symlink(outside.path(), folder);
      swapped = true;
    }
    if (counted.calls == 60) counted.run.request_stop();
  };
  cleaning::erase_directory_entries(cleaning::CleanJob{d, counted.run, drive.channel});
  ASSERT_TRUE(swapped);
  EXPECT_EQ(folder_listing(outside.path()), std::vector<std::string>{})
      << "files made through the link";
  EXPECT_EQ(folder_listing(v.path("moved")), std::vector<std::string>{})
      << "the job's files are gone";
  // The link and the renamed folder are the user's and stay; nothing of the job's is left.
  std::vector<std::string> expected = listing;
  expected.push_back("TMPDIR000000");
  expected.push_back("moved");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(root_listing(v), expected);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder)));
}

// The tip walk has entered folder "a" when a user renames it and puts a link to folder "b" in
// its place: the walk finishes the folder it opened ("a.moved/f.bin" gets its tip erased) and
// does not reach "b" through the link (which it walks once on its own).
TEST(CleanLinkTest, AFolderSwappedForALinkDuringTheTipWalkIsNotFollowed) {
  if (!can_mount_ntfs() || !have_program("istat"))
    GTEST_SKIP() << "needs root, /dev/fuse, mkntfs, ntfs-3g, sleuthkit";
  NtfsImage v;
  ASSERT_TRUE(v.mount());
  for (const std::string name : {"a", "b"}) {
    fs::create_directory(v.path(name));
    // 0xAB up to the cluster's end, then cut back: the tip holds 0xAB.
    std::vector<std::uint8_t> content = marked_content(name, 5000);
    content.resize(8192, 0xAB);
    ASSERT_TRUE(write_bytes(v.path(name + "/f.bin"), content));
    fs::resize_file(v.path(name + "/f.bin"), 5000);
  }
  {
    DriveScope drive(v.image());
    const workflow::Drive& d = drive.drive();
    // NTFS lists a folder's names in order, so the walk lets events through before "a" (the
    // first entry of the root) and then before "a/f.bin".
    bool swapped = false;
    CountingRun counted;
    counted.on_pump = [&] {
      if (counted.calls == 2) {
        fs::rename(v.path("a"), v.path("a.moved"));
        fs::create_directory_symlink(v.path("b"), v.path("a"));
        swapped = true;
      }
    };
    RecordingChannel& rec = drive.channel;
    cleaning::TipsCounts counts;
    EXPECT_TRUE(cleaning::erase_cluster_tips(cleaning::CleanJob{d, counted.run, rec},
                                             d.cluster_size, d.total_bytes - d.free_bytes,
                                             &counts));
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(rec.lines.empty()) << rec.lines.front();
    EXPECT_EQ(counts.files, 2u);
  }
  v.unmount();
  const std::vector<std::uint8_t> image = read_bytes(v.image());
  for (const std::string path : {"a.moved/f.bin", "b/f.bin"}) {
    const auto clusters = clusters_of(v.image(), path);
    ASSERT_EQ(clusters.size(), 2u) << path;
    const std::size_t tip_start = static_cast<std::size_t>(clusters.back()) * 4096 + 5000 % 4096;
    const std::size_t cluster_end = static_cast<std::size_t>(clusters.back() + 1) * 4096;
    ASSERT_LE(cluster_end, image.size());
    std::size_t old_bytes = 0;
    for (std::size_t i = tip_start; i < cluster_end; ++i) old_bytes += image[i] == 0xAB;
    EXPECT_LT(old_bytes, (cluster_end - tip_start) / 64)
        << path << ": tip still holds the old bytes";
  }
}

}  // namespace
}  // namespace fennick::testing

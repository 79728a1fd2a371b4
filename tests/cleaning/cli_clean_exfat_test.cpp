// fennick-cli clean --tips and --free-space on an exFAT volume mounted through exfat-fuse
// (over a loop device): the tips of live files and then the free clusters are overwritten,
// live files stay byte for byte, and the volume stays consistent for fsck.exfat. The
// directory-entries job stays NTFS-only.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cleaning/mounted_ntfs.h"
#include "exfat/mounted_exfat.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t cluster = 4096;  // exfat.img's cluster size

// The image's clusters (at cluster-aligned offsets) that begin with `head` and go on with
// `fill` bytes only: where a file's tip, or a freed cluster of it, lies.
std::size_t clusters_like(const std::vector<std::uint8_t>& image, const std::string& head,
                          std::uint8_t fill) {
  std::size_t n = 0;
  for (std::size_t at = 0; at + cluster <= image.size(); at += cluster) {
    if (!std::equal(head.begin(), head.end(), image.begin() + static_cast<std::ptrdiff_t>(at))) {
      continue;
    }
    n += std::all_of(image.begin() + static_cast<std::ptrdiff_t>(at + head.size()),
                     image.begin() + static_cast<std::ptrdiff_t>(at + cluster),
                     [&](std::uint8_t b) { return b == fill; })
             ? 1
             : 0;
  }
  return n;
}

std::string live_listing(const std::string& mount_point) {
  return run_command("cd " + shell_quote(mount_point) +
                     " && find . -type f -exec sha256sum {} + | sort -k2")
      .out;
}

TEST(CliCleanExfatTest, TipsThenFreeSpaceAreOverwrittenAndLiveFilesStay) {
  const std::string original = fixture_image("exfat.img");
  if (original.empty()) GTEST_SKIP() << "exfat.img was not made";
  if (!can_mount_exfat()) GTEST_SKIP() << "needs root, /dev/fuse, losetup and exfat-fuse";
  TempDir dir;
  const std::string image = dir.path() + "/exfat.img";
  fs::copy_file(original, image);
  const std::string cli = shell_quote(cli_path());
  const std::string tip_head(100, 'H');

  MountedExfat v(image);
  ASSERT_TRUE(v.mount());
  // A file cut to 100 bytes: exfat-fuse leaves the rest of its cluster as it was (0xAB), and
  // frees its second cluster with the same bytes in it.
  {
    std::vector<std::uint8_t> content(tip_head.begin(), tip_head.end());
    content.resize(2 * cluster, 0xAB);
    ASSERT_TRUE(write_bytes(v.mount_point() + "/tip.bin", content));
    fs::resize_file(v.mount_point() + "/tip.bin", 100);
  }
  const std::string live_before = live_listing(v.mount_point());
  v.unmount();
  ASSERT_EQ(clusters_like(read_bytes(image), tip_head, 0xAB), 1u) << "the tip holds old bytes";
  ASSERT_GE(clusters_like(read_bytes(image), "", 0xAB), 1u) << "the freed cluster too";

  ASSERT_TRUE(v.mount());
  CommandResult r = run_command(cli + " clean --tips " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(live_listing(v.mount_point()), live_before);
  v.unmount();
  std::vector<std::uint8_t> bytes = read_bytes(image);
  EXPECT_EQ(clusters_like(bytes, tip_head, 0xAB), 0u) << "the tip is overwritten";
  EXPECT_GE(clusters_like(bytes, "", 0xAB), 1u) << "free clusters are not the tips job's";

  ASSERT_TRUE(v.mount());
  r = run_command(cli + " clean --free-space " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(live_listing(v.mount_point()), live_before);
  v.unmount();
  bytes = read_bytes(image);
  EXPECT_EQ(clusters_like(bytes, "", 0xAB), 0u) << "the freed cluster is overwritten";
  // Every file a scan still lists is gone from its clusters: none recovers its own first
  // line (each fixture file begins with its path).
  TempDir out;
  run_command(cli + " recover --to " + shell_quote(out.path()) + " " + shell_quote(image));
  for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
    if (!entry.is_regular_file()) continue;
    const std::vector<std::uint8_t> got = read_bytes(entry.path().string());
    const std::string name = entry.path().filename().string();
    const std::string text(got.begin(), got.end());
    EXPECT_EQ(text.find(name), std::string::npos) << name << " still holds its content";
  }
  if (have_program("fsck.exfat")) {
    r = run_command("fsck.exfat -n " + shell_quote(image) + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.out;
  }
  // The directory-entries job is NTFS's only.
  ASSERT_TRUE(v.mount());
  r = run_command(cli + " clean --entries " + shell_quote(image));
  EXPECT_NE(r.exit_code, 0);
  v.unmount();
}

}  // namespace
}  // namespace fennick::testing

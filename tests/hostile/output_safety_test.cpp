// Output safety: deleted files whose names are "..", ".", hold "/" or control characters, or
// sit under 20 folders of 255-byte names, recovered with and without "keep folder structure",
// write only inside the destination folder; a destination without room for the next file ends
// the run with a clear line and keeps what it already recovered.
// The hostile names are made by patching the name bytes of copies of the fixture volumes.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "ntfs/mft_record.h"
#include "test_support.h"
#include "volume/le_read.h"
#include "workflow/recovery_run.h"
#include "workflow/scan_run.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::u16string utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// Finds the deleted long-name entry set of `original` (its first 5 characters are in the entry
// that holds characters 1-13) and gives it the name `replacement` (at most 13 characters);
// the set's other entries lose their characters.
bool rename_fat_deleted(Bytes& img, const std::u16string& original,
                        const std::u16string& replacement) {
  for (std::size_t at = 0; at + 32 <= img.size(); at += 32) {
    if (img[at] != 0xE5 || img[at + 11] != 0x0F) continue;
    bool match = true;
    for (std::size_t i = 0; i < 5 && match; ++i) {
      match = volume::le16_or0(img, at + 1 + 2 * i) == original[i];
    }
    if (!match) continue;
    const std::size_t entries = (original.size() + 12) / 13;
    for (std::size_t k = 1; k < entries; ++k) {
      const std::size_t other = at - 32 * k;
      for (std::size_t off : {1u, 14u, 28u}) volume::write_le16(img, other + off, 0);
    }
    static constexpr std::size_t unit_at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) {
      const std::uint16_t unit =
          i < replacement.size() ? replacement[i] : (i == replacement.size() ? 0 : 0xFFFF);
      volume::write_le16(img, at + unit_at[i], unit);
    }
    return true;
  }
  return false;
}

// Gives the deleted MFT record n's file name `replacement` (no longer than the old name).
bool rename_ntfs_record(Bytes& img, std::int64_t n, const std::u16string& replacement) {
  const ntfs::ConstBytes boot(img.data(), 512);
  const std::int64_t cluster = std::int64_t{volume::le16_or0(boot, 11)} * volume::u8_or0(boot, 13);
  const auto code = static_cast<std::int8_t>(volume::u8_or0(boot, 0x40));
  const std::int64_t record_size = code < 0 ? std::int64_t{1} << -code : code * cluster;
  const std::int64_t at =
      static_cast<std::int64_t>(volume::le64_or0(boot, 0x30)) * cluster + n * record_size;
  Bytes record(img.begin() + at, img.begin() + at + record_size);
  ntfs::apply_fixups(record);
  const auto attribute = ntfs::find_attribute(record, ntfs::type_file_name);
  if (!attribute) return false;
  const auto value = ntfs::attr_value(record, *attribute);
  if (!value) return false;
  const std::size_t length_at = value->offset + 0x40;
  if (replacement.size() > record[length_at]) return false;
  img[at + length_at] = static_cast<std::uint8_t>(replacement.size());
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const std::size_t unit = at + length_at + 2 + 2 * i;
    if (unit % 512 >= 510) return false;  // fix-up words hold no name bytes here
    volume::write_le16(std::span(img).subspan(0), unit, replacement[i]);
  }
  return true;
}

// Every path below root lies below dest (the image aside): nothing was written beside the
// destination.
void expect_only_inside(const std::string& root, const std::string& dest,
                        const std::string& image = {}) {
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string p = entry.path().string();
    if (p == dest || p == image) continue;
    EXPECT_EQ(p.rfind(dest + "/", 0), 0u) << "written outside the destination: " << p;
  }
}

struct Recovered {
  int successes = 0;
  int errors = 0;
  std::vector<std::string> lines;
};

// Scans the image in this process and recovers every file found into dest.
Recovered scan_and_recover(const std::string& image, const std::string& dest, bool keep,
                           std::set<std::string>* names,
                           void (*rewrite)(catalogue::FoundFile&) = nullptr) {
  DriveScope s(image);
  const messages::RecordingChannel& log = s.channel;
  workflow::scan_drive(s.drive(), s.catalogue, s.run, s.channel, {});
  {
    workflow::RecoveryRun run(s.drives, dest, s.run, s.channel);
    for (auto& f : s.catalogue.files()) {
      if (names) names->insert(f.name.str());
      if (rewrite) rewrite(f);
      run.recover(f, keep);
    }
  }
  Recovered r;
  r.lines = log.lines;
  for (const auto& line : log.lines) {
    // A file copied whole, graded overwritten or not, is in the destination.
    for (const int copied : {messages::undeleted_prefix, messages::copied_but_overwritten}) {
      if (line.rfind(messages::get_message(messages::english_base, copied), 0) == 0) ++r.successes;
    }
    if (line.rfind(messages::get_message(messages::english_base, messages::error_prefix), 0) == 0)
      ++r.errors;
  }
  return r;
}

struct HostileImage {
  std::string source;
  std::string path;
  std::vector<std::string> names;  // the hostile names the scan must list
};

HostileImage fat_hostile(const TempDir& dir) {
  const std::string source = fixture_image("fat12.img");
  HostileImage h{source, dir.path() + "/hostile-fat12.img", {"..", ".", "\x01\x1b[2J\x07"}};
  if (source.empty()) return h;
  Bytes img = read_file(source);
  EXPECT_TRUE(rename_fat_deleted(img, u"Grüße.txt", u".."));
  EXPECT_TRUE(rename_fat_deleted(img, u"Résumé 2024.docx", u"."));
  EXPECT_TRUE(rename_fat_deleted(img, u"Meeting minutes 2024-01.txt", u"\x01\x1b[2J\x07"));
  // A name with "/" is no valid FAT name: the scan must skip it or make it harmless.
  EXPECT_TRUE(rename_fat_deleted(img, u"Backup 2023.zip", u"../../x/y"));
  write_file(h.path, img);
  return h;
}

HostileImage ntfs_hostile(const TempDir& dir) {
  const std::string source = fixture_image("ntfs.img");
  HostileImage h{source,
                 dir.path() + "/hostile-ntfs.img",
                 {"..", ".", "../../../escape", "/etc/evil", "\x01\x1b]0;x\x07"}};
  if (source.empty()) return h;
  Bytes img = read_file(source);
  EXPECT_TRUE(rename_ntfs_record(img, 74, u".."));               // /notes.txt
  EXPECT_TRUE(rename_ntfs_record(img, 75, u"."));                // /Grüße.txt
  EXPECT_TRUE(rename_ntfs_record(img, 76, u"../../../escape"));  // /Résumé 2024.docx
  EXPECT_TRUE(rename_ntfs_record(img, 80, u"/etc/evil"));        // /Documents/Report for May.doc
  EXPECT_TRUE(rename_ntfs_record(img, 81, utf16("\x01\x1b]0;x\x07")));  // /Documents/MEMO.TXT
  write_file(h.path, img);
  return h;
}

class HostileNamesTest : public ::testing::TestWithParam<bool> {};

void check_hostile(const HostileImage& h, const TempDir& dir, bool keep) {
  if (h.source.empty()) GTEST_SKIP() << "fixture missing (NTFS needs root and FUSE)";
  const std::string dest = dir.path() + "/dest";
  fs::create_directories(dest);
  std::set<std::string> names;
  const Recovered r = scan_and_recover(h.path, dest, keep, &names);
  for (const std::string& n : h.names) EXPECT_TRUE(names.count(n)) << "not listed: " << n;
  EXPECT_GT(r.successes, 0);
  expect_only_inside(dir.path(), dest, h.path);
  // Every recovered file is there, each under its own path.
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dest)) files += e.is_regular_file();
  EXPECT_EQ(files, r.successes);
}

TEST_P(HostileNamesTest, FatRecoveryWritesOnlyInsideTheDestination) {
  TempDir dir;
  check_hostile(fat_hostile(dir), dir, GetParam());
}

TEST_P(HostileNamesTest, NtfsRecoveryWritesOnlyInsideTheDestination) {
  TempDir dir;
  check_hostile(ntfs_hostile(dir), dir, GetParam());
}

// 20 folders of 255-byte names and a 255-byte file name: longer than any path the system
// takes. The file is written inside the destination or fails with message 72; nothing else.
TEST_P(HostileNamesTest, TwentyLevelsOf255ByteNamesStayInside) {
  const std::string image = fixture_image("fat12.img");
  if (image.empty()) GTEST_SKIP();
  TempDir dir;
  const std::string dest = dir.path() + "/dest";
  fs::create_directories(dest);
  const Recovered r =
      scan_and_recover(image, dest, GetParam(), nullptr, [](catalogue::FoundFile& f) {
        std::string path = "C:\\";
        for (int level = 0; level < 20; ++level) path += std::string(254, 'a' + level) + "\x01\\";
        f.path = path;
        f.name = std::string(250, 'n') + "..txt";
      });
  EXPECT_GT(r.successes + r.errors, 0);
  expect_only_inside(dir.path(), dest);
}

INSTANTIATE_TEST_SUITE_P(KeepFolders, HostileNamesTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Kept" : "Flat"; });

// A destination on a small tmpfs has no room for the next file: the run ends there with a
// line that says so, before the disk is full, the file that did not fit is not left behind
// empty, and the files written before stay whole.
TEST(FullDestinationTest, TheRunEndsCleanlyBeforeTheDestinationIsFull) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  const std::string image = fixture_image("fat16.img");
  ASSERT_FALSE(image.empty());
  TempDir dir;
  const std::string dest = dir.path() + "/small";
  fs::create_directories(dest);
  if (::mount("tmpfs", dest.c_str(), "tmpfs", 0, "size=160k") != 0) {
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{dest};

  const CommandResult result =
      run_command(shell_quote(cli_path()) + " recover --to " + shell_quote(dest) +
                  " --keep-folders " + shell_quote(image));
  EXPECT_EQ(result.exit_code, 1) << result.err;
  const std::string error = messages::get_message(messages::english_base, messages::error_prefix);
  const std::string success =
      messages::get_message(messages::english_base, messages::undeleted_prefix);
  const std::string full =
      messages::get_message(messages::english_base, messages::destination_full);
  int errors = 0;
  std::vector<std::string> written;
  std::vector<std::string> did_not_fit;
  std::istringstream lines(result.err);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(error, 0) == 0) ++errors;
    if (line.rfind(success, 0) == 0) written.push_back(line.substr(success.size()));
    if (line.rfind(full, 0) == 0) did_not_fit.push_back(line.substr(full.size()));
  }
  EXPECT_EQ(errors, 0) << result.err;
  EXPECT_GT(written.size(), 0u) << result.err;
  ASSERT_EQ(did_not_fit.size(), 1u) << result.err;
  EXPECT_FALSE(fs::exists(did_not_fit[0])) << result.err;
  EXPECT_NE(result.err.find(
                messages::get_message(messages::english_base, messages::undelete_interrupted)),
            std::string::npos)
      << result.err;
  struct statvfs room {};
  ASSERT_EQ(::statvfs(dest.c_str(), &room), 0);
  EXPECT_GT(room.f_bavail, 0u) << "the destination was filled";
  // What was recovered before the disk filled is still there, whole: each file's first line
  // is its own path on the volume (see the fixture makers), and its size is not cut.
  for (const std::string& path : written) {
    ASSERT_TRUE(fs::exists(path)) << path;
    std::ifstream in(path);
    std::string first;
    std::getline(in, first);
    const std::string base = fs::path(path).filename().string();
    if (base.find('_') == std::string::npos) {
      EXPECT_NE(first.find(base), std::string::npos) << path << " begins with " << first;
    }
  }
}

// 400 deleted entries of a 32 MiB FAT16 volume each claim 4 GiB (13 GB in all). No file
// grows past what the volume holds, each one the volume cannot fill ends with a failure
// line, and the run stops with a clear line once the destination has no room left, so what
// it writes stays within the destination's free space.
TEST(CraftedSizeTest, ClaimedSizesAreBoundedByTheVolumeAndTheDestination) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  if (!have_program("mkfs.fat") || !have_program("mcopy"))
    GTEST_SKIP() << "needs dosfstools and mtools";
  TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::string files = dir.path() + "/files";
  fs::create_directories(files);
  for (int i = 0; i < 400; ++i) std::ofstream(files + "/F" + std::to_string(i) + ".BIN") << "x";
  ASSERT_EQ(
      run_command("export MTOOLS_SKIP_CHECK=1; mkfs.fat -C -F 16 -i 12345678 " +
                  shell_quote(image) + " 32768 >/dev/null && mcopy -i " + shell_quote(image) + " " +
                  shell_quote(files) + "/* ::/ && mdel -i " + shell_quote(image) + " '::/*'")
          .exit_code,
      0);
  Bytes bytes = read_file(image);
  int claimed = 0;
  for (std::size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    if (bytes[at] == 0xE5 && bytes[at + 11] == 0x20 && bytes[at + 8] == 'B') {
      volume::write_le16(bytes, at + 28, 0xFFFF);
      volume::write_le16(bytes, at + 30, 0xFFFF);
      ++claimed;
    }
  }
  ASSERT_EQ(claimed, 400);
  write_file(image, bytes);

  const std::string dest = dir.path() + "/dest";
  fs::create_directories(dest);
  if (::mount("tmpfs", dest.c_str(), "tmpfs", 0, "size=96m") != 0)
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{dest};
  const CommandResult result = run_command(shell_quote(cli_path()) + " recover --to " +
                                           shell_quote(dest) + " " + shell_quote(image));
  EXPECT_EQ(result.exit_code, 1);
  const std::int64_t volume_bytes = static_cast<std::int64_t>(fs::file_size(image));
  int outputs = 0;
  for (const auto& e : fs::directory_iterator(dest)) {
    EXPECT_LE(static_cast<std::int64_t>(e.file_size()), volume_bytes) << e.path();
    ++outputs;
  }
  EXPECT_GE(outputs, 1);
  EXPECT_LT(outputs, 400);
  EXPECT_NE(
      result.err.find(messages::get_message(messages::english_base, messages::error_prefix) +
                      messages::get_message(messages::english_base, messages::file_not_whole)),
      std::string::npos)
      << result.err.substr(0, 2000);
  EXPECT_NE(
      result.err.find(messages::get_message(messages::english_base, messages::destination_full)),
      std::string::npos)
      << result.err.substr(result.err.size() > 2000 ? result.err.size() - 2000 : 0);
  struct statvfs room {};
  ASSERT_EQ(::statvfs(dest.c_str(), &room), 0);
  EXPECT_GT(room.f_bavail, 0u) << "the destination was filled";
}

}  // namespace
}  // namespace fennick::testing

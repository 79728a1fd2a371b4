// Failing media: the fixture volumes served through a FUSE file (tests/fixtures/failing-disk)
// that answers EIO for chosen byte ranges, or goes away in the middle of a run. A scan goes on
// past unreadable sectors and names them once; a recovered file that needed them is written
// with zeros exactly there and reported as such with its byte ranges; every other file comes
// out byte for byte as from the sound image; a medium that goes away ends the run with one
// clear line, and nothing hangs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "exfat/exfat_layout.h"
#include "fat/fat_layout.h"
#include "test_support.h"
#include "workflow/recovery_run.h"
#include "workflow/scan_run.h"

namespace fennick::workflow {
namespace {

namespace fs = std::filesystem;
using testing::run_command;
using testing::shell_quote;

std::vector<std::uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The image served by tests/fixtures/failing-disk at MOUNT/disk for the object's lifetime.
class FailingDisk {
 public:
  FailingDisk(const std::string& image,
              const std::vector<std::pair<std::uint64_t, std::uint64_t>>& bad,
              std::optional<std::uint64_t> vanish_at = std::nullopt) {
    std::string command = "/usr/bin/python3 " +
                          shell_quote(std::string(FENNICK_FIXTURE_SCRIPTS) + "/failing-disk") +
                          " " + shell_quote(image) + " " + shell_quote(mount_.path());
    for (const auto& [begin, end] : bad) {
      command += " --bad " + std::to_string(begin) + ":" + std::to_string(end);
    }
    if (vanish_at) command += " --vanish-at " + std::to_string(*vanish_at);
    const testing::CommandResult started =
        run_command(command + " >" + shell_quote(log_.path() + "/log") + " 2>&1 & echo $!");
    pid_ = std::atoi(started.out.c_str());
    for (int i = 0; i < 100 && !mounted(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~FailingDisk() {
    run_command("umount -l " + shell_quote(mount_.path()) + " 2>/dev/null");
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  FailingDisk(const FailingDisk&) = delete;
  FailingDisk& operator=(const FailingDisk&) = delete;

  bool mounted() const {
    return run_command("mountpoint -q " + shell_quote(mount_.path())).exit_code == 0;
  }
  std::string disk() const { return mount_.path() + "/disk"; }

 private:
  testing::TempDir mount_;
  testing::TempDir log_;
  int pid_ = 0;
};

// Why the tests cannot serve a failing disk here, or empty when they can.
std::string why_no_fuse() {
  if (::geteuid() != 0) return "mounting a FUSE file needs root";
  if (!fs::exists("/dev/fuse")) return "no /dev/fuse";
  if (run_command("/usr/bin/python3 -c 'import fusepy'").exit_code != 0) {
    return "python3-fusepy is not installed";
  }
  return {};
}

// A found file by where it came from, the same in every scan of the volume.
std::string key_of(const catalogue::FoundFile& f) {
  return std::string(f.path.view()) + std::string(f.name.view()) + "|" +
         std::to_string(f.fs_kind == volume::FileSystemKind::ntfs ? f.record_no : f.first_cluster);
}

// What one recovery run of every found file gave: the bytes of each file copied whole (graded
// overwritten or not) and of each file that has zeros in it or failed, by key_of.
struct RunResult {
  std::map<std::string, std::vector<std::uint8_t>> recovered;
  std::map<std::string, std::vector<std::uint8_t>> not_whole;
  std::map<std::string, engine::RecoveryOutcome> outcomes;
  std::map<std::string, std::string> output_paths;
  RecoverySummary summary;
};

RunResult recover_everything(testing::DriveScope& s, const std::string& destination,
                             const std::string& manifest = {}) {
  std::vector<std::int32_t> all;
  for (std::size_t i = 0; i < s.catalogue.files().size(); ++i) {
    if (s.catalogue.files()[i].size > 0) all.push_back(static_cast<std::int32_t>(i));
  }
  RunResult result;
  RecoverySettings settings;
  settings.destination = destination;
  settings.manifest_path = manifest;
  settings.after_file = [&](std::int32_t i, const RecoveryOutcome& outcome) {
    if (!outcome.engine_ran) return;
    const std::string key = key_of(s.catalogue.files()[static_cast<std::size_t>(i)]);
    const engine::RecoveryOutcome how = outcome.result.outcome();
    const bool whole =
        how == engine::RecoveryOutcome::recovered || how == engine::RecoveryOutcome::overwritten;
    (whole ? result.recovered : result.not_whole)[key] = read_all(outcome.output_path);
    result.outcomes[key] = how;
    result.output_paths[key] = outcome.output_path;
  };
  result.summary = recover_files(s.drives, s.catalogue, all, settings, s.run, s.channel);
  return result;
}

// Where the 4 KiB of the file at file_offset lie in the image; they are random bytes, so they
// are found once.
std::optional<std::uint64_t> place_in_image(const std::vector<std::uint8_t>& image,
                                            const std::vector<std::uint8_t>& file,
                                            std::size_t file_offset) {
  if (file.size() < file_offset + 4096) return std::nullopt;
  const auto needle_begin = file.begin() + static_cast<std::ptrdiff_t>(file_offset);
  const auto found = std::search(image.begin(), image.end(), needle_begin, needle_begin + 4096);
  if (found == image.end()) return std::nullopt;
  if (std::search(found + 1, image.end(), needle_begin, needle_begin + 4096) != image.end()) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(found - image.begin());
}

std::vector<std::string> found_paths(const catalogue::Catalogue& catalogue) {
  std::vector<std::string> rows;
  for (const catalogue::FoundFile& f : catalogue.files()) {
    rows.push_back(std::string(f.path.view()) + std::string(f.name.view()));
  }
  return rows;
}

bool has_line(const messages::RecordingChannel& channel, const std::string& prefix) {
  return std::any_of(channel.lines.begin(), channel.lines.end(),
                     [&](const std::string& l) { return l.starts_with(prefix); });
}

std::size_t lines_starting(const messages::RecordingChannel& channel, const std::string& prefix) {
  return static_cast<std::size_t>(
      std::count_if(channel.lines.begin(), channel.lines.end(),
                    [&](const std::string& l) { return l.starts_with(prefix); }));
}

// Where on the volume the entry of a found file lies (its directory entry set or MFT record).
std::uint64_t entry_position(const testing::DriveScope& clean, const catalogue::FoundFile& f,
                             const std::vector<std::uint8_t>& image) {
  if (f.fs_kind == volume::FileSystemKind::ntfs) {
    return static_cast<std::uint64_t>(f.entry_cluster * clean.drives.at(0).cluster_size +
                                      f.entry_offset);
  }
  if (f.fs_kind == volume::FileSystemKind::exfat) {
    const auto layout = exfat::read_layout(std::span<const std::uint8_t>(image.data(), 512));
    if (!layout.layout) return 0;
    return static_cast<std::uint64_t>(
        layout.layout->cluster_position(static_cast<std::uint32_t>(f.entry_cluster)) +
        f.entry_offset);
  }
  const fat::FatLayout layout = fat::make_layout(std::span<const std::uint8_t>(image.data(), 512),
                                                 f.fs_kind, clean.drives.at(0).total_bytes);
  return static_cast<std::uint64_t>(
      layout.cluster_position(static_cast<std::uint32_t>(f.entry_cluster)) + f.entry_offset);
}

class FailingMediaTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (const std::string why = why_no_fuse(); !why.empty()) GTEST_SKIP() << why;
    image_ = testing::fixture_image(GetParam());
    if (image_.empty()) GTEST_SKIP() << GetParam() << " was not made";
  }
  std::string image_;
  testing::TempDir out_;
};

TEST_P(FailingMediaTest, ScanAndRecoveryGoOnPastUnreadableSectors) {
  const std::vector<std::uint8_t> image = read_all(image_);
  testing::DriveScope clean(image_);
  ASSERT_TRUE(clean.scan());
  const RunResult sound = recover_everything(clean, out_.path() + "/sound");
  ASSERT_TRUE(sound.not_whole.empty() || !sound.recovered.empty());

  // The file whose contents get two unreadable sectors: the largest one recovered whole
  // whose bytes from 4096 on are found in the image.
  std::string victim;
  std::uint64_t place = 0;
  for (const auto& [name, bytes] : sound.recovered) {
    if (bytes.size() < 16384 ||
        (!victim.empty() && bytes.size() <= sound.recovered.at(victim).size())) {
      continue;
    }
    if (const auto at = place_in_image(image, bytes, 4096)) {
      victim = name;
      place = *at;
    }
  }
  ASSERT_FALSE(victim.empty()) << "no file to damage";
  ASSERT_EQ(place % 512, 0u);

  // The entry of another found file (not a folder, not the victim) gets an unreadable sector.
  const catalogue::FoundFile* lost = nullptr;
  for (const catalogue::FoundFile& f : clean.catalogue.files()) {
    if (f.size > 0 && f.size < 4096 && key_of(f) != victim && f.entry_cluster > 0) {
      lost = &f;
    }
  }
  ASSERT_NE(lost, nullptr);
  const std::uint64_t entry = entry_position(clean, *lost, image) / 512 * 512;

  FailingDisk disk(image_, {{place + 512, place + 1536}, {entry, entry + 512}});
  ASSERT_TRUE(disk.mounted());
  testing::DriveScope failing(disk.disk());
  ASSERT_EQ(failing.drive().kind, clean.drive().kind);

  // The scan ends as usual; it names the unreadable sector it met, once.
  ASSERT_TRUE(scan_drive(failing.drive(), failing.catalogue, failing.run, failing.channel, {}));
  EXPECT_TRUE(has_line(failing.channel, " End scan ")) << failing.channel.lines.back();
  EXPECT_EQ(lines_starting(failing.channel,
                           " Read error, these bytes of the volume cannot be read and are "
                           "skipped: " +
                               std::to_string(entry) + "-" + std::to_string(entry + 511)),
            1u);
  EXPECT_TRUE(failing.channel.dialogs.empty());
  // It lost the file whose entry could not be read (and, on FAT, what followed it in that
  // folder, with the folders below), and nothing from anywhere else.
  const std::vector<std::string> found = found_paths(failing.catalogue);
  const std::string lost_path = std::string(lost->path.view()) + std::string(lost->name.view());
  EXPECT_EQ(std::count(found.begin(), found.end(), lost_path), 0) << lost_path;
  for (const catalogue::FoundFile& f : clean.catalogue.files()) {
    if (f.parent_dir == lost->parent_dir) continue;
    if (f.fs_kind != volume::FileSystemKind::ntfs && f.path.view().starts_with(lost->path.view())) {
      continue;
    }
    const std::string path = std::string(f.path.view()) + std::string(f.name.view());
    EXPECT_EQ(std::count(found.begin(), found.end(), path), 1) << path;
  }

  // The recovery: the victim has zeros exactly in the two sectors and is reported with
  // their byte range. Every other file is byte for byte what the sound image gave, except
  // one whose presumed clusters ran over the damaged ones (FAT recovery takes the free
  // clusters after the first): it has zeros too, with zeros only in the ranges its
  // line names.
  const std::string manifest = out_.path() + "/damaged.sha256";
  const RunResult damaged = recover_everything(failing, out_.path() + "/damaged", manifest);
  EXPECT_TRUE(damaged.summary.any_failed);
  EXPECT_FALSE(damaged.summary.stopped);
  ASSERT_EQ(damaged.not_whole.count(victim), 1u) << victim;
  // The run ends with the count of each kind, before its end line: zeros are not recovered
  // whole, and neither is a file graded overwritten.
  std::map<engine::RecoveryOutcome, std::size_t> counts;
  for (const auto& [key, how] : damaged.outcomes) ++counts[how];
  EXPECT_EQ(counts[engine::RecoveryOutcome::failed], 0u);
  EXPECT_EQ(damaged.summary.with_zeros, static_cast<std::int64_t>(damaged.not_whole.size()));
  ASSERT_GE(failing.channel.lines.size(), 2u);
  const std::size_t overwritten = counts[engine::RecoveryOutcome::overwritten];
  EXPECT_EQ(failing.channel.lines[failing.channel.lines.size() - 2],
            " Files recovered: " + std::to_string(counts[engine::RecoveryOutcome::recovered]) +
                (overwritten ? ", overwritten: " + std::to_string(overwritten) : "") +
                ", with zeros for unreadable bytes: " + std::to_string(damaged.not_whole.size()) +
                ", not recovered: 0");
  EXPECT_EQ(failing.channel.lines.back(), " End undelete");
  const auto zeros_named = [&](const std::string& key) {
    const std::string start = " Recovered with zeros in place of bytes that could not be read: " +
                              damaged.output_paths.at(key) + ": ";
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (const std::string& l : failing.channel.lines) {
      if (!l.starts_with(start)) continue;
      std::istringstream list(l.substr(start.size()));
      std::string range;
      while (std::getline(list, range, ',')) {
        const std::size_t dash = range.find('-');
        ranges.emplace_back(std::stoull(range.substr(0, dash)),
                            std::stoull(range.substr(dash + 1)));
      }
    }
    return ranges;
  };
  EXPECT_EQ(zeros_named(victim), (std::vector<std::pair<std::size_t, std::size_t>>{{4608, 5631}}));

  // The hash manifest: sha256sum checks every file the run left, and its table marks the
  // victim with the range written as zeros, the whole files as recovered.
  EXPECT_EQ(run_command("cd " + shell_quote(out_.path() + "/damaged") +
                        " && sha256sum --quiet -c " + shell_quote(manifest))
                .exit_code,
            0);
  EXPECT_TRUE(has_line(failing.channel, " Hash manifest written: " + manifest));
  std::map<std::string, std::vector<std::string>> rows;  // by output path
  {
    std::ifstream table(manifest + ".tsv");
    std::string line;
    std::getline(table, line);
    EXPECT_EQ(line, "path\tdrive\tsource\trecord\tsize\tquality\toutcome\tzero_ranges\tsha256");
    while (std::getline(table, line)) {
      std::vector<std::string> cells;
      std::istringstream fields(line);
      std::string cell;
      while (std::getline(fields, cell, '\t')) cells.push_back(cell);
      if (line.ends_with('\t')) cells.emplace_back();
      ASSERT_EQ(cells.size(), 9u) << line;
      rows[out_.path() + "/damaged/" + cells[0]] = cells;
    }
  }
  EXPECT_EQ(rows.size(), damaged.recovered.size() + damaged.not_whole.size());
  const auto& victim_row = rows[damaged.output_paths.at(victim)];
  ASSERT_EQ(victim_row.size(), 9u);
  EXPECT_EQ(victim_row[1], "C:");
  EXPECT_EQ(victim_row[2], disk.disk());
  EXPECT_EQ(victim_row[6], "zeros");
  EXPECT_EQ(victim_row[7], "4608-5631");
  for (const auto& [key, bytes] : damaged.recovered) {
    const auto& row = rows[damaged.output_paths.at(key)];
    ASSERT_EQ(row.size(), 9u) << key;
    EXPECT_EQ(row[6], damaged.outcomes.at(key) == engine::RecoveryOutcome::overwritten
                          ? "overwritten"
                          : "recovered")
        << key;
    EXPECT_EQ(row[7], "") << key;
    EXPECT_EQ(row[4], std::to_string(bytes.size())) << key;
  }
  std::size_t whole = 0;
  for (const auto& [key, bytes] : sound.recovered) {
    if (key == key_of(*lost)) continue;
    if (damaged.recovered.count(key) == 0 && damaged.not_whole.count(key) == 0) {
      // Not found by the scan of the damaged volume: checked above.
      continue;
    }
    if (damaged.recovered.count(key) != 0) {
      EXPECT_TRUE(damaged.recovered.at(key) == bytes) << key;
      ++whole;
      continue;
    }
    ASSERT_EQ(damaged.not_whole.count(key), 1u) << key;
    std::vector<std::uint8_t> expected = bytes;
    const auto ranges = zeros_named(key);
    EXPECT_FALSE(ranges.empty()) << key;
    for (const auto& [first, last] : ranges) {
      ASSERT_LT(last, expected.size()) << key;
      std::fill(expected.begin() + static_cast<std::ptrdiff_t>(first),
                expected.begin() + static_cast<std::ptrdiff_t>(last) + 1, 0);
    }
    EXPECT_TRUE(damaged.not_whole.at(key) == expected) << key << ": zeros only where named";
  }
  EXPECT_GE(whole, sound.recovered.size() / 2) << "most files never touch the damage";
}

TEST_P(FailingMediaTest, AMediumThatGoesAwayEndsTheRunCleanly) {
  const std::vector<std::uint8_t> image = read_all(image_);
  testing::DriveScope clean(image_);
  ASSERT_TRUE(clean.scan());
  const RunResult sound = recover_everything(clean, out_.path() + "/sound");
  // It goes away when the largest file's contents are reached.
  std::optional<std::uint64_t> place;
  std::size_t largest = 0;
  for (const auto& [name, bytes] : sound.recovered) {
    if (bytes.size() <= largest) continue;
    if (const auto at = place_in_image(image, bytes, 0)) {
      place = at;
      largest = bytes.size();
    }
  }
  ASSERT_TRUE(place.has_value());

  FailingDisk disk(image_, {}, *place + 100);
  ASSERT_TRUE(disk.mounted());
  testing::DriveScope failing(disk.disk());
  ASSERT_TRUE(failing.scan());
  ASSERT_FALSE(failing.run.source_lost()) << "the scan does not read file contents";
  const auto started = std::chrono::steady_clock::now();
  const RunResult run = recover_everything(failing, out_.path() + "/gone");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
  EXPECT_TRUE(run.summary.any_failed);
  EXPECT_TRUE(run.summary.stopped);
  EXPECT_TRUE(failing.run.source_lost());
  EXPECT_EQ(lines_starting(failing.channel, " Read error: the medium is gone"), 1u);
  EXPECT_EQ(failing.channel.dialogs.size(), 1u);
  EXPECT_TRUE(has_line(failing.channel, " Undelete process interrupted"))
      << failing.channel.lines.back();

  // A scan on the gone medium says so and ends.
  failing.run.clear_stop();
  failing.catalogue = catalogue::Catalogue();
  EXPECT_FALSE(scan_drive(failing.drive(), failing.catalogue, failing.run, failing.channel, {}));
  EXPECT_TRUE(failing.channel.lines.back().starts_with(" ERROR: Drive Error"))
      << failing.channel.lines.back();
}

INSTANTIATE_TEST_SUITE_P(Volumes, FailingMediaTest,
                         ::testing::Values("fat32.img", "ntfs.img", "exfat.img"),
                         [](const auto& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

// The command line: a recovery that met unreadable sectors ends with status 1.
TEST(FailingMediaCliTest, ARecoveryWithUnreadableBytesEndsWithStatusOne) {
  if (const std::string why = why_no_fuse(); !why.empty()) GTEST_SKIP() << why;
  const std::string image = testing::fixture_image("fat16.img");
  if (image.empty()) GTEST_SKIP() << "fat16.img was not made";
  // Every sector past the first 128 KiB (the FATs, the root folder and the first files)
  // fails.
  const std::uint64_t size = fs::file_size(image);
  FailingDisk disk(image, {{128 * 1024, size}});
  ASSERT_TRUE(disk.mounted());
  testing::TempDir out;
  const testing::CommandResult r =
      run_command(shell_quote(testing::cli_path()) + " recover --to " + shell_quote(out.path()) +
                  " " + shell_quote(disk.disk()));
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  const std::string said = r.out + r.err;
  EXPECT_NE(said.find(" Read error, these bytes of the volume cannot be read"), std::string::npos)
      << said;
  EXPECT_NE(said.find(" Recovered with zeros in place of bytes"), std::string::npos) << said;
}

}  // namespace
}  // namespace fennick::workflow

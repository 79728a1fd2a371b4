// The NTFS deep scan: MFT records outside the MFT. On a volume quick-formatted by mkntfs over
// a tree that ntfs-3g wrote, the old records past the new MFT are found with their names and
// folders and recovered whole; on a copy of the fixture volume whose deleted files' records
// were copied to free clusters, the copies add nothing while the MFT holds the same, and
// stand in for the MFT's records once those are destroyed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cleaning/mounted_ntfs.h"
#include "messages/program_texts.h"
#include "ntfs/ntfs_layout.h"
#include "ntfs/ntfs_volume.h"
#include "test_support.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"

namespace fennick::ntfs {
namespace {

namespace fs = std::filesystem;
using testing::DriveScope;
using testing::run_command;
using testing::sha256_of;
using testing::shell_quote;

// Bytes that begin with the file's path, then a pattern of its own.
std::string content_of(const std::string& rel, std::size_t size) {
  std::string text = rel + "\n";
  for (std::size_t i = 0; text.size() < size; ++i) {
    text.push_back(static_cast<char>('a' + (i * 7 + rel.size()) % 26));
  }
  text.resize(size);
  return text;
}

// "C:\Lost folders\Folder 64\Holiday 2023\" + "a.dat" -> "/Holiday 2023/a.dat", and
// "C:\Documents\a.dat" -> "/Documents/a.dat": the part a written path must end in.
std::string known_part(const catalogue::FoundFile& f, const std::string& lost) {
  std::string path = f.path.str().substr(2);
  if (path.starts_with(lost)) path = path.substr(path.find('\\', lost.size()));
  path += f.name.str();
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

TEST(NtfsDeepScanTest, FindsTheOldFilesAfterAQuickFormatWithTheirNamesAndFolders) {
  if (!testing::can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  testing::NtfsImage volume(64);
  std::map<std::string, std::string> written;  // "/Photos/Holiday 2023/f 3.dat" -> content
  ASSERT_TRUE(volume.mount());
  // Files in the old root first: their records are the first the new MFT takes again. They
  // are not counted.
  for (int i = 0; i < 40; ++i) {
    const std::string rel = "/root " + std::to_string(i) + ".txt";
    written[rel] = content_of(rel, 900);
    std::ofstream(volume.mount_point() + rel) << written[rel];
  }
  for (const std::string folder : {"/Photos", "/Photos/Holiday 2023", "/Photos/Holiday 2023/Beach",
                                   "/Documents", "/Documents/Work reports Ölfarbe"}) {
    fs::create_directories(volume.mount_point() + folder);
    for (int i = 0; i < 60; ++i) {
      const std::string rel = folder + "/file " + std::to_string(i) + ".dat";
      // Small files stay inside their record; the others take clusters.
      const std::size_t size = i % 10 == 0 ? 300 : 2000 + 1537 * static_cast<std::size_t>(i);
      written[rel] = content_of(rel, size);
      std::ofstream(volume.mount_point() + rel, std::ios::binary) << written[rel];
    }
  }
  volume.unmount();
  ASSERT_EQ(
      run_command("mkntfs -F -Q -q " + shell_quote(volume.image()) + " >/dev/null 2>&1").exit_code,
      0);
  ASSERT_TRUE(volume.mount());
  std::ofstream(volume.path("new.txt")) << std::string(30000, 'n');
  volume.unmount();

  DriveScope plain(volume.image());
  ASSERT_TRUE(plain.scan());
  for (const auto& f : plain.catalogue.files()) {
    EXPECT_FALSE(f.path.str().starts_with("C:\\Photos")) << "the walk finds old files";
  }

  DriveScope s(volume.image());
  ASSERT_TRUE(s.scan(true));
  const std::string lost = "\\" + s.channel.text(messages::lost_folders) + "\\";
  testing::TempDir out;
  std::size_t found = 0;
  std::size_t exact = 0;
  std::size_t below_named_sub_folder = 0;
  for (const auto& f : s.catalogue.files()) {
    if (!f.found_by_deep_scan) continue;
    const std::string part = known_part(f, lost);
    std::vector<const std::string*> could_be;
    for (const auto& [rel, bytes] : written) {
      if (rel.ends_with(part)) could_be.push_back(&bytes);
    }
    ASSERT_FALSE(could_be.empty()) << f.path.str() << f.name.str() << " was not written";
    if (std::count(part.begin(), part.end(), '/') < 2) continue;  // a file of the old root
    ++found;
    if (part.find("/Beach/") != std::string::npos ||
        part.find("/Work reports Ölfarbe/") != std::string::npos) {
      ++below_named_sub_folder;
    }
    const std::string copy = out.path() + "/" + std::to_string(found);
    EXPECT_FALSE(s.recover(f, copy).failed) << part;
    std::ifstream in(copy, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const bool same = std::any_of(could_be.begin(), could_be.end(),
                                  [&](const std::string* w) { return *w == bytes; });
    exact += same ? 1 : 0;
    if (f.quality == 100) {
      EXPECT_TRUE(same) << part << " graded 100";
    }
  }
  const std::size_t in_folders = written.size() - 40;
  EXPECT_GE(found * 10, in_folders * 9) << found << " of " << in_folders;
  EXPECT_GE(exact * 10, in_folders * 8) << exact << " of " << in_folders;
  EXPECT_GE(below_named_sub_folder, 100u);
}

// The fixture's whole MFT copied to free clusters, as the old place of a moved MFT holds it.
// The copies add nothing while the MFT holds the same records; once the MFT's records of the
// deleted files are destroyed, the copies stand in for them, in the same folders (the copies
// of the folder records equal the MFT's, which gives their paths).
TEST(NtfsDeepScanTest, CopiesOfMftRecordsCountOnlyWhenTheMftLostThem) {
  const std::string fixture = testing::fixture_image("ntfs.img");
  if (fixture.empty()) GTEST_SKIP() << "ntfs.img was not made (needs root and FUSE)";
  if (!testing::have_program("icat")) GTEST_SKIP() << "needs The Sleuth Kit";
  testing::TempDir dir;
  const std::string image = dir.path() + "/ntfs.img";
  fs::copy_file(fixture, image);

  DriveScope plain(image);
  ASSERT_TRUE(plain.scan());
  const std::vector<catalogue::FoundFile> files = plain.catalogue.files();
  ASSERT_GT(files.size(), 10u);
  std::map<std::int32_t, std::string> recovered;  // record -> sha256, from the MFT
  testing::TempDir out;
  for (const auto& f : files) {
    const std::string copy = out.path() + "/" + std::to_string(f.record_no);
    plain.recover(f, copy);
    recovered[f.record_no] = sha256_of(copy);
  }

  // Where each record lies, and free clusters enough for all of them at the volume's end, away
  // from the deleted files' data near its start.
  NtfsVolume v;
  run::RunControl run;
  messages::RecordingChannel channel;
  ASSERT_TRUE(open_ntfs_volume(v, plain.drive(), channel, run));
  ASSERT_TRUE(load_mft(v));
  const Geometry g = v.geometry;
  std::vector<std::int64_t> places;
  for (std::int64_t n = 0; n < v.record_count; ++n) {
    const auto record = read_file_record(v, n);
    places.push_back(record ? record->cluster * g.cluster_size + record->offset : -1);
  }
  const std::int64_t needed =
      (static_cast<std::int64_t>(places.size()) * g.record_size + g.cluster_size - 1) /
      g.cluster_size;
  std::int64_t first_free = 0;
  std::int64_t run_length = 0;
  const std::string bitmap = run_command("icat " + shell_quote(image) + " 6").out;
  ASSERT_GE(static_cast<std::int64_t>(bitmap.size()) * 8, g.total_clusters);
  for (std::int64_t c = g.total_clusters - 1; c > 0 && run_length < needed; --c) {
    const bool used =
        (static_cast<std::uint8_t>(bitmap[static_cast<std::size_t>(c / 8)]) >> (c % 8)) & 1;
    // The engine reads the same bitmap.
    if (c % 1024 == 0) {
      EXPECT_EQ(cluster_in_use(v, c), used) << c;
    }
    run_length = used ? 0 : run_length + 1;
    first_free = c;
  }
  ASSERT_EQ(run_length, needed);
  v.reader.reset();

  std::vector<std::uint8_t> bytes = testing::read_bytes(image);
  for (std::size_t n = 0; n < places.size(); ++n) {
    if (places[n] < 0) continue;
    std::copy_n(
        bytes.begin() + places[n], g.record_size,
        bytes.begin() + first_free * g.cluster_size + static_cast<std::int64_t>(n) * g.record_size);
  }
  ASSERT_TRUE(testing::write_bytes(image, bytes));
  {
    DriveScope s(image);
    ASSERT_TRUE(s.scan(true));
    EXPECT_EQ(s.catalogue.files().size(), files.size()) << "copies the MFT holds add nothing";
    for (const auto& f : s.catalogue.files()) EXPECT_EQ(f.found_by_deep_scan, 0);
  }

  for (const auto& f : files) {
    std::fill_n(bytes.begin() + places.at(static_cast<std::size_t>(f.record_no)), g.record_size,
                std::uint8_t{0});
  }
  ASSERT_TRUE(testing::write_bytes(image, bytes));
  DriveScope s(image);
  ASSERT_TRUE(s.scan(true));
  ASSERT_EQ(s.catalogue.files().size(), files.size());
  for (const auto& f : s.catalogue.files()) {
    EXPECT_EQ(f.found_by_deep_scan, 1);
    EXPECT_GE(f.entry_cluster, first_free);
    const auto was = std::find_if(files.begin(), files.end(),
                                  [&](const auto& w) { return w.record_no == f.record_no; });
    ASSERT_NE(was, files.end()) << f.path.str() << f.name.str();
    EXPECT_EQ(f.path.str(), was->path.str());
    EXPECT_EQ(f.name.str(), was->name.str());
    EXPECT_EQ(f.size, was->size) << f.name.str();
    EXPECT_EQ(f.quality, was->quality) << f.name.str();
    const std::string copy = out.path() + "/deep";
    s.recover(f, copy);
    EXPECT_EQ(sha256_of(copy), recovered[f.record_no]) << f.name.str();
  }

  // A wipe of a deep find zeroes its copy and nothing else.
  const catalogue::FoundFile target = s.catalogue.files().front();
  EXPECT_EQ(s.wipe(target), engine::WipeOutcome::wiped);
  const std::vector<std::uint8_t> after = testing::read_bytes(image);
  ASSERT_EQ(after.size(), bytes.size());
  const auto place =
      static_cast<std::size_t>(target.entry_cluster * g.cluster_size + target.entry_offset);
  const auto end = place + static_cast<std::size_t>(g.record_size);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + place, bytes.begin()));
  EXPECT_TRUE(
      std::all_of(after.begin() + place, after.begin() + end, [](auto b) { return b == 0; }));
  EXPECT_TRUE(std::equal(after.begin() + end, after.end(), bytes.begin() + end));
  DriveScope again(image);
  ASSERT_TRUE(again.scan(true));
  EXPECT_EQ(again.catalogue.files().size(), files.size() - 1);
}

}  // namespace
}  // namespace fennick::ntfs

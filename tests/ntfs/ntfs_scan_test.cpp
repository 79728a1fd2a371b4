// NTFS deleted-file scan: on the fixture volume against ntfsundelete and fls, on small volumes
// made by mkntfs and ntfs-3g for deep and reused folders, and on damaged copies in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "catalogue/catalogue.h"
#include "cleaning/mounted_ntfs.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_engine.h"
#include "ntfs/ntfs_volume.h"
#include "run/run_control.h"
#include "test_support.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"

namespace fennick::ntfs {
namespace {

using testing::sha256_of;

using testing::DriveScope;

using catalogue::FoundFile;
using testing::run_command;
using testing::shell_quote;

// A text of the program's block as the English log holds it.
std::string english(int k) { return messages::get_message(messages::english_base, k); }

std::vector<FoundFile> found(const catalogue::Catalogue& catalogue) { return catalogue.files(); }

const FoundFile* by_record(const std::vector<FoundFile>& files, std::int64_t record) {
  for (const auto& f : files) {
    if (f.record_no == record) return &f;
  }
  return nullptr;
}

std::string ntfs_image_or_skip() { return testing::fixture_image("ntfs.img"); }

struct UndeleteEntry {
  std::int64_t record = 0;
  std::string flags;
  int percent = 0;
  std::int64_t size = 0;
  std::string name;
};

// Every free record ntfsundelete -s lists.
std::vector<UndeleteEntry> ntfsundelete_list(const std::string& image) {
  const auto r = run_command("ntfsundelete -s " + shell_quote(image) + " 2>/dev/null");
  static const std::regex line_re(R"(^(\d+)\s+(\S+)\s+(\d+)%\s+\S+\s+\S+\s+(\d+)\s+(.*)$)");
  std::vector<UndeleteEntry> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, line_re)) continue;
    out.push_back({std::stoll(m[1]), m[2], std::stoi(m[3]), std::stoll(m[4]), m[5]});
  }
  return out;
}

struct FlsEntry {
  std::int64_t record = 0;
  bool directory = false;
  std::string path;  // "Documents/Report for May.doc"
};

std::vector<FlsEntry> fls_deleted(const std::string& image) {
  const auto r = run_command("fls -r -d -p " + shell_quote(image));
  static const std::regex line_re(R"(^[-rd]/([rd]) \* (\d+)(-\d+-\d+)?:\t(.*)$)");
  std::vector<FlsEntry> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, line_re)) continue;
    if (m[4].str().starts_with("$OrphanFiles")) continue;
    out.push_back({std::stoll(m[2]), m[1] == "d", m[4]});
  }
  return out;
}

// "C:\Documents\" + "Report for May.doc" -> "Documents/Report for May.doc"
std::string slash_path(const FoundFile& f) {
  std::string p = f.path.str().substr(3) + f.name.str();
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

TEST(NtfsScanTest, FindsWhatNtfsundeleteFindsWithTheSameNamesSizesAndQuality) {
  const std::string image = ntfs_image_or_skip();
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  if (!testing::have_program("ntfsundelete")) GTEST_SKIP() << "ntfsundelete missing";
  const std::string before = sha256_of(image);
  DriveScope s(image);
  ASSERT_EQ(s.drive().fs_name(), "NTFS");
  const messages::RecordingChannel& log = s.channel;
  EXPECT_TRUE(s.scan());
  const auto files = found(s.catalogue);
  ASSERT_FALSE(files.empty());

  int compared = 0;
  for (const UndeleteEntry& e : ntfsundelete_list(image)) {
    // Directories and records without a name are not files to list.
    if (e.flags.find('D') != std::string::npos || e.name == "<none>" || e.size == 0) continue;
    const FoundFile* f = by_record(files, e.record);
    ASSERT_NE(f, nullptr) << "record " << e.record << " " << e.name;
    EXPECT_EQ(f->name.str(), e.name);
    EXPECT_EQ(f->size, e.size) << e.name;
    EXPECT_EQ(f->fs_name(), "NTFS");
    EXPECT_EQ(f->drive_letter, 'c');
    EXPECT_EQ(f->selected, 0);
    EXPECT_GT(f->entry_cluster, 0);
    // ntfsundelete shows compressed files as 0% and counts sparse holes as free.
    const bool compressed = e.flags.find('C') != std::string::npos;
    if (!compressed && f->name.str().find("Sparse") == std::string::npos) {
      EXPECT_NEAR(f->quality, e.percent, 1) << e.name;
    }
    ++compared;
  }
  EXPECT_GE(compared, 10);
  // Nothing is listed that ntfsundelete does not know as a free record.
  const auto listed = ntfsundelete_list(image);
  for (const auto& f : files) {
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const UndeleteEntry& e) {
      return e.record == f.record_no;
    })) << f.name.str();
  }
  EXPECT_TRUE(log.dialogs.empty());
  EXPECT_EQ(log.progress, 100);
  EXPECT_EQ(sha256_of(image), before) << "a scan never writes";
}

TEST(NtfsScanTest, PathsAgreeWithFlsAndTheFolderListHoldsEveryFolderOnThem) {
  const std::string image = ntfs_image_or_skip();
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  DriveScope s(image);
  ASSERT_TRUE(s.scan());
  const auto files = found(s.catalogue);
  int compared = 0;
  std::map<std::int64_t, std::string> fls_folders;
  for (const FlsEntry& e : fls_deleted(image)) {
    if (e.directory) {
      fls_folders[e.record] = e.path;
      continue;
    }
    const FoundFile* f = by_record(files, e.record);
    if (f == nullptr) continue;  // fls lists deleted entries whose record was reused
    EXPECT_EQ(slash_path(*f), e.path);
    ++compared;
  }
  EXPECT_GE(compared, 10);

  // Every folder of every path is in the list once, deleted folders marked as such.
  const auto& folders = s.catalogue.folders(0);
  std::set<std::int32_t> ids;
  for (const auto& folder : folders) {
    EXPECT_TRUE(ids.insert(folder.dir_id).second) << "folder " << folder.dir_id << " twice";
    EXPECT_EQ(folder.fs_kind, volume::FileSystemKind::ntfs);
    EXPECT_NE(folder.dir_id, catalogue::ROOT_FOLDER_ID);
    if (fls_folders.count(folder.dir_id)) {
      EXPECT_EQ(folder.deleted, 1) << folder.name.str();
    }
  }
  for (const auto& [record, path] : fls_folders) {
    const auto entry = s.catalogue.find_folder(0, static_cast<std::int32_t>(record));
    if (!entry) continue;
    EXPECT_EQ(path.substr(path.rfind('/') + 1), entry->name.str());
  }
  for (const auto& f : files) {
    if (f.parent_dir != catalogue::ROOT_FOLDER_ID) {
      EXPECT_TRUE(ids.count(f.parent_dir)) << f.name.str() << " in " << f.parent_dir;
    } else {
      EXPECT_EQ(f.path.str(), "C:\\");
    }
  }
}

TEST(NtfsScanTest, MatchesTheFixtureTruthForEveryDeletedFile) {
  const std::string image = ntfs_image_or_skip();
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  std::ifstream truth(image + ".truth.tsv");
  ASSERT_TRUE(truth.good());
  DriveScope s(image);
  ASSERT_TRUE(s.scan());
  const auto files = found(s.catalogue);
  std::string line;
  std::getline(truth, line);
  int deleted = 0;
  while (std::getline(truth, line)) {
    std::istringstream fields(line);
    std::string path, size, sha, state;
    std::getline(fields, path, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, state, '\t');
    const bool listed = std::any_of(files.begin(), files.end(), [&](const FoundFile& f) {
      return "/" + slash_path(f) == path && f.size == std::stoll(size);
    });
    if (state == "live") {
      EXPECT_FALSE(listed) << path;
    } else {
      ++deleted;
      EXPECT_TRUE(listed) << path << " (" << state << ")";
    }
  }
  EXPECT_GE(deleted, 10);
}

TEST(NtfsScanTest, ReportsProgressEveryHundredRecordsAndStopsWhenAsked) {
  const std::string image = ntfs_image_or_skip();
  if (image.empty()) GTEST_SKIP() << "ntfs.img fixture not built";
  DriveScope s(image);
  {
    messages::RecordingChannel log;
    ASSERT_TRUE(scan_ntfs(s.drive(), s.catalogue, s.run, log));
    // The counter moves only after a file whose record number is a multiple of 100.
    const auto files = found(s.catalogue);
    const auto at_hundred = std::find_if(files.begin(), files.end(),
                                         [](const FoundFile& f) { return f.record_no % 100 == 0; });
    if (at_hundred != files.end()) {
      EXPECT_EQ(log.file_counter, "Files: " + std::to_string(at_hundred - files.begin() + 1));
    } else {
      EXPECT_EQ(log.file_counter, "");
    }
  }
  s.catalogue.clear();
  {
    messages::RecordingChannel log;
    int pumps = 0;
    s.run.event_pump = [&] {
      if (++pumps == 80) s.run.request_stop();
    };
    EXPECT_TRUE(scan_ntfs(s.drive(), s.catalogue, s.run, log)) << "a stopped scan still succeeded";
    EXPECT_EQ(pumps, 80);
    for (const auto& f : found(s.catalogue)) EXPECT_LT(f.record_no, 79);
    EXPECT_EQ(log.progress, 100);
  }
}

// ---- small volumes made for one case each --------------------------------------------------

std::int64_t inode_of(const std::string& path) {
  return std::stoll("0" + run_command("stat -c %i " + shell_quote(path)).out);
}

TEST(NtfsScanTest, DeepChainsKeepTheTwentyNearestFoldersAndReusedParentsBecomePlaceholders) {
  if (!testing::can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  testing::NtfsImage m;
  const std::string image = m.image();
  std::int64_t orphan_record = 0;
  std::int64_t reused_parent = 0;
  {
    ASSERT_TRUE(m.mount());
    ASSERT_EQ(run_command("mkdir " + shell_quote(m.path("gone"))).exit_code, 0);
    reused_parent = inode_of(m.path("gone"));
    std::string deep;
    for (int i = 1; i <= 25; ++i) deep += "/d" + std::to_string(i);
    ASSERT_EQ(run_command("mkdir -p " + shell_quote(m.path(deep))).exit_code, 0);
    run_command("printf 'deep file' > " + shell_quote(m.path(deep + "/deep.txt")));
    run_command("printf 'orphaned' > " + shell_quote(m.path("gone/orphan.txt")));
    orphan_record = inode_of(m.path("gone/orphan.txt"));
    // A folder whose record a plain file takes after the folder is gone. ntfs-3g hands out
    // records from a position that only moves on while mounted, so the new file is made after
    // a remount, which starts again from the lowest free record: the folder's, made first.
    run_command("rm " + shell_quote(m.path(deep + "/deep.txt")));
    run_command("rm " + shell_quote(m.path("gone/orphan.txt")) + " && rmdir " +
                shell_quote(m.path("gone")));
    m.unmount();
  }
  {
    ASSERT_TRUE(m.mount());
    run_command("printf 'new owner' > " + shell_quote(m.path("new.txt")));
    if (inode_of(m.path("new.txt")) != reused_parent) {
      GTEST_SKIP() << "ntfs-3g did not reuse the folder's record";
    }
    m.unmount();
  }
  DriveScope s(image);
  ASSERT_TRUE(s.scan());
  const auto files = found(s.catalogue);
  const auto deep = std::find_if(files.begin(), files.end(),
                                 [](const FoundFile& f) { return f.name == "deep.txt"; });
  ASSERT_NE(deep, files.end());
  std::string expected = "C:\\";
  for (int i = 6; i <= 25; ++i) expected += "d" + std::to_string(i) + "\\";
  EXPECT_EQ(deep->path.str(), expected) << "only the 20 nearest folders";

  const FoundFile* orphan = by_record(files, orphan_record);
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->path.str(), "C:\\Deleted " + std::to_string(reused_parent) + "\\");
  const auto placeholder = s.catalogue.find_folder(0, static_cast<std::int32_t>(reused_parent));
  ASSERT_TRUE(placeholder.has_value());
  EXPECT_EQ(placeholder->parent_id, catalogue::ROOT_FOLDER_ID);
  EXPECT_EQ(placeholder->deleted, 1);
  // The live folders of the chain are in the list and not marked deleted.
  const auto& folders = s.catalogue.folders(0);
  const auto d25 = std::find_if(folders.begin(), folders.end(),
                                [](const catalogue::FolderEntry& e) { return e.name == "d25"; });
  ASSERT_NE(d25, folders.end());
  EXPECT_EQ(d25->deleted, 0);
}

// ---- damaged copies of the fixture in memory -------------------------------------------------

std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get64(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= std::uint64_t{b[at + i]} << (8 * i);
  return v;
}
std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Scans bytes in memory as NTFS drive C: into a catalogue of its own; the found files, the
// scan's result and the lines it logged.
std::vector<FoundFile> scan_memory(const std::vector<std::uint8_t>& bytes, bool& scanned,
                                   std::vector<std::string>& lines) {
  const workflow::Drive drive = testing::memory_drive(
      'c', std::make_shared<volume::MemorySource>(bytes), volume::FileSystemKind::ntfs);
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::RecordingChannel log;
  scanned = scan_ntfs(drive, catalogue, run, log);
  lines = log.lines;
  return catalogue.files();
}

// A fixture copy as drive C: in memory, with its record numbers' places known.
class MemoryCopy {
 public:
  MemoryCopy() {
    image_ = testing::fixture_image("ntfs.img");
    if (image_.empty()) return;
    bytes = read_file(image_);
    // Scan the file once to learn where each record lies.
    DriveScope s(image_);
    s.scan();
    for (const auto& f : found(s.catalogue)) places[f.record_no] = f;
  }
  bool ok() const { return !bytes.empty() && !places.empty(); }
  // Byte position of the record; the fixture's MFT records are contiguous 1 KiB blocks.
  std::size_t record_at(std::int32_t n) const {
    const auto& f = places.at(n);
    return static_cast<std::size_t>(f.entry_cluster * 4096 + f.entry_offset);
  }
  // Position of the first attribute of the type in the record at `at`, as stored.
  std::size_t attribute(std::size_t at, std::uint32_t type) const {
    std::size_t a = at + get16(bytes, at + 0x14);
    while (get32(bytes, a) != type && get32(bytes, a) != 0xFFFFFFFF) a += get32(bytes, a + 4);
    return a;
  }
  std::vector<FoundFile> scan() { return scan_memory(bytes, scanned, lines); }
  std::vector<std::uint8_t> bytes;
  std::map<std::int32_t, FoundFile> places;
  std::vector<std::string> lines;
  bool scanned = false;

 private:
  std::string image_;
};

std::int32_t record_named(const MemoryCopy& copy, const std::string& name) {
  for (const auto& [n, f] : copy.places) {
    if (f.name == name) return n;
  }
  return -1;
}

TEST(NtfsScanTest, DamagedRecordsAreSkippedOrReadSafely) {
  MemoryCopy copy;
  if (!copy.ok()) GTEST_SKIP() << "ntfs.img fixture not built";
  const std::size_t total = copy.places.size();
  const std::int32_t video = record_named(copy, "video.mp4");
  const std::int32_t notes = record_named(copy, "notes.txt");
  const std::int32_t invoice = record_named(copy, "Invoice 0042.pdf");
  const std::int32_t photo = record_named(copy, "写真.jpg");
  ASSERT_GE(std::min({video, notes, invoice, photo}), 0);

  // notes.txt: the first attribute's length is 0; the walk must end there.
  const std::size_t notes_at = copy.record_at(notes);
  put32(copy.bytes, notes_at + get16(copy.bytes, notes_at + 0x14) + 4, 0);
  // video.mp4: its data runs run past the attribute's end (no end marker, lengths of 0xFF).
  const std::size_t video_data = copy.attribute(copy.record_at(video), 0x80);
  const std::size_t runs = video_data + get16(copy.bytes, video_data + 0x20);
  for (std::size_t i = runs; i < video_data + get32(copy.bytes, video_data + 4); ++i) {
    copy.bytes[i] = 0x11;
  }
  // Invoice: the data attribute claims 2^40 clusters of a run far outside the volume.
  const std::size_t invoice_data = copy.attribute(copy.record_at(invoice), 0x80);
  put64(copy.bytes, invoice_data + 0x18, (std::uint64_t{1} << 40) - 1);
  const std::size_t invoice_runs = invoice_data + get16(copy.bytes, invoice_data + 0x20);
  const std::uint8_t huge_run[] = {0x46, 0, 0, 0, 0, 0, 1, 0x10, 0, 0, 0, 0, 0};
  std::copy(std::begin(huge_run), std::end(huge_run), copy.bytes.begin() + invoice_runs);
  // Photo: the name attribute's value offset points past the record.
  const std::size_t photo_name = copy.attribute(copy.record_at(photo), 0x30);
  copy.bytes[photo_name + 0x14] = 0xF0;
  copy.bytes[photo_name + 0x15] = 0x7F;

  const auto files = copy.scan();
  EXPECT_TRUE(copy.scanned);
  EXPECT_EQ(by_record(files, notes), nullptr) << "no readable name any more";
  EXPECT_NE(by_record(files, video), nullptr);
  const FoundFile* damaged_invoice = by_record(files, invoice);
  ASSERT_NE(damaged_invoice, nullptr);
  EXPECT_EQ(damaged_invoice->quality, 0) << "more clusters than the volume has";
  EXPECT_EQ(by_record(files, photo), nullptr) << "its name lies outside the record";
  EXPECT_EQ(files.size(), total - 2);
}

TEST(NtfsScanTest, AnMftOrBitmapLargerThanTheVolumeIsRefusedWithALogLine) {
  MemoryCopy copy;
  if (!copy.ok()) GTEST_SKIP() << "ntfs.img fixture not built";
  const auto mft_at = static_cast<std::size_t>(get64(copy.bytes, 0x30)) * 4096;
  const std::size_t data = copy.attribute(mft_at, 0x80);
  const auto original = copy.bytes;

  // $MFT's data size claims billions of records: only what fits the volume is walked.
  put64(copy.bytes, data + 0x30, std::uint64_t{1} << 50);
  const auto files = copy.scan();
  EXPECT_TRUE(copy.scanned);
  EXPECT_EQ(files.size(), copy.places.size());
  EXPECT_TRUE(std::any_of(copy.lines.begin(), copy.lines.end(), [](const std::string& l) {
    return l.starts_with(english(messages::mft_exceeds_volume) + std::to_string(1ULL << 50) +
                         english(messages::mft_records_read));
  }));

  // $MFT's bitmap claims 2^60 bytes: no allocation, the bitmap error and no files.
  copy.bytes = original;
  const std::size_t bitmap = copy.attribute(mft_at, 0xB0);
  put64(copy.bytes, bitmap + 0x18, std::uint64_t{1} << 48);
  EXPECT_TRUE(copy.scan().empty());
  EXPECT_TRUE(copy.scanned);
  EXPECT_TRUE(std::any_of(copy.lines.begin(), copy.lines.end(), [](const std::string& l) {
    return l == "error in MFT AttributeBitmap";
  }));

  // Record 0 no longer "FILE": the scan finds nothing but still succeeds.
  copy.bytes = original;
  copy.bytes[mft_at] = 'X';
  EXPECT_TRUE(copy.scan().empty());
  EXPECT_TRUE(copy.scanned);
  EXPECT_TRUE(std::any_of(copy.lines.begin(), copy.lines.end(),
                          [](const std::string& l) { return l == "Cannot load MFT"; }));
}

// ---- hand-made volumes in memory ------------------------------------------------------------

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// One 1 KiB MFT record with attributes appended one after another.
struct Record {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(1024, 0);
  std::size_t next = 0x38;
  Record(std::uint16_t flags, std::uint32_t number) {
    bytes[0] = 'F';
    bytes[1] = 'I';
    bytes[2] = 'L';
    bytes[3] = 'E';
    put16(bytes, 0x04, 0x30);  // update sequence array, 3 entries that match the blocks
    put16(bytes, 0x06, 3);
    put16(bytes, 0x14, 0x38);
    put16(bytes, 0x16, flags);
    put32(bytes, 0x2C, number);
    put32(bytes, next, 0xFFFFFFFF);
  }
  void resident(std::uint32_t type, const std::vector<std::uint8_t>& value) {
    const auto length = static_cast<std::uint32_t>((0x18 + value.size() + 7) & ~std::size_t{7});
    put32(bytes, next, type);
    put32(bytes, next + 4, length);
    put32(bytes, next + 0x10, static_cast<std::uint32_t>(value.size()));
    put16(bytes, next + 0x14, 0x18);
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(next + 0x18));
    next += length;
    put32(bytes, next, 0xFFFFFFFF);
  }
  void non_resident(std::uint32_t type, std::int64_t first_vcn, std::int64_t last_vcn,
                    const std::vector<std::uint8_t>& runs, std::int64_t data_size) {
    const auto length = static_cast<std::uint32_t>((0x40 + runs.size() + 1 + 7) & ~std::size_t{7});
    put32(bytes, next, type);
    put32(bytes, next + 4, length);
    bytes[next + 8] = 1;
    put64(bytes, next + 0x10, static_cast<std::uint64_t>(first_vcn));
    put64(bytes, next + 0x18, static_cast<std::uint64_t>(last_vcn));
    put16(bytes, next + 0x20, 0x40);
    put64(bytes, next + 0x28, static_cast<std::uint64_t>(data_size));
    put64(bytes, next + 0x30, static_cast<std::uint64_t>(data_size));
    put64(bytes, next + 0x38, static_cast<std::uint64_t>(data_size));
    std::copy(runs.begin(), runs.end(), bytes.begin() + static_cast<std::ptrdiff_t>(next + 0x40));
    next += length;
    put32(bytes, next, 0xFFFFFFFF);
  }
  void file_name(const std::string& ascii, std::uint8_t name_space, std::uint32_t parent = 5) {
    std::vector<std::uint8_t> value(0x42 + 2 * ascii.size(), 0);
    put32(value, 0, parent);
    value[0x40] = static_cast<std::uint8_t>(ascii.size());
    value[0x41] = name_space;
    for (std::size_t i = 0; i < ascii.size(); ++i)
      value[0x42 + 2 * i] = static_cast<std::uint8_t>(ascii[i]);
    resident(0x30, value);
  }
};

// A volume of 4096 sectors of 512 bytes whose MFT holds `records` records; boot sector
// fields as given. Records are placed by the caller.
struct HandMadeVolume {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(4096 * 512, 0);
  std::int64_t cluster = 0;
  HandMadeVolume(std::uint8_t sectors_per_cluster, std::uint8_t record_code,
                 std::int64_t mft_cluster) {
    put16(bytes, 0x0B, 512);
    bytes[0x0D] = sectors_per_cluster;
    put64(bytes, 0x28, 4096);
    put64(bytes, 0x30, static_cast<std::uint64_t>(mft_cluster));
    bytes[0x40] = record_code;
    std::memcpy(bytes.data() + 3, "NTFS    ", 8);
    cluster = 512 * sectors_per_cluster;
  }
  void place(const Record& r, std::int64_t byte_position) {
    std::copy(r.bytes.begin(), r.bytes.end(), bytes.begin() + byte_position);
  }
  std::vector<FoundFile> scan(std::vector<std::string>* lines = nullptr) {
    bool scanned = false;
    std::vector<std::string> logged;
    auto out = scan_memory(bytes, scanned, logged);
    EXPECT_TRUE(scanned);
    if (lines) *lines = logged;
    return out;
  }
};

Record deleted_file(const std::string& name, std::uint32_t number) {
  Record r(0, number);
  r.resident(0x10, std::vector<std::uint8_t>(0x48, 0));
  r.file_name(name, 1);
  r.resident(0x80, {'h', 'i'});
  return r;
}

// Record 0 of an MFT of `records` records in one run from mft_cluster, with a resident
// bitmap that marks records 0 and 1 in use.
Record mft_record(std::int64_t mft_cluster, std::int64_t clusters, std::int64_t records) {
  Record r(1, 0);
  r.file_name("$MFT", 3);
  std::vector<std::uint8_t> runs = {
      0x22, static_cast<std::uint8_t>(clusters), static_cast<std::uint8_t>(clusters >> 8),
      static_cast<std::uint8_t>(mft_cluster), static_cast<std::uint8_t>(mft_cluster >> 8)};
  r.non_resident(0x80, 0, clusters - 1, runs, records * 1024);
  r.resident(0xB0, {0x03, 0, 0, 0, 0, 0, 0, 0});
  return r;
}

TEST(NtfsVolumeTest, RecordsAreFoundWhereTheGeometryPutsThem) {
  struct Case {
    std::uint8_t sectors_per_cluster;
    std::uint8_t code;
    std::int64_t cluster;  // of record 7
    std::int32_t offset;
  };
  // 4 KiB clusters with 1 KiB records: record 7 is the last of VCN 1. 512-byte clusters with a
  // record of 2 clusters (code 2): VCN 14, offset 0.
  for (const Case c : {Case{8, 0xF6, 40 + 1, 3072}, Case{1, 0x02, 40 + 14, 0},
                       Case{1, 0xF6, 40 + 14, 0}, Case{4, 0xF6, 40 + 3, 1024}}) {
    HandMadeVolume v(c.sectors_per_cluster, c.code, 40);
    const std::int64_t clusters = 16 * 1024 / v.cluster;
    v.place(mft_record(40, clusters, 16), 40 * v.cluster);
    v.place(deleted_file("seven.txt", 7), 40 * v.cluster + 7 * 1024);
    const auto files = v.scan();
    ASSERT_EQ(files.size(), 1u) << int{c.sectors_per_cluster};
    EXPECT_EQ(files[0].name.str(), "seven.txt");
    EXPECT_EQ(files[0].record_no, 7);
    EXPECT_EQ(files[0].quality, 100);
    EXPECT_EQ(files[0].size, 2);
    EXPECT_EQ(files[0].path.str(), "C:\\");
    EXPECT_EQ(files[0].entry_cluster, c.cluster);
    EXPECT_EQ(files[0].entry_offset, c.offset);
  }
}

TEST(NtfsVolumeTest, AnMftContinuedInAnExtensionRecordIsReadWhole) {
  // 512-byte clusters; record 0 maps VCN 0-7 (records 0-3) at cluster 40, and its attribute
  // list sends VCN 8-15 (records 4-7) to extension record 1, whose runs put them at 300.
  HandMadeVolume v(1, 0xF6, 40);
  Record base(1, 0);
  std::vector<std::uint8_t> list;
  auto list_entry = [&](std::uint32_t type, std::uint64_t vcn, std::uint64_t record) {
    std::vector<std::uint8_t> e(0x20, 0);
    put32(e, 0, type);
    put16(e, 4, 0x20);
    put64(e, 8, vcn);
    put64(e, 0x10, record);
    list.insert(list.end(), e.begin(), e.end());
  };
  list_entry(0x10, 0, 0);
  list_entry(0x80, 0, 0);
  list_entry(0x80, 8, 1);
  base.resident(0x20, list);
  base.non_resident(0x80, 0, 7, {0x11, 0x08, 40}, 8 * 1024);
  base.resident(0xB0, {0x03});
  Record extension(1, 1);
  extension.non_resident(0x80, 8, 15, {0x21, 0x08, 0x2C, 0x01}, 0);  // 8 clusters at 300
  v.place(base, 40 * 512);
  v.place(extension, 40 * 512 + 1024);
  v.place(deleted_file("near.txt", 3), 40 * 512 + 3 * 1024);
  v.place(deleted_file("far.txt", 6), 300 * 512 + 2 * 1024);

  // The record count comes from record 0's data size: 8 records.
  const auto files = v.scan();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name.str(), "near.txt");
  EXPECT_EQ(files[1].name.str(), "far.txt");
  EXPECT_EQ(files[1].entry_cluster, 304);
  EXPECT_EQ(files[1].entry_offset, 0);

  // Without the extension record the far records cannot be read, and that is said.
  v.bytes[40 * 512 + 1024] = 'X';
  std::vector<std::string> lines;
  const auto partial = v.scan(&lines);
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_EQ(partial[0].name.str(), "near.txt");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with(english(messages::mft_extension_unreadable) + "1" +
                         english(messages::mft_records_skipped_from));
  }));
}

TEST(NtfsVolumeTest, UnusableBootSectorsAreRefusedBeforeAnythingIsRead) {
  struct Case {
    std::uint8_t sectors_per_cluster;
    std::uint8_t code;
    std::int64_t mft_cluster;
    int field;  // the boot sector's field the refusal names
  };
  for (const Case c :
       {Case{1, 0x00, 40, messages::boot_record_size}, Case{8, 0x40, 4, messages::boot_record_size},
        Case{1, 0xE0, 40, messages::boot_record_size}, Case{1, 0xF6, 0, messages::boot_mft_outside},
        Case{1, 0xF6, 5000, messages::boot_mft_outside}}) {
    HandMadeVolume v(c.sectors_per_cluster, c.code, c.mft_cluster);
    std::vector<std::string> lines;
    EXPECT_TRUE(v.scan(&lines).empty());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.starts_with(english(messages::ntfs_boot_unusable) + english(c.field));
    })) << int{c.code};
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "Cannot load MFT") != lines.end());
  }
}

TEST(NtfsNameTest, LongNamesWinAndOnlyUsableNamespacesCount) {
  Record both(0, 9);
  both.file_name("REPORT~1.DOC", 2);
  both.file_name("Report for May.doc", 1, 77);
  auto chosen = choose_file_name(both.bytes);
  EXPECT_EQ(chosen.name, "Report for May.doc");
  EXPECT_EQ(chosen.parent, 77) << "the parent of the last name in list order";

  Record dos_first(0, 9);
  dos_first.file_name("B.TXT", 3);
  dos_first.file_name("b.txt", 3);
  EXPECT_EQ(choose_file_name(dos_first.bytes).name, "B.TXT") << "the first of equals";

  Record unusable(0, 9);
  unusable.file_name("weird", 4);
  chosen = choose_file_name(unusable.bytes);
  EXPECT_FALSE(chosen.found);
  EXPECT_EQ(chosen.name, "");
}

TEST(NtfsQualityTest, RoundsHalvesToEven) {
  struct Case {
    std::int64_t free, used;
    int percent;
  };
  for (const Case c : {Case{7, 3, 70}, Case{1, 1, 50}, Case{1, 7, 12}, Case{1, 199, 0},
                       Case{1, 39, 2}, Case{3, 197, 2}, Case{0, 0, 0}, Case{5, 0, 100},
                       Case{1, 0, 100}, Case{199, 1, 100}, Case{7, 1, 88}}) {
    EXPECT_EQ(free_share_percent(c.free, c.used), c.percent) << c.free << "/" << c.used;
  }
}

}  // namespace
}  // namespace fennick::ntfs

// FAT deleted-entry scan: against The Sleuth Kit on the three fixture images, on volumes that
// mtools builds for one case each, and on hand-made volumes in memory for damaged structures.
#include "fat/fat_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "fat/fat_engine.h"
#include "fat/fat_layout.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "test_support.h"
#include "volume/file_system_kind.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"

namespace fennick::fat {
namespace {

using testing::sha256_of;

using testing::DriveScope;

using testing::run_command;
using testing::shell_quote;

std::string lower_ascii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "C:\DOCS\_MP\" -> "docs/_mp"
std::string folder_of(const catalogue::FoundFile& r) {
  std::string p = r.path.str().substr(3);
  std::replace(p.begin(), p.end(), '\\', '/');
  if (!p.empty() && p.back() == '/') p.pop_back();
  return lower_ascii(p);
}

// "YYYY-MM-DD HH:MM:SS" of a catalogue time, worked out here from its ticks (seconds cut, as
// istat shows FAT times) rather than by the code under test.
std::string format_datetime(catalogue::Timestamp value) {
  const long long total = value.ticks() / catalogue::Timestamp::ticks_per_second;  // >= 0 here
  const long long days = total / 86400;
  const long long secs = total % 86400;
  // 1899-12-30 is day 0; civil-from-days on the Unix epoch (25569 days later).
  long long z = days - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d,
                secs / 3600, secs / 60 % 60, secs % 60);
  return text;
}

struct FlsEntry {
  std::string inode;
  std::string path;  // lower-case ASCII folders, "/" separated
  std::int64_t size = 0;
};

// Deleted regular files of non-zero size that fls lists.
std::vector<FlsEntry> fls_deleted_files(const std::string& image) {
  const auto r = run_command("fls -r -d -p -l -z UTC " + shell_quote(image));
  std::vector<FlsEntry> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    if (f.size() < 7 || !f[0].starts_with("r/r * ")) continue;
    FlsEntry e;
    e.inode = f[0].substr(6, f[0].find_first_not_of("0123456789", 6) - 6);
    e.path = f[1];
    e.size = std::stoll(f[6]);
    if (e.size > 0) out.push_back(e);
  }
  return out;
}

bool same_record(const catalogue::FoundFile& r, const FlsEntry& e) {
  const std::string p = lower_ascii(e.path);
  const auto slash = p.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : p.substr(0, slash);
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  return r.size == e.size && folder_of(r) == folder && lower_ascii(r.name.str()) == name;
}

template <int Width>
struct Image {
  static std::string name() { return "fat" + std::to_string(Width) + ".img"; }
};

template <typename T>
class FatImageScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = testing::fixture_image(T::name());
    if (image_.empty()) GTEST_SKIP() << T::name() << " missing (ctest -R fixtures)";
    if (!testing::have_program("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
  }
  std::string image_;
};
using Widths = ::testing::Types<Image<12>, Image<16>, Image<32>>;
TYPED_TEST_SUITE(FatImageScanTest, Widths);

TYPED_TEST(FatImageScanTest, CataloguesEveryDeletedFileThatFlsLists) {
  const std::string before = sha256_of(this->image_);
  const std::vector<FlsEntry> expected = fls_deleted_files(this->image_);
  ASSERT_GE(expected.size(), 15u);
  DriveScope s(this->image_);
  const messages::RecordingChannel& log = s.channel;
  ASSERT_TRUE(s.scan());
  const auto& files = s.catalogue.files();

  for (const FlsEntry& e : expected) {
    const auto hit =
        std::find_if(files.begin(), files.end(), [&](const auto& r) { return same_record(r, e); });
    EXPECT_NE(hit, files.end()) << "not catalogued: " << e.path << " (" << e.size << ")";
  }
  EXPECT_EQ(files.size(), expected.size());
  EXPECT_EQ(log.file_counter, "Files: " + std::to_string(s.catalogue.deleted_count()));
  EXPECT_EQ(log.progress, 100);
  for (std::int32_t i = 0; i < s.catalogue.deleted_count(); ++i) {
    const auto& r = files[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.record_no, i);
    EXPECT_EQ(r.drive_letter, 'c');
    EXPECT_EQ(r.fs_name(), TypeParam::name() == "fat32.img" ? "FAT32" : "FAT");
    EXPECT_TRUE(r.path.str().starts_with("C:\\"));
  }
  // Every folder on a catalogued path is in the folder list once; deleted folders say so.
  const auto& folders = s.catalogue.folders(0);
  const auto tmp = std::find_if(folders.begin(), folders.end(),
                                [](const auto& f) { return f.name.str() == "_MP"; });
  ASSERT_NE(tmp, folders.end());
  EXPECT_EQ(tmp->deleted, 1);
  const auto docs = std::find_if(folders.begin(), folders.end(),
                                 [](const auto& f) { return f.name.str() == "DOCS"; });
  ASSERT_NE(docs, folders.end());
  EXPECT_EQ(docs->deleted, 0);
  EXPECT_EQ(docs->parent_id, catalogue::ROOT_FOLDER_ID);
  EXPECT_EQ(tmp->parent_id, docs->dir_id);
  EXPECT_EQ(sha256_of(this->image_), before) << "the scan changed the image";
}

TYPED_TEST(FatImageScanTest, DatesAgreeWithIstat) {
  const std::vector<FlsEntry> expected = fls_deleted_files(this->image_);
  DriveScope s(this->image_);
  ASSERT_TRUE(s.scan());
  const auto& files = s.catalogue.files();
  int compared = 0;
  for (const FlsEntry& e : expected) {
    if (e.path.find("Old Projects/_lan.txt") == std::string::npos &&
        e.path.find("Q2 figures") == std::string::npos &&
        e.path.find("Grüße") == std::string::npos) {
      continue;
    }
    const auto hit =
        std::find_if(files.begin(), files.end(), [&](const auto& r) { return same_record(r, e); });
    ASSERT_NE(hit, files.end()) << e.path;
    const std::string istat =
        run_command("istat -z UTC " + shell_quote(this->image_) + " " + e.inode).out;
    EXPECT_NE(istat.find("Written:\t" + format_datetime(hit->modified)), std::string::npos)
        << e.path << "\n"
        << istat;
    EXPECT_NE(istat.find("Created:\t" + format_datetime(hit->created)), std::string::npos)
        << e.path << "\n"
        << istat;
    ++compared;
  }
  EXPECT_EQ(compared, 3);
}

TEST(FatEntryTest, NamesAndAttributes) {
  EXPECT_TRUE(valid_entry_name("A.TXT"));
  for (const char* bad : {"", "A?B", "A/B", "A\\B", "A:B", "A*B", "A\"B", "A<B", "A>B", "A|B",
                          "\x14"
                          "AB",
                          "AB\x14"}) {
    EXPECT_FALSE(valid_entry_name(bad)) << bad;
  }
  EXPECT_TRUE(valid_entry_attributes(0x0F));
  EXPECT_TRUE(valid_entry_attributes(0x10));
  EXPECT_TRUE(valid_entry_attributes(0x20));
  EXPECT_FALSE(valid_entry_attributes(0x08));
  EXPECT_FALSE(valid_entry_attributes(0x28));
  EXPECT_FALSE(valid_entry_attributes(0x40));
  EXPECT_FALSE(valid_entry_attributes(0x80 | 0x20));

  DirEntry e{};
  std::memcpy(e.data(), "\xE5OO     TXT", 11);
  EXPECT_EQ(short_entry_name(e), "\xE5OO.TXT");
  std::memcpy(e.data(), "README  ???", 11);
  EXPECT_EQ(short_entry_name(e), "README.");  // only trailing "?" go
  std::memcpy(e.data(), "  A  \0XYZ  ", 11);
  EXPECT_EQ(short_entry_name(e), "A.Z");
  // A long name of 4 characters: the rest of its run ends at the zero, the 0xFFFF padding of the
  // other runs becomes "?" and is dropped by the scan.
  DirEntry lfn{};
  lfn[11] = 0x0F;
  const char16_t chars[13] = {u'a',   u'b',   u'c',   u'd',   0,      0xFFFF, 0xFFFF,
                              0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  const std::size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (int i = 0; i < 13; ++i) {
    lfn[at[i]] = static_cast<std::uint8_t>(chars[i]);
    lfn[at[i] + 1] = static_cast<std::uint8_t>(chars[i] >> 8);
  }
  EXPECT_EQ(long_name_piece(lfn), "abcd????????");
}

TEST(FatEntryTest, DatesDecodeToLocalTimeOrAreMissing) {
  const auto date = [](int y, int m, int d) {
    return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
  };
  const auto time = [](int h, int m, int s) {
    return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2));
  };
  using catalogue::make_timestamp;
  constexpr std::int64_t ms = catalogue::Timestamp::ticks_per_second / 1000;
  struct Case {
    const char* what;
    std::uint16_t date;
    std::uint16_t time;
    std::uint8_t hundredths;  // the created time's 10 ms count (offset 13)
    catalogue::Timestamp expected;
  };
  const Case cases[] = {
      {"modified", date(2024, 1, 15), time(9, 58, 30), 0, make_timestamp(2024, 1, 15, 9, 58, 30)},
      {"created with 10 ms", date(2024, 1, 15), time(9, 58, 30), 137,
       make_timestamp(2024, 1, 15, 9, 58, 31, 370 * ms)},
      {"created, an odd second", date(2024, 1, 15), time(9, 58, 30), 100,
       make_timestamp(2024, 1, 15, 9, 58, 31)},
      {"created, the largest count", date(2024, 1, 15), time(9, 58, 30), 199,
       make_timestamp(2024, 1, 15, 9, 58, 31, 990 * ms)},
      {"created, a count past 199", date(2024, 1, 15), time(9, 58, 30), 200,
       make_timestamp(2024, 1, 15, 9, 58, 30)},
      {"a leap day", date(2024, 2, 29), 0, 0, make_timestamp(2024, 2, 29)},
      {"a time out of range", date(2024, 3, 1), 0xFFFF, 0, make_timestamp(2024, 3, 1)},
      {"the first day", date(1980, 1, 1), 0, 0, make_timestamp(1980, 1, 1)},
      {"the last year taken", date(2050, 12, 31), time(23, 59, 58), 0,
       make_timestamp(2050, 12, 31, 23, 59, 58)},
      {"date word 0", 0, time(1, 2, 4), 0, catalogue::Timestamp{}},
      {"no leap day", date(2023, 2, 29), 0, 0, catalogue::Timestamp{}},
      {"month 13", date(2024, 13, 1), 0, 0, catalogue::Timestamp{}},
      {"month 0", date(2024, 0, 1), 0, 0, catalogue::Timestamp{}},
      {"day 0", date(2024, 4, 0), 0, 0, catalogue::Timestamp{}},
      {"past 2050", date(2051, 1, 1), 0, 0, catalogue::Timestamp{}},
      {"the last year the words hold", date(2107, 12, 31), 0, 0, catalogue::Timestamp{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const catalogue::Timestamp got = decode_fat_timestamp(c.date, c.time, c.hundredths);
    EXPECT_EQ(got, c.expected) << format_datetime(got);
    EXPECT_EQ(got.missing(), c.expected.missing());
    EXPECT_EQ(got.is_local(), !c.expected.missing()) << "FAT keeps local time";
  }
  EXPECT_EQ(format_datetime(decode_fat_timestamp(date(2024, 1, 15), time(9, 58, 30))),
            "2024-01-15 09:58:30");
}

// A FAT volume built byte by byte in memory: 512-byte sectors and clusters, one FAT, the root
// region (FAT12/FAT16) or root cluster 2 (FAT32). Installed as drive C:, as the drive list
// lists a volume of that file-system name ("FAT" or "FAT32").
class MemFat {
 public:
  MemFat(std::string fs, std::uint32_t clusters, std::uint32_t root_entries = 64)
      : fs_(std::move(fs)), clusters_(clusters) {
    width_ = fs_ == "FAT32" ? 32 : (clusters < 4085 ? 12 : 16);
    const std::uint32_t fat_sectors = ((clusters + 2) * width_ / 8 + 511) / 512;
    root_entries_ = fs_ == "FAT32" ? 0 : root_entries;
    data_start_ = 1 + fat_sectors + root_entries_ * 32 / 512;
    bytes.assign((data_start_ + clusters) * 512, 0);
    bytes[12] = 2;  // 512 bytes per sector
    bytes[13] = 1;
    bytes[14] = 1;
    bytes[16] = 1;
    bytes[17] = static_cast<std::uint8_t>(root_entries_);
    bytes[18] = static_cast<std::uint8_t>(root_entries_ >> 8);
    if (fs_ == "FAT32") {
      bytes[36] = static_cast<std::uint8_t>(fat_sectors);
      bytes[37] = static_cast<std::uint8_t>(fat_sectors >> 8);
      bytes[44] = 2;
      set_fat(2, 0x0FFFFFFF);
    } else {
      bytes[22] = static_cast<std::uint8_t>(fat_sectors);
      bytes[23] = static_cast<std::uint8_t>(fat_sectors >> 8);
      bytes[46] = 1;  // keeps the reader's sector limit above the volume
    }
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
  }
  void set_fat(std::uint32_t cluster, std::uint32_t value) {
    std::uint8_t* fat = bytes.data() + 512;
    if (width_ == 12) {
      std::uint8_t* at = fat + cluster * 3 / 2;
      if (cluster % 2 == 0) {
        at[0] = value & 0xFF;
        at[1] = static_cast<std::uint8_t>((at[1] & 0xF0) | ((value >> 8) & 0x0F));
      } else {
        at[0] = static_cast<std::uint8_t>((at[0] & 0x0F) | ((value << 4) & 0xF0));
        at[1] = static_cast<std::uint8_t>(value >> 4);
      }
    } else {
      for (int i = 0; i < width_ / 8; ++i)
        fat[cluster * (width_ / 8) + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  std::uint32_t end() const { return width_ == 32 ? 0x0FFFFFFF : (width_ == 16 ? 0xFFFF : 0xFFF); }
  // Entry slot `index` of a directory: cluster 0 is the FAT12/FAT16 root region.
  std::uint8_t* slot(std::uint32_t cluster, std::uint32_t index) {
    const std::uint32_t sector =
        cluster == 0 ? data_start_ - root_entries_ * 32 / 512 : data_start_ + cluster - 2;
    return bytes.data() + sector * 512 + index * 32;
  }
  static void entry(std::uint8_t* at, const char (&name11)[12], std::uint8_t attr,
                    std::uint32_t cluster, std::uint32_t size) {
    std::memcpy(at, name11, 11);
    at[11] = attr;
    at[20] = static_cast<std::uint8_t>(cluster >> 16);
    at[21] = static_cast<std::uint8_t>(cluster >> 24);
    at[26] = static_cast<std::uint8_t>(cluster);
    at[27] = static_cast<std::uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i) at[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    at[24] = 0x2F;  // 2024-01-15
    at[25] = 0x58;
  }
  // A long-name entry holding 13 characters of text from `from` (zero, then 0xFFFF padding).
  static void lfn(std::uint8_t* at, std::u16string_view text, std::size_t from) {
    static constexpr std::size_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    at[0] = 0x41;
    at[11] = 0x0F;
    for (std::size_t i = 0; i < 13; ++i) {
      const std::size_t k = from + i;
      const char16_t c = k < text.size() ? text[k] : (k == text.size() ? u'\0' : char16_t{0xFFFF});
      at[offsets[i]] = static_cast<std::uint8_t>(c);
      at[offsets[i] + 1] = static_cast<std::uint8_t>(c >> 8);
    }
  }
  workflow::Drive install() {
    source = std::make_shared<volume::MemorySource>(bytes);
    workflow::Drive d = testing::memory_drive('c', source, volume::kind_from_name(fs_));
    d.total_bytes = std::int64_t{clusters_} * 512;
    d.free_bytes = 0;
    return d;
  }
  std::vector<std::uint8_t> bytes;
  std::shared_ptr<volume::MemorySource> source;

 private:
  std::string fs_;
  std::uint32_t clusters_;
  int width_ = 12;
  std::uint32_t root_entries_ = 0;
  std::uint32_t data_start_ = 0;
};

class FatMemoryScanTest : public ::testing::Test {
 protected:
  // Scans the volume as drive C: into the test's catalogue; the scan's result.
  bool scan(MemFat& v) {
    const workflow::Drive drive = v.install();
    return scan_fat_volume(drive, catalogue_, run_, log_);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& r : catalogue_.files()) out.push_back(r.path.str() + r.name.str());
    return out;
  }
  const catalogue::FoundFile& file(std::size_t i) const { return catalogue_.files().at(i); }
  catalogue::Catalogue catalogue_;
  run::RunControl run_;
  messages::RecordingChannel log_;
};

using Names = std::vector<std::string>;

TEST_F(FatMemoryScanTest, ShortNamesFlagsAndSizes) {
  MemFat v("FAT32", 70000);
  MemFat::entry(v.slot(2, 0), "\xE5OO     TXT", 0x20, 10, 5);
  MemFat::entry(v.slot(2, 1), "\xE5          ", 0x20, 11, 5);  // one-letter name
  MemFat::entry(v.slot(2, 2), "\xE5OLUME  LBL", 0x28, 12, 5);  // volume label
  MemFat::entry(v.slot(2, 3),
                "\xE5"
                "ADBIT  TXT",
                0x60, 13, 5);                                  // reserved bit set
  MemFat::entry(v.slot(2, 4), "\xE5MPTY   TXT", 0x20, 14, 0);  // deleted, empty
  MemFat::entry(v.slot(2, 5), "\xE5IG     ISO", 0x20, 15, 3000000000u);
  MemFat::entry(v.slot(2, 6), "LIVE    TXT", 0x20, 16, 5);
  MemFat::entry(v.slot(2, 7),
                "\xE5"
                "A?B    TXT",
                0x20, 17, 5);
  // _OO.TXT's created time: 2024-01-15 10:20:30 with a 10 ms count of 137 at offset 13.
  std::uint8_t* foo = v.slot(2, 0);
  foo[13] = 137;
  const std::uint16_t created_time = (10 << 11) | (20 << 5) | (30 / 2);
  foo[14] = static_cast<std::uint8_t>(created_time);
  foo[15] = static_cast<std::uint8_t>(created_time >> 8);
  foo[16] = 0x2F;  // 2024-01-15
  foo[17] = 0x58;
  v.set_fat(16, v.end());
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(names(), (Names{"C:\\_OO.TXT", "C:\\\u03C3", "C:\\_IG.ISO"}));
  EXPECT_EQ(file(0).created, catalogue::make_timestamp(2024, 1, 15, 10, 20, 31, 3'700'000));
  EXPECT_TRUE(file(0).created.is_local());
  EXPECT_EQ(file(0).modified, catalogue::make_timestamp(2024, 1, 15));
  const auto& big = file(2);
  EXPECT_EQ(big.size, 3000000000LL);
  EXPECT_EQ(big.first_cluster, 15);
  EXPECT_EQ(big.entry_cluster, 2);
  EXPECT_EQ(big.entry_offset, 5 * 32);
  EXPECT_EQ(big.parent_dir, catalogue::ROOT_FOLDER_ID);
  EXPECT_EQ(format_datetime(big.modified), "2024-01-15 00:00:00");
  EXPECT_TRUE(big.created.missing());
  EXPECT_EQ(file(0).quality, 100);
}

TEST_F(FatMemoryScanTest, LoopingChainsAndSelfContainingFoldersEnd) {
  MemFat v("FAT", 100);
  MemFat::entry(v.slot(0, 0), "LOOP       ", 0x10, 3, 0);
  MemFat::entry(v.slot(0, 1), "SELF       ", 0x10, 5, 0);
  MemFat::entry(v.slot(0, 2), "AWAY       ", 0x10, 4000, 0);  // outside the volume
  // A last folder tells how many directories the walk took before it: the directory with
  // folder id k + 5 is the scan's k-th.
  MemFat::entry(v.slot(0, 3), "LAST       ", 0x10, 7, 0);
  v.set_fat(7, v.end());
  MemFat::entry(v.slot(7, 0), "\xE5ND     TXT", 0x20, 23, 10);
  v.set_fat(3, 4);
  v.set_fat(4, 3);  // 3 -> 4 -> 3 -> ...
  MemFat::entry(v.slot(3, 0), ".          ", 0x10, 3, 0);
  MemFat::entry(v.slot(3, 1), "\xE5OO     TXT", 0x20, 20, 10);
  for (std::uint32_t i = 2; i < 16; ++i) MemFat::entry(v.slot(3, i), "FILLER  TXT", 0x20, 0, 0);
  MemFat::entry(v.slot(4, 0),
                "\xE5"
                "AR     TXT",
                0x20, 21, 10);
  for (std::uint32_t i = 1; i < 16; ++i) MemFat::entry(v.slot(4, i), "FILLER  TXT", 0x20, 0, 0);
  v.set_fat(5, v.end());
  MemFat::entry(v.slot(5, 0), ".          ", 0x10, 5, 0);
  MemFat::entry(v.slot(5, 1), "INNER      ", 0x10, 5, 0);  // the folder itself again
  MemFat::entry(v.slot(5, 2),
                "\xE5"
                "AZ     TXT",
                0x20, 22, 10);
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(names(), (Names{"C:\\LOOP\\_OO.TXT", "C:\\LOOP\\_AR.TXT", "C:\\SELF\\_AZ.TXT",
                            "C:\\LAST\\_ND.TXT"}));
  // Root, LOOP and SELF only were taken before LAST.
  EXPECT_EQ(file(3).parent_dir, catalogue::ROOT_FOLDER_ID + 3);
}

TEST_F(FatMemoryScanTest, DeletedFoldersAreWalkedWhileTheirFirstClusterStillHoldsThem) {
  MemFat v("FAT", 100);
  MemFat::entry(v.slot(0, 0), "\xE5OLD       ", 0x10, 6, 0);  // cluster reused for file data
  MemFat::entry(v.slot(0, 1),
                "\xE5"
                "EW        ",
                0x10, 7, 0);
  std::memcpy(v.slot(6, 0), "HELLO WORLD", 11);
  MemFat::entry(v.slot(6, 1), "\xE5UNK    TXT", 0x20, 30, 10);
  MemFat::entry(v.slot(7, 0), ".          ", 0x10, 7, 0);
  MemFat::entry(v.slot(7, 1), "..         ", 0x10, 0, 0);
  MemFat::entry(v.slot(7, 2), "KEPT    TXT", 0x20, 31, 10);  // live entry in a deleted folder
  for (std::uint32_t i = 3; i < 16; ++i) MemFat::entry(v.slot(7, i), "\xE5ILLER  TXT", 0x20, 32, 0);
  // Cluster 8 follows physically and holds entries, but it is in use: the deleted folder
  // does not go on there.
  MemFat::entry(v.slot(8, 0),
                "\xE5"
                "EYOND  TXT",
                0x20, 33, 10);
  v.set_fat(8, v.end());
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(names(), (Names{"C:\\_EW\\KEPT.TXT"}));
  const auto folder = catalogue_.find_folder(0, file(0).parent_dir);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->name.str(), "_EW");
  EXPECT_EQ(folder->deleted, 1);
}

TEST_F(FatMemoryScanTest, RootRegionWithEveryEntryInUseEndsAfterItsLastEntry) {
  MemFat v("FAT", 200, 512);
  for (std::uint32_t i = 0; i < 511; ++i) MemFat::entry(v.slot(0, i), "LIVE    TXT", 0x20, 2, 1);
  MemFat::entry(v.slot(0, 511),
                "\xE5"
                "AST    TXT",
                0x20, 3, 7);
  // The first data cluster right behind the region looks like more entries.
  MemFat::entry(v.slot(2, 0), "\xE5HOST   TXT", 0x20, 4, 7);
  v.set_fat(2, v.end());
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(names(), (Names{"C:\\_AST.TXT"}));
  EXPECT_EQ(file(0).entry_cluster, 0);
  EXPECT_EQ(file(0).entry_offset, 511 * 32);
}

TEST_F(FatMemoryScanTest, LongNameAcrossAClusterBoundary) {
  MemFat v("FAT", 100);
  MemFat::entry(v.slot(0, 0), "DIR        ", 0x10, 3, 0);
  v.set_fat(3, 9);  // the directory continues in cluster 9, not the next one
  v.set_fat(9, v.end());
  MemFat::entry(v.slot(3, 0), ".          ", 0x10, 3, 0);
  for (std::uint32_t i = 1; i < 14; ++i) MemFat::entry(v.slot(3, i), "FILLER  TXT", 0x20, 0, 0);
  const std::u16string name = u"Long name across.txt";
  MemFat::lfn(v.slot(3, 14), name, 13);
  MemFat::lfn(v.slot(3, 15), name, 0);
  v.slot(3, 14)[0] = v.slot(3, 15)[0] = 0xE5;
  MemFat::entry(v.slot(9, 0), "\xE5ONGNA~1TXT", 0x20, 40, 100);
  MemFat::entry(v.slot(4, 0), "\xE5RONG   TXT", 0x20, 41, 100);  // physically next cluster
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(names(), (Names{"C:\\DIR\\Long name across.txt"}));
  EXPECT_EQ(file(0).entry_cluster, 3);
  EXPECT_EQ(file(0).entry_offset, 14 * 32);
  EXPECT_EQ(file(0).first_cluster, 40);
}

TEST_F(FatMemoryScanTest, StopFlagEndsTheScanAndKeepsWhatWasFound) {
  MemFat v("FAT", 1000, 512);
  for (std::uint32_t i = 0; i < 300; ++i) MemFat::entry(v.slot(0, i), "\xE5ILE    TXT", 0x20, 5, 1);
  int pumps = 0;
  run_.event_pump = [&] {
    if (++pumps == 50) run_.request_stop();
  };
  ASSERT_TRUE(scan(v));
  EXPECT_EQ(catalogue_.deleted_count(), 50);
  EXPECT_EQ(pumps, 50);
}

// Runs a shell script with mtools pinned to plain settings.
testing::CommandResult mtools(const std::string& script) {
  return run_command("export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null TZ=UTC; set -e; " + script);
}

TEST_F(FatMemoryScanTest, PathsNameAtMostTheTwentyLowestFolders) {
  if (!testing::have_program("mmd")) GTEST_SKIP() << "mtools is not installed";
  testing::TempDir dir;
  const std::string img = dir.path() + "/deep.img";
  std::string script = "truncate -s 2M " + img + "; mkfs.fat -F 12 " + img +
                       " >/dev/null; p=;"
                       "for i in $(seq -w 1 25); do p=$p/L$i; mmd -i " +
                       img +
                       " ::$p; done;"
                       "echo hello > " +
                       dir.path() + "/f; mcopy -i " + img + " " + dir.path() +
                       "/f ::$p/DEEP.TXT; mdel -i " + img + " ::$p/DEEP.TXT";
  ASSERT_EQ(mtools(script).exit_code, 0);
  DriveScope s(img);
  ASSERT_TRUE(s.scan());
  ASSERT_EQ(s.catalogue.deleted_count(), 1);
  std::string expected = "C:\\";
  for (int i = 6; i <= 25; ++i)
    expected += "L" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\\";
  EXPECT_EQ(s.catalogue.files()[0].path.str(), expected);
  EXPECT_EQ(s.catalogue.files()[0].name.str(), "_EEP.TXT");
  EXPECT_EQ(s.catalogue.folders(0).size(), 20u);
}

}  // namespace
}  // namespace fennick::fat

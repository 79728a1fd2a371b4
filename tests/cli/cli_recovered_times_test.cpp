// Recovered files' modified times against the volumes'. fennick-cli recovers the deleted files
// of volumes made by mtools, exfat-fuse and ntfs-3g whose times carry the finest part each file
// system keeps (make-time-volumes); every recovered file's st_mtim must be the volume's time to
// that part, as The Sleuth Kit's istat reads it and as the maker set it, in any time zone the
// recovery runs in. The listed dates are istat's, cut to the second.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fennick::testing {
namespace {

constexpr std::int64_t nanos_per_second = 1'000'000'000;
// UTC+1, UTC+2 in summer, given by its rule so that no zone database is needed.
const char* const central_europe = "CET-1CEST,M3.5.0,M10.5.0/3";

struct TimedFile {
  std::string path;      // "/odd second.txt"
  std::int64_t set_ns;   // the modified time the maker gave it, since 1970 UTC
  std::int64_t kept_ns;  // what the volume keeps of it (FAT: the wall clock read as UTC)
};

std::vector<TimedFile> read_times(const std::string& image) {
  std::ifstream in(image + ".times");
  std::vector<TimedFile> files;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    TimedFile f;
    std::string set, kept;
    if (std::getline(cells, f.path, '\t') && std::getline(cells, set, '\t') &&
        std::getline(cells, kept, '\t')) {
      f.set_ns = std::stoll(set);
      f.kept_ns = std::stoll(kept);
      files.push_back(f);
    }
  }
  return files;
}

// fls -r -d -p: the inode of each deleted file by its path ("/odd second.txt").
std::map<std::string, std::string> deleted_inodes(const std::string& image) {
  const CommandResult r = run_command("fls -r -d -p " + shell_quote(image));
  std::map<std::string, std::string> out;
  std::istringstream lines(r.out);
  const std::regex line_re(R"(^\S+ \* (\d+)(?:-\d+-\d+)?:\t(.*)$)");
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, line_re)) out["/" + m[2].str()] = m[1].str();
  }
  return out;
}

// A time istat shows ("Written:\t2024-01-15 09:34:00 (UTC)" or with ".123456700"): its
// wall-clock fields and, where istat shows one, the fraction of the second.
struct ShownTime {
  std::string text;  // "YYYY-MM-DD HH:MM:SS"
  std::tm fields{};
  std::optional<std::int64_t> nanoseconds;
};

std::optional<ShownTime> istat_time(const std::string& istat, const std::string& field) {
  std::smatch m;
  const std::regex re("\n" + field +
                      R"(:\t(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)(?:\.(\d{9}))? \(UTC\))");
  if (!std::regex_search(istat, m, re)) return std::nullopt;
  ShownTime t;
  t.text = m[1].str();
  if (::strptime(t.text.c_str(), "%Y-%m-%d %H:%M:%S", &t.fields) == nullptr) return std::nullopt;
  if (m[2].matched) t.nanoseconds = std::stoll(m[2].str());
  return t;
}

struct TimesVolume {
  const char* image;
  const char* written_field;  // istat's name for the last write time
  bool local;                 // the volume keeps wall-clock time with no zone (FAT)
  std::int64_t precision_ns;  // the finest part of a modified time it keeps
};

std::ostream& operator<<(std::ostream& out, const TimesVolume& v) { return out << v.image; }

class RecoveredTimesTest : public ::testing::TestWithParam<TimesVolume> {
 protected:
  void SetUp() override {
    if (!have_program("istat") || !have_program("fls")) {
      GTEST_SKIP() << "needs The Sleuth Kit (istat, fls)";
    }
    image_ = fixture_image(GetParam().image);
    if (image_.empty()) {
      GTEST_SKIP() << GetParam().image
                   << " missing: make-time-volumes builds the exFAT and NTFS volumes only as "
                      "root, with /dev/fuse, loop devices, exfat-fuse and ntfs-3g";
    }
    files_ = read_times(image_);
    ASSERT_FALSE(files_.empty()) << image_ << ".times";
    inodes_ = deleted_inodes(image_);
  }

  std::string istat(const TimedFile& f) {
    const auto inode = inodes_.find(f.path);
    if (inode == inodes_.end()) return {};
    return run_command("istat -z UTC " + shell_quote(image_) + " " + inode->second).out;
  }

  // exfat-fuse stores an odd second as the 10 ms count 100, which The Sleuth Kit 4.11 takes
  // for no second (it adds one only for counts above 100): its istat is a second early there.
  bool istat_misreads(const TimedFile& f) const {
    return std::string(GetParam().image) == "times-exfat.img" &&
           f.kept_ns % nanos_per_second == 0 && f.kept_ns / nanos_per_second % 2 == 1;
  }

  std::string image_;
  std::vector<TimedFile> files_;
  std::map<std::string, std::string> inodes_;
};

TEST_P(RecoveredTimesTest, ModifiedTimesEqualTheVolumesToItsPrecision) {
  for (const char* zone : {"UTC0", central_europe}) {
    SCOPED_TRACE(zone);
    TempDir out;
    const CommandResult r = run_command("TZ=" + shell_quote(zone) + " " + shell_quote(cli_path()) +
                                        " recover --keep-folders --to " + shell_quote(out.path()) +
                                        " " + shell_quote(image_));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // FAT's wall-clock times stand for the moment they name in the zone the recovery ran in.
    const ZoneScope in_zone(zone);
    const auto moment = [&](std::tm fields) {
      fields.tm_isdst = -1;
      return static_cast<std::int64_t>(GetParam().local ? std::mktime(&fields) : ::timegm(&fields));
    };
    for (const TimedFile& f : files_) {
      SCOPED_TRACE(f.path);
      EXPECT_EQ(f.kept_ns, f.set_ns / GetParam().precision_ns * GetParam().precision_ns);
      struct stat st {};
      ASSERT_EQ(::stat((out.path() + f.path).c_str(), &st), 0);
      // As the maker kept it.
      const auto kept_seconds = static_cast<std::time_t>(f.kept_ns / nanos_per_second);
      std::tm kept_fields{};
      ::gmtime_r(&kept_seconds, &kept_fields);
      EXPECT_EQ(st.st_mtim.tv_sec, moment(kept_fields));
      EXPECT_EQ(st.st_mtim.tv_nsec, f.kept_ns % nanos_per_second);
      EXPECT_EQ(st.st_atim.tv_sec, st.st_mtim.tv_sec);
      EXPECT_EQ(st.st_atim.tv_nsec, st.st_mtim.tv_nsec);
      // As istat reads it: to the 100 ns on NTFS, to the second where istat shows no fraction.
      if (istat_misreads(f)) continue;
      const std::optional<ShownTime> shown = istat_time(istat(f), GetParam().written_field);
      ASSERT_TRUE(shown.has_value()) << istat(f);
      EXPECT_EQ(st.st_mtim.tv_sec, moment(shown->fields)) << shown->text;
      if (shown->nanoseconds) {
        EXPECT_EQ(st.st_mtim.tv_nsec, *shown->nanoseconds) << shown->text;
      }
    }
  }
}

TEST_P(RecoveredTimesTest, ListedDatesAreIstatsCutToTheSecond) {
  const CommandResult r = run_command(shell_quote(cli_path()) + " scan --format tsv " +
                                      shell_quote(image_) + " 2>/dev/null");
  ASSERT_EQ(r.exit_code, 0);
  // name -> created, modified
  std::map<std::string, std::pair<std::string, std::string>> listed;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);  // drive record name path size quality status created modified deep
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 9u) << line;
    listed[cells[2]] = {cells[7], cells[8]};
  }
  for (const TimedFile& f : files_) {
    SCOPED_TRACE(f.path);
    const auto row = listed.find(f.path.substr(1));
    ASSERT_NE(row, listed.end());
    const std::string shown = istat(f);
    const std::optional<ShownTime> created = istat_time(shown, "Created");
    ASSERT_TRUE(created.has_value()) << shown;
    EXPECT_EQ(row->second.first, created->text);
    if (istat_misreads(f)) continue;
    const std::optional<ShownTime> written = istat_time(shown, GetParam().written_field);
    ASSERT_TRUE(written.has_value()) << shown;
    EXPECT_EQ(row->second.second, written->text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, RecoveredTimesTest,
    ::testing::Values(TimesVolume{"times-fat.img", "Written", true, 2 * nanos_per_second},
                      TimesVolume{"times-exfat.img", "Written", false, 10'000'000},
                      TimesVolume{"times-ntfs.img", "File Modified", false, 100}),
    [](const ::testing::TestParamInfo<TimesVolume>& info) {
      std::string name = info.param.image;
      name = name.substr(6, name.find('.') - 6);  // "fat", "exfat", "ntfs"
      return name;
    });

}  // namespace
}  // namespace fennick::testing

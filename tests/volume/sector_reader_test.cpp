// The sector window reader: fills, hits, limits, log lines and recovery after failures.
#include "volume/sector_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/read_problems.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/volume_source.h"

namespace fennick::volume {
namespace {

using messages::DialogKind;
using messages::RecordingChannel;
using testing::pattern_byte;
using testing::patterned_volume;

std::shared_ptr<MemorySource> memory_volume(std::vector<std::uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

class ReaderTest : public ::testing::Test {
 protected:
  // A reader that reports its problems to the test's log, as the engines' readers do.
  ReadProblemHandler to_log() { return engine::report_to(log); }
  RecordingChannel log;
};

void expect_pattern(const std::vector<std::uint8_t>& got, std::int64_t position) {
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i], pattern_byte(position + i)) << "byte " << i << " of a read at " << position;
  }
}

TEST_F(ReaderTest, FillsFromTheRequestedSectorAndServesLaterReadsFromTheWindow) {
  auto source = memory_volume(patterned_volume(200 * 512, 1, 200));
  SectorReader reader(source, 64, to_log());
  ASSERT_EQ(reader.error, 0);
  EXPECT_EQ(reader.valid_bytes, 0u) << "reading sector 0 at creation is not a fill";
  EXPECT_EQ(reader.sector_limit(), 200);

  std::vector<std::uint8_t> bytes(32);
  ASSERT_EQ(reader.read(32, bytes.data(), 1000), 32);
  EXPECT_EQ(reader.first_sector, 1);
  EXPECT_EQ(reader.end_sector, 65);
  EXPECT_EQ(reader.fill_sectors, 64);
  expect_pattern(bytes, 1000);

  const auto calls = source->read_calls;
  ASSERT_EQ(reader.read(32, bytes.data(), 1032), 32);
  EXPECT_EQ(source->read_calls, calls) << "a read inside the window is a hit";
  expect_pattern(bytes, 1032);

  // Ends exactly at the window's end: the sector after the range is outside, so it refills
  // from the sector holding its first byte.
  const std::int64_t at_end = 65 * 512 - 32;
  ASSERT_EQ(reader.read(32, bytes.data(), at_end), 32);
  EXPECT_EQ(source->read_calls, calls + 1);
  EXPECT_EQ(reader.first_sector, at_end / 512);
  expect_pattern(bytes, at_end);
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(ReaderTest, SmallWindowServesAReadAcrossASectorBoundary) {
  SectorReader reader(memory_volume(patterned_volume(64 * 512, 1, 64)), 2, to_log());
  std::vector<std::uint8_t> bytes(4);
  ASSERT_EQ(reader.read(4, bytes.data(), 1022), 4);
  EXPECT_EQ(reader.first_sector, 1);
  EXPECT_EQ(reader.fill_sectors, 2);
  expect_pattern(bytes, 1022);
}

TEST_F(ReaderTest, ARequestLargerThanTheWindowIsServedWhole) {
  SectorReader reader(memory_volume(patterned_volume(64 * 512, 1, 64)), 2, to_log());
  std::vector<std::uint8_t> bytes(5000);
  ASSERT_EQ(reader.read(5000, bytes.data(), 700), 5000);
  expect_pattern(bytes, 700);
}

TEST_F(ReaderTest, FloppyWithoutTheLargeSectorTotalTakesItsGeometry) {
  std::vector<std::uint8_t> floppy = patterned_volume(2880 * 512, 1, 0);
  floppy[21] = 0xF0;
  floppy[24] = 18;  // sectors per track
  floppy[25] = 0;
  floppy[26] = 2;  // heads
  floppy[27] = 0;
  SectorReader reader(memory_volume(floppy), 64, to_log());
  EXPECT_EQ(reader.cluster_count, 2880);
  EXPECT_EQ(reader.sector_limit(), 2880);
}

TEST_F(ReaderTest, FillNearTheLimitIsClampedToIt) {
  SectorReader reader(memory_volume(patterned_volume(100 * 512, 4, 100)), 64, to_log());
  EXPECT_EQ(reader.cluster_count, 25);
  std::vector<std::uint8_t> bytes(16);
  ASSERT_EQ(reader.read(16, bytes.data(), 90 * 512), 16);
  EXPECT_EQ(reader.end_sector, 100);
  EXPECT_EQ(reader.fill_sectors, 10);
  expect_pattern(bytes, 90 * 512);
}

TEST_F(ReaderTest, ReadBeyondTheLimitLogsTheInvalidFillAndDeliversNothing) {
  SectorReader reader(memory_volume(patterned_volume(300 * 512, 1, 100)), 64, to_log());
  std::vector<std::uint8_t> bytes(32, 0xEE);
  EXPECT_EQ(reader.read(32, bytes.data(), 150 * 512), 0);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "Sector count invalid-50||76800||100||1");
  EXPECT_EQ(log.lines[1], "Start Sector invalid150||76800||100||1");
  EXPECT_TRUE(log.dialogs.empty());
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(32, 0xEE)) << "nothing is copied";
}

TEST_F(ReaderTest, ATransientReadErrorIsTriedAgainOnce) {
  auto source = memory_volume(patterned_volume(200 * 512, 1, 200));
  SectorReader reader(source, 64, to_log());
  std::vector<std::uint8_t> bytes(32);
  source->failing_reads = 1;
  ASSERT_EQ(reader.read(32, bytes.data(), 4096), 32);
  expect_pattern(bytes, 4096);
  EXPECT_TRUE(log.lines.empty());
}

// A failing medium: the unreadable sectors are met once, logged once per stretch (as log
// lines, no dialog), never asked for again, and a walk never takes their zeros for data while
// a salvaging read gets the readable bytes around them.
TEST_F(ReaderTest, ReadsAroundUnreadableSectorsAndTellsEachStretchOnce) {
  auto source = memory_volume(patterned_volume(400 * 512, 1, 400));
  source->bad_ranges = {{100 * 512, 103 * 512}, {110 * 512 + 7, 110 * 512 + 8}};
  SectorReader reader(source, 64, to_log());
  SectorReader other(source, 64, to_log());
  std::vector<std::uint8_t> bytes(16 * 512);

  // Readable bytes in a window that holds bad sectors are served.
  ASSERT_EQ(reader.read(512, bytes.data(), 96 * 512), 512);
  EXPECT_EQ(
      log.lines,
      (std::vector<std::string>{
          " Read error, these bytes of the volume cannot be read and are skipped: 51200-52735",
          " Read error, these bytes of the volume cannot be read and are skipped: 56320-56831"}));
  EXPECT_TRUE(log.dialogs.empty());
  // A plain read that needs an unreadable byte fails, as any failed read does.
  EXPECT_EQ(reader.read(16, bytes.data(), 102 * 512 + 500), 0);

  // A salvaging read gets zeros there and the stretches in volume positions.
  std::vector<ByteStretch> unreadable;
  ASSERT_EQ(reader.read_salvaging(16 * 512, bytes.data(), 98 * 512, unreadable), 16 * 512);
  ASSERT_EQ(unreadable.size(), 2u);
  EXPECT_EQ(unreadable[0].first, 100 * 512);
  EXPECT_EQ(unreadable[0].count, 3 * 512);
  EXPECT_EQ(unreadable[1].first, 110 * 512);
  EXPECT_EQ(unreadable[1].count, 512);
  for (std::int64_t i = 0; i < 16 * 512; ++i) {
    const std::int64_t at = 98 * 512 + i;
    const bool bad = (at >= 100 * 512 && at < 103 * 512) || (at >= 110 * 512 && at < 111 * 512);
    ASSERT_EQ(bytes[static_cast<std::size_t>(i)], bad ? 0 : pattern_byte(at)) << at;
  }

  // Another reader of the same session meets the known stretches without trying them and
  // without telling them again.
  const auto calls = source->read_calls;
  unreadable.clear();
  ASSERT_EQ(other.read_salvaging(512, bytes.data(), 101 * 512, unreadable), 512);
  EXPECT_EQ(source->read_calls, calls + 2) << "the readable pieces around the stretch only";
  EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(ReaderTest, ADeadStretchIsNotTriedSectorBySector) {
  auto source = memory_volume(patterned_volume(400 * 512, 1, 400));
  source->bad_ranges = {{64 * 512, 400 * 512}};
  SectorReader reader(source, 128, to_log());
  std::vector<std::uint8_t> bytes(512);
  const auto calls = source->read_calls;
  std::vector<ByteStretch> unreadable;
  ASSERT_EQ(reader.read_salvaging(512, bytes.data(), 60 * 512, unreadable), 512);
  expect_pattern(bytes, 60 * 512);
  // The whole window, its four readable sectors one by one, then unreadable sectors up to
  // the limit; the other 108 are not tried.
  EXPECT_EQ(source->read_calls - calls, 1 + 4 + ReadFaults::give_up_after);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0],
            " Read error, these bytes of the volume cannot be read and are skipped: 32768-96255");
}

TEST_F(ReaderTest, AMediumThatGoesAwayIsToldOnceAndEndsTheRun) {
  auto source = memory_volume(patterned_volume(200 * 512, 1, 200));
  run::RunControl run;
  SectorReader reader(source, 64, engine::report_to(log, run));
  SectorReader other(source, 64, engine::report_to(log, run));
  source->gone = true;
  std::vector<std::uint8_t> bytes(32);
  std::vector<ByteStretch> unreadable;
  EXPECT_EQ(reader.read(32, bytes.data(), 4096), 0);
  EXPECT_EQ(reader.read_salvaging(32, bytes.data(), 80000, unreadable), 0);
  EXPECT_EQ(other.read(32, bytes.data(), 4096), 0);
  EXPECT_TRUE(run.stop_requested());
  EXPECT_TRUE(run.source_lost());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_TRUE(log.lines[0].starts_with(" Read error: the medium is gone")) << log.lines[0];
  ASSERT_EQ(log.dialogs.size(), 1u);
  const auto calls = source->read_calls;
  EXPECT_EQ(reader.read(32, bytes.data(), 50000), 0);
  EXPECT_EQ(source->read_calls, calls) << "a gone medium is not asked again";
  run.clear_stop();
  EXPECT_FALSE(run.source_lost());
}

TEST_F(ReaderTest, ShortVolumeNeverHandsOutBytesItDidNotDeliver) {
  // The boot sector claims 1000 sectors, the volume holds 10.
  SectorReader reader(memory_volume(patterned_volume(10 * 512, 1, 1000)), 64, to_log());
  std::vector<std::uint8_t> bytes(32);
  ASSERT_EQ(reader.read(32, bytes.data(), 0), 32);
  EXPECT_EQ(reader.valid_bytes, 10u * 512);

  // Straddles the end of what the device delivered.
  EXPECT_EQ(reader.read(32, bytes.data(), 10 * 512 - 16), 0);
  EXPECT_TRUE(log.lines.empty());

  // Starts beyond it: the window offset error is logged and shown, and nothing is copied.
  EXPECT_EQ(reader.read(32, bytes.data(), 6000), 0);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], "Start Offset Error6000||6000||512");
  ASSERT_EQ(log.dialogs.size(), 1u);
  EXPECT_EQ(log.dialogs[0].kind, DialogKind::error);
}

TEST_F(ReaderTest, WritesReachTheVolumeButLeaveTheWindowAsItWas) {
  auto source = memory_volume(patterned_volume(200 * 512, 1, 200));
  SectorReader reader(source, 64, to_log());
  std::vector<std::uint8_t> before(16);
  ASSERT_EQ(reader.read(16, before.data(), 5 * 512), 16);
  const std::vector<std::uint8_t> zeros(512, 0);
  ASSERT_EQ(reader.write_sectors(1, zeros.data(), 5), 512);
  EXPECT_EQ(source->bytes()[5 * 512], 0);
  std::vector<std::uint8_t> again(16);
  ASSERT_EQ(reader.read(16, again.data(), 5 * 512), 16);
  EXPECT_EQ(again, before) << "the window keeps the bytes from before the write";
}

struct CreationCase {
  const char* what;
  bool bind_source;
  bool sector_0_bad;
  std::uint8_t sectors_per_cluster;
  std::int32_t error;
  std::vector<std::string> lines;
};

void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.what; }

class ReaderCreationTest : public ReaderTest, public ::testing::WithParamInterface<CreationCase> {};

TEST_P(ReaderCreationTest, ReportsAnUnusableVolume) {
  const CreationCase& c = GetParam();
  std::shared_ptr<MemorySource> source;
  if (c.bind_source) {
    source = memory_volume(patterned_volume(64 * 512, c.sectors_per_cluster, 64));
    if (c.sector_0_bad) source->bad_ranges = {{0, 512}};
  }
  SectorReader reader(source, 64, to_log());
  EXPECT_EQ(reader.error, c.error);
  EXPECT_EQ(log.lines, c.lines);
  // Each of these lines is also shown, except the note of where the medium failed.
  std::size_t shown = 0;
  for (const auto& line : c.lines) shown += line.starts_with(" Read error, these bytes") ? 0 : 1;
  ASSERT_EQ(log.dialogs.size(), shown);
  for (const auto& d : log.dialogs) EXPECT_EQ(d.kind, DialogKind::error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderCreationTest,
    ::testing::Values(
        CreationCase{"usable", true, false, 8, 0, {}},
        CreationCase{"zero sectors per cluster", true, false, 0, 1, {" Sector Per Cluster - Zero"}},
        CreationCase{
            "sector 0 unreadable",
            true,
            true,
            8,
            2,
            {" Read error, these bytes of the volume cannot be read and are skipped: 0-511",
             " Unable to read drive. Administrator rights may be required."}},
        CreationCase{"no such device",
                     false,
                     false,
                     8,
                     2,
                     {"Open disk error - 2",
                      " Unable to read drive. Administrator rights may be required."}}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (ch == ' ') ch = '_';
      return name;
    });

TEST_F(ReaderTest, ReadsAnImageFileThroughOneDescriptorPerReader) {
  testing::TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::vector<std::uint8_t> bytes = patterned_volume(128 * 512, 2, 128);
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const auto source = std::make_shared<FileSource>(image);
  std::vector<std::uint8_t> got(600);
  {
    SectorReader reader(source, 64, to_log());
    ASSERT_EQ(reader.error, 0);
    ASSERT_EQ(reader.read(600, got.data(), 70 * 512 + 3), 600);
    expect_pattern(got, 70 * 512 + 3);
    // The reader's descriptor stays open for its operation: the volume it started on is the
    // one it keeps reading, even when the name goes away meanwhile.
    std::filesystem::remove(image);
    ASSERT_EQ(reader.read(16, got.data(), 2 * 512), 16);
    expect_pattern(std::vector<std::uint8_t>(got.begin(), got.begin() + 16), 2 * 512);
  }
  // The next operation opens afresh and reports the missing file with its error code.
  SectorReader later(source, 64, to_log());
  EXPECT_EQ(later.error, 2);
  ASSERT_GE(log.lines.size(), 1u);
  EXPECT_EQ(log.lines.front(), "Open disk error - 2");
}

// Inside a read session the volume's first bytes are read once: every reader of a recovery
// run starts there. A write through the source, and the end of the session, forget them.
TEST_F(ReaderTest, ASessionReadsTheVolumeStartOnceUntilAWriteOrItsEnd) {
  testing::TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::vector<std::uint8_t> bytes = patterned_volume(128 * 512, 2, 128);
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  auto change_on_disk = [&](char value) {
    std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(100);
    f.put(value);
  };
  FileSource source(image);
  std::vector<std::uint8_t> got(4096);
  auto byte_100 = [&](std::size_t count) {
    EXPECT_EQ(source.read_at(0, got.data(), count).bytes, static_cast<std::int64_t>(count));
    return static_cast<char>(got[100]);
  };
  const char original = static_cast<char>(bytes[100]);
  source.begin_read_session();
  EXPECT_EQ(byte_100(4096), original);
  change_on_disk('X');
  EXPECT_EQ(byte_100(512), original) << "a read inside the session went to the file";
  EXPECT_EQ(byte_100(4096), original);
  const std::vector<std::uint8_t> sector(512, 'W');
  ASSERT_EQ(source.begin_write_session(), 0);
  ASSERT_EQ(source.write_at(0, sector.data(), sector.size()).bytes, 512);
  source.end_write_session();
  EXPECT_EQ(byte_100(512), 'W');
  change_on_disk('Y');
  source.end_read_session();
  EXPECT_EQ(byte_100(512), 'Y');
  // Reads elsewhere are never served from the start's copy.
  source.begin_read_session();
  EXPECT_EQ(source.read_at(512, got.data(), 512).bytes, 512);
  EXPECT_EQ(got[0], bytes[512]);
  source.end_read_session();
}

}  // namespace
}  // namespace fennick::volume

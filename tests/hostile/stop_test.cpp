// Stop at any moment: stop_flag is set at spread-out points of scans and recoveries of the
// fixture volumes (as the Stop button would, from the event handling the loops call). Each
// must end within a few more event calls with its interrupted log line, and leave a
// consistent catalogue holding only files the whole scan also finds, or an output file that
// is a true beginning of the whole recovery's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "catalogue/catalogue.h"
#include "dispatch/scan_run.h"
#include "dispatch/undelete_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "test_support.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

// Event calls a loop may still make after the stop request before it ends.
constexpr std::int64_t prompt_calls = 4;
constexpr int stop_points = 7;

using FileKey = std::tuple<std::string, std::string, std::int64_t>;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class StopTest : public ::testing::TestWithParam<const char*> {};

TEST_P(StopTest, ScansEndPromptlyWithAConsistentCatalogue) {
  const std::string image = fixture_image(GetParam());
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  std::set<FileKey> whole;
  std::int64_t calls = 0;
  {
    messages::RecordingChannel log;
    messages::ScopedChannel scoped(log);
    DriveScope drive(image);
    ASSERT_TRUE(dispatch::scan_drive());
    calls = log.pending_event_calls;
    for (const auto& f : catalogue::deleted_files)
      whole.insert({f.name.str(), f.path.str(), f.size});
  }
  ASSERT_GT(calls, stop_points);
  for (int i = 1; i <= stop_points; ++i) {
    // Spread over the scan, the last point near its end.
    const std::int64_t at = calls * i / (stop_points + 1) + (i * 7919) % 13;
    messages::RecordingChannel log;
    messages::ScopedChannel scoped(log);
    DriveScope drive(image);
    std::int64_t stopped_at = -1;
    log.on_pending_events = [&] {
      if (log.pending_event_calls == at) {
        messages::stop_flag = 1;
        stopped_at = log.pending_event_calls;
      }
    };
    ASSERT_TRUE(dispatch::scan_drive());
    ASSERT_GE(stopped_at, 0) << "the scan ended before call " << at;
    EXPECT_LE(log.pending_event_calls - stopped_at, prompt_calls) << "stop at call " << at;
    EXPECT_TRUE(log.has_line_starting(messages::get_message(39))) << "stop at call " << at;
    EXPECT_EQ(catalogue::deleted_count, static_cast<std::int32_t>(catalogue::deleted_files.size()));
    for (const auto& f : catalogue::deleted_files) {
      EXPECT_TRUE(whole.count({f.name.str(), f.path.str(), f.size}))
          << f.path.str() << f.name.str() << " is not a file of the whole scan";
    }
  }
}

TEST_P(StopTest, RecoveriesEndPromptlyKeepingATrueBeginning) {
  const std::string image = fixture_image(GetParam());
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  TempDir out;
  messages::RecordingChannel quiet;
  messages::ScopedChannel scoped(quiet);
  DriveScope drive(image);
  ASSERT_TRUE(dispatch::scan_drive());
  // The largest file found gives the most points to stop at.
  const catalogue::TDeletedFile* largest = nullptr;
  for (const auto& f : catalogue::deleted_files) {
    if (!largest || f.size > largest->size) largest = &f;
  }
  ASSERT_NE(largest, nullptr);
  dispatch::destination_folder = out.path() + "/whole";
  fs::create_directories(dispatch::destination_folder);
  dispatch::begin_recovery_run();
  const std::int64_t before = quiet.pending_event_calls;
  dispatch::RecoveryOutcome whole;
  dispatch::recover_file(*largest, false, &whole);
  const std::int64_t calls = quiet.pending_event_calls - before;
  const std::string whole_bytes = read_all(whole.output_path);
  ASSERT_GT(calls, 2);
  for (int i = 1; i <= stop_points; ++i) {
    const std::int64_t at = std::max<std::int64_t>(1, calls * i / (stop_points + 1));
    messages::RecordingChannel log;
    messages::ScopedChannel inner(log);
    messages::stop_flag = 0;
    dispatch::destination_folder = out.path() + "/stop" + std::to_string(i);
    fs::create_directories(dispatch::destination_folder);
    dispatch::begin_recovery_run();
    std::int64_t stopped_at = -1;
    log.on_pending_events = [&] {
      if (log.pending_event_calls == at) {
        messages::stop_flag = 1;
        stopped_at = log.pending_event_calls;
      }
    };
    dispatch::RecoveryOutcome outcome;
    dispatch::recover_file(*largest, false, &outcome);
    messages::stop_flag = 0;
    ASSERT_GE(stopped_at, 0);
    EXPECT_LE(log.pending_event_calls - stopped_at, prompt_calls) << "stop at call " << at;
    EXPECT_TRUE(outcome.result.stopped) << "stop at call " << at;
    EXPECT_TRUE(log.has_line_starting(messages::get_message(73))) << "stop at call " << at;
    const std::string part = read_all(outcome.output_path);
    EXPECT_LE(part.size(), whole_bytes.size());
    EXPECT_EQ(whole_bytes.compare(0, part.size(), part), 0) << "stop at call " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StopTest,
                         ::testing::Values("fat12.img", "fat16.img", "fat32.img", "ntfs.img"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

}  // namespace
}  // namespace fennick::testing

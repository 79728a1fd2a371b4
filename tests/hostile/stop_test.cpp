// Stop at any moment: the stop is requested at spread-out points of scans and recoveries of the
// fixture volumes (as the Stop button would, from the event pump the loops call). Each
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
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "workflow/recovery_run.h"
#include "workflow/scan_run.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

// Event calls a loop may still make after the stop request before it ends.
constexpr std::int64_t prompt_calls = 4;
constexpr int stop_points = 7;

using FileKey = std::tuple<std::string, std::string, std::int64_t>;

// Counts the calls of the run's event pump while it lives and requests the stop at call `at`
// (0: never).
class PumpCounter {
 public:
  explicit PumpCounter(run::RunControl& run, std::int64_t at = 0) : run_(run) {
    run_.event_pump = [this, at] {
      ++calls;
      if (calls == at) {
        run_.request_stop();
        stopped_at = calls;
      }
    };
  }
  ~PumpCounter() { run_.event_pump = nullptr; }
  PumpCounter(const PumpCounter&) = delete;
  PumpCounter& operator=(const PumpCounter&) = delete;

  std::int64_t calls = 0;
  std::int64_t stopped_at = -1;

 private:
  run::RunControl& run_;
};

// Scans drive C: of the scope as the scan run does for one drive.
bool scan_drive(DriveScope& s) {
  return workflow::scan_drive(s.drive(), s.catalogue, s.run, s.channel, {});
}

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
    DriveScope s(image);
    PumpCounter pumps(s.run);
    ASSERT_TRUE(scan_drive(s));
    calls = pumps.calls;
    for (const auto& f : s.catalogue.files()) whole.insert({f.name.str(), f.path.str(), f.size});
  }
  ASSERT_GT(calls, stop_points);
  for (int i = 1; i <= stop_points; ++i) {
    // Spread over the scan, the last point near its end.
    const std::int64_t at = calls * i / (stop_points + 1) + (i * 7919) % 13;
    DriveScope s(image);
    PumpCounter pumps(s.run, at);
    ASSERT_TRUE(scan_drive(s));
    ASSERT_GE(pumps.stopped_at, 0) << "the scan ended before call " << at;
    EXPECT_LE(pumps.calls - pumps.stopped_at, prompt_calls) << "stop at call " << at;
    EXPECT_TRUE(s.channel.has_line_starting(s.channel.text(messages::process_interrupted)))
        << "stop at call " << at;
    EXPECT_EQ(s.catalogue.deleted_count(), static_cast<std::int32_t>(s.catalogue.files().size()));
    for (const auto& f : s.catalogue.files()) {
      EXPECT_TRUE(whole.count({f.name.str(), f.path.str(), f.size}))
          << f.path.str() << f.name.str() << " is not a file of the whole scan";
    }
  }
}

TEST_P(StopTest, RecoveriesEndPromptlyKeepingATrueBeginning) {
  const std::string image = fixture_image(GetParam());
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  TempDir out;
  DriveScope s(image);
  ASSERT_TRUE(scan_drive(s));
  // The largest file found gives the most points to stop at.
  const catalogue::FoundFile* largest = nullptr;
  for (const auto& f : s.catalogue.files()) {
    if (!largest || f.size > largest->size) largest = &f;
  }
  ASSERT_NE(largest, nullptr);
  fs::create_directories(out.path() + "/whole");
  messages::RecordingChannel quiet;
  std::int64_t calls = 0;
  workflow::RecoveryOutcome whole;
  {
    workflow::RecoveryRun run(s.drives, out.path() + "/whole", s.run, quiet);
    PumpCounter pumps(s.run);
    whole = run.recover(*largest, false);
    calls = pumps.calls;
  }
  const std::string whole_bytes = read_all(whole.output_path);
  ASSERT_GT(calls, 2);
  for (int i = 1; i <= stop_points; ++i) {
    const std::int64_t at = std::max<std::int64_t>(1, calls * i / (stop_points + 1));
    messages::RecordingChannel log;
    s.run.clear_stop();
    const std::string destination = out.path() + "/stop" + std::to_string(i);
    fs::create_directories(destination);
    workflow::RecoveryRun run(s.drives, destination, s.run, log);
    PumpCounter pumps(s.run, at);
    const workflow::RecoveryOutcome outcome = run.recover(*largest, false);
    s.run.clear_stop();
    ASSERT_GE(pumps.stopped_at, 0);
    EXPECT_LE(pumps.calls - pumps.stopped_at, prompt_calls) << "stop at call " << at;
    EXPECT_TRUE(outcome.result.stopped) << "stop at call " << at;
    EXPECT_TRUE(log.has_line_starting(log.text(messages::interrupted_prefix)))
        << "stop at call " << at;
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

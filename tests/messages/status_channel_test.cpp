// The status channel: order of dialogs and lines, runs writing only to the channel they are
// given, and the run state a loop reads.
#include "messages/status_channel.h"

#include <gtest/gtest.h>

#include <chrono>

#include "catalogue/catalogue.h"
#include "messages/message_ids.h"
#include "run/run_control.h"
#include "workflow/drive_list.h"
#include "workflow/scan_run.h"

namespace fennick::messages {
namespace {

TEST(StatusChannelTest, LinesAppearInCallOrderAndDialogsOnlyWhenAsked) {
  RecordingChannel log;
  StatusChannel& channel = log;
  channel.out_text(" first", DialogKind::error, true);
  channel.out_text("", DialogKind::plain, false);
  channel.out_text(" third", DialogKind::information, false);
  EXPECT_EQ(log.lines, (std::vector<std::string>{" first", "", " third"}));
  ASSERT_EQ(log.dialogs.size(), 1u);
  EXPECT_EQ(log.dialogs[0].text, " first");
  EXPECT_EQ(log.dialogs[0].kind, DialogKind::error);
}

// A run writes to the channel it is handed and to no other, in that channel's language.
TEST(StatusChannelTest, ARunWritesOnlyToTheChannelItIsGiven) {
  RecordingChannel outer;
  RecordingChannel inner;
  inner.set_language(20000);
  workflow::DriveList drives(1);
  drives[0].drive_letter = 'c';
  drives[0].ticked = true;  // no source, no file system: the run logs a drive error
  catalogue::Catalogue catalogue;
  run::RunControl run;
  workflow::ScanSettings settings;
  settings.pause_before_scan = std::chrono::milliseconds(0);
  workflow::scan_ticked_drives(drives, catalogue, run, inner, settings);
  EXPECT_TRUE(outer.lines.empty());
  EXPECT_EQ(inner.lines, (std::vector<std::string>{get_message(20000, scan_started) + "C:\\ ...",
                                                   get_message(20000, drive_error)}));
  workflow::scan_ticked_drives(drives, catalogue, run, outer, settings);
  EXPECT_EQ(outer.lines, (std::vector<std::string>{" Scan C:\\ ...", " ERROR: Drive Error"}));
  EXPECT_EQ(inner.lines.size(), 2u);
}

TEST(StatusChannelTest, PendingEventsLetAStopRequestReachALoop) {
  run::RunControl run;
  run.pump_events();  // no pump set: nothing happens
  EXPECT_FALSE(run.stop_requested());
  int pump_calls = 0;
  run.event_pump = [&] {
    if (++pump_calls == 3) run.request_stop();
  };
  int pieces = 0;
  while (pieces < 100) {
    run.pump_events();
    if (run.stop_requested()) break;
    ++pieces;
  }
  EXPECT_EQ(pieces, 2);
  run.clear_stop();
  EXPECT_FALSE(run.stop_requested());
}

TEST(StatusChannelTest, FileCounterAndProgress) {
  RecordingChannel log;
  StatusChannel& channel = log;
  channel.set_file_counter(42);
  channel.set_progress_range(7);
  channel.set_progress(3);
  EXPECT_EQ(log.file_counter, "Files: 42");
  EXPECT_EQ(log.progress_maximum, 7);
  EXPECT_EQ(log.progress, 3);
}

}  // namespace
}  // namespace fennick::messages

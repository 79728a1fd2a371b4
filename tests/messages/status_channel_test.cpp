// The status channel: order of dialogs and lines, the active channel, and the run state.
#include "messages/status_channel.h"

#include <gtest/gtest.h>

namespace fennick::messages {
namespace {

TEST(StatusChannelTest, LinesAppearInCallOrderAndDialogsOnlyWhenAsked) {
  RecordingChannel log;
  ScopedChannel scoped(log);
  out_text(" first", DialogKind::error, true);
  out_text("", DialogKind::plain, false);
  out_text(" third", DialogKind::information, false);
  EXPECT_EQ(log.lines, (std::vector<std::string>{" first", "", " third"}));
  ASSERT_EQ(log.dialogs.size(), 1u);
  EXPECT_EQ(log.dialogs[0].text, " first");
  EXPECT_EQ(log.dialogs[0].kind, DialogKind::error);
}

TEST(StatusChannelTest, ScopedChannelRestoresThePreviousOne) {
  RecordingChannel outer;
  RecordingChannel inner;
  {
    ScopedChannel a(outer);
    {
      ScopedChannel b(inner);
      out_text("inner");
    }
    out_text("outer");
  }
  out_text("nobody");  // the silent channel swallows it
  EXPECT_EQ(inner.lines, std::vector<std::string>{"inner"});
  EXPECT_EQ(outer.lines, std::vector<std::string>{"outer"});
}

TEST(StatusChannelTest, PendingEventsLetAStopRequestReachALoop) {
  RecordingChannel log;
  ScopedChannel scoped(log);
  stop_flag = 0;
  log.on_pending_events = [&] {
    if (log.pending_event_calls == 3) stop_flag = 1;
  };
  int pieces = 0;
  while (pieces < 100) {
    process_pending_events();
    if (stop_flag) break;
    ++pieces;
  }
  EXPECT_EQ(pieces, 2);
  stop_flag = 0;
}

TEST(StatusChannelTest, FileCounterAndProgress) {
  RecordingChannel log;
  ScopedChannel scoped(log);
  channel().set_file_counter(42);
  channel().set_progress_range(7);
  channel().set_progress(3);
  EXPECT_EQ(log.file_counter, "Files: 42");
  EXPECT_EQ(log.progress_maximum, 7);
  EXPECT_EQ(log.progress, 3);
}

}  // namespace
}  // namespace fennick::messages

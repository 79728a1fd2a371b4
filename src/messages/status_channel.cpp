// Active status channel, the silent default channel, the recording channel and the run state.
#include "messages/status_channel.h"

#include "messages/message_catalogue.h"

namespace fennick::messages {

std::uint8_t stop_flag = 0;
std::int64_t work_total = 0;
std::int64_t work_done = 0;

namespace {

class SilentChannel final : public StatusChannel {
 public:
  void out_text(std::string_view, DialogKind, bool) override {}
  void process_pending_events() override {}
  void set_file_counter(std::int64_t) override {}
  void set_progress(std::int32_t) override {}
  void set_progress_range(std::int32_t) override {}
};

SilentChannel silent_channel;
StatusChannel* active_channel = &silent_channel;

}  // namespace

StatusChannel& channel() { return *active_channel; }

StatusChannel* set_channel(StatusChannel* c) {
  StatusChannel* previous = active_channel;
  active_channel = c ? c : &silent_channel;
  return previous == &silent_channel ? nullptr : previous;
}

void out_text(std::string_view text, DialogKind kind, bool show_dialog) {
  channel().out_text(text, kind, show_dialog);
}

void process_pending_events() { channel().process_pending_events(); }

void RecordingChannel::out_text(std::string_view text, DialogKind kind, bool show_dialog) {
  // The dialog comes first and the line only after it has been closed.
  if (show_dialog) dialogs.push_back({std::string(text), kind});
  lines.emplace_back(text);
}

void RecordingChannel::process_pending_events() {
  ++pending_event_calls;
  if (on_pending_events) on_pending_events();
}

void RecordingChannel::set_file_counter(std::int64_t files) {
  file_counter = get_message(9) + std::to_string(files);
}

void RecordingChannel::set_progress(std::int32_t position) {
  progress = position;
  progress_history.push_back(position);
}

void RecordingChannel::set_progress_range(std::int32_t maximum) { progress_maximum = maximum; }

bool RecordingChannel::has_line_starting(std::string_view prefix) const {
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace fennick::messages

// The recording channel.
#include "messages/status_channel.h"

#include "messages/message_ids.h"

namespace fennick::messages {

void RecordingChannel::out_text(std::string_view text, DialogKind kind, bool show_dialog) {
  // The dialog comes first and the line only after it has been closed.
  if (show_dialog) dialogs.push_back({std::string(text), kind});
  lines.emplace_back(text);
}

void RecordingChannel::set_file_counter(std::int64_t files) {
  file_counter = this->text(files_label) + std::to_string(files);
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

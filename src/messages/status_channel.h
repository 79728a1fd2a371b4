// The status channel every engine and workflow reports through, and the run state that long
// operations share: the stop request and the byte/file counters of an undelete or wipe run.
//
// The engines never print or show anything themselves; they call the channel that is active
// (the main window's, the Clean Disk window's, the command line's, or a test's recorder).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::messages {

enum class DialogKind { error, information, plain };

class StatusChannel {
 public:
  virtual ~StatusChannel() = default;
  // Shows the text in a modal dialog of the given kind when show_dialog is set and waits for
  // it to close; then appends the text as the log's new last line.
  virtual void out_text(std::string_view text, DialogKind kind, bool show_dialog) = 0;
  // Lets the user interface handle waiting events (the Stop button sets stop_flag there).
  virtual void process_pending_events() = 0;
  // Sets the file counter to message 9 "Files: " followed by the number.
  virtual void set_file_counter(std::int64_t files) = 0;
  virtual void set_progress(std::int32_t position) = 0;
  virtual void set_progress_range(std::int32_t maximum) = 0;
};

// The channel engines report to. Never null: with nothing installed it is a silent channel.
StatusChannel& channel();
// Installs a channel (nullptr restores the silent one) and returns the one it replaces.
StatusChannel* set_channel(StatusChannel* channel);

// Installs a channel for the lifetime of a scope and restores the previous one afterwards.
class ScopedChannel {
 public:
  explicit ScopedChannel(StatusChannel& c) : previous_(set_channel(&c)) {}
  ~ScopedChannel() { set_channel(previous_); }
  ScopedChannel(const ScopedChannel&) = delete;
  ScopedChannel& operator=(const ScopedChannel&) = delete;

 private:
  StatusChannel* previous_;
};

// Shorthands over the active channel.
void out_text(std::string_view text, DialogKind kind = DialogKind::plain, bool show_dialog = false);
void process_pending_events();

// Run state shared by the long operations. stop_flag is set only by the user's Stop
// commands, cleared when a run starts, and read by every long loop after
// process_pending_events().
extern std::uint8_t stop_flag;
// Undelete run: total bytes of the run's files and bytes written so far.
// Wipe run: files in the run and files wiped so far.
extern std::int64_t work_total;
extern std::int64_t work_done;

// A channel that keeps everything it is told; for tests, and for front ends that show the
// log later. on_pending_events, when set, runs on every process_pending_events() call, so a
// test can press Stop in the middle of a loop.
class RecordingChannel : public StatusChannel {
 public:
  struct Dialog {
    std::string text;
    DialogKind kind;
  };
  std::vector<std::string> lines;
  std::vector<Dialog> dialogs;
  std::string file_counter;
  std::int32_t progress = 0;
  std::int32_t progress_maximum = 100;
  std::vector<std::int32_t> progress_history;
  std::int64_t pending_event_calls = 0;
  std::function<void()> on_pending_events;

  void out_text(std::string_view text, DialogKind kind, bool show_dialog) override;
  void process_pending_events() override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;

  // True when some log line begins with the given text.
  bool has_line_starting(std::string_view prefix) const;
};

}  // namespace fennick::messages

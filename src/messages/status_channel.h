// The status channel every engine, worker and workflow reports through.
//
// The engines never print or show anything themselves; they are handed the channel of the
// front end that runs them (the main window's, the Clean Disk window's, the command line's,
// or a test's recorder). The channel carries the language its texts are wanted in, so that a
// log line an engine writes reads in the user's language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "messages/message_catalogue.h"

namespace fennick::messages {

enum class DialogKind { error, information, plain };

class StatusChannel {
 public:
  virtual ~StatusChannel() = default;
  // Shows the text in a modal dialog of the given kind when show_dialog is set (a front end
  // without dialogs only logs it) and waits for it to close; then appends the text as the
  // log's new last line.
  virtual void out_text(std::string_view text, DialogKind kind, bool show_dialog) = 0;
  // Sets the file counter to message 9 "Files: " followed by the number.
  virtual void set_file_counter(std::int64_t files) = 0;
  virtual void set_progress(std::int32_t position) = 0;
  virtual void set_progress_range(std::int32_t maximum) = 0;
  // A recovery run's files finished of its total, for a front end that shows them with the
  // time left; the run starts with (0, total). Nothing by default.
  virtual void set_run_files(std::int64_t done, std::int64_t total) {
    (void)done;
    (void)total;
  }

  // A plain log line.
  void log(std::string_view text) { out_text(text, DialogKind::plain, false); }

  // Message k in the channel's language (English when the language lacks it).
  std::string text(int k) const { return get_message(language_, k); }
  int language() const { return language_; }
  void set_language(int base) { language_ = base; }

 private:
  int language_ = english_base;
};

// A channel that drops everything.
class SilentChannel final : public StatusChannel {
 public:
  void out_text(std::string_view, DialogKind, bool) override {}
  void set_file_counter(std::int64_t) override {}
  void set_progress(std::int32_t) override {}
  void set_progress_range(std::int32_t) override {}
};

// A channel that keeps everything it is told; for tests, and for front ends that show the
// log later.
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
  std::int64_t run_files_done = -1;
  std::int64_t run_files_total = -1;

  void out_text(std::string_view text, DialogKind kind, bool show_dialog) override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;
  void set_run_files(std::int64_t done, std::int64_t total) override {
    run_files_done = done;
    run_files_total = total;
  }

  // True when some log line begins with the given text.
  bool has_line_starting(std::string_view prefix) const;
};

}  // namespace fennick::messages

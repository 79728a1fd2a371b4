// The command line's status channel: log lines (and dialog texts) go to stderr, one per line,
// with controls escaped (terminal_text.h); a progress bar is drawn on stderr when stderr is a
// terminal. On a terminal every line is shown at once; into a file or a pipe lines are
// written in batches at least every 100 ms, so that a recovery of 100,000 files does not make
// 100,000 separate writes.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "messages/status_channel.h"
#include "run/time_left.h"

namespace fennick::cli {

class ConsoleChannel final : public messages::StatusChannel {
 public:
  explicit ConsoleChannel(std::FILE* out = stderr);
  ~ConsoleChannel() override;
  void out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;
  void set_run_files(std::int64_t done, std::int64_t total) override;

 private:
  void clear_bar();
  void draw_bar();
  void flush_when_due();
  std::FILE* out_;
  std::string line_;  // the escaped line being written, kept for its capacity
  bool terminal_;
  std::chrono::steady_clock::time_point last_flush_{};
  bool pending_ = false;  // lines written but not flushed
  bool bar_shown_ = false;
  std::int32_t position_ = 0;
  std::int32_t maximum_ = 100;
  std::int32_t drawn_percent_ = -1;
  std::int64_t files_ = -1;
  // A recovery run's files done and total (total 0 outside one), and its clock.
  std::int64_t run_files_done_ = 0;
  std::int64_t run_files_total_ = 0;
  run::TimeLeft run_clock_;
  std::chrono::steady_clock::time_point drawn_at_{};
};

}  // namespace fennick::cli

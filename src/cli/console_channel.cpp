// Console status channel: escaped log lines, and a progress bar drawn with \r and ESC [ K.
#include "cli/console_channel.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "cli/terminal_text.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::cli {

namespace {
constexpr auto flush_interval = std::chrono::milliseconds(100);
}

ConsoleChannel::ConsoleChannel(std::FILE* out)
    : out_(out), terminal_(::isatty(::fileno(out)) == 1) {
  // stderr has no buffer of its own; give it one where lines need not appear one by one.
  if (!terminal_) std::setvbuf(out_, nullptr, _IOFBF, 1 << 16);
}

ConsoleChannel::~ConsoleChannel() {
  clear_bar();
  std::fflush(out_);
}

void ConsoleChannel::clear_bar() {
  if (!bar_shown_) return;
  std::fputs("\r\033[K", out_);
  bar_shown_ = false;
  drawn_percent_ = -1;
}

void ConsoleChannel::draw_bar() {
  if (!terminal_) return;
  const std::int64_t range = maximum_ > 0 ? maximum_ : 1;
  const auto percent = static_cast<std::int32_t>(std::int64_t{position_} * 100 / range);
  // During a recovery run the file count and the time left change within one percent:
  // redrawn at most every 100 ms then.
  const auto now = std::chrono::steady_clock::now();
  if (percent == drawn_percent_ && (run_files_total_ <= 0 || now - drawn_at_ < flush_interval))
    return;
  drawn_percent_ = percent;
  drawn_at_ = now;
  constexpr int width = 30;
  const int filled = std::min(width, std::max(0, percent * width / 100));
  std::string bar = "\r[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] " +
                    std::to_string(percent) + "%";
  if (run_files_total_ > 0) {
    bar += "  " + std::to_string(run_files_done_) + "/" + std::to_string(run_files_total_);
    if (const auto left =
            run_clock_.seconds_left(static_cast<double>(position_) / static_cast<double>(range))) {
      bar += "  " + terminal_text(text(messages::time_left)) + run::clock_text(*left);
    }
  } else if (files_ >= 0) {
    bar += "  " + terminal_text(text(messages::files_label)) + std::to_string(files_);
  }
  // The bar is redrawn over itself: what a longer one left behind is cleared.
  bar += "\033[K";
  std::fputs(bar.c_str(), out_);
  std::fflush(out_);
  bar_shown_ = true;
}

void ConsoleChannel::out_text(std::string_view text, messages::DialogKind, bool) {
  // A terminal has no dialogs: the text is the log line, shown once. It holds names from the
  // volume: escaped, so that it cannot steer the terminal; the bar's own framing is not.
  clear_bar();
  line_.clear();
  append_terminal_text(line_, text);
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), out_);
  if (terminal_) {
    std::fflush(out_);
  } else {
    pending_ = true;
    flush_when_due();
  }
}

void ConsoleChannel::flush_when_due() {
  if (!pending_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_flush_ < flush_interval) return;
  std::fflush(out_);
  last_flush_ = now;
  pending_ = false;
}

void ConsoleChannel::set_file_counter(std::int64_t files) {
  // Shown with the next redraw of the bar; redrawing per file would flood the terminal.
  files_ = files;
}

void ConsoleChannel::set_progress(std::int32_t position) {
  position_ = position;
  draw_bar();
  // A long file copy moves the bar now and then: lines held back reach the file meanwhile.
  flush_when_due();
}

void ConsoleChannel::set_run_files(std::int64_t done, std::int64_t total) {
  if (done == 0) run_clock_.restart();
  run_files_done_ = done;
  run_files_total_ = total;
  draw_bar();
}

void ConsoleChannel::set_progress_range(std::int32_t maximum) {
  maximum_ = maximum;
  draw_bar();
}

}  // namespace fennick::cli

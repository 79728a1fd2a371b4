// fennick-cli clean: the Clean Disk jobs (directory entries, cluster tips, free space) on one
// mounted volume, in that fixed order, with the same log lines as the Clean Disk window.
// Ctrl-C (or SIGTERM / SIGHUP) stops the running job the way the window's Stop does; the
// job still removes everything it made.
#include <csignal>
#include <string>

#include "cleaning/clean_unit.h"
#include "cli/cli_commands.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "volume/drive_table.h"

namespace fennick::cli {

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int) { stop_requested = 1; }

// Passes everything to the console channel; pending events are the stop signals.
class StoppableChannel final : public messages::StatusChannel {
 public:
  explicit StoppableChannel(messages::StatusChannel& inner) : inner_(inner) {}
  void out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) override {
    inner_.out_text(text, kind, show_dialog);
  }
  void process_pending_events() override {
    inner_.process_pending_events();
    if (stop_requested != 0) messages::stop_flag = 1;
  }
  void set_file_counter(std::int64_t files) override { inner_.set_file_counter(files); }
  void set_progress(std::int32_t position) override { inner_.set_progress(position); }
  void set_progress_range(std::int32_t maximum) override { inner_.set_progress_range(maximum); }

 private:
  messages::StatusChannel& inner_;
};

// Installs the stop handlers for the run and puts the old ones back afterwards.
class StopSignals {
 public:
  StopSignals() {
    stop_requested = 0;
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(signals_[i], &action, &saved_[i]);
  }
  ~StopSignals() {
    for (int i = 0; i < 3; ++i) sigaction(signals_[i], &saved_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  const int signals_[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[3]{};
};

// The closing line of one job: errors, stopped, or done. True when the job was done.
bool close_job(bool result) {
  if (!result) {
    messages::out_text(messages::get_message(104));
    return false;
  }
  const bool stopped = messages::stop_flag != 0;
  messages::out_text(messages::get_message(stopped ? 39 : 103));
  return !stopped;
}

}  // namespace

int run_clean(const std::vector<std::string>& args) {
  bool entries = false;
  bool tips = false;
  bool free_space = false;
  std::vector<std::string> volumes;
  for (const std::string& a : args) {
    if (a == "--entries") {
      entries = true;
    } else if (a == "--tips") {
      tips = true;
    } else if (a == "--free-space") {
      free_space = true;
    } else if (a.starts_with("-") && a != "-") {
      return usage_error("unknown option: " + a);
    } else {
      volumes.push_back(a);
    }
  }
  if (volumes.size() != 1) return usage_error("clean needs exactly one volume");
  if (!entries && !tips && !free_space) {
    return usage_error("clean needs at least one of --entries, --tips, --free-space");
  }
  if (!load_named_volumes(volumes, false) || volume::drive_table.empty()) return exit_unreadable;
  const volume::DriveInfo drive = volume::drive_table.front();
  if (cleaning::clean_root(drive).empty()) return exit_unreadable;

  StoppableChannel stoppable(messages::channel());
  messages::ScopedChannel scoped(stoppable);
  StopSignals signals;
  messages::stop_flag = 0;
  bool all_done = true;
  if (entries) {
    messages::out_text(messages::get_message(102));
    all_done = close_job(cleaning::erase_directory_entries(drive)) && all_done;
  }
  if (tips && messages::stop_flag == 0) {
    messages::out_text(messages::get_message(105));
    all_done = close_job(cleaning::erase_cluster_tips(drive, drive.cluster_size,
                                                      drive.total_bytes - drive.free_bytes)) &&
               all_done;
  }
  if (free_space && messages::stop_flag == 0) {
    messages::out_text(messages::get_message(106));
    all_done = close_job(cleaning::erase_free_space(drive)) && all_done;
  }
  const bool stopped = messages::stop_flag != 0;
  messages::stop_flag = 0;
  return all_done && !stopped ? exit_done : exit_some_failed;
}

}  // namespace fennick::cli

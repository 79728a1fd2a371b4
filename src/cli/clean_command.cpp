// fennick-cli clean: the Clean Disk jobs (directory entries, cluster tips, free space) on one
// mounted volume, in that fixed order, with the same log lines as the Clean Disk window.
// Ctrl-C (or SIGTERM / SIGHUP) stops the running job the way the window's Stop does; the
// job still removes everything it made.
#include <string>

#include "cleaning/clean_jobs.h"
#include "cli/cli_commands.h"
#include "cli/stop_signals.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"
#include "run/run_control.h"

namespace fennick::cli {

namespace {

// The closing line of one job: errors, stopped, or done. True when the job was done.
bool close_job(bool result, const run::RunControl& run, messages::StatusChannel& channel) {
  if (!result) {
    channel.log(channel.text(messages::clean_finished_with_errors));
    return false;
  }
  const bool stopped = run.stop_requested();
  channel.log(channel.text(stopped ? messages::process_interrupted : messages::clean_ok));
  return !stopped;
}

}  // namespace

int run_clean(const std::vector<std::string>& args, messages::StatusChannel& channel) {
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
  const LoadedDrives loaded = load_named_volumes(volumes, false);
  if (!loaded.readable || loaded.drives.empty()) return exit_unreadable;
  const workflow::Drive& drive = loaded.drives.front();
  if (cleaning::clean_root(drive, channel).empty()) return exit_unreadable;

  run::RunControl run;
  const StopSignals signals(run, StopSignals::Repeat::asks_again);
  const cleaning::CleanJob job{drive, run, channel};
  bool all_done = true;
  if (entries) {
    channel.log(channel.text(messages::erasing_directory_entries));
    all_done = close_job(cleaning::erase_directory_entries(job), run, channel) && all_done;
  }
  if (tips && !run.stop_requested()) {
    channel.log(channel.text(messages::erasing_cluster_tips));
    all_done = close_job(cleaning::erase_cluster_tips(job, drive.cluster_size,
                                                      drive.total_bytes - drive.free_bytes),
                         run, channel) &&
               all_done;
  }
  if (free_space && !run.stop_requested()) {
    channel.log(channel.text(messages::erasing_free_space));
    all_done = close_job(cleaning::erase_free_space(job), run, channel) && all_done;
  }
  return all_done && !run.stop_requested() ? exit_done : exit_some_failed;
}

}  // namespace fennick::cli

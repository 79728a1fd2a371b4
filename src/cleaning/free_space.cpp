// erase_free_space: fills the free space of the volume with cleanup files of its own (one
// large file, then small ones until not one more byte can be written; on NTFS the last ones
// take the free MFT records), three patterns each, and lets them all go again.
//
// Every cleanup file loses its name right after it is made, so the file lives only as long
// as its descriptor: closing it, or the end of the process however it comes, gives the space
// back and leaves nothing behind.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "cleaning/clean_files.h"
#include "cleaning/clean_jobs.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"

namespace fennick::cleaning {

namespace {

constexpr std::int64_t first_small_size = 4096;
// A folder cannot hold more than this many cleanup names before the counter wraps.
constexpr std::uint64_t last_small_number = 999999999999ULL;

// The descriptors of the run's cleanup files, closed in the order they were made.
class CleanupFiles {
 public:
  ~CleanupFiles() { close_all(); }
  void close_all() {
    for (const int fd : fds_) ::close(fd);
    fds_.clear();
  }
  void add(int fd) { fds_.push_back(fd); }

 private:
  std::vector<int> fds_;
};

}  // namespace

bool erase_free_space(const CleanJob& job) {
  detail::Worker w(job);
  const detail::RootFolder root = detail::open_clean_root(job.volume, job.channel);
  if (root.path.empty()) return false;
  struct statvfs sv {};
  if (!root.fd.valid() || ::fstatvfs(root.fd.get(), &sv) != 0) {
    w.log(w.text(messages::no_cluster_size) +
          std::to_string(root.fd.valid() ? errno : root.open_error));
    return false;
  }
  // Some FUSE file systems report no figures at all; the cluster size then comes from the
  // volume's boot sector.
  std::int64_t cluster = static_cast<std::int64_t>(sv.f_frsize != 0 ? sv.f_frsize : sv.f_bsize);
  if (sv.f_blocks == 0 || cluster <= 0) cluster = job.volume.cluster_size;
  if (cluster <= 0) {
    w.log(w.text(messages::no_cluster_size) + std::to_string(EINVAL));
    return false;
  }
  const auto unit = static_cast<std::int64_t>(sv.f_frsize);
  const std::int64_t free_to_caller = static_cast<std::int64_t>(sv.f_bavail) * unit;
  const std::int64_t free_total = static_cast<std::int64_t>(sv.f_bfree) * unit;
  if (free_to_caller != free_total) {
    w.log(w.text(messages::quota_prevents_cleaning));
    return false;
  }

  // Every small file stays open until the end, and a volume can have far more free MFT
  // records than the usual descriptor limit.
  detail::DescriptorLimit limit;
  CleanupFiles files;
  const int large =
      detail::create_cleanup_file(root.fd.get(), root.device, "DELTEMP00000", 0, true);
  if (large < 0) {
    w.log(w.text(messages::no_cleanup_file) + std::to_string(errno));
    return false;
  }
  files.add(large);

  // Large file: 256 clusters a round until the volume is full.
  std::int64_t chunk = 256 * cluster;
  w.progress_start();
  std::int64_t written = 0;
  std::int64_t rounds = 0;
  while (chunk > cluster && !w.stopped()) {
    w.pump();
    if (w.stopped()) break;
    if (!w.overwrite(large, chunk)) {
      chunk = 0;
      break;
    }
    written += chunk;
    rounds += 1;
    if (rounds % 10 == 0 && free_total > 0) w.progress_to(written * 100 / free_total);
  }

  const int second =
      detail::create_cleanup_file(root.fd.get(), root.device, "DELTEMP00001", O_DSYNC, false);
  if (second >= 0) files.add(second);

  // Small files, until one cannot be made or cannot take a single byte. Each file is filled
  // with pieces of one size while they fit, then with pieces half as large, down to one
  // byte; the next file starts with the largest piece that fitted into this one.
  std::int64_t size_step = first_small_size;
  std::uint64_t k = 0;
  while (!w.stopped()) {
    w.pump();
    if (w.stopped() || k >= last_small_number) break;
    k += 1;
    const int fd = detail::create_cleanup_file(root.fd.get(), root.device,
                                               detail::counter_name(k, 12), 0, false);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // a file of the user's with this name: the next number
      break;
    }
    files.add(fd);
    std::int64_t size = size_step;
    std::int64_t largest_fit = 0;
    while (size > 0 && !w.stopped()) {
      w.pump();
      if (w.stopped()) break;
      if (w.overwrite(fd, size)) {
        if (largest_fit == 0) largest_fit = size;
      } else {
        size /= 2;
      }
    }
    if (largest_fit == 0) break;
    size_step = largest_fit;
  }
  files.close_all();
  w.progress_to(100);
  return true;
}

}  // namespace fennick::cleaning

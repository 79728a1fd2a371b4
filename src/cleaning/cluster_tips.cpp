// erase_cluster_tips: overwrites the bytes between the end of every file and the end of its
// last cluster, leaving each file's length, content and times as they were.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "cleaning/clean_files.h"
#include "cleaning/clean_jobs.h"
#include "messages/message_ids.h"

namespace fennick::cleaning {

namespace {

using detail::attribute_compressed;
using detail::attribute_encrypted;
using detail::attribute_read_only;
using detail::attribute_sparse;

// ntfs-3g's NTFS times of a file: creation, last write, last access and MFT change, as
// 64-bit FILETIMEs. Setting them back restores the creation time too, which POSIX calls
// cannot reach.
constexpr const char* ntfs_times_name = "system.ntfs_times";

struct TipWalk {
  detail::Worker& worker;
  TipsCounts& counts;
  std::int64_t cluster_size = 0;
  std::int64_t used_bytes = 0;
  dev_t device = 0;
};

void log_error(const TipWalk& walk, int code, const std::string& path) {
  walk.worker.log(walk.worker.text(messages::error_prefix) + std::to_string(code) + " " + path);
}

struct SavedTimes {
  timespec access{};
  timespec write{};
  unsigned char ntfs[32] = {};
  ssize_t ntfs_bytes = -1;
};

SavedTimes save_times(int fd, const struct stat& st) {
  SavedTimes t;
  t.access = st.st_atim;
  t.write = st.st_mtim;
  t.ntfs_bytes = ::fgetxattr(fd, ntfs_times_name, t.ntfs, sizeof t.ntfs);
  return t;
}

void restore_times(int fd, const SavedTimes& t) {
  const timespec times[2] = {t.access, t.write};
  ::futimens(fd, times);
  // Last, so that nothing after it stamps the file again.
  if (t.ntfs_bytes >= 24) {
    if (::fsetxattr(fd, ntfs_times_name, t.ntfs, static_cast<std::size_t>(t.ntfs_bytes), 0) != 0) {
      ::fsetxattr(fd, ntfs_times_name, t.ntfs, 24, 0);
    }
  }
}

// Overwrites the tip of the open file, whose size is `size`, and cuts the file back to that
// size, whatever the writes did: a failed write must not leave the file longer than it was.
void overwrite_tip(int fd, const struct stat& st, const TipWalk& walk, const std::string& path) {
  const std::int64_t size = st.st_size;
  const std::int64_t tip = walk.cluster_size - size % walk.cluster_size;
  if (tip <= 0 || tip >= walk.cluster_size) return;
  const SavedTimes times = save_times(fd, st);
  if (::lseek(fd, size, SEEK_SET) == size) walk.worker.overwrite(fd, tip);
  bool cut = false;
  for (int attempt = 0; attempt < 3 && !cut; ++attempt) cut = ::ftruncate(fd, size) == 0;
  if (!cut) log_error(walk, errno, path);
  ::fsync(fd);
  restore_times(fd, times);
}

// Opens the file `name` of the folder dir_fd with the flags, without following a link, and
// only when it is still the regular file that was listed (a user may have put something else
// under the name since); -1 with errno set otherwise.
int open_listed(int dir_fd, const std::string& name, int flags, const struct stat& listed) {
  const int fd =
      ::openat(dir_fd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !detail::same_file(st, listed)) {
    const int error = errno;
    ::close(fd);
    errno = st.st_ino != 0 ? ESTALE : error;
    return -1;
  }
  return fd;
}

// Writes the tip of the open file unless another program has it open (a write lease is
// granted only then and holds others off while the tip is written). fd must be the run's only
// descriptor of the file.
void write_tip_leased(int fd, const TipWalk& walk, const std::string& path) {
  const bool leased = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  const int lease_error = errno;
  if (!leased && (lease_error == EAGAIN || lease_error == EBUSY)) {
    log_error(walk, lease_error, path);  // in use by another program
    return;
  }
  // No signal on a lease break: whoever opens the file waits until the lease goes.
  if (leased) ::fcntl(fd, F_SETOWN, 0);
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    overwrite_tip(fd, st, walk, path);
  } else {
    log_error(walk, errno, path);
  }
  if (leased) ::fcntl(fd, F_SETLEASE, F_UNLCK);
}

// One regular file of the folder dir_fd, as listed. Its attributes are read through a
// descriptor that does not open the file's data (an encrypted file cannot be opened); a
// read-only file is made writable for the time through a descriptor opened for reading, and
// made read-only again through the one that wrote it. False when the file is compressed,
// encrypted or sparse and was left alone.
bool erase_tip(int dir_fd, const std::string& name, const std::string& path,
               const struct stat& listed, const TipWalk& walk) {
  std::optional<std::uint32_t> attributes;
  {
    const detail::OwnedFd handle(open_listed(dir_fd, name, O_PATH, listed));
    if (!handle.valid()) {
      log_error(walk, errno, path);
      return true;
    }
    attributes = detail::file_attributes(handle.get());
  }
  if (attributes &&
      (*attributes & (attribute_compressed | attribute_encrypted | attribute_sparse)) != 0) {
    return false;
  }
  detail::OwnedFd reader(open_listed(dir_fd, name, O_RDONLY, listed));
  if (!reader.valid()) {
    log_error(walk, errno, path);
    return true;
  }
  if (!attributes) attributes = detail::file_attributes(reader.get());  // FAT: an ioctl
  bool attributes_changed = false;
  bool mode_changed = false;
  if (attributes && (*attributes & attribute_read_only) != 0) {
    attributes_changed =
        detail::set_file_attributes(reader.get(), *attributes & ~attribute_read_only);
  } else if (!attributes && (listed.st_mode & S_IWUSR) == 0) {
    mode_changed = ::fchmod(reader.get(), (listed.st_mode & 07777) | S_IWUSR) == 0;
  }
  detail::OwnedFd writer(open_listed(dir_fd, name, O_RDWR | O_DSYNC, listed));
  const int open_error = errno;
  // The writer is the one to put the file back; a write lease needs it to be the only one.
  const int restorer = writer.valid() ? writer.get() : reader.get();
  if (writer.valid()) {
    reader.reset();
    write_tip_leased(writer.get(), walk, path);
  } else {
    log_error(walk, open_error, path);
  }
  if (attributes_changed) detail::set_file_attributes(restorer, *attributes);
  if (mode_changed) ::fchmod(restorer, listed.st_mode & 07777);
  return true;
}

void count_file(std::int64_t size, const TipWalk& walk) {
  walk.counts.seen_bytes += size;
  if (walk.counts.files % 500 == 0 && walk.used_bytes > 0) {
    const double share =
        static_cast<double>(walk.counts.seen_bytes) / static_cast<double>(walk.used_bytes);
    walk.worker.progress_to(std::min<std::int64_t>(100, std::llround(share * 100)));
  }
}

// Depth first, each folder's entries in the order the file system lists them, a subfolder
// walked before the next entry of its parent. The stack keeps deep trees off the call stack.
// Every folder is held by a descriptor and every entry reached relative to it, so a folder
// swapped for a link while the walk is in it changes nothing; symbolic links and other
// volumes mounted below are not entered.
void walk_volume(const detail::RootFolder& root, const TipWalk& walk) {
  struct Frame {
    detail::OwnedFd fd;
    std::string path;  // for log lines only
    std::vector<std::string> names;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  int error = 0;
  {
    Frame top;
    top.fd = detail::OwnedFd(detail::open_folder_at(root.fd.get(), ".", walk.device));
    top.path = root.path;
    if (!top.fd.valid()) {
      log_error(walk, errno, root.path);
      return;
    }
    top.names = detail::folder_entries(top.fd.get(), error);
    if (error != 0) log_error(walk, error, root.path);
    stack.push_back(std::move(top));
  }
  while (!stack.empty() && !walk.worker.stopped()) {
    Frame& frame = stack.back();
    if (frame.next >= frame.names.size()) {
      stack.pop_back();
      continue;
    }
    walk.worker.pump();
    if (walk.worker.stopped()) break;
    const std::string name = frame.names[frame.next++];
    const std::string path = detail::child_path(frame.path, name);
    struct stat st {};
    if (::fstatat(frame.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (st.st_dev != walk.device) continue;
      Frame sub;
      sub.fd = detail::OwnedFd(detail::open_folder_at(frame.fd.get(), name, walk.device));
      sub.path = path;
      if (!sub.fd.valid()) {
        log_error(walk, errno, path);
        continue;
      }
      sub.names = detail::folder_entries(sub.fd.get(), error);
      if (error != 0) log_error(walk, error, path);
      stack.push_back(std::move(sub));
      continue;
    }
    if (!S_ISREG(st.st_mode) || st.st_dev != walk.device) continue;
    // A file given less than one cluster has its bytes inside its MFT record (resident, on
    // NTFS): there is no cluster tip, and writing past its end would only move it out into a
    // cluster of its own.
    const bool in_record = st.st_blocks > 0 && st.st_blocks * 512 < walk.cluster_size;
    if (!in_record && erase_tip(frame.fd.get(), name, path, st, walk)) walk.counts.files += 1;
    count_file(st.st_size, walk);
  }
}

}  // namespace

bool erase_cluster_tips(const CleanJob& job, std::int32_t cluster_size, std::int64_t used_bytes,
                        TipsCounts* counts) {
  detail::Worker worker(job);
  TipsCounts local;
  TipsCounts& seen = counts ? *counts : local;
  seen = TipsCounts{};
  const detail::RootFolder root = detail::open_clean_root(job.volume, job.channel);
  if (root.path.empty()) return false;
  TipWalk walk{worker, seen};
  walk.cluster_size = cluster_size;
  walk.used_bytes = used_bytes;
  struct statvfs sv {};
  if (walk.cluster_size <= 0 && root.fd.valid() && ::fstatvfs(root.fd.get(), &sv) == 0) {
    walk.cluster_size = static_cast<std::int64_t>(sv.f_frsize);
  }
  if (walk.cluster_size <= 0) {
    worker.log(worker.text(messages::no_cluster_size) + std::to_string(EINVAL));
    return false;
  }
  if (!root.fd.valid()) {
    log_error(walk, root.open_error, root.path);
    return false;
  }
  walk.device = root.device;
  // A deep tree holds a descriptor for every folder on the way down.
  detail::DescriptorLimit limit;
  worker.progress_start();
  walk_volume(root, walk);
  worker.progress_to(100);
  return true;
}

}  // namespace fennick::cleaning

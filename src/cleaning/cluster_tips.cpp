// erase_cluster_tips: overwrites the bytes between the end of every file and the end of its
// last cluster, leaving each file's length, content and times as they were.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <vector>

#include "cleaning/clean_files.h"
#include "cleaning/clean_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"

namespace fennick::cleaning {

std::int64_t tips_seen_bytes = 0;
std::uint32_t tips_file_count = 0;

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
  std::int64_t cluster_size = 0;
  std::int64_t used_bytes = 0;
  dev_t device = 0;
};

void log_error(int code, const std::string& path) {
  messages::out_text(messages::get_message(72) + std::to_string(code) + " " + path);
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
  if (::lseek(fd, size, SEEK_SET) == size) overwrite_region(fd, tip);
  bool cut = false;
  for (int attempt = 0; attempt < 3 && !cut; ++attempt) cut = ::ftruncate(fd, size) == 0;
  if (!cut) log_error(errno, path);
  ::fsync(fd);
  restore_times(fd, times);
}

// One file: opened only when nobody else has it open (a write lease is granted only then and
// holds others off while the tip is written), read-only files made writable for the time.
void erase_tip(const std::string& path, const struct stat& listed, std::optional<std::uint32_t> attributes,
               const TipWalk& walk) {
  bool attributes_changed = false;
  bool mode_changed = false;
  if (attributes && (*attributes & attribute_read_only) != 0) {
    attributes_changed = detail::set_file_attributes(path, *attributes & ~attribute_read_only);
  } else if (!attributes && (listed.st_mode & S_IWUSR) == 0) {
    mode_changed = ::chmod(path.c_str(), (listed.st_mode & 07777) | S_IWUSR) == 0;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_DSYNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    log_error(errno, path);
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      log_error(errno, path);
    } else if (S_ISREG(st.st_mode) && st.st_dev == walk.device) {
      const bool leased = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
      const int lease_error = errno;
      if (!leased && (lease_error == EAGAIN || lease_error == EBUSY)) {
        log_error(lease_error, path);  // in use by another program
      } else {
        // No signal on a lease break: whoever opens the file waits until the lease goes.
        if (leased) ::fcntl(fd, F_SETOWN, 0);
        overwrite_tip(fd, st, walk, path);
        if (leased) ::fcntl(fd, F_SETLEASE, F_UNLCK);
      }
    }
    ::close(fd);
  }
  if (attributes_changed) detail::set_file_attributes(path, *attributes);
  if (mode_changed) ::chmod(path.c_str(), listed.st_mode & 07777);
}

void count_file(std::int64_t size, const TipWalk& walk) {
  tips_seen_bytes += size;
  if (tips_file_count % 500 == 0 && walk.used_bytes > 0) {
    const double share = static_cast<double>(tips_seen_bytes) / static_cast<double>(walk.used_bytes);
    detail::progress_to(std::min<std::int64_t>(100, std::llround(share * 100)));
  }
}

std::vector<std::string> folder_names(const std::string& folder, int& error) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    error = errno;
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  error = 0;
  return names;
}

// Depth first, each folder's entries in the order the file system lists them, a subfolder
// walked before the next entry of its parent. The stack keeps deep trees off the call stack;
// symbolic links and other volumes mounted below are not entered.
void walk_volume(const std::string& root, const TipWalk& walk) {
  struct Frame {
    std::string path;
    std::vector<std::string> names;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  int error = 0;
  stack.push_back({root, folder_names(root, error)});
  if (error != 0) log_error(error, root);
  while (!stack.empty() && messages::stop_flag == 0) {
    Frame& frame = stack.back();
    if (frame.next >= frame.names.size()) {
      stack.pop_back();
      continue;
    }
    messages::process_pending_events();
    if (messages::stop_flag != 0) break;
    const std::string path = detail::child_path(frame.path, frame.names[frame.next++]);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (st.st_dev != walk.device) continue;
      std::vector<std::string> names = folder_names(path, error);
      if (error != 0) log_error(error, path);
      stack.push_back({path, std::move(names)});
      continue;
    }
    if (!S_ISREG(st.st_mode) || st.st_dev != walk.device) continue;
    const std::optional<std::uint32_t> attributes = detail::file_attributes(path);
    // A file given less than one cluster has its bytes inside its MFT record (resident, on
    // NTFS): there is no cluster tip, and writing past its end would only move it out into a
    // cluster of its own.
    const bool in_record = st.st_blocks > 0 && st.st_blocks * 512 < walk.cluster_size;
    const bool skipped =
        in_record ||
        (attributes && (*attributes & (attribute_compressed | attribute_encrypted | attribute_sparse)) != 0);
    if (!skipped) {
      tips_file_count += 1;
      erase_tip(path, st, attributes, walk);
    }
    count_file(st.st_size, walk);
  }
}

}  // namespace

bool erase_cluster_tips(const volume::DriveInfo& drive, std::int32_t cluster_size,
                        std::int64_t used_bytes) {
  tips_seen_bytes = 0;
  tips_file_count = 0;
  const std::string root = clean_root(drive);
  if (root.empty()) return false;
  TipWalk walk;
  walk.cluster_size = cluster_size;
  walk.used_bytes = used_bytes;
  struct statvfs sv {};
  if (walk.cluster_size <= 0 && ::statvfs(root.c_str(), &sv) == 0) {
    walk.cluster_size = static_cast<std::int64_t>(sv.f_frsize);
  }
  struct stat root_stat {};
  if (walk.cluster_size <= 0) {
    messages::out_text(messages::get_message(109) + std::to_string(EINVAL));
    return false;
  }
  if (::stat(root.c_str(), &root_stat) != 0) {
    log_error(errno, root);
    return false;
  }
  walk.device = root_stat.st_dev;
  detail::progress_start();
  walk_volume(root, walk);
  detail::progress_to(100);
  return true;
}

}  // namespace fennick::cleaning

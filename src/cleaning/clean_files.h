// What the cleaning workers share below their interface: the root folder, creating their own
// files (hidden, gone from the folder as soon as they exist), the volume's file attributes
// and the progress bar.
//
// The workers run as root on a volume that users may write to, so they never reach a file
// by a path a user could change under them: every file and folder is opened, made or removed
// relative to a folder descriptor that was checked to be on the volume, without following
// symbolic links.
#pragma once

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cleaning/clean_jobs.h"
#include "volume/volume.h"

namespace fennick::cleaning::detail {

// A descriptor, closed with the object.
class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { reset(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(other.release()) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset();

 private:
  int fd_ = -1;
};

// The folder the workers work in: the volume's mount point, opened (not through a link) and
// checked to be on that mount. fd is invalid when the volume is not mounted (a log
// line has said so; path is empty then) or the folder cannot be opened (open_error says why).
struct RootFolder {
  std::string path;
  OwnedFd fd;
  dev_t device = 0;  // of the mounted file system: every file the workers touch is on it
  int open_error = 0;
};
RootFolder open_clean_root(const volume::Volume& volume, messages::StatusChannel& channel);

// Opens the folder `name` of the folder dir_fd without following a link, and only when it is
// on `device`; -1 with errno set (EXDEV for another device) otherwise.
int open_folder_at(int dir_fd, const std::string& name, dev_t device);

// The names in the folder (without "." and ".."), read through a descriptor of its own so the
// folder's descriptor is left as it was; error is 0 or the errno of the failure.
std::vector<std::string> folder_entries(int dir_fd, int& error);

// Whether two stats describe the same file.
inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Raises the soft limit of open descriptors to the hard one for the lifetime of the object,
// for runs that hold many files or folders open at once.
class DescriptorLimit {
 public:
  DescriptorLimit();
  ~DescriptorLimit();
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

 private:
  rlimit saved_{};
  bool changed_ = false;
};

// NTFS / FAT file attributes the workers read or set.
constexpr std::uint32_t attribute_read_only = 0x0001;
constexpr std::uint32_t attribute_hidden = 0x0002;
constexpr std::uint32_t attribute_sparse = 0x0200;
constexpr std::uint32_t attribute_compressed = 0x0800;
constexpr std::uint32_t attribute_encrypted = 0x4000;

// root + "/" + name, with no doubled "/".
std::string child_path(const std::string& folder, const std::string& name);

// The attributes that the mount exposes for the file (ntfs-3g's system.ntfs_attrib_be, or the
// FAT attribute ioctl); none when the mount has no such notion. fd may be an O_PATH
// descriptor, which reaches the NTFS attributes only.
std::optional<std::uint32_t> file_attributes(int fd);
// Sets them; false when the mount cannot.
bool set_file_attributes(int fd, std::uint32_t attributes);
// Adds the hidden attribute where the mount supports it; nothing otherwise.
void make_hidden(int fd);

// Creates a cleanup file of the workers' own named `name` in the folder dir_fd (the name must
// not exist yet; a link is not followed), on `device`, hidden, and removes its name at once,
// so the file lives only as long as the returned descriptor and disappears when it is closed,
// whatever happens to the run. extra_flags are added to the open (O_DSYNC for write-through);
// direct asks for unbuffered writes where the file system allows them. -1 with errno set when
// it cannot be created; nothing of the workers' is left behind then.
int create_cleanup_file(int dir_fd, dev_t device, const std::string& name, int extra_flags,
                        bool direct);

// Removes the name from the folder dir_fd when it still names the file `made` (a user may have
// put something else there since); false otherwise.
bool remove_own_name(int dir_fd, const std::string& name, const struct stat& made);

// Zero-padded decimal: counter_name(7, 6) == "000007".
std::string counter_name(std::uint64_t value, int digits);

// One worker's run: the job, its pattern buffers and its progress bar (range 0..100).
struct Worker {
  explicit Worker(const CleanJob& job) : job(job) {}
  const CleanJob& job;
  OverwritePatterns patterns;
  std::int32_t bar_position = 0;

  void log(const std::string& text) { job.channel.log(text); }
  std::string text(int k) const { return job.channel.text(k); }
  void pump() { job.run.pump_events(); }
  bool stopped() const { return job.run.stop_requested(); }
  bool overwrite(int fd, std::int64_t length) {
    return overwrite_region(fd, length, patterns, job.run);
  }
  void progress_start();
  void progress_to(std::int64_t position);
  // Where progress_start / progress_to left the bar.
  std::int32_t progress_now() const { return bar_position; }
};

}  // namespace fennick::cleaning::detail

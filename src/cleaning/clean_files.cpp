// The cleaning workers' own files, the file attributes of the mount, the root folder and the
// progress bar.
#include "cleaning/clean_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "cleaning/clean_jobs.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "volume/mount_lookup.h"

namespace fennick::cleaning {

namespace detail {

namespace {

// ntfs-3g exposes the NTFS file attributes as this extended attribute, a big-endian u32.
constexpr const char* ntfs_attribute_name = "system.ntfs_attrib_be";
constexpr long msdos_magic = 0x4d44;

std::optional<std::uint32_t> from_big_endian(const unsigned char (&bytes)[4], ssize_t got) {
  if (got != 4) return std::nullopt;
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

void to_big_endian(std::uint32_t value, unsigned char (&bytes)[4]) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// The FAT attribute ioctls exist on the kernel's vfat only; asking another file system with
// their numbers could mean something else to it.
bool on_kernel_fat(int fd) {
  struct statfs sf {};
  return ::fstatfs(fd, &sf) == 0 && sf.f_type == msdos_magic;
}

}  // namespace

std::string child_path(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::optional<std::uint32_t> file_attributes(int fd) {
  unsigned char bytes[4] = {};
  ssize_t got = ::fgetxattr(fd, ntfs_attribute_name, bytes, sizeof bytes);
  if (got < 0 && errno == EBADF) {
    // A descriptor opened with O_PATH (a file that may not be opened for reading, such as an
    // encrypted one): its /proc name leads to the very same file.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    got = ::getxattr(self.c_str(), ntfs_attribute_name, bytes, sizeof bytes);
  }
  if (auto a = from_big_endian(bytes, got)) return a;
  std::uint32_t fat = 0;
  if (on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &fat) == 0) return fat;
  return std::nullopt;
}

bool set_file_attributes(int fd, std::uint32_t attributes) {
  unsigned char bytes[4];
  to_big_endian(attributes, bytes);
  if (::fsetxattr(fd, ntfs_attribute_name, bytes, sizeof bytes, 0) == 0) return true;
  std::uint32_t fat = attributes;
  return on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &fat) == 0;
}

void make_hidden(int fd) {
  if (const auto a = file_attributes(fd)) set_file_attributes(fd, *a | attribute_hidden);
}

void OwnedFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int open_folder_at(int dir_fd, const std::string& name, dev_t device) {
  const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
  } else if (st.st_dev != device) {
    error = EXDEV;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::vector<std::string> folder_entries(int dir_fd, int& error) {
  std::vector<std::string> names;
  // A descriptor of its own: reading a folder moves the position of the descriptor it uses.
  const int own = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
  if (!dir) {
    error = errno;
    if (own >= 0) ::close(own);
    return names;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  error = errno;
  ::closedir(dir);
  return names;
}

DescriptorLimit::DescriptorLimit() {
  if (::getrlimit(RLIMIT_NOFILE, &saved_) == 0 && saved_.rlim_cur < saved_.rlim_max) {
    rlimit raised = saved_;
    raised.rlim_cur = saved_.rlim_max;
    changed_ = ::setrlimit(RLIMIT_NOFILE, &raised) == 0;
  }
}

DescriptorLimit::~DescriptorLimit() {
  if (changed_) ::setrlimit(RLIMIT_NOFILE, &saved_);
}

bool remove_own_name(int dir_fd, const std::string& name, const struct stat& made) {
  struct stat now {};
  if (::fstatat(dir_fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!same_file(now, made)) {
    errno = EBUSY;
    return false;
  }
  return ::unlinkat(dir_fd, name.c_str(), 0) == 0;
}

int create_cleanup_file(int dir_fd, dev_t device, const std::string& name, int extra_flags,
                        bool direct) {
  // Never an existing file: the workers write only to files they made themselves.
  const int fd = ::openat(dir_fd, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | extra_flags, 0600);
  if (fd < 0) return -1;
  struct stat made {};
  if (::fstat(fd, &made) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (!S_ISREG(made.st_mode) || made.st_dev != device) {
    remove_own_name(dir_fd, name, made);
    ::close(fd);
    errno = EXDEV;
    return -1;
  }
  make_hidden(fd);
  // Asking for direct I/O after the create: an open with O_DIRECT that the file system
  // refuses fails only after it has made the file.
  if (direct) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_DIRECT);
  }
  // The name goes now; the space stays taken until the descriptor is closed. A name that no
  // longer belongs to this file (somebody renamed the file) is left alone, and so is the file.
  if (!remove_own_name(dir_fd, name, made)) {
    const int error = errno;
    ::close(fd);
    remove_own_name(dir_fd, name, made);
    errno = error;
    return -1;
  }
  return fd;
}

std::string counter_name(std::uint64_t value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits)
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

void Worker::progress_start() {
  bar_position = 0;
  job.channel.set_progress_range(100);
  job.channel.set_progress(0);
}

void Worker::progress_to(std::int64_t position) {
  bar_position = static_cast<std::int32_t>(std::clamp<std::int64_t>(position, 0, 100));
  job.channel.set_progress(bar_position);
}

}  // namespace detail

namespace {

void log_not_mounted(const volume::Volume& drive, messages::StatusChannel& channel) {
  // The cleaning jobs work through the mounted file system.
  channel.log(channel.text(messages::drive_not_mounted) + drive.source_path);
}

}  // namespace

std::string clean_root(const volume::Volume& drive, messages::StatusChannel& channel) {
  const std::string root = drive.source_path.empty()
                               ? std::string()
                               : volume::find_mount_point(drive.source_path, drive.offset);
  if (root.empty()) log_not_mounted(drive, channel);
  return root;
}

namespace detail {

RootFolder open_clean_root(const volume::Volume& drive, messages::StatusChannel& channel) {
  RootFolder root;
  const std::optional<volume::MountPlace> place =
      drive.source_path.empty() ? std::nullopt
                                : volume::find_mount(drive.source_path, drive.offset);
  if (!place) {
    log_not_mounted(drive, channel);
    root.open_error = ENOENT;
    return root;
  }
  root.path = place->mount_point;
  root.device = place->device;
  root.fd = OwnedFd(::open(root.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!root.fd.valid() || ::fstat(root.fd.get(), &st) != 0) {
    root.open_error = errno;
    root.fd.reset();
  } else if (st.st_dev != root.device) {
    // Something else sits at the mount point's path now (the folder above it was changed).
    root.open_error = EXDEV;
    root.fd.reset();
  }
  return root;
}

}  // namespace detail

}  // namespace fennick::cleaning

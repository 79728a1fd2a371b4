// The cleaning workers' own files, the file attributes of the mount, the root folder and the
// progress bar.
#include "cleaning/clean_files.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "cleaning/clean_unit.h"
#include "messages/status_channel.h"

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
  if (auto a = from_big_endian(bytes, ::fgetxattr(fd, ntfs_attribute_name, bytes, sizeof bytes))) {
    return a;
  }
  std::uint32_t fat = 0;
  if (on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &fat) == 0) return fat;
  return std::nullopt;
}

std::optional<std::uint32_t> file_attributes(const std::string& path) {
  unsigned char bytes[4] = {};
  if (auto a = from_big_endian(bytes, ::lgetxattr(path.c_str(), ntfs_attribute_name, bytes,
                                                  sizeof bytes))) {
    return a;
  }
  // FAT has no symbolic links, so opening the path cannot lead elsewhere there; elsewhere
  // O_NOFOLLOW refuses a link.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::uint32_t> result;
  std::uint32_t fat = 0;
  if (on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &fat) == 0) result = fat;
  ::close(fd);
  return result;
}

bool set_file_attributes(int fd, std::uint32_t attributes) {
  unsigned char bytes[4];
  to_big_endian(attributes, bytes);
  if (::fsetxattr(fd, ntfs_attribute_name, bytes, sizeof bytes, 0) == 0) return true;
  std::uint32_t fat = attributes;
  return on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &fat) == 0;
}

bool set_file_attributes(const std::string& path, std::uint32_t attributes) {
  unsigned char bytes[4];
  to_big_endian(attributes, bytes);
  if (::lsetxattr(path.c_str(), ntfs_attribute_name, bytes, sizeof bytes, 0) == 0) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  std::uint32_t fat = attributes;
  const bool done = on_kernel_fat(fd) && ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &fat) == 0;
  ::close(fd);
  return done;
}

void make_hidden(int fd) {
  if (const auto a = file_attributes(fd)) set_file_attributes(fd, *a | attribute_hidden);
}

int create_cleanup_file(const std::string& path, int extra_flags, bool direct) {
  // Never an existing file: the workers write only to files they made themselves.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | extra_flags,
                        0600);
  if (fd < 0) return -1;
  make_hidden(fd);
  // Asking for direct I/O after the create: an open with O_DIRECT that the file system
  // refuses fails only after it has made the file.
  if (direct) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_DIRECT);
  }
  // The name goes now; the space stays taken until the descriptor is closed.
  if (::unlink(path.c_str()) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

std::string counter_name(std::uint64_t value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

namespace {
std::int32_t bar_position = 0;
}  // namespace

void progress_start() {
  bar_position = 0;
  messages::channel().set_progress_range(100);
  messages::channel().set_progress(0);
}

void progress_to(std::int64_t position) {
  bar_position = static_cast<std::int32_t>(std::clamp<std::int64_t>(position, 0, 100));
  messages::channel().set_progress(bar_position);
}

std::int32_t progress_now() { return bar_position; }

}  // namespace detail

std::string clean_root(const volume::DriveInfo& drive) {
  const std::string root = drive.source_path.empty() ? std::string() : volume::find_mount_point(drive.source_path);
  if (root.empty()) {
    const char letter = static_cast<char>(drive.drive_letter - 'a' + 'A');
    messages::out_text(std::string(" ") + letter + ":\\ is not mounted (" + drive.source_path +
                       "); the cleaning jobs work through the mounted file system");
  }
  return root;
}

}  // namespace fennick::cleaning

// File, device and memory volume sources.
#include "volume/volume_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fennick::volume {

FileSource::FileSource(std::string path) : path_(std::move(path)), open_path_(path_) {
  if (char* resolved = ::realpath(path_.c_str(), nullptr)) {
    open_path_ = resolved;
    std::free(resolved);
  }
  struct stat st {};
  if (::stat(open_path_.c_str(), &st) == 0) identity_ = identity_of(st);
}

FileSource::~FileSource() {
  close_session_descriptor();
  if (write_fd_ >= 0) ::close(write_fd_);
}

FileSource::Identity FileSource::identity_of(const struct stat& st) {
  Identity id;
  id.block = S_ISBLK(st.st_mode);
  if (id.block) {
    id.rdev = st.st_rdev;
  } else {
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

bool FileSource::same(const Identity& a, const Identity& b) {
  if (a.block != b.block) return false;
  return a.block ? a.rdev == b.rdev : a.device == b.device && a.inode == b.inode;
}

int FileSource::open_checked(int flags) {
  const int fd = ::open(open_path_.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    // A link where the volume was: the name no longer stands for it.
    if (errno == ELOOP) errno = not_the_scanned_file;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  const Identity found = identity_of(st);
  if (!identity_) {
    identity_ = found;
  } else if (!same(*identity_, found)) {
    ::close(fd);
    errno = not_the_scanned_file;
    return -1;
  }
  return fd;
}

int FileSource::begin_write_session() {
  if (write_sessions_ > 0) {
    ++write_sessions_;
    return 0;
  }
  // A block device is opened exclusively: the kernel refuses while a mounted file system
  // holds it, whose cached copy would undo the write or be damaged by it.
  int flags = O_RDWR;
  if (identity_ && identity_->block) flags |= O_EXCL;
  const int fd = open_checked(flags);
  if (fd < 0) return errno != 0 ? errno : EIO;
  head_.clear();
  write_fd_ = fd;
  write_sessions_ = 1;
  return 0;
}

void FileSource::end_write_session() {
  if (write_sessions_ > 0 && --write_sessions_ == 0) {
    ::close(write_fd_);
    write_fd_ = -1;
  }
}

void FileSource::close_session_descriptor() {
  if (session_fd_ >= 0) ::close(session_fd_);
  session_fd_ = -1;
  faults_.forget();
  head_.clear();
  head_.shrink_to_fit();
}

void FileSource::begin_read_session() { ++sessions_; }

void FileSource::end_read_session() {
  if (sessions_ > 0 && --sessions_ == 0) close_session_descriptor();
}

namespace {
// The most of the volume's start a session keeps; readers' windows are far smaller.
constexpr std::size_t head_limit = std::size_t{1} << 20;

// Reads count bytes at offset through fd; a short count at the end of the volume.
RawRead pread_all(int fd, std::uint64_t offset, std::uint8_t* destination, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::pread(fd, destination + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {0, errno != 0 ? errno : EIO};
    if (got == 0) break;  // end of the volume
    done += static_cast<std::size_t>(got);
  }
  return {static_cast<std::int64_t>(done), 0};
}

// A wipe session's read: all or nothing, as the wipe checks what it is about to overwrite.
SourceResult transfer_in(int fd, std::uint64_t offset, void* destination, std::size_t count) {
  const RawRead r = pread_all(fd, offset, static_cast<std::uint8_t*>(destination), count);
  if (r.error != 0) {
    SourceResult failed;
    failed.read_error = is_gone_error(r.error) ? source_gone : EIO;
    return failed;
  }
  return {r.bytes, 0};
}
}  // namespace

bool FileSource::still_there(int fd) const {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) {
    // A removed disk keeps its open descriptor but loses its size.
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0 || bytes == 0) return false;
  }
  struct stat now {};
  return ::stat(open_path_.c_str(), &now) == 0 && identity_ && same(*identity_, identity_of(now));
}

SourceResult FileSource::read_at(std::uint64_t offset, void* destination, std::size_t count) {
  if (write_fd_ >= 0) return transfer_in(write_fd_, offset, destination, count);
  if (sessions_ > 0 && offset == 0 && count <= head_.size()) {
    std::memcpy(destination, head_.data(), count);
    return {static_cast<std::int64_t>(count), 0};
  }
  if (faults_.gone()) {
    SourceResult gone;
    gone.read_error = source_gone;
    return gone;
  }
  int fd = session_fd_;
  if (fd < 0) {
    fd = open_checked(O_RDONLY);
    if (fd < 0) return {0, errno != 0 ? errno : EIO};
    if (sessions_ > 0) session_fd_ = fd;
  }
  auto* out = static_cast<std::uint8_t*>(destination);
  SourceResult result = faults_.read(
      offset, out, count,
      [fd](std::uint64_t at, std::uint8_t* into, std::size_t n) {
        return pread_all(fd, at, into, n);
      },
      [this, fd] { return still_there(fd); });
  // Outside a session the descriptor and what was learnt live for this call only.
  if (fd != session_fd_) {
    ::close(fd);
    faults_.forget();
  }
  if (result.read_error == 0 && sessions_ > 0 && offset == 0 &&
      static_cast<std::size_t>(result.bytes) == count && count > head_.size() &&
      count <= head_limit) {
    head_.assign(out, out + count);
  }
  return result;
}

SourceResult FileSource::write_at(std::uint64_t offset, const void* source, std::size_t count) {
  head_.clear();
  // Only a write session's checked descriptor is ever written through.
  if (write_fd_ < 0) return {0, EPERM};
  const int fd = write_fd_;
  std::size_t done = 0;
  const auto* in = static_cast<const std::uint8_t*>(source);
  while (done < count) {
    const ssize_t put = ::pwrite(fd, in + done, count - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return {0, 0};
    done += static_cast<std::size_t>(put);
  }
  // The wipe's bytes must reach the medium before the caller reports success.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  return {synced ? static_cast<std::int64_t>(done) : 0, 0};
}

std::int64_t FileSource::size_bytes() const { return path_size_bytes(open_path_); }

std::size_t SliceSource::inside(std::uint64_t offset, std::size_t count) const {
  if (offset >= length_) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(count, length_ - offset));
}

SourceResult SliceSource::read_at(std::uint64_t offset, void* destination, std::size_t count) {
  const std::size_t n = inside(offset, count);
  if (n == 0) return {0, 0};
  return whole_->read_at(offset_ + offset, destination, n);
}

SourceResult SliceSource::write_at(std::uint64_t offset, const void* source, std::size_t count) {
  // A write that would cross the stretch's end writes nothing: it is not this volume's.
  if (inside(offset, count) != count) return {0, 0};
  return whole_->write_at(offset_ + offset, source, count);
}

SourceResult MemorySource::read_at(std::uint64_t offset, void* destination, std::size_t count) {
  const auto attempt = [this](std::uint64_t at, std::uint8_t* into, std::size_t n) -> RawRead {
    ++read_calls;
    if (gone_after_reads >= 0 && read_calls > gone_after_reads) gone = true;
    if (gone) return {0, ENODEV};
    if (failing_reads > 0) {
      --failing_reads;
      return {0, EIO};
    }
    if (unreadable_from >= 0 && at >= static_cast<std::uint64_t>(unreadable_from)) return {0, EIO};
    for (const auto& [begin, end] : bad_ranges) {
      if (at < end && begin < at + n) return {0, EIO};
    }
    if (at >= bytes_.size()) return {0, 0};
    const std::size_t available = bytes_.size() - static_cast<std::size_t>(at);
    const std::size_t take = n < available ? n : available;
    std::memcpy(into, bytes_.data() + at, take);
    return {static_cast<std::int64_t>(take), 0};
  };
  return faults_.read(offset, static_cast<std::uint8_t*>(destination), count, attempt,
                      [this] { return !gone; });
}

SourceResult MemorySource::write_at(std::uint64_t offset, const void* source, std::size_t count) {
  if (offset > bytes_.size() || count > bytes_.size() - offset) return {0, 0};
  std::memcpy(bytes_.data() + offset, source, count);
  return {static_cast<std::int64_t>(count), 0};
}

std::int64_t path_size_bytes(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (S_ISREG(st.st_mode)) return static_cast<std::int64_t>(st.st_size);
  if (!S_ISBLK(st.st_mode)) return -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::uint64_t bytes = 0;
  const int rc = ::ioctl(fd, BLKGETSIZE64, &bytes);
  ::close(fd);
  return rc == 0 ? static_cast<std::int64_t>(bytes) : -1;
}

}  // namespace fennick::volume

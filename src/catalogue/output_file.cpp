// Output files of recoveries.
#include "catalogue/output_file.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace fennick::catalogue {

namespace {

// Bytes gathered before one write; a recovery otherwise writes once per cluster.
constexpr std::size_t buffer_bytes = 1 << 20;

bool write_raw(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

void OutputFile::start(int fd) {
  fd_ = fd;
  position_ = 0;
  end_ = 0;
  written_end_ = 0;
  stored_ = 0;
  out_of_room_ = false;
  pending_.clear();
  room_ = std::numeric_limits<std::int64_t>::max();
  struct statvfs fs {};
  // Blocks a process without the file system's reserve may use; what a full disk leaves to
  // the rest of the machine stays untouched.
  if (fd_ >= 0 && ::fstatvfs(fd_, &fs) == 0 && fs.f_frsize > 0) {
    const auto blocks = static_cast<std::uint64_t>(fs.f_bavail);
    const auto block = static_cast<std::uint64_t>(fs.f_frsize);
    // Some file systems (FUSE ones among them) report no figures at all: no limit is known.
    if (fs.f_blocks > 0) {
      room_ = blocks > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / block
                  ? std::numeric_limits<std::int64_t>::max()
                  : static_cast<std::int64_t>(blocks * block);
    }
  }
}

bool OutputFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  start(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
  return fd_ >= 0;
}

bool OutputFile::adopt(int fd) {
  if (fd_ >= 0) close();
  if (fd < 0) {
    errno = EBADF;
    return false;
  }
  start(fd);
  return true;
}

void OutputFile::capture(std::vector<std::uint8_t>* sink, std::size_t limit) {
  if (fd_ >= 0) close();
  start(-1);
  sink_ = sink;
  sink_limit_ = limit;
  if (sink_) sink_->clear();
}

bool OutputFile::write_to_sink(const std::uint8_t* bytes, std::size_t count) {
  const auto at = static_cast<std::size_t>(position_);
  const std::size_t fit = at >= sink_limit_ ? 0 : std::min(count, sink_limit_ - at);
  if (fit > 0) {
    if (sink_->size() < at + fit) sink_->resize(at + fit, 0);
    std::copy_n(bytes, fit, sink_->begin() + static_cast<std::ptrdiff_t>(at));
  }
  position_ += static_cast<std::int64_t>(fit);
  end_ = std::max(end_, position_);
  written_end_ = std::max(written_end_, position_);
  if (fit < count) {
    errno = EFBIG;
    return false;
  }
  return true;
}

bool OutputFile::reserve(std::int64_t bytes) {
  if (sink_) return true;
  if (bytes <= room_ - stored_) return true;
  out_of_room_ = true;
  errno = ENOSPC;
  return false;
}

bool OutputFile::fits(std::size_t count) {
  if (static_cast<std::int64_t>(count) <= room_ - stored_) {
    stored_ += static_cast<std::int64_t>(count);
    return true;
  }
  out_of_room_ = true;
  errno = ENOSPC;
  return false;
}

bool OutputFile::flush() {
  if (pending_.empty()) return true;
  const bool ok = write_raw(fd_, pending_.data(), pending_.size());
  pending_.clear();
  return ok;
}

bool OutputFile::write_all(const std::uint8_t* bytes, std::size_t count) {
  if (sink_) return write_to_sink(bytes, count);
  if (!fits(count)) return false;
  if (count >= buffer_bytes) {
    if (!flush() || !write_raw(fd_, bytes, count)) return false;
  } else {
    if (pending_.size() + count > buffer_bytes && !flush()) return false;
    if (pending_.capacity() < buffer_bytes) pending_.reserve(buffer_bytes);
    pending_.insert(pending_.end(), bytes, bytes + count);
  }
  position_ += static_cast<std::int64_t>(count);
  end_ = std::max(end_, position_);
  written_end_ = std::max(written_end_, position_);
  return true;
}

bool OutputFile::step_back(std::int64_t bytes) {
  if (bytes < 0 || bytes > position_) {
    errno = EINVAL;
    return false;
  }
  if (sink_) {
    position_ -= bytes;
    return true;
  }
  if (!flush()) return false;
  if (::lseek(fd_, -static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ -= bytes;
  // What is written next over these bytes takes no new room.
  stored_ = std::max<std::int64_t>(stored_ - bytes, 0);
  return true;
}

bool OutputFile::skip(std::int64_t bytes) {
  if (bytes < 0 || bytes > std::numeric_limits<off_t>::max() - position_) {
    errno = EFBIG;
    return false;
  }
  if (sink_) {
    // A hole inside what the preview keeps reads as zeros; one past it ends the preview.
    const auto at = static_cast<std::size_t>(position_);
    if (at < sink_limit_) {
      const std::size_t zeros = static_cast<std::size_t>(
          std::min<std::int64_t>(bytes, static_cast<std::int64_t>(sink_limit_ - at)));
      if (sink_->size() < at + zeros) sink_->resize(at + zeros, 0);
    }
    position_ += bytes;
    end_ = std::max(end_, position_);
    return true;
  }
  if (!flush()) return false;
  if (::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ += bytes;
  end_ = std::max(end_, position_);
  return true;
}

bool OutputFile::close() {
  if (sink_) {
    sink_->resize(std::min(static_cast<std::size_t>(std::max<std::int64_t>(end_, 0)), sink_limit_),
                  0);
    sink_ = nullptr;
    return true;
  }
  if (fd_ < 0) return true;
  bool ok = flush();
  // A hole at the end exists only once the file is made that long.
  if (ok && written_end_ < end_) ok = ::ftruncate(fd_, static_cast<off_t>(end_)) == 0;
  const int saved = errno;
  const int rc = ::close(fd_);
  fd_ = -1;
  if (!ok) {
    errno = saved;
    return false;
  }
  return rc == 0;
}

}  // namespace fennick::catalogue

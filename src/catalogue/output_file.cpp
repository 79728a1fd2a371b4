// Output files of recoveries.
#include "catalogue/output_file.h"

#include <fcntl.h>
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

bool OutputFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  position_ = 0;
  end_ = 0;
  written_end_ = 0;
  pending_.clear();
  return fd_ >= 0;
}

bool OutputFile::flush() {
  if (pending_.empty()) return true;
  const bool ok = write_raw(fd_, pending_.data(), pending_.size());
  pending_.clear();
  return ok;
}

bool OutputFile::write_all(const std::uint8_t* bytes, std::size_t count) {
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
  if (!flush()) return false;
  if (::lseek(fd_, -static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ -= bytes;
  return true;
}

bool OutputFile::skip(std::int64_t bytes) {
  if (bytes < 0 || bytes > std::numeric_limits<off_t>::max() - position_) {
    errno = EFBIG;
    return false;
  }
  if (!flush()) return false;
  if (::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ += bytes;
  end_ = std::max(end_, position_);
  return true;
}

bool OutputFile::close() {
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

// Output files of recoveries.
#include "catalogue/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace fennick::catalogue {

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  position_ = 0;
  end_ = 0;
  return fd_ >= 0;
}

bool OutputFile::write_all(const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd_, bytes, count);
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
    position_ += n;
  }
  end_ = std::max(end_, position_);
  return true;
}

bool OutputFile::step_back(std::int64_t bytes) {
  if (bytes < 0 || bytes > position_) {
    errno = EINVAL;
    return false;
  }
  if (::lseek(fd_, -static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ -= bytes;
  return true;
}

bool OutputFile::skip(std::int64_t bytes) {
  if (bytes < 0 || bytes > std::numeric_limits<off_t>::max() - position_) {
    errno = EFBIG;
    return false;
  }
  if (::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR) < 0) return false;
  position_ += bytes;
  end_ = std::max(end_, position_);
  return true;
}

bool OutputFile::close() {
  if (fd_ < 0) return true;
  // A hole at the end exists only once the file is made that long.
  struct stat st {};
  bool ok = ::fstat(fd_, &st) == 0;
  if (ok && st.st_size < end_) ok = ::ftruncate(fd_, static_cast<off_t>(end_)) == 0;
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

// Output files of recoveries.
#include "catalogue/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fennick::catalogue {

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
  }
  return true;
}

bool OutputFile::step_back(std::int64_t bytes) {
  return ::lseek(fd_, -static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}

bool OutputFile::close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

}  // namespace fennick::catalogue

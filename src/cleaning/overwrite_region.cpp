// The routines the cleaning workers share: the three pattern buffers, overwrite_region and
// delete_folder_tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "cleaning/clean_unit.h"
#include "messages/status_channel.h"

namespace fennick::cleaning {

bool patterns_ready = false;

namespace {

constexpr std::size_t pattern_bytes = 8 * 1024 * 1024;
// The most one write takes from a buffer.
constexpr std::int64_t piece_bytes = 1024 * 1024;
constexpr std::size_t page_bytes = 4096;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using PatternBuffer = std::unique_ptr<std::uint8_t, FreeDeleter>;

// Zeros, 0xFF bytes, random bytes. Page-aligned, because the large cleanup file is written
// with direct I/O, which needs aligned memory.
PatternBuffer patterns[3];

PatternBuffer aligned_buffer() {
  void* p = nullptr;
  if (::posix_memalign(&p, page_bytes, pattern_bytes) != 0) return nullptr;
  return PatternBuffer(static_cast<std::uint8_t*>(p));
}

bool make_patterns() {
  for (PatternBuffer& b : patterns) b.reset();
  for (PatternBuffer& b : patterns) {
    b = aligned_buffer();
    if (!b) {
      for (PatternBuffer& made : patterns) made.reset();
      return false;
    }
  }
  std::fill_n(patterns[0].get(), pattern_bytes, std::uint8_t{0});
  std::fill_n(patterns[1].get(), pattern_bytes, std::uint8_t{0xFF});
  std::mt19937 generator(static_cast<std::uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> byte(0, 255);
  std::uint8_t* random = patterns[2].get();
  for (std::size_t i = 0; i < pattern_bytes; ++i) random[i] = static_cast<std::uint8_t>(byte(generator));
  return true;
}

// Writes count bytes from data at the current position; the whole count or false. A file
// system that refuses a direct write gets the same bytes as an ordinary write.
bool write_all(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int flags = ::fcntl(fd, F_GETFL);
      if (errno == EINVAL && flags >= 0 && (flags & O_DIRECT) != 0 &&
          ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) == 0) {
        continue;
      }
      return false;
    }
    if (n == 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool overwrite_region(int fd, std::int64_t length) {
  if (!patterns_ready) {
    if (!make_patterns()) return false;
    patterns_ready = true;
  }
  if (length < 0) return false;
  for (int k = 0; k < 3; ++k) {
    messages::process_pending_events();
    if (k > 0 && ::lseek(fd, -length, SEEK_CUR) < 0) return false;
    std::int64_t left = length;
    while (left > 0) {
      const std::int64_t piece = std::min(piece_bytes, left);
      if (!write_all(fd, patterns[k].get(), static_cast<std::size_t>(piece))) return false;
      left -= piece;
      messages::process_pending_events();
    }
  }
  return true;
}

bool delete_folder_tree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  struct stat st {};
  return !ec && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace fennick::cleaning

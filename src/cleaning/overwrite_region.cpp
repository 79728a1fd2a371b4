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

#include "cleaning/clean_files.h"
#include "cleaning/clean_jobs.h"

namespace fennick::cleaning {

namespace {

constexpr std::size_t pattern_bytes = 8 * 1024 * 1024;
// The most one write takes from a buffer.
constexpr std::int64_t piece_bytes = 1024 * 1024;
constexpr std::size_t page_bytes = 4096;

// A page-aligned buffer: the large cleanup file is written with direct I/O, which needs
// aligned memory.
std::uint8_t* aligned_buffer() {
  void* p = nullptr;
  if (::posix_memalign(&p, page_bytes, pattern_bytes) != 0) return nullptr;
  return static_cast<std::uint8_t*>(p);
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

bool OverwritePatterns::ready() {
  if (buffers_[0] && buffers_[1] && buffers_[2]) return true;
  for (auto& b : buffers_) {
    b.reset(aligned_buffer());
    if (!b) {
      for (auto& made : buffers_) made.reset();
      return false;
    }
  }
  std::fill_n(buffers_[0].get(), pattern_bytes, std::uint8_t{0});
  std::fill_n(buffers_[1].get(), pattern_bytes, std::uint8_t{0xFF});
  std::mt19937 generator(static_cast<std::uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> byte(0, 255);
  std::uint8_t* random = buffers_[2].get();
  for (std::size_t i = 0; i < pattern_bytes; ++i)
    random[i] = static_cast<std::uint8_t>(byte(generator));
  return true;
}

bool overwrite_region(int fd, std::int64_t length, OverwritePatterns& patterns,
                      run::RunControl& run) {
  if (!patterns.ready()) return false;
  if (length < 0) return false;
  for (int k = 0; k < 3; ++k) {
    run.pump_events();
    if (k > 0 && ::lseek(fd, -length, SEEK_CUR) < 0) return false;
    std::int64_t left = length;
    while (left > 0) {
      const std::int64_t piece = std::min(piece_bytes, left);
      if (!write_all(fd, patterns.pattern(k), static_cast<std::size_t>(piece))) return false;
      left -= piece;
      run.pump_events();
    }
  }
  return true;
}

namespace {

// Deeper trees than this are not removed; the workers' own folders are one level deep.
constexpr int deepest_folder = 256;

bool remove_tree_at(int parent_fd, const std::string& name, dev_t device, int depth) {
  struct stat st {};
  if (::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent_fd, name.c_str(), 0) == 0 || errno == ENOENT;
  if (st.st_dev != device || depth >= deepest_folder) return false;
  const detail::OwnedFd folder(detail::open_folder_at(parent_fd, name, device));
  struct stat opened {};
  if (!folder.valid() || ::fstat(folder.get(), &opened) != 0 || !detail::same_file(opened, st)) {
    return false;
  }
  int error = 0;
  bool all_gone = true;
  for (const std::string& entry : detail::folder_entries(folder.get(), error)) {
    all_gone = remove_tree_at(folder.get(), entry, device, depth + 1) && all_gone;
  }
  if (error != 0 || !all_gone) return false;
  return ::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

bool delete_folder_tree(int parent_fd, const std::string& name) {
  struct stat parent {};
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      ::fstat(parent_fd, &parent) != 0) {
    return false;
  }
  return remove_tree_at(parent_fd, name, parent.st_dev, 0);
}

bool delete_folder_tree(const std::string& path) {
  std::filesystem::path p(path);
  while (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  const std::string name = p.filename().string();
  const std::string parent = p.has_parent_path() ? p.parent_path().string() : std::string(".");
  const detail::OwnedFd parent_fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent_fd.valid()) return errno == ENOENT;
  return delete_folder_tree(parent_fd.get(), name);
}

}  // namespace fennick::cleaning

// The hash manifest files of a recovery run.
#include "workflow/recovery_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fennick::workflow {

namespace {

// Tabs, line breaks and backslashes in a TSV value become \t, \n, \r and \\.
std::string tsv_value(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A new file only: a file already at the path (an earlier run's manifest, or anything else
// of the person's) is never truncated; the run refuses to start instead. A FIFO there does
// not block, as the open fails on it.
int create_for_writing(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                0600);
}

}  // namespace

std::string sha256sum_line(const std::string& sha256, const std::string& path) {
  std::string escaped;
  bool needs_escape = false;
  for (const char c : path) {
    if (c == '\\') {
      escaped += "\\\\";
      needs_escape = true;
    } else if (c == '\n') {
      escaped += "\\n";
      needs_escape = true;
    } else if (c == '\r') {
      escaped += "\\r";
      needs_escape = true;
    } else {
      escaped += c;
    }
  }
  return (needs_escape ? "\\" : "") + sha256 + "  " + escaped + "\n";
}

std::string manifest_tsv_header() {
  return "path\tdrive\tsource\trecord\tsize\tquality\toutcome\tzero_ranges\tsha256\n";
}

std::string manifest_tsv_row(const ManifestEntry& e) {
  std::string ranges;
  for (const auto& [first, end] : e.zero_ranges) {
    if (!ranges.empty()) ranges += ',';
    ranges += std::to_string(first) + "-" + std::to_string(end - 1);
  }
  return tsv_value(e.relative_path) + "\t" + tsv_value(e.drive) + "\t" + tsv_value(e.source) +
         "\t" + std::to_string(e.record_no) + "\t" + std::to_string(e.size) + "\t" +
         std::to_string(e.quality) + "\t" + e.outcome + "\t" + ranges + "\t" + e.sha256 + "\n";
}

RecoveryManifest::~RecoveryManifest() { close(); }

bool RecoveryManifest::start(int list_fd, int table_fd) {
  list_fd_ = list_fd;
  table_fd_ = table_fd;
  return write(table_fd_, manifest_tsv_header());
}

bool RecoveryManifest::open(const std::string& path) {
  const int list = create_for_writing(path);
  if (list < 0) return false;
  const int table = create_for_writing(path + ".tsv");
  if (table < 0) {
    // Both files or neither: the list made a moment ago goes again, if its name still
    // holds that file.
    const int error = errno;
    struct stat made {};
    struct stat now {};
    if (::fstat(list, &made) == 0 && ::lstat(path.c_str(), &now) == 0 &&
        made.st_dev == now.st_dev && made.st_ino == now.st_ino) {
      ::unlink(path.c_str());
    }
    ::close(list);
    errno = error;
    return false;
  }
  return start(list, table);
}

bool RecoveryManifest::write(int fd, const std::string& text) {
  if (failed_) return false;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      error_ = n < 0 ? errno : EIO;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool RecoveryManifest::add(const ManifestEntry& entry) {
  if (list_fd_ < 0 || table_fd_ < 0) return false;
  bool ok = write(table_fd_, manifest_tsv_row(entry));
  // A file with no hash (it could not be read back) has no line sha256sum could check.
  if (!entry.sha256.empty())
    ok = write(list_fd_, sha256sum_line(entry.sha256, entry.relative_path)) && ok;
  return ok;
}

bool RecoveryManifest::close() {
  for (int* fd : {&list_fd_, &table_fd_}) {
    if (*fd < 0) continue;
    if (::close(*fd) != 0 && !failed_) {
      failed_ = true;
      error_ = errno;
    }
    *fd = -1;
  }
  if (failed_) errno = error_;
  return !failed_;
}

}  // namespace fennick::workflow

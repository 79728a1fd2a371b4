// The identity the window decides by (effective uid, root's home from the password
// database) with its test seam, and the link-free check of root's settings path.
#include "ui/run_identity.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <vector>

namespace fennick::ui::identity {

namespace {

std::optional<Identity> test_identity;

// A descriptor closed at the end of its scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A folder root alone can change: owned by uid 0 and not writable by group or others,
// unless the sticky bit keeps others from replacing what is in it.
bool roots_own_folder(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == 0 &&
         ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0);
}

}  // namespace

Identity current() {
  if (test_identity) return *test_identity;
  Identity identity;
  identity.euid = ::geteuid();
  // getpwuid reads the password database, never HOME.
  const struct passwd* entry = ::getpwuid(0);
  identity.root_home = entry != nullptr && entry->pw_dir != nullptr
                           ? QString::fromLocal8Bit(entry->pw_dir)
                           : QString();
  if (!identity.root_home.startsWith('/')) identity.root_home = "/root";
  return identity;
}

void set_for_tests(std::optional<Identity> identity) { test_identity = std::move(identity); }

bool running_as_root() { return current().euid == 0; }

QString settings_file(const Identity& identity) {
  if (identity.euid != 0) return {};
  return QDir::cleanPath(identity.root_home + "/.config/BrantleSoftware/Fennick.conf");
}

PathCheck check_root_path(const std::string& path, bool create_folders) {
  using Outcome = PathCheck::Outcome;
  if (path.empty() || path.front() != '/') return {Outcome::unsafe, path};
  std::vector<std::string> parts;
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") return {Outcome::unsafe, path};
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) return {Outcome::unsafe, path};

  Fd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (folder.get() < 0 || ::fstat(folder.get(), &st) != 0 || !roots_own_folder(st)) {
    return {Outcome::unsafe, "/"};
  }
  std::string walked;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    walked += "/" + parts[i];
    if (::fstatat(folder.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return {Outcome::unsafe, walked};
      if (!create_folders) return {Outcome::missing, walked};
      // Made inside the checked parent; one that appeared meanwhile is checked below.
      if (::mkdirat(folder.get(), parts[i].c_str(), 0700) != 0 && errno != EEXIST) {
        return {Outcome::unsafe, walked};
      }
    }
    const int next =
        ::openat(folder.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const bool link = ::fstatat(folder.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(st.st_mode);
      return {link ? Outcome::link : Outcome::unsafe, walked};
    }
    folder.reset(next);
    // Checked on the opened folder itself, so a swap after the look-up changes nothing.
    if (::fstat(folder.get(), &st) != 0 || !roots_own_folder(st)) return {Outcome::unsafe, walked};
  }

  walked += "/" + parts.back();
  if (::fstatat(folder.get(), parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? PathCheck{Outcome::usable, walked}
                           : PathCheck{Outcome::unsafe, walked};
  }
  if (S_ISLNK(st.st_mode)) return {Outcome::link, walked};
  if (!S_ISREG(st.st_mode) || st.st_uid != 0) return {Outcome::unsafe, walked};
  return {Outcome::usable, walked};
}

}  // namespace fennick::ui::identity

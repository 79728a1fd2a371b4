// The recovery destination: folders and files made relative to descriptors, never through
// links, handed to the person who asked for them.
#include "catalogue/destination_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "catalogue/short_string.h"

namespace fennick::catalogue {

namespace {

// How many " (n)" names are tried before a file or folder is given up.
constexpr int max_numbered_tries = 10000;
// How often one name is tried again when the entry in its place changes under our hands.
constexpr int max_retries = 4;

std::string join_relative(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::optional<unsigned long> id_from(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-' || text[0] == '+' || value > 0xFFFFFFFEul) {
    return std::nullopt;
  }
  return value;
}

// Opens the folder at the relative path below `base` in one call, refusing any symbolic link
// on the way and any step out of `base`; -1 where the kernel cannot (errno ENOSYS), and
// wherever a link, a missing folder or anything else is in the way (the caller then walks
// the path a folder at a time).
int open_folder_beneath(int base, const std::string& relative) {
#ifdef SYS_openat2
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    const long fd = ::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno != EAGAIN && errno != EINTR) return -1;
  }
#else
  (void)base;
  (void)relative;
  errno = ENOSYS;
  return -1;
#endif
}

InTheWay kind_in_the_way(int folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return InTheWay::link;
  }
  return InTheWay::not_regular;
}

}  // namespace

std::string numbered_name(const std::string& name, int n) {
  constexpr std::size_t max_component_bytes = 255;
  const std::string suffix = " (" + std::to_string(n) + ")";
  const std::size_t dot = name.rfind('.');
  const bool has_ext = dot != std::string::npos && dot > 0;
  const std::string ext = has_ext ? name.substr(dot) : std::string();
  std::string base = has_ext ? name.substr(0, dot) : name;
  const std::size_t room = max_component_bytes > suffix.size() + ext.size()
                               ? max_component_bytes - suffix.size() - ext.size()
                               : 1;
  base.resize(utf8_cut_length(base, room));
  return base + suffix + ext;
}

std::optional<Requester> requester_from_environment() {
  if (::geteuid() != 0) return std::nullopt;
  Requester r;
  if (const auto uid = id_from(std::getenv("SUDO_UID"))) {
    r.uid = static_cast<uid_t>(*uid);
    if (const auto gid = id_from(std::getenv("SUDO_GID"))) {
      r.gid = static_cast<gid_t>(*gid);
    } else {
      const passwd* pw = ::getpwuid(r.uid);
      if (pw == nullptr) return std::nullopt;
      r.gid = pw->pw_gid;
    }
  } else if (const auto pk = id_from(std::getenv("PKEXEC_UID"))) {
    r.uid = static_cast<uid_t>(*pk);
    const passwd* pw = ::getpwuid(r.uid);
    if (pw == nullptr) return std::nullopt;
    r.gid = pw->pw_gid;
  } else {
    return std::nullopt;
  }
  if (r.uid == 0) return std::nullopt;
  return r;
}

DestinationFolder::~DestinationFolder() { close(); }

void DestinationFolder::close() {
  if (cached_fd_ >= 0) ::close(cached_fd_);
  cached_fd_ = -1;
  cached_relative_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  folders_.clear();
  made_paths_.clear();
  owner_.reset();
  path_.clear();
}

bool DestinationFolder::open(const std::string& path, std::optional<Requester> requester) {
  close();
  path_ = path;
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  if (requester && ::fstat(fd_, &st) == 0 && st.st_uid == requester->uid) owner_ = requester;
  return true;
}

std::string DestinationFolder::display(const std::string& relative) const {
  if (relative.empty()) return path_;
  return path_ == "/" ? "/" + relative : path_ + "/" + relative;
}

void DestinationFolder::hand_over(int fd) const {
  // A file the requester cannot own is still a recovered file; root keeps it then.
  if (owner_) (void)::fchown(fd, owner_->uid, owner_->gid);
}

int DestinationFolder::make_folder(int parent, const std::string& name) {
  const bool made = ::mkdirat(parent, name.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return -1;
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 && made) hand_over(fd);
  return fd;
}

std::optional<std::string> DestinationFolder::make_folders(
    const std::vector<std::string>& folders) {
  if (fd_ < 0) {
    errno = EBADF;
    return std::nullopt;
  }
  if (folders.empty()) return std::string();
  // Folders the run has made all the way down are entered in one call, which refuses links
  // as the walk below does; anything unexpected on the way takes the walk.
  std::string asked_whole;
  for (const std::string& folder : folders) asked_whole = join_relative(asked_whole, folder);
  if (const auto known = made_paths_.find(asked_whole); known != made_paths_.end()) {
    const int fd = open_folder_beneath(fd_, known->second);
    if (fd >= 0) {
      if (cached_fd_ >= 0) ::close(cached_fd_);
      cached_fd_ = fd;
      cached_relative_ = known->second;
      return known->second;
    }
  }
  std::string asked;
  std::string actual;
  int parent = fd_;
  const auto step_into = [&parent, this](int fd) {
    if (parent != fd_) ::close(parent);
    parent = fd;
  };
  for (const std::string& folder : folders) {
    asked = join_relative(asked, folder);
    int fd = -1;
    std::string chosen;
    // A folder chosen earlier in the run is entered again by the name it was given.
    if (const auto known = folders_.find(asked); known != folders_.end()) {
      chosen = known->second;
      fd = ::openat(parent, chosen.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    for (int n = 1; fd < 0 && n <= max_numbered_tries; ++n) {
      chosen = n == 1 ? folder : numbered_name(folder, n);
      fd = make_folder(parent, chosen);
      if (fd >= 0) break;
      if (errno != ELOOP && errno != ENOTDIR) {
        const int saved = errno;
        step_into(fd_);
        errno = saved;
        return std::nullopt;
      }
      if (on_in_the_way) {
        on_in_the_way(display(join_relative(actual, chosen)), kind_in_the_way(parent, chosen));
      }
    }
    if (fd < 0) {
      step_into(fd_);
      errno = EEXIST;
      return std::nullopt;
    }
    folders_[asked] = chosen;
    actual = join_relative(actual, chosen);
    step_into(fd);
  }
  made_paths_[asked_whole] = actual;
  // The last folder stays open: the file that asked for it is created there next.
  if (parent != fd_) {
    if (cached_fd_ >= 0) ::close(cached_fd_);
    cached_fd_ = parent;
    cached_relative_ = actual;
  }
  return actual;
}

int DestinationFolder::open_folder(const std::string& relative) {
  if (relative.empty()) return fd_;
  if (cached_fd_ >= 0 && cached_relative_ == relative) return cached_fd_;
  int parent = open_folder_beneath(fd_, relative);
  if (parent >= 0) {
    if (cached_fd_ >= 0) ::close(cached_fd_);
    cached_fd_ = parent;
    cached_relative_ = relative;
    return parent;
  }
  parent = fd_;
  std::size_t start = 0;
  while (start <= relative.size()) {
    const std::size_t end = relative.find('/', start);
    const std::string part =
        relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const int fd = ::openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int saved = errno;
    if (parent != fd_) ::close(parent);
    if (fd < 0) {
      errno = saved;
      return -1;
    }
    parent = fd;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (cached_fd_ >= 0) ::close(cached_fd_);
  cached_fd_ = parent;
  cached_relative_ = relative;
  return parent;
}

CreatedFile DestinationFolder::create_file(const std::string& relative, const std::string& name,
                                           const std::function<bool(const std::string&)>& taken) {
  CreatedFile out;
  const int folder = fd_ < 0 ? -1 : open_folder(relative);
  if (folder < 0) {
    out.error = fd_ < 0 ? EBADF : errno;
    out.path = display(join_relative(relative, name));
    out.reason = "cannot open the folder " + display(relative) + ": " + std::strerror(out.error);
    return out;
  }
  int retries = 0;
  for (int n = 1; n <= max_numbered_tries;) {
    const std::string candidate = n == 1 ? name : numbered_name(name, n);
    const std::string rel = join_relative(relative, candidate);
    out.path = display(rel);
    out.relative = rel;
    if (taken && taken(out.path)) {
      ++n;
      continue;
    }
    const int fd = ::openat(folder, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
      hand_over(fd);
      out.fd = fd;
      return out;
    }
    if (errno != EEXIST) {
      out.error = errno;
      out.reason = std::string(std::strerror(out.error)) + ": " + out.path;
      return out;
    }
    // Whatever holds the name stays as it is: a file from before the run may be the
    // person's current version of what is being recovered, or a whole copy an earlier run
    // made. The recovered file goes beside it under the next " (n)" name.
    struct stat st {};
    const bool seen = ::fstatat(folder, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!seen && errno == ENOENT && ++retries <= max_retries) {
      continue;  // gone between the two calls: try the name again
    }
    if (seen && !S_ISREG(st.st_mode) && on_in_the_way) {
      on_in_the_way(out.path, S_ISLNK(st.st_mode) ? InTheWay::link : InTheWay::not_regular);
    }
    retries = 0;
    ++n;
  }
  out.error = EEXIST;
  out.reason = "no free name for " + display(join_relative(relative, name));
  return out;
}

void DestinationFolder::remove(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  const int fd = fd_ < 0 ? -1 : open_folder(folder);
  if (fd >= 0) ::unlinkat(fd, name.c_str(), 0);
}

int DestinationFolder::open_for_reading(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  const int fd = fd_ < 0 ? -1 : open_folder(folder);
  if (fd < 0) return -1;
  // Reading it back must not move its access time off the time the recovery gave it.
  const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  const int file = ::openat(fd, name.c_str(), flags | O_NOATIME);
  if (file >= 0 || errno != EPERM) return file;
  return ::openat(fd, name.c_str(), flags);
}

bool DestinationFolder::set_times(const std::string& relative, std::int64_t seconds,
                                  std::int64_t nanoseconds) {
  const std::size_t slash = relative.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  const int fd = fd_ < 0 ? -1 : open_folder(folder);
  if (fd < 0) return false;
  const struct timespec times[2] = {{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)},
                                    {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
  return ::utimensat(fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace fennick::catalogue

// Which mount, if any, a volume's file or device is mounted at, matched by device numbers.
#include "volume/mount_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fennick::volume {

namespace fs = std::filesystem;

std::string read_sys_line(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

namespace {

// Undoes the octal escapes (\040 for a blank) of /proc/self/mountinfo.
std::string unescape_mount_field(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
      out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// "major:minor" as mountinfo and sysfs write device numbers.
bool parse_device(const std::string& text, dev_t& device) {
  unsigned major_no = 0, minor_no = 0;
  if (std::sscanf(text.c_str(), "%u:%u", &major_no, &minor_no) != 2) return false;
  device = makedev(major_no, minor_no);
  return true;
}

// One line of /proc/self/mountinfo, the fields the mount lookup uses.
struct MountLine {
  dev_t device = 0;  // major:minor of the mounted file system
  std::string root;  // the folder of the file system that is mounted ("/" for all of it)
  std::string mount_point;
  std::string type;
  std::string source;
};

// id parent major:minor root mount-point options [optional...] - type source super-options
std::vector<MountLine> read_mount_table() {
  std::vector<MountLine> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, mount_point;
    fields >> id >> parent >> dev >> root >> mount_point;
    const std::size_t dash = line.find(" - ");
    MountLine m;
    if (dash == std::string::npos || !parse_device(dev, m.device)) continue;
    std::istringstream tail(line.substr(dash + 3));
    tail >> m.type >> m.source;
    m.root = unescape_mount_field(root);
    m.mount_point = unescape_mount_field(mount_point);
    m.source = unescape_mount_field(m.source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool is_fuse_type(const std::string& type) {
  return type == "fuse" || type == "fuseblk" || type.starts_with("fuse.") ||
         type.starts_with("fuseblk.");
}

bool same_file(const struct stat& a, const struct stat& b) {
  if (S_ISBLK(a.st_mode) || S_ISBLK(b.st_mode)) {
    return S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev;
  }
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether a mount's source text is an absolute path to the file itself (a relative name or
// any other text is not).
bool names_same_file(const std::string& source, const struct stat& file) {
  struct stat st {};
  return !source.empty() && source.front() == '/' && ::stat(source.c_str(), &st) == 0 &&
         same_file(st, file);
}

// Device numbers of the loop devices that map the file from the byte at offset. The kernel
// says which file backs a loop device by device and inode number (LOOP_GET_STATUS64); where
// the device node cannot be opened, sysfs names the backing file.
std::vector<dev_t> loop_devices_backed_by(const struct stat& file, std::uint64_t offset) {
  std::vector<dev_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("loop")) continue;
    dev_t device = 0;
    if (!parse_device(read_sys_line(entry.path() / "dev"), device)) continue;
    bool backed = false;
    bool answered = false;
    const int fd = ::open(("/dev/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      struct stat node {};
      loop_info64 info{};
      if (::fstat(fd, &node) == 0 && S_ISBLK(node.st_mode) && node.st_rdev == device) {
        if (::ioctl(fd, LOOP_GET_STATUS64, &info) == 0) {
          backed = info.lo_device == file.st_dev && info.lo_inode == file.st_ino &&
                   info.lo_offset == offset;
          answered = true;
        } else {
          answered = errno == ENXIO;  // no file bound to it
        }
      }
      ::close(fd);
    }
    if (!answered) {
      const std::string backing = read_sys_line(entry.path() / "loop" / "backing_file");
      struct stat st {};
      backed = !backing.empty() && ::stat(backing.c_str(), &st) == 0 && same_file(st, file) &&
               read_sys_line(entry.path() / "loop" / "offset") == std::to_string(offset);
    }
    if (backed) found.push_back(device);
  }
  return found;
}

// Whether some process holds both /dev/fuse and the file open: a FUSE daemon serving it.
// The open files are looked at with cached attributes only, so that a stalled file system
// cannot hold the lookup up.
bool fuse_daemon_holds(const struct stat& file) {
  struct stat fuse_node {};
  const dev_t fuse_device = ::stat("/dev/fuse", &fuse_node) == 0 && S_ISCHR(fuse_node.st_mode)
                                ? fuse_node.st_rdev
                                : makedev(10, 229);
  std::error_code ec;
  for (const auto& process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    DIR* fds = ::opendir((process.path() / "fd").c_str());
    if (!fds) continue;
    bool holds_fuse = false;
    bool holds_file = false;
    while (const dirent* e = ::readdir(fds)) {
      if (e->d_name[0] == '.') continue;
      struct statx sx {};
      if (::statx(::dirfd(fds), e->d_name, AT_STATX_DONT_SYNC, STATX_TYPE | STATX_INO, &sx) != 0) {
        continue;
      }
      struct stat st {};
      st.st_mode = sx.stx_mode;
      st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
      st.st_ino = sx.stx_ino;
      st.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
      if (S_ISCHR(st.st_mode) && st.st_rdev == fuse_device) holds_fuse = true;
      if (same_file(st, file)) holds_file = true;
    }
    ::closedir(fds);
    if (holds_fuse && holds_file) return true;
  }
  return false;
}

// The partition devices the kernel made of the block device whole that begin at the byte
// offset (sysfs gives each one's start in 512-byte sectors).
std::vector<dev_t> partitions_at(dev_t whole, std::uint64_t offset) {
  std::vector<dev_t> found;
  std::error_code ec;
  const fs::path sys = fs::path("/sys/dev/block") /
                       (std::to_string(major(whole)) + ":" + std::to_string(minor(whole)));
  for (const auto& entry : fs::directory_iterator(sys, ec)) {
    const std::string start = read_sys_line(entry.path() / "start");
    dev_t device = 0;
    if (start.empty() || !parse_device(read_sys_line(entry.path() / "dev"), device)) continue;
    if (std::strtoull(start.c_str(), nullptr, 10) * 512 == offset) found.push_back(device);
  }
  return found;
}

}  // namespace

std::string find_mount_point(const std::string& path, std::uint64_t offset) {
  const std::optional<MountPlace> place = find_mount(path, offset);
  return place ? place->mount_point : std::string();
}

std::optional<MountPlace> find_mount(const std::string& path, std::uint64_t offset) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  std::vector<dev_t> devices;
  if (S_ISBLK(st.st_mode)) {
    if (offset == 0) {
      devices.push_back(st.st_rdev);
    } else {
      devices = partitions_at(st.st_rdev, offset);
    }
  } else if (S_ISREG(st.st_mode)) {
    devices = loop_devices_backed_by(st, offset);
    // A loop device over the whole image with partition devices of its own (losetup -P).
    if (offset != 0) {
      for (const dev_t whole : loop_devices_backed_by(st, 0)) {
        for (const dev_t part : partitions_at(whole, offset)) devices.push_back(part);
      }
    }
  } else {
    return std::nullopt;
  }
  const std::vector<MountLine> mounts = read_mount_table();
  // The whole volume's mount (root "/") before a bind mount of one of its folders.
  for (const bool whole : {true, false}) {
    for (const MountLine& m : mounts) {
      if ((m.root == "/") != whole) continue;
      if (std::find(devices.begin(), devices.end(), m.device) != devices.end()) {
        return MountPlace{m.mount_point, m.device};
      }
    }
  }
  // A FUSE driver that opened the image itself: only its own source path says which file it
  // serves, and anybody can mount with any source text. The path must name this very file
  // and a FUSE daemon must hold the file open. Such a driver serves a whole image only.
  if (offset != 0) return std::nullopt;
  std::optional<bool> daemon_found;
  for (const bool whole : {true, false}) {
    for (const MountLine& m : mounts) {
      if ((m.root == "/") != whole || !is_fuse_type(m.type) || !names_same_file(m.source, st)) {
        continue;
      }
      if (!daemon_found) daemon_found = fuse_daemon_holds(st);
      if (*daemon_found) return MountPlace{m.mount_point, m.device};
    }
  }
  return std::nullopt;
}

}  // namespace fennick::volume

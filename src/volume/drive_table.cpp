// Building the drive table from named images and the machine's block devices.
#include "volume/drive_table.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "volume/volume_facts.h"
#include "volume/volume_source.h"

namespace fennick::volume {

std::vector<DriveInfo> drive_table;
std::int32_t current_drive = 0;
std::vector<std::string> named_volumes;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t mib = 1048576;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string read_sys_line(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Type as libblkid names it, for volumes our own reader does not know.
std::string blkid_type(const std::string& path) {
  blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
  if (!probe) return {};
  std::string type;
  const char* value = nullptr;
  if (blkid_do_safeprobe(probe) == 0 &&
      blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
    type = upper(value);
  }
  blkid_free_probe(probe);
  return type;
}

std::string probe_type(const std::string& path, VolumeSource& source) {
  const VolumeFacts facts = read_volume_facts(source);
  if (!facts.type.empty()) return facts.type;
  return path.empty() ? std::string() : blkid_type(path);
}

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

std::string canonical_or_same(const std::string& path) {
  std::error_code ec;
  const fs::path c = fs::weakly_canonical(path, ec);
  return ec ? path : c.string();
}

// Total and free bytes as the mounted file system reports them; false when it reports none
// (some FUSE file systems give zeros).
bool mounted_space(const std::string& mount_point, DriveInfo& drive) {
  struct statvfs sv {};
  if (::statvfs(mount_point.c_str(), &sv) != 0 || sv.f_blocks == 0) return false;
  drive.total_bytes =
      static_cast<std::int64_t>(sv.f_blocks) * static_cast<std::int64_t>(sv.f_frsize);
  drive.free_bytes =
      static_cast<std::int64_t>(sv.f_bavail) * static_cast<std::int64_t>(sv.f_frsize);
  return true;
}

struct Candidate {
  std::string path;
  bool is_image = false;
  bool removable = false;
};

// Fills an entry for the candidate; false when it cannot be read (reason says why).
bool make_entry(const Candidate& c, char letter, DriveInfo& drive, std::string& reason) {
  struct stat st {};
  if (::stat(c.path.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  const std::int64_t size = path_size_bytes(c.path);
  if (size < 0) {
    reason = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) ? "its size cannot be read"
                                                        : "not a volume image or block device";
    return false;
  }
  auto source = std::make_shared<FileSource>(c.path);
  std::uint8_t probe_byte = 0;
  const SourceResult r = source->read_at(0, &probe_byte, 1);
  if (r.open_error != 0) {
    reason = std::strerror(r.open_error);
    return false;
  }
  if (r.bytes == 0 && size > 0) {
    reason = "read error";
    return false;
  }
  drive.drive_letter = letter;
  drive.is_image = c.is_image;
  drive.source_path = c.path;
  drive.size_mb = static_cast<double>(size / mib);
  drive.drive_kind = c.removable ? (letter <= 'c' ? 0 : 2) : 1;
  drive.ticked = letter == 'c';
  const VolumeFacts facts = read_volume_facts(*source);
  std::string type = facts.type;
  if (type.empty()) type = blkid_type(c.path);
  drive.fs_name = table_fs_name(type);
  drive.cluster_size = facts.cluster_size;
  drive.total_bytes = facts.total_bytes;
  drive.free_bytes = facts.free_bytes;
  drive.mount_point = find_mount_point(c.path);
  if (!drive.mount_point.empty()) mounted_space(drive.mount_point, drive);
  attach_source(letter, std::move(source));
  return true;
}

bool listable_file_system(const std::string& type) {
  return type == "FAT12" || type == "FAT16" || type == "FAT32" || type == "NTFS" || type == "exFAT";
}

// FAT, exFAT and NTFS block devices of at least 1 MiB, in name order. Loop devices count
// only when a file backs them.
std::vector<Candidate> block_device_candidates() {
  std::vector<Candidate> found;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator("/sys/class/block", ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const fs::path sys = fs::path("/sys/class/block") / name;
    if (name.starts_with("loop") && !fs::exists(sys / "loop" / "backing_file", ec)) continue;
    const long long sectors = std::atoll(read_sys_line(sys / "size").c_str());
    if (sectors * 512 < mib) continue;
    const std::string path = "/dev/" + name;
    FileSource source(path);
    if (!listable_file_system(read_volume_facts(source).type)) continue;
    // A partition's removable flag lives on its disk.
    fs::path disk = sys;
    if (fs::exists(sys / "partition", ec)) disk = fs::canonical(sys, ec).parent_path();
    const bool removable = read_sys_line(disk / "removable") == "1";
    found.push_back({path, false, removable});
  }
  return found;
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

// Device numbers of the loop devices that map the file from its first byte. The kernel says
// which file backs a loop device by device and inode number (LOOP_GET_STATUS64); where the
// device node cannot be opened, sysfs names the backing file.
std::vector<dev_t> loop_devices_backed_by(const struct stat& file) {
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
          backed =
              info.lo_device == file.st_dev && info.lo_inode == file.st_ino && info.lo_offset == 0;
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
               read_sys_line(entry.path() / "loop" / "offset") == "0";
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

}  // namespace

std::string table_fs_name(const std::string& file_system_name) {
  const std::string name = upper(file_system_name);
  if (name.find("FAT32") != std::string::npos) return "FAT32";
  if (name.find("FAT") != std::string::npos) return "FAT";
  if (name.find("NTFS") != std::string::npos) return "NTFS";
  return {};
}

std::vector<DriveProblem> get_drives(bool include_block_devices) {
  drive_table.clear();
  detach_all_sources();
  std::vector<DriveProblem> problems;
  std::vector<Candidate> candidates;
  for (const std::string& path : named_volumes) candidates.push_back({path, true, false});
  if (include_block_devices) {
    // A device the user named is listed once, under the named entry's letter.
    std::vector<std::string> named;
    for (const std::string& p : named_volumes) named.push_back(canonical_or_same(p));
    for (Candidate& c : block_device_candidates()) {
      if (std::find(named.begin(), named.end(), canonical_or_same(c.path)) == named.end()) {
        candidates.push_back(std::move(c));
      }
    }
  }
  char letter = 'c';
  for (const Candidate& c : candidates) {
    if (letter > 'z') {
      problems.push_back({c.path, "no drive letter left (at most 24 volumes)"});
      continue;
    }
    DriveInfo drive;
    std::string reason;
    if (!make_entry(c, letter, drive, reason)) {
      problems.push_back({c.path, reason});
      continue;
    }
    drive_table.push_back(std::move(drive));
    ++letter;
  }
  return problems;
}

std::string get_file_system_name(char drive_letter) {
  const auto source = source_for(drive_letter);
  if (!source) return {};
  return probe_type(source->path(), *source);
}

std::int32_t get_cluster_size(char drive_letter) {
  const auto source = source_for(drive_letter);
  return source ? read_volume_facts(*source).cluster_size : 0;
}

std::string drive_caption(const DriveInfo& drive) {
  char size_part[64];
  if (drive.size_mb >= 1000) {
    std::snprintf(size_part, sizeof size_part, " (%.2f GB)", drive.size_mb / 1024);
  } else {
    std::snprintf(size_part, sizeof size_part, " (%.2f MB)", drive.size_mb);
  }
  std::string caption(
      1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive.drive_letter))));
  return caption + ":\\ " + size_part;
}

std::string find_mount_point(const std::string& path) {
  const std::optional<MountPlace> place = find_mount(path);
  return place ? place->mount_point : std::string();
}

std::optional<MountPlace> find_mount(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  std::vector<dev_t> devices;
  if (S_ISBLK(st.st_mode)) {
    devices.push_back(st.st_rdev);
  } else if (S_ISREG(st.st_mode)) {
    devices = loop_devices_backed_by(st);
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
  // and a FUSE daemon must hold the file open.
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

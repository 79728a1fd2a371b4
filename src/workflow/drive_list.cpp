// Building the drive list from named images and the machine's block devices.
#include "workflow/drive_list.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "volume/mount_lookup.h"
#include "volume/volume_facts.h"
#include "workflow/engines.h"

namespace fennick::workflow {

using volume::FileSource;
using volume::find_mount_point;
using volume::path_size_bytes;
using volume::read_sys_line;
using volume::SourceResult;
using volume::VolumeFacts;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t mib = 1048576;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
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

std::string canonical_or_same(const std::string& path) {
  std::error_code ec;
  const fs::path c = fs::weakly_canonical(path, ec);
  return ec ? path : c.string();
}

// Total and free bytes as the mounted file system reports them; false when it reports none
// (some FUSE file systems give zeros).
bool mounted_space(const std::string& mount_point, Drive& drive) {
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
bool make_entry(const Candidate& c, char letter, Drive& drive, std::string& reason) {
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
  const VolumeFacts facts = probe_volume(*source);
  drive.kind = facts.kind != volume::FileSystemKind::unknown
                   ? facts.kind
                   : volume::kind_from_name(blkid_type(c.path));
  drive.cluster_size = facts.cluster_size;
  drive.total_bytes = facts.total_bytes;
  drive.free_bytes = facts.free_bytes;
  drive.length = size;
  drive.mount_point = find_mount_point(c.path);
  if (!drive.mount_point.empty()) mounted_space(drive.mount_point, drive);
  drive.source = std::move(source);
  return true;
}

bool listable_file_system(volume::FileSystemKind kind) {
  return kind != volume::FileSystemKind::unknown;
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
    if (!listable_file_system(probe_volume(source).kind)) continue;
    // A partition's removable flag lives on its disk.
    fs::path disk = sys;
    if (fs::exists(sys / "partition", ec)) disk = fs::canonical(sys, ec).parent_path();
    const bool removable = read_sys_line(disk / "removable") == "1";
    found.push_back({path, false, removable});
  }
  return found;
}

}  // namespace

DriveListing list_drives(const std::vector<std::string>& named_volumes,
                         bool include_block_devices) {
  DriveListing listing;
  std::vector<DriveProblem>& problems = listing.problems;
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
    Drive drive;
    std::string reason;
    if (!make_entry(c, letter, drive, reason)) {
      problems.push_back({c.path, reason});
      continue;
    }
    drive.drive_index = static_cast<std::int32_t>(listing.drives.size());
    listing.drives.push_back(std::move(drive));
    ++letter;
  }
  return listing;
}

std::string drive_caption(const Drive& drive) {
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

Drive* find_drive(DriveList& drives, char drive_letter) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(drive_letter)));
  for (Drive& d : drives) {
    if (d.drive_letter == lower) return &d;
  }
  return nullptr;
}

}  // namespace fennick::workflow

// The drive table: the volumes the user can scan, each under a drive letter, with file
// system, size, cluster size, space figures, tick state and the folder list of its last scan.
//
// On Linux a drive is a volume image file the user named or a block device holding a FAT,
// exFAT or NTFS file system. Letters go from "c" upward: first the named images in the
// order given, then block devices in name order.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::volume {

struct DriveInfo {
  std::uint32_t drive_kind = 1;  // 0 removable a..c, 1 fixed, 2 removable from d on
  char drive_letter = 0;         // lower case
  double size_mb = 0;            // whole MiB
  bool ticked = false;
  std::string fs_name;  // "FAT32", "FAT", "NTFS" or empty
  std::int32_t cluster_size = 0;
  std::int64_t total_bytes = 0;
  std::int64_t free_bytes = 0;
  std::vector<catalogue::TFolderEntry> folders;  // folder list of the last scan

  // Where the volume comes from.
  std::string source_path;
  bool is_image = false;
  std::string mount_point;  // empty when not mounted

  std::int32_t folder_count() const { return static_cast<std::int32_t>(folders.size()); }
};

extern std::vector<DriveInfo> drive_table;
extern std::int32_t current_drive;

// Volume images (or devices) the user named, in the order given; they get the first letters.
extern std::vector<std::string> named_volumes;

struct DriveProblem {
  std::string path;
  std::string reason;
};

// Rebuilds drive_table: the named volumes, then (when include_block_devices) the machine's
// FAT/exFAT/NTFS block devices. Each entry's source is bound to its letter. A named volume
// that cannot be opened is left out and reported in the result.
std::vector<DriveProblem> get_drives(bool include_block_devices = true);

// File-system name of the volume under the letter: "FAT32", "FAT12", "FAT16", "NTFS",
// "exFAT", another probed type in upper case, or empty.
std::string get_file_system_name(char drive_letter);
// Sectors per cluster x bytes per sector of the volume under the letter; 0 when unknown.
std::int32_t get_cluster_size(char drive_letter);
// The name the drive table keeps: "FAT32", "FAT" or "NTFS" by substring, else empty.
std::string table_fs_name(const std::string& file_system_name);

// "C:\  (74.52 GB)" / "E:\  (512.00 MB)".
std::string drive_caption(const DriveInfo& drive);

// Mount point of the block device or image at path, from /proc/self/mountinfo; empty if none.
// A mount is matched by device numbers: a block device by its own, an image by those of the
// loop devices it backs (from its first byte). A FUSE mount of an image without a loop device
// counts only when its source path is the image itself and a FUSE daemon holds the image
// open. Source texts alone never match.
std::string find_mount_point(const std::string& path);

// The same lookup, with the device number of the mounted file system (the st_dev of every
// file on it), so that a caller can check that a folder it opened is on that mount.
struct MountPlace {
  std::string mount_point;
  dev_t device = 0;
};
std::optional<MountPlace> find_mount(const std::string& path);

}  // namespace fennick::volume

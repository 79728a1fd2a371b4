// The mount lookup: where the file system of a block device or an image is mounted.
//
// A mount is matched by device numbers: a block device by its own, an image by those of the
// loop devices it backs (from its first byte). A FUSE mount of an image without a loop device
// counts only when its source path is the image itself and a FUSE daemon holds the image
// open. Source texts alone never match.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace fennick::volume {

// Mount point of the block device or image at path, or of the volume that begins at the
// byte offset inside it (a partition: a partition device of the disk or of a loop device over
// the image, or a loop device over the image from that offset), from /proc/self/mountinfo;
// empty if none.
std::string find_mount_point(const std::string& path, std::uint64_t offset = 0);

// The same lookup, with the device number of the mounted file system (the st_dev of every
// file on it), so that a caller can check that a folder it opened is on that mount.
struct MountPlace {
  std::string mount_point;
  dev_t device = 0;
};
std::optional<MountPlace> find_mount(const std::string& path, std::uint64_t offset = 0);

// The first line of a sysfs (or any) file, empty when it cannot be read.
std::string read_sys_line(const std::filesystem::path& file);

}  // namespace fennick::volume

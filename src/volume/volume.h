// One volume as the engines see it: where its bytes come from, which file system it holds,
// and what the drive list learnt about it.
//
// A volume is a whole image file or block device today; its source may also be a stretch of
// a larger one (a partition), which is why it keeps the offset and length it was cut at.
// The front ends keep their volumes in their drive lists; the engines are handed one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "volume/file_system_kind.h"
#include "volume/volume_source.h"

namespace fennick::volume {

struct Volume {
  // The volume's bytes from its first sector on.
  std::shared_ptr<VolumeSource> source;
  // Where the volume lies in the file or device it was found in (0 and the whole length for
  // a volume that fills it); -1 when the length is not known.
  std::uint64_t offset = 0;
  std::int64_t length = -1;

  FileSystemKind kind = FileSystemKind::unknown;
  // The drive letter (lower case) and the index in the front end's drive list under which
  // the volume's found files are catalogued.
  char drive_letter = 0;
  std::int32_t drive_index = 0;

  std::int32_t cluster_size = 0;
  std::int64_t total_bytes = 0;
  std::int64_t free_bytes = 0;

  std::string source_path;  // the image file or device
  bool is_image = false;
  std::string mount_point;  // empty when not mounted

  // The file-system name the drive list shows: "FAT32", "FAT", "NTFS" or empty.
  std::string fs_name() const { return std::string(table_name(kind)); }
};

}  // namespace fennick::volume

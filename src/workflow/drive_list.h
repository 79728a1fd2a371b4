// The drive list: the volumes the user can scan, each under a drive letter, with its file
// system, size, cluster size, space figures and tick state. The front ends own one each; the
// workflow runs take it.
//
// On Linux a drive is a volume image file the user named or a block device holding a FAT,
// exFAT or NTFS file system. Letters go from "c" upward: first the named images in the
// order given, then block devices in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/volume.h"

namespace fennick::workflow {

struct Drive : volume::Volume {
  std::uint32_t drive_kind = 1;  // 0 removable a..c, 1 fixed, 2 removable from d on
  double size_mb = 0;            // whole MiB
  bool ticked = false;
};
using DriveList = std::vector<Drive>;

struct DriveProblem {
  std::string path;
  std::string reason;
};

struct DriveListing {
  DriveList drives;
  // A named volume that cannot be opened is left out and reported here.
  std::vector<DriveProblem> problems;
};

// The named volumes, then (when include_block_devices) the machine's FAT/exFAT/NTFS block
// devices, each opened as a source and probed.
DriveListing list_drives(const std::vector<std::string>& named_volumes,
                         bool include_block_devices = true);

// "C:\  (74.52 GB)" / "E:\  (512.00 MB)".
std::string drive_caption(const Drive& drive);

// The drive under the letter (either case), or null.
Drive* find_drive(DriveList& drives, char drive_letter);

}  // namespace fennick::workflow

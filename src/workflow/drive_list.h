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
  int partition_number = 0;  // the partition of the disk it is, 0 for a whole file or device
};

// A partition whose volume this program does not read: listed, but no drive.
struct OtherPartition {
  std::string source_path;
  int number = 0;
  std::uint64_t start = 0;   // bytes
  std::uint64_t length = 0;  // bytes
  std::string type;          // the file system libblkid names, else the table's type code
};
using DriveList = std::vector<Drive>;

struct DriveProblem {
  std::string path;
  std::string reason;
};

struct DriveListing {
  DriveList drives;
  std::vector<OtherPartition> others;
  // A named volume that cannot be opened is left out and reported here.
  std::vector<DriveProblem> problems;
};

// The named volumes, then (when include_block_devices) the machine's FAT/exFAT/NTFS block
// devices, each opened as a source and probed. A disk image or a whole-disk device with no
// volume of its own but a partition table gives a drive per partition that holds a volume
// this program reads, in disk order. A named "disk.img#2" is the disk's partition 2 and
// "disk.img@1048576" the volume from that byte on (when the whole text names no file).
DriveListing list_drives(const std::vector<std::string>& named_volumes,
                         bool include_block_devices = true);

// "C:\  (74.52 GB)" / "E:\  (512.00 MB)"; a partition: "F:\  usb.img #1 (30.00 MB)"; an
// image file: "G:\  card.img (8.00 MB)".
std::string drive_caption(const Drive& drive);
// Where a drive lies in its source: "usb.img #1", "usb.img @1048576", or the file's name.
std::string source_place(const Drive& drive);

// The drive under the letter (either case), or null.
Drive* find_drive(DriveList& drives, char drive_letter);

}  // namespace fennick::workflow

// The partition table of a disk or a disk image: MBR (primary, extended and logical
// partitions) and GPT (with its protective MBR), read through libblkid's partition API.
// Every entry is checked against the size of the disk before it may become a volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/volume_source.h"

namespace fennick::volume {

struct PartitionEntry {
  int number = 0;            // as the table numbers it: 1..4 primary, logical ones from 5
  std::uint64_t start = 0;   // bytes from the disk's first byte
  std::uint64_t length = 0;  // bytes
  std::string type;          // MBR type ("0x0c") or GPT type GUID, as libblkid gives it
};

struct PartitionTable {
  std::string scheme;  // "dos", "gpt", ...; empty when the disk has no table
  // The partitions that can hold a volume, in disk order (extended containers left out).
  std::vector<PartitionEntry> partitions;
  // Entries left out because they do not lie inside the disk, one line each.
  std::vector<std::string> problems;
  // Where the extended containers begin (bytes), for the reader of image formats.
  std::vector<std::uint64_t> extended_starts;
};

// At most this many partitions are taken from one table.
constexpr std::size_t max_partitions = 128;

// The table of the disk open at fd, whose size is `size` bytes. Never writes.
PartitionTable read_partition_table(int fd, std::uint64_t size);
// The same for the file or device at path (opened read-only, not through a link at its last
// component).
PartitionTable read_partition_table(const std::string& path);
// The same for a source libblkid cannot open itself (a disk inside an image format): the
// table is read from a sparse copy of the disk's sectors that tables live in, its first and
// last MiB and the MiB that begins each extended container and follows each logical
// partition (where partitioning tools put the next extended boot record).
PartitionTable read_partition_table(VolumeSource& source);

}  // namespace fennick::volume

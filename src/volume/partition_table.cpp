// Partition tables through libblkid.
#include "volume/partition_table.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "volume/volume_source.h"

namespace fennick::volume {

namespace {

constexpr std::uint64_t blkid_sector = 512;

std::string mbr_type_text(int type) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(type) & 0xFFu);
  return text;
}

}  // namespace

PartitionTable read_partition_table(int fd, std::uint64_t size) {
  PartitionTable table;
  if (fd < 0 || size == 0) return table;
  blkid_probe probe = blkid_new_probe();
  if (!probe) return table;
  if (blkid_probe_set_device(probe, fd, 0, static_cast<blkid_loff_t>(size)) != 0) {
    blkid_free_probe(probe);
    return table;
  }
  // Partition tables only: a volume that fills the disk is the file-system probes' business.
  blkid_probe_enable_superblocks(probe, 0);
  blkid_probe_enable_partitions(probe, 1);
  blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
  blkid_partlist list =
      blkid_do_safeprobe(probe) == 0 ? blkid_probe_get_partitions(probe) : nullptr;
  if (list) {
    if (blkid_parttable root = blkid_partlist_get_table(list)) {
      if (const char* scheme = blkid_parttable_get_type(root)) table.scheme = scheme;
    }
    const int count = blkid_partlist_numof_partitions(list);
    for (int i = 0; i < count && table.partitions.size() < max_partitions; ++i) {
      blkid_partition part = blkid_partlist_get_partition(list, i);
      if (!part) continue;
      const blkid_loff_t start = blkid_partition_get_start(part);
      if (blkid_partition_is_extended(part)) {
        if (start > 0 && static_cast<std::uint64_t>(start) < size / blkid_sector) {
          table.extended_starts.push_back(static_cast<std::uint64_t>(start) * blkid_sector);
        }
        continue;
      }
      const blkid_loff_t sectors = blkid_partition_get_size(part);
      PartitionEntry entry;
      entry.number = blkid_partition_get_partno(part);
      if (const char* guid = blkid_partition_get_type_string(part)) {
        entry.type = guid;
      } else {
        entry.type = mbr_type_text(blkid_partition_get_type(part));
      }
      const auto first = static_cast<std::uint64_t>(start);
      const auto length = static_cast<std::uint64_t>(sectors);
      // The table is volume data: an entry that starts at the table itself, is empty, or runs
      // past the disk's end (also by overflow) is no volume of this disk.
      const std::string name = "partition " + std::to_string(entry.number);
      if (sectors <= 0) {
        // A GPT entry whose last sector lies before its first gives a negative size.
        table.problems.push_back(name + " is empty or ends before it starts (from sector " +
                                 std::to_string(start) + ")");
        continue;
      }
      if (start <= 0) {
        table.problems.push_back(name + " starts at the partition table (sector 0)");
        continue;
      }
      if (first > size / blkid_sector || length > size / blkid_sector - first) {
        table.problems.push_back(name + " lies outside the disk (sectors " + std::to_string(start) +
                                 " + " + std::to_string(sectors) + " of " +
                                 std::to_string(size / blkid_sector) + ")");
        continue;
      }
      entry.start = first * blkid_sector;
      entry.length = length * blkid_sector;
      table.partitions.push_back(std::move(entry));
    }
  }
  blkid_free_probe(probe);
  std::stable_sort(
      table.partitions.begin(), table.partitions.end(),
      [](const PartitionEntry& a, const PartitionEntry& b) { return a.start < b.start; });
  return table;
}

namespace {

// Copies count bytes at offset of the source into the memory file; false when nothing could
// be read.
bool copy_stretch(VolumeSource& source, int fd, std::uint64_t offset, std::uint64_t count,
                  std::uint64_t size, std::vector<std::uint8_t>& buffer) {
  if (offset >= size) return false;
  count = std::min(count, size - offset);
  buffer.resize(static_cast<std::size_t>(count));
  const SourceResult r = source.read_at(offset, buffer.data(), buffer.size());
  if (r.bytes <= 0) return false;
  return ::pwrite(fd, buffer.data(), static_cast<std::size_t>(r.bytes),
                  static_cast<off_t>(offset)) == r.bytes;
}

}  // namespace

PartitionTable read_partition_table(VolumeSource& source) {
  constexpr std::uint64_t mib = 1 << 20;
  const std::int64_t signed_size = source.size_bytes();
  if (signed_size <= 0) return {};
  const auto size = static_cast<std::uint64_t>(signed_size);
  const int fd = ::memfd_create("partition-table", MFD_CLOEXEC);
  if (fd < 0) return {};
  PartitionTable table;
  std::vector<std::uint8_t> buffer;
  if (::ftruncate(fd, static_cast<off_t>(size)) == 0) {
    copy_stretch(source, fd, 0, mib, size, buffer);
    if (size > mib) copy_stretch(source, fd, size - mib, mib, size, buffer);
    // Each round may find the next logical partition; a chain cannot be longer than the
    // partitions a table may give.
    std::vector<std::uint64_t> copied;
    for (std::size_t round = 0; round <= max_partitions; ++round) {
      table = read_partition_table(fd, size);
      std::vector<std::uint64_t> wanted;
      for (const PartitionEntry& p : table.partitions) wanted.push_back(p.start + p.length);
      for (const std::uint64_t start : table.extended_starts) wanted.push_back(start);
      bool more = false;
      for (const std::uint64_t at : wanted) {
        if (std::find(copied.begin(), copied.end(), at) != copied.end()) continue;
        copied.push_back(at);
        more |= copy_stretch(source, fd, at, mib, size, buffer);
      }
      if (!more) break;
    }
  }
  ::close(fd);
  return table;
}

PartitionTable read_partition_table(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  const std::int64_t size = path_size_bytes(path);
  PartitionTable table = read_partition_table(fd, size > 0 ? static_cast<std::uint64_t>(size) : 0);
  ::close(fd);
  return table;
}

}  // namespace fennick::volume

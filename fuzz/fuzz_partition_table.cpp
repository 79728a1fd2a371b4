// Fuzz target: partition tables. The input is a disk (in a memory file, as libblkid reads
// a descriptor); every partition taken from its table must lie inside it, and the volume
// probe of each must stay inside its stretch.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "volume/partition_table.h"
#include "volume/volume_source.h"
#include "workflow/engines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick;
  if (size < 512) return 0;
  const int fd = ::memfd_create("disk", MFD_CLOEXEC);
  if (fd < 0) return 0;
  // The input is the disk's first bytes; the disk is as large as its first three bytes say
  // (in units of 32 KiB, up to 512 GiB, sparse), so tables may point far into it or past it.
  const std::uint64_t claimed =
      std::uint64_t{data[0]} | std::uint64_t{data[1]} << 8 | std::uint64_t{data[2]} << 16;
  const std::uint64_t disk = std::max<std::uint64_t>(size, claimed << 15);
  if (::ftruncate(fd, static_cast<off_t>(disk)) == 0 &&
      ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size)) {
    const volume::PartitionTable table = volume::read_partition_table(fd, disk);
    auto whole =
        std::make_shared<volume::MemorySource>(std::vector<std::uint8_t>(data, data + size));
    for (const volume::PartitionEntry& p : table.partitions) {
      if (p.start == 0 || p.length == 0 || p.start > disk || p.length > disk - p.start)
        std::abort();
      volume::SliceSource slice(whole, p.start, p.length);
      const volume::VolumeFacts facts = workflow::probe_volume(slice);
      if (facts.total_bytes < 0) std::abort();
    }
    if (table.partitions.size() > volume::max_partitions) std::abort();
  }
  ::close(fd);
  return 0;
}

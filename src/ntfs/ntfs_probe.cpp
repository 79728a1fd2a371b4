// The NTFS probe: cluster size, volume bytes and free bytes (zero bits of $Bitmap).
#include "ntfs/ntfs_probe.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "volume/boot_parameter_block.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

using volume::ByteSpan;
using volume::FileSystemKind;
using volume::le16_or0;
using volume::le64_or0;
using volume::u8_or0;
using volume::VolumeFacts;
using volume::VolumeSource;
namespace bpb = volume::bpb;

bool probe_ntfs(VolumeSource& source, ByteSpan boot, VolumeFacts& facts) {
  if (std::memcmp(boot.data() + bpb::oem_name, "NTFS    ", 8) != 0) return false;
  const std::uint32_t bps = le16_or0(boot, bpb::bytes_per_sector);
  const std::uint32_t spc = u8_or0(boot, bpb::sectors_per_cluster);
  if (!bpb::valid_sector_size(bps) || !std::has_single_bit(spc)) return false;
  facts.kind = FileSystemKind::ntfs;
  const std::uint64_t cluster = std::uint64_t{bps} * spc;
  facts.cluster_size = static_cast<std::int32_t>(cluster);
  const std::uint64_t clusters = le64_or0(boot, boot::total_sectors) / spc;
  facts.total_bytes =
      static_cast<std::int64_t>(std::min<std::uint64_t>(clusters, 1ull << 40) * cluster);
  const auto code = static_cast<std::int8_t>(u8_or0(boot, boot::record_size_code));
  const auto record_size =
      static_cast<std::uint64_t>(record_size_from_code(code, static_cast<std::int64_t>(cluster)));
  const std::uint64_t mft_lcn = le64_or0(boot, boot::mft_cluster);
  if (record_size < min_record_size || record_size > max_record_size || mft_lcn >= clusters) {
    return true;
  }

  std::vector<std::uint8_t> record =
      volume::read_bytes(source, mft_lcn * cluster + bitmap_record * record_size, record_size);
  if (record.size() != record_size || !has_file_signature(record)) return true;
  apply_fixups(record);
  const auto data = find_attribute(record, type_data);
  if (!data) return true;
  std::uint64_t zeros = 0;
  std::uint64_t counted = 0;
  for (const DataRun& run : decode_runs(record, *data)) {
    if (counted >= clusters) break;
    const std::uint64_t run_bits = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(run.length) * cluster * 8, clusters - counted);
    if (run.sparse || static_cast<std::uint64_t>(run.lcn) >= clusters) return true;
    std::uint64_t got = 0;
    zeros += volume::count_zero_bits(source, static_cast<std::uint64_t>(run.lcn) * cluster,
                                     run_bits, got);
    counted += got;
    if (got != run_bits) return true;
  }
  if (counted != clusters) return true;
  facts.free_bytes = static_cast<std::int64_t>(zeros * cluster);
  facts.free_known = true;
  return true;
}

}  // namespace fennick::ntfs

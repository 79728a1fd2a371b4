// Raw reads of MFT records and boot sectors.
#include "workflow/raw_reads.h"

#include "engine/read_problems.h"
#include "volume/boot_parameter_block.h"
#include "volume/le_read.h"
#include "volume/sector_reader.h"

namespace fennick::workflow {

bool read_record_raw(const volume::Volume& volume, const catalogue::FoundFile& record,
                     std::array<std::uint8_t, 1024>& buffer, messages::StatusChannel& channel) {
  if (record.fs_kind != volume::FileSystemKind::ntfs || record.entry_cluster <= 0) return false;
  volume::SectorReader reader(volume.source, volume::reader_sectors, engine::report_to(channel));
  if (reader.error != 0) return false;
  // The geometry of the record's own volume, read afresh, so that the dump can never come
  // from a position computed with another volume's sector and cluster sizes.
  std::array<std::uint8_t, 512> boot{};
  if (reader.read(512, boot.data(), 0) != 512) return false;
  const std::int64_t bytes_per_sector = volume::le16_or0(boot, volume::bpb::bytes_per_sector);
  const std::int64_t sectors_per_cluster = volume::u8_or0(boot, volume::bpb::sectors_per_cluster);
  if (bytes_per_sector == 0) return false;
  // The offset inside the cluster is kept whole: with sectors larger than a record, a record
  // need not begin on a sector.
  const std::int64_t position =
      record.entry_cluster * sectors_per_cluster * bytes_per_sector + record.entry_offset;
  std::array<std::uint8_t, 1024> bytes{};
  if (reader.read(1024, bytes.data(), position) != 1024) return false;
  buffer = bytes;
  return true;
}

bool read_boot_sector_raw(const volume::Volume& volume, std::array<std::uint8_t, 512>& buffer,
                          messages::StatusChannel& channel) {
  volume::SectorReader reader(volume.source, volume::reader_sectors, engine::report_to(channel));
  if (reader.error != 0) return false;
  std::array<std::uint8_t, 512> bytes{};
  if (reader.read(512, bytes.data(), 0) != 512) return false;
  buffer = bytes;
  return true;
}

}  // namespace fennick::workflow

// The sector window reader.
#include "volume/sector_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "volume/boot_parameter_block.h"
#include "volume/le_read.h"
#include "volume/volume_source.h"

namespace fennick::volume {

SectorReader::SectorReader(std::shared_ptr<VolumeSource> source, std::uint16_t capacity_sectors,
                           ReadProblemHandler on_problem)
    : capacity(std::uint32_t{capacity_sectors} * sector_bytes),
      source_(std::move(source)),
      on_problem_(std::move(on_problem)) {
  if (!start()) return;
  const ByteSpan boot(data.data(), sector_bytes);
  std::uint64_t sector_total = le64_or0(boot, bpb::total_sectors64);
  if (sector_total == 0 && u8_or0(boot, bpb::media) == bpb::floppy_media) {
    // A floppy without the 64-bit field: 80 cylinders of the declared geometry.
    sector_total =
        std::uint64_t{le16_or0(boot, bpb::sectors_per_track)} * le16_or0(boot, bpb::heads) * 80;
  }
  const std::uint8_t per_cluster = u8_or0(boot, bpb::sectors_per_cluster);
  if (per_cluster == 0) {
    report(ReadProblemKind::no_cluster_size, " Sector Per Cluster - Zero");
    error = 1;
    return;
  }
  // The boot sector counts in the volume's own sectors; the window counts in 512-byte ones.
  // A sector size that is no power of two from 512 to 4096 is no volume's: 512 is assumed.
  const std::uint16_t sector_size = le16_or0(boot, bpb::bytes_per_sector);
  if (bpb::valid_sector_size(sector_size)) {
    units_per_sector = sector_size / sector_bytes;
  }
  // The field is unchecked volume data: keep the limit in 512-byte sectors inside int64.
  const std::uint64_t most_clusters =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / per_cluster /
      static_cast<std::uint64_t>(units_per_sector);
  cluster_count = static_cast<std::int64_t>(std::min(sector_total / per_cluster, most_clusters));
  sectors_per_cluster = per_cluster;
}

SectorReader::SectorReader(std::shared_ptr<VolumeSource> source, std::uint16_t capacity_sectors,
                           ReadProblemHandler on_problem, VolumeExtent extent)
    : capacity(std::uint32_t{capacity_sectors} * sector_bytes),
      source_(std::move(source)),
      on_problem_(std::move(on_problem)) {
  if (!start()) return;
  set_extent(extent);
}

void SectorReader::set_extent(VolumeExtent extent) {
  units_per_sector = 1;
  if (bpb::valid_sector_size(extent.sector_size)) {
    units_per_sector = extent.sector_size / sector_bytes;
  }
  // One "cluster" per volume sector: the limit is the volume's length, kept inside int64.
  const auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) /
                    static_cast<std::uint64_t>(units_per_sector);
  cluster_count = static_cast<std::int64_t>(std::min(extent.sectors, most));
  sectors_per_cluster = 1;
}

bool SectorReader::start() {
  if (source_) source_->begin_read_session();
  // At least one sector, so that sector 0 always fits.
  data.assign(std::max<std::size_t>(capacity, sector_bytes), 0);
  if (read_sectors(1, 0) <= 0) {
    report(ReadProblemKind::boot_sector_unreadable,
           " Unable to read drive. Administrator rights may be required.");
    error = 2;
    return false;
  }
  return true;
}

SectorReader::~SectorReader() {
  if (source_) source_->end_read_session();
}

void SectorReader::report(ReadProblemKind kind, std::string text) {
  if (on_problem_) on_problem_(ReadProblem{kind, std::move(text)});
}

void SectorReader::log_invalid_fill(const char* what, std::int64_t value, std::int64_t position) {
  report(ReadProblemKind::window_out_of_range,
         std::string(what) + std::to_string(value) + "||" + std::to_string(position) + "||" +
             std::to_string(cluster_count) + "||" + std::to_string(sectors_per_cluster));
}

std::int64_t SectorReader::read(std::uint32_t count, void* destination, std::int64_t position) {
  return read_pieces(count, static_cast<std::uint8_t*>(destination), position, nullptr);
}

std::int64_t SectorReader::read_salvaging(std::uint32_t count, void* destination,
                                          std::int64_t position,
                                          std::vector<ByteStretch>& unreadable) {
  return read_pieces(count, static_cast<std::uint8_t*>(destination), position, &unreadable);
}

std::int64_t SectorReader::read_pieces(std::uint32_t count, std::uint8_t* out,
                                       std::int64_t position,
                                       std::vector<ByteStretch>* unreadable) {
  if (count == 0 || position < 0 || out == nullptr) return 0;
  if (position > std::numeric_limits<std::int64_t>::max() - count) return 0;
  const std::uint32_t window_sectors = capacity / sector_bytes;
  if (window_sectors == 0) return 0;
  // A request larger than one fill can hold is served piece by piece; each piece then fits
  // the window whatever byte of a sector it starts at. Stretches found are only handed out
  // once the whole request has been delivered.
  std::vector<ByteStretch> found;
  std::uint32_t done = 0;
  while (done < count) {
    const std::int64_t at = position + done;
    const std::uint32_t room = capacity - static_cast<std::uint32_t>(at % sector_bytes);
    const std::uint32_t piece = std::min(count - done, room);
    if (read_within_window(piece, out + done, at, unreadable ? &found : nullptr) == 0) return 0;
    done += piece;
  }
  if (unreadable) {
    for (const ByteStretch& s : found) {
      if (!unreadable->empty() && unreadable->back().first + unreadable->back().count == s.first) {
        unreadable->back().count += s.count;
      } else {
        unreadable->push_back(s);
      }
    }
  }
  return count;
}

std::int64_t SectorReader::read_within_window(std::uint32_t count, std::uint8_t* destination,
                                              std::int64_t position,
                                              std::vector<ByteStretch>* unreadable) {
  const std::int64_t sector = position / sector_bytes;
  std::int64_t offset = 0;
  // The sector holding the byte just after the range must lie in the window, so a request
  // ending exactly at the window's end refills.
  const bool hit =
      valid_bytes != 0 && (position + count) / sector_bytes < end_sector && sector >= first_sector;
  if (hit) {
    offset = position % sector_bytes + (sector - first_sector) * sector_bytes;
  } else {
    const std::int64_t limit = sector_limit();
    const std::int64_t window_sectors = capacity / sector_bytes;
    first_sector = sector;
    end_sector = first_sector + window_sectors;
    if (end_sector > limit) end_sector = limit;
    fill_sectors = std::min(end_sector - first_sector, window_sectors);

    if (fill_sectors > limit || fill_sectors < 0) {
      log_invalid_fill("Sector count invalid", fill_sectors, position);
      fill_sectors = 0;
    }
    if (first_sector > limit || first_sector < 0 || first_sector > end_sector) {
      log_invalid_fill("Start Sector invalid", first_sector, position);
      first_sector = 0;
    }
    if (end_sector > limit || end_sector < 0) {
      log_invalid_fill("End Sector invalid", end_sector, position);
      end_sector = 0;
    }
    const std::int64_t got = fill_window(static_cast<std::uint16_t>(fill_sectors), first_sector);
    valid_bytes = static_cast<std::uint32_t>(got);
    if (got == 0) return 0;
    offset = position % sector_bytes;
  }
  if (offset > valid_bytes) {
    report(ReadProblemKind::offset_out_of_window, "Start Offset Error" + std::to_string(offset) +
                                                      "||" + std::to_string(position) + "||512");
    return 0;
  }
  // Bytes the device did not deliver (a short read at the end of the volume) are never
  // handed out as if they were the volume's.
  if (offset + count > valid_bytes) return 0;
  const auto begin = static_cast<std::uint32_t>(offset);
  const std::uint32_t end = begin + count;
  for (const auto& [hole_begin, hole_end] : window_holes_) {
    if (hole_end <= begin || hole_begin >= end) continue;
    // Zeros are no structure: only a salvaging read takes them.
    if (unreadable == nullptr) return 0;
    const std::uint32_t from = std::max(hole_begin, begin);
    const std::uint32_t to = std::min(hole_end, end);
    unreadable->push_back({position + (from - begin), static_cast<std::int64_t>(to - from)});
  }
  std::memcpy(destination, data.data() + offset, count);
  return count;
}

std::int64_t SectorReader::read_sectors(std::uint16_t count, std::int64_t first) {
  const std::int64_t got = fill_window(count, first);
  // Zeros for unreadable sectors are no sectors of the volume.
  return window_holes_.empty() ? got : 0;
}

std::int64_t SectorReader::fill_window(std::uint16_t count, std::int64_t first) {
  window_holes_.clear();
  const std::size_t bytes = std::size_t{count} * sector_bytes;
  if (count == 0 || first < 0 || bytes > data.size()) return 0;
  if (first > std::numeric_limits<std::int64_t>::max() / sector_bytes) return 0;
  if (!source_) {
    report(ReadProblemKind::open_failed, "Open disk error - " + std::to_string(ENOENT));
    return 0;
  }
  const std::uint64_t at = static_cast<std::uint64_t>(first) * sector_bytes;
  const SourceResult result = source_->read_at(at, data.data(), bytes);
  if (result.open_error != 0) {
    report(ReadProblemKind::open_failed, "Open disk error - " + std::to_string(result.open_error));
    return 0;
  }
  if (result.read_error == source_gone) {
    if (!gone_reported_) {
      gone_reported_ = true;
      // The caller words it in the user's language.
      report(ReadProblemKind::source_gone, std::string());
    }
    return 0;
  }
  if (result.read_error != EIO) return result.read_error == 0 ? result.bytes : 0;
  for (const UnreadableStretch& s : result.unreadable) {
    if (s.offset >= bytes) continue;
    const auto hole_begin = static_cast<std::uint32_t>(s.offset);
    const auto hole_end =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, s.offset + s.length));
    window_holes_.emplace_back(hole_begin, hole_end);
    if (!s.first_seen) continue;
    const std::int64_t first_byte = static_cast<std::int64_t>(at) + hole_begin;
    const std::int64_t last_byte = static_cast<std::int64_t>(at) + hole_end - 1;
    // Byte positions, not sectors: the volume's sectors may be larger than the medium's.
    ReadProblem problem{ReadProblemKind::unreadable_stretch,
                        std::to_string(first_byte) + "-" + std::to_string(last_byte), first_byte,
                        last_byte - first_byte + 1};
    if (on_problem_) on_problem_(problem);
  }
  return result.salvaged;
}

std::int64_t SectorReader::write_sectors(std::uint16_t count, const void* source_bytes,
                                         std::int64_t first) {
  if (count == 0 || first < 0 || source_bytes == nullptr) return 0;
  if (first > std::numeric_limits<std::int64_t>::max() / sector_bytes) return 0;
  if (!source_) return 0;
  const SourceResult result = source_->write_at(static_cast<std::uint64_t>(first) * sector_bytes,
                                                source_bytes, std::size_t{count} * sector_bytes);
  return result.bytes;
}

}  // namespace fennick::volume

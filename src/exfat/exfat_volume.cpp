// Opening an exFAT volume: boot region, readers, the root folder's bitmap and up-case entries.
#include "exfat/exfat_volume.h"

#include <algorithm>
#include <utility>

#include "engine/read_problems.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::exfat {

namespace {

// The boot region (12 sectors of up to 4096 bytes) in 512-byte units.
constexpr std::uint16_t boot_region_units = 12 * 8;
// Entries of the root folder searched for the bitmap and the up-case table; formatting tools
// put them first.
constexpr std::size_t root_entries_searched = 1024;

}  // namespace

AllocationBitmap::AllocationBitmap(const volume::Volume& volume, const ExfatLayout& layout,
                                   volume::SectorReader& fat_reader, std::uint32_t first_cluster,
                                   std::uint64_t length, volume::ReadProblemHandler problems)
    : volume_(volume),
      layout_(layout),
      fat_reader_(fat_reader),
      first_cluster_(first_cluster),
      length_(length),
      problems_(std::move(problems)) {}

bool AllocationBitmap::usable() { return load(); }

bool AllocationBitmap::load() {
  if (loaded_) return usable_;
  loaded_ = true;
  const std::uint64_t needed = (std::uint64_t{layout_.cluster_count} + 7) / 8;
  if (!layout_.cluster_in_volume(first_cluster_) || length_ < needed) return false;
  const bool chained = fat_chain_intact(layout_, fat_reader_, first_cluster_, needed);
  ClusterRun run(layout_, &fat_reader_, first_cluster_, needed, !chained);
  while (const auto c = run.next()) clusters_.push_back(*c);
  if (!run.intact()) return false;
  reader_.emplace(volume_.source, volume::reader_sectors, problems_, layout_.extent());
  usable_ = reader_->error == 0;
  return usable_;
}

std::optional<bool> AllocationBitmap::in_use(std::uint32_t cluster) {
  if (!load() || !layout_.cluster_in_volume(cluster)) return std::nullopt;
  const std::uint64_t bit = cluster - 2;
  const std::uint64_t byte = bit / 8;
  const auto cluster_bytes = static_cast<std::uint64_t>(layout_.cluster_bytes());
  const std::uint64_t k = byte / cluster_bytes;
  if (k >= clusters_.size()) return std::nullopt;
  std::uint8_t value = 0;
  const std::int64_t at = layout_.cluster_position(clusters_[static_cast<std::size_t>(k)]) +
                          static_cast<std::int64_t>(byte % cluster_bytes);
  if (reader_->read(1, &value, at) != 1) return std::nullopt;
  return ((value >> (bit % 8)) & 1) != 0;
}

std::optional<std::uint32_t> AllocationBitmap::next_free(std::uint32_t after) {
  if (!load()) return std::nullopt;
  const auto cluster_bytes = static_cast<std::uint64_t>(layout_.cluster_bytes());
  const std::uint64_t bits = layout_.cluster_count;
  std::uint64_t bit = std::uint64_t{after} - 1;  // the bit of the cluster after `after`
  // Whole bytes of clusters in use are stepped over a piece at a time: a file recovered
  // behind a long stretch of used clusters costs a few reads, not one per cluster.
  std::uint8_t piece[512];
  while (bit < bits) {
    const std::uint64_t byte = bit / 8;
    const std::uint64_t k = byte / cluster_bytes;
    if (k >= clusters_.size()) return std::nullopt;
    const std::uint64_t in_cluster = byte % cluster_bytes;
    const auto count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({sizeof piece, cluster_bytes - in_cluster, (bits + 7) / 8 - byte}));
    const std::int64_t at = layout_.cluster_position(clusters_[static_cast<std::size_t>(k)]) +
                            static_cast<std::int64_t>(in_cluster);
    if (reader_->read(count, piece, at) != count) return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (piece[i] == 0xFF) {
        bit = (byte + i + 1) * 8;
        continue;
      }
      for (std::uint64_t b = (i == 0 ? bit % 8 : 0); b < 8; ++b) {
        const std::uint64_t found = (byte + i) * 8 + b;
        if (found >= bits) return std::nullopt;
        if (((piece[i] >> b) & 1) == 0) return static_cast<std::uint32_t>(found + 2);
      }
      bit = (byte + i + 1) * 8;
    }
  }
  return std::nullopt;
}

ExfatVolume::ExfatVolume(const volume::Volume& volume, messages::StatusChannel& channel,
                         run::RunControl& run) {
  const volume::ReadProblemHandler problems = engine::report_to(channel, run);
  std::vector<std::uint8_t> region;
  {
    volume::SectorReader boot_reader(volume.source, boot_region_units, problems,
                                     volume::VolumeExtent{boot_region_units, 512});
    if (boot_reader.error != 0) {
      problem = channel.text(messages::boot_sector_unreadable);
      return;
    }
    region.assign(512, 0);
    if (boot_reader.read(512, region.data(), 0) != 512) {
      problem = channel.text(messages::boot_sector_unreadable);
      return;
    }
    LayoutResult checked = read_layout(region);
    if (!checked.layout) {
      problem = channel.text(checked.problem) + checked.values;
      return;
    }
    layout = *checked.layout;
    const std::uint32_t boot_bytes = (boot::checksummed_sectors + 1) * layout.sector_bytes;
    region.assign(boot_bytes, 0);
    boot_checksum_ok = boot_reader.read(boot_bytes, region.data(), 0) == boot_bytes &&
                       boot_checksum_matches(region, layout.sector_bytes);
  }
  const std::int64_t cluster_units = layout.cluster_bytes() / volume::sector_bytes;
  const auto window = static_cast<std::uint16_t>(
      std::clamp<std::int64_t>(cluster_units, volume::reader_sectors, 0xFFFF));
  reader.emplace(volume.source, window, problems, layout.extent());
  fat_reader.emplace(volume.source, volume::reader_sectors, problems, layout.extent());
  if (reader->error != 0 || fat_reader->error != 0) {
    problem = channel.text(messages::volume_unreadable);
    return;
  }
  locate_root_entries(volume, problems);
}

void ExfatVolume::locate_root_entries(const volume::Volume& volume,
                                      const volume::ReadProblemHandler& problems) {
  std::uint32_t bitmap_cluster = 0;
  std::uint64_t bitmap_length = 0;
  EntryPlace place{layout.root_cluster, 0};
  for (std::size_t i = 0; i < root_entries_searched; ++i) {
    std::uint8_t e[entry::bytes] = {};
    if (!read_entry(place, false, e)) break;
    const volume::ByteSpan span(e, entry::bytes);
    if (e[0] == entry::end_of_directory) break;
    // With two FATs there are two bitmaps; the first serves the first FAT.
    if (e[0] == entry::allocation_bitmap && bitmap_cluster == 0 &&
        (e[entry::bitmap_flags] & 1) == 0) {
      bitmap_cluster = volume::le32_or0(span, entry::bitmap_first_cluster);
      bitmap_length = volume::le64_or0(span, entry::bitmap_length);
    } else if (e[0] == entry::upcase_table && upcase_cluster == 0) {
      upcase_cluster = volume::le32_or0(span, entry::bitmap_first_cluster);
    }
  }
  bitmap.emplace(volume, layout, *fat_reader, bitmap_cluster, bitmap_length, problems);
}

std::optional<std::uint32_t> ExfatVolume::next_directory_cluster(std::uint32_t cluster,
                                                                 bool contiguous) {
  std::uint64_t next = std::uint64_t{cluster} + 1;
  if (!contiguous) {
    const auto link = read_fat_entry(*fat_reader, layout, cluster);
    if (!link) return std::nullopt;
    next = *link;
  }
  if (!layout.cluster_in_volume(next)) return std::nullopt;
  return static_cast<std::uint32_t>(next);
}

bool ExfatVolume::read_entry(EntryPlace& place, bool contiguous,
                             std::uint8_t (&bytes)[entry::bytes]) {
  if (place.offset >= layout.cluster_bytes()) {
    const auto next = next_directory_cluster(place.cluster, contiguous);
    if (!next) return false;
    place = {*next, 0};
  }
  if (reader->read(entry::bytes, bytes, layout.cluster_position(place.cluster) + place.offset) !=
      entry::bytes) {
    return false;
  }
  place.offset += entry::bytes;
  return true;
}

ExfatVolume::SetBytes ExfatVolume::read_set(std::uint32_t cluster, std::uint32_t offset,
                                            bool contiguous_directory) {
  SetBytes set;
  if (!layout.cluster_in_volume(cluster) || offset % entry::bytes != 0 ||
      offset >= layout.cluster_bytes()) {
    return set;
  }
  EntryPlace place{cluster, offset};
  std::size_t wanted = 1;
  for (std::size_t k = 0; k < wanted; ++k) {
    std::uint8_t e[entry::bytes] = {};
    const EntryPlace at = place;
    if (!read_entry(place, contiguous_directory, e)) break;
    set.bytes.insert(set.bytes.end(), e, e + entry::bytes);
    set.places.emplace_back(at.cluster, at.offset);
    if (k == 0) {
      wanted = 1 + std::min<std::size_t>(e[file_entry::secondary_count], max_secondary);
    }
  }
  return set;
}

}  // namespace fennick::exfat

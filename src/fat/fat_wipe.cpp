// FAT wipe of one catalogued file: overwrites its directory entry set (the long-name entries
// and the short entry) with a pattern that leaves no name, no cluster and no size behind.
// The file's data clusters and the FAT are not touched.
//
// The entries are checked before anything is written: the short entry must still be the
// deleted one the scan saw (same first cluster and size), so a volume that changed since the
// scan never loses a live entry.
#include <algorithm>
#include <vector>

#include "engine/read_problems.h"
#include "fat/fat_engine.h"
#include "fat/fat_layout.h"
#include "fat/fat_scan.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "volume/le_read.h"

namespace fennick::fat {

namespace {

// A directory holds at most this many entries, so no entry set is longer.
constexpr std::size_t max_set_entries = 65536;

// One directory block as read: a cluster, or a cluster-sized piece of the root region.
struct DirBlock {
  std::int64_t position = 0;     // byte position on the volume
  std::uint32_t cluster = 0;     // 0 for the root region
  std::int64_t write_bytes = 0;  // bytes that belong to the directory
  std::vector<std::uint8_t> bytes;
};

struct EntryRef {
  std::size_t block = 0;
  std::size_t offset = 0;
};

void apply_wipe_pattern(std::uint8_t* entry) {
  entry[0] = deleted_mark;
  std::fill(entry + 1, entry + 11, std::uint8_t{'Z'});
  std::fill(entry + dirent::cluster_high, entry + dirent::cluster_high + 2, std::uint8_t{0});
  std::fill(entry + dirent::cluster_low, entry + 32, std::uint8_t{0});
}

class SetWiper {
 public:
  SetWiper(const catalogue::FoundFile& record, const catalogue::Catalogue& catalogue,
           const FatLayout& layout, volume::SectorReader& reader, volume::SectorReader& fat_reader,
           const messages::StatusChannel& channel)
      : record_(record),
        catalogue_(catalogue),
        layout_(layout),
        reader_(reader),
        fat_reader_(fat_reader),
        channel_(channel) {}

  // Reads the entry set; an empty text when it was found, else the reason it was not.
  std::string collect();
  // The reason the set must not be wiped, or an empty text.
  std::string verify() const;
  // Overwrites the set and writes its blocks back; the reason on failure.
  std::string write();

 private:
  bool load_block(std::int64_t position, std::uint32_t cluster, std::int64_t write_bytes);
  // A reason in the channel's language.
  std::string text(int k) const { return channel_.text(k); }

  const catalogue::FoundFile& record_;
  const catalogue::Catalogue& catalogue_;
  const FatLayout& layout_;
  volume::SectorReader& reader_;
  volume::SectorReader& fat_reader_;
  const messages::StatusChannel& channel_;
  std::vector<DirBlock> blocks_;
  std::vector<EntryRef> entries_;
};

bool SetWiper::load_block(std::int64_t position, std::uint32_t cluster, std::int64_t write_bytes) {
  DirBlock block;
  block.position = position;
  block.cluster = cluster;
  block.write_bytes = write_bytes;
  block.bytes.resize(static_cast<std::size_t>(layout_.cluster_bytes()));
  if (reader_.read(static_cast<std::uint32_t>(block.bytes.size()), block.bytes.data(), position) !=
      static_cast<std::int64_t>(block.bytes.size())) {
    return false;
  }
  blocks_.push_back(std::move(block));
  return true;
}

std::string SetWiper::collect() {
  const std::int64_t cb = layout_.cluster_bytes();
  const bool chain = layout_.is_fat32() || record_.entry_cluster > 0;
  const std::int64_t region_end = layout_.root_region_position() + layout_.root_region_bytes();
  std::int64_t offset = 0;
  std::int64_t root_block = 0;
  if (chain) {
    if (!layout_.cluster_in_volume(static_cast<std::uint64_t>(record_.entry_cluster))) {
      return text(messages::directory_cluster_outside);
    }
    offset = record_.entry_offset;
    if (offset < 0 || offset + directory_entry_bytes > cb)
      return text(messages::entry_outside_cluster);
    const auto cluster = static_cast<std::uint32_t>(record_.entry_cluster);
    if (!load_block(layout_.cluster_position(cluster), cluster, cb))
      return text(messages::cannot_read_directory);
  } else {
    if (record_.entry_offset < 0 ||
        record_.entry_offset + std::int64_t{directory_entry_bytes} > layout_.root_region_bytes()) {
      return text(messages::entry_outside_root);
    }
    root_block = record_.entry_offset / cb;
    offset = record_.entry_offset % cb;
    const std::int64_t position = layout_.root_region_position() + root_block * cb;
    if (!load_block(position, 0, std::min(cb, region_end - position)))
      return text(messages::cannot_read_directory);
  }
  std::vector<std::uint32_t> set_clusters{blocks_.back().cluster};
  for (;;) {
    if (!chain && blocks_.back().position + offset + directory_entry_bytes > region_end) {
      return text(messages::set_past_root_end);
    }
    entries_.push_back({blocks_.size() - 1, static_cast<std::size_t>(offset)});
    if (blocks_.back().bytes[static_cast<std::size_t>(offset) + dirent::attributes] !=
        attr_long_name) {
      return {};
    }
    if (entries_.size() >= max_set_entries) return text(messages::set_without_short_entry);
    offset += directory_entry_bytes;
    if (cb - offset >= directory_entry_bytes) continue;
    offset = 0;
    if (chain) {
      const std::uint32_t next =
          read_fat_entry(fat_reader_, layout_, blocks_.back().cluster, false);
      if (next < 2 || end_of_chain(next, layout_.width) || !layout_.cluster_in_volume(next) ||
          std::find(set_clusters.begin(), set_clusters.end(), next) != set_clusters.end()) {
        return text(messages::no_next_directory_cluster);
      }
      set_clusters.push_back(next);
      if (!load_block(layout_.cluster_position(next), next, cb))
        return text(messages::cannot_read_directory);
    } else {
      ++root_block;
      const std::int64_t position = layout_.root_region_position() + root_block * cb;
      if (position >= region_end) return text(messages::set_past_root_end);
      if (!load_block(position, 0, std::min(cb, region_end - position)))
        return text(messages::cannot_read_directory);
    }
  }
}

std::string SetWiper::verify() const {
  const EntryRef& last = entries_.back();
  const std::span<const std::uint8_t> entry(blocks_[last.block].bytes.data() + last.offset, 32);
  const auto folder = catalogue_.find_folder(record_.drive_index, record_.parent_dir);
  const bool in_deleted_folder = folder && folder->deleted != 0;
  if (entry[0] != deleted_mark && !in_deleted_folder) return text(messages::entry_not_deleted);
  if (entry_first_cluster(entry) != static_cast<std::uint64_t>(record_.first_cluster) ||
      volume::le32_or0(entry, dirent::size) != static_cast<std::uint64_t>(record_.size)) {
    return text(messages::entry_changed);
  }
  return {};
}

std::string SetWiper::write() {
  for (const EntryRef& ref : entries_)
    apply_wipe_pattern(blocks_[ref.block].bytes.data() + ref.offset);
  for (const DirBlock& block : blocks_) {
    const std::int64_t sectors =
        (block.write_bytes + volume::sector_bytes - 1) / volume::sector_bytes;
    const std::int64_t first = block.position / volume::sector_bytes;
    if (reader_.write_sectors(static_cast<std::uint16_t>(sectors), block.bytes.data(), first) !=
        sectors * volume::sector_bytes) {
      return text(messages::cannot_write_directory) + std::to_string(first);
    }
  }
  return {};
}

}  // namespace

engine::WipeOutcome wipe_fat_file(const volume::Volume& volume,
                                  const catalogue::Catalogue& catalogue,
                                  const catalogue::FoundFile& record, run::RunControl& run,
                                  messages::StatusChannel& channel) {
  using engine::WipeOutcome;
  const volume::ReadProblemHandler problems = engine::report_to(channel, run);
  volume::SectorReader main_reader(volume.source, volume::reader_sectors, problems);
  if (main_reader.error != 0) return WipeOutcome::left_alone;
  const BootSector boot = load_boot_sector(main_reader);
  const FatLayout layout = make_layout(boot, volume.kind, volume.total_bytes);
  const auto refuse = [&](const std::string& reason) {
    channel.log(channel.text(messages::error_prefix) + reason + ": " + record.name.str());
    return WipeOutcome::left_alone;
  };
  const std::int64_t cb = layout.cluster_bytes();
  // Blocks are written as whole 512-byte sectors, so they must start and end on one.
  if (!layout.usable() || cb % volume::sector_bytes != 0 ||
      layout.bytes_per_sector % volume::sector_bytes != 0 || cb / volume::sector_bytes > 0xFFFF) {
    return refuse(channel.text(messages::unusable_cluster_size));
  }
  std::optional<volume::SectorReader> wide_reader;
  const auto cluster_sectors = static_cast<std::uint64_t>(cb / volume::sector_bytes);
  if (cluster_sectors > volume::reader_sectors) {
    wide_reader.emplace(volume.source, static_cast<std::uint16_t>(cluster_sectors), problems);
  }
  volume::SectorReader& reader =
      wide_reader && wide_reader->error == 0 ? *wide_reader : main_reader;
  volume::SectorReader fat_reader(volume.source, volume::fat_reader_sectors, problems);
  if (fat_reader.error != 0) return WipeOutcome::left_alone;

  SetWiper wiper(record, catalogue, layout, reader, fat_reader, channel);
  std::string reason = wiper.collect();
  if (reason.empty()) reason = wiper.verify();
  if (!reason.empty()) return refuse(reason + channel.text(messages::nothing_written));
  reason = wiper.write();
  if (!reason.empty()) return refuse(reason);
  channel.log(
      channel.text(run.stop_requested() ? messages::interrupted_prefix : messages::wiped_prefix) +
      record.name.str());
  return WipeOutcome::wiped;
}

}  // namespace fennick::fat

// exFAT wipe of one catalogued file: overwrites its whole entry set (File, Stream Extension,
// File Name and any further secondary entries) so that no name, cluster, size or time is
// left. Each entry keeps only its type, marked unused, so that the directory's later entries
// are still found by every reader (a zero type would end the directory there). The file's
// clusters, the FAT and the bitmap are not touched.
//
// The set is checked before anything is written: it must still be a deleted set (or a set in
// a deleted folder) with the first cluster and size the scan saw.
#include <map>
#include <vector>

#include "exfat/exfat_engine.h"
#include "exfat/exfat_volume.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::exfat {

engine::WipeOutcome wipe_exfat_file(const volume::Volume& volume,
                                    const catalogue::Catalogue& catalogue,
                                    const catalogue::FoundFile& record, run::RunControl& run,
                                    messages::StatusChannel& channel) {
  using engine::WipeOutcome;
  const auto refuse = [&](const std::string& reason) {
    channel.log(channel.text(messages::error_prefix) + reason + ": " + record.name.str());
    return WipeOutcome::left_alone;
  };
  ExfatVolume v(volume, channel, run);
  const std::string nothing_written = channel.text(messages::nothing_written);
  if (!v.usable()) return refuse(v.problem + nothing_written);
  if (record.entry_cluster < 0 || record.entry_cluster > UINT32_MAX || record.entry_offset < 0) {
    return refuse(channel.text(messages::entry_outside_volume) + nothing_written);
  }
  const ExfatVolume::SetBytes read =
      v.read_set(static_cast<std::uint32_t>(record.entry_cluster),
                 static_cast<std::uint32_t>(record.entry_offset),
                 (record.entry_flags & entry_in_contiguous_directory) != 0);
  const auto set = decode_entry_set(read.bytes);
  if (!set) return refuse(channel.text(messages::entry_set_unreadable) + nothing_written);
  const auto folder = catalogue.find_folder(record.drive_index, record.parent_dir);
  const bool in_deleted_folder = folder && folder->deleted != 0;
  if (!set->deleted && !in_deleted_folder) {
    return refuse(channel.text(messages::entry_not_deleted) + nothing_written);
  }
  if (set->first_cluster != static_cast<std::uint64_t>(record.first_cluster) ||
      set->data_length != static_cast<std::uint64_t>(record.size)) {
    return refuse(channel.text(messages::entry_changed) + nothing_written);
  }

  // The 512-byte units that hold the set, read once each, so that two entries in one unit
  // are both kept in what is written back.
  std::map<std::int64_t, std::vector<std::uint8_t>> units;
  for (std::size_t k = 0; k < set->entries; ++k) {
    const std::int64_t at = v.layout.cluster_position(read.places[k].first) + read.places[k].second;
    const std::int64_t unit = at / volume::sector_bytes;
    auto [it, added] = units.try_emplace(unit);
    if (added) {
      it->second.assign(volume::sector_bytes, 0);
      if (v.reader->read(volume::sector_bytes, it->second.data(), unit * volume::sector_bytes) !=
          volume::sector_bytes) {
        return refuse(channel.text(messages::cannot_read_directory) + nothing_written);
      }
    }
    std::uint8_t* e = it->second.data() + at % volume::sector_bytes;
    e[0] = static_cast<std::uint8_t>(e[0] & ~entry::in_use);
    std::fill(e + 1, e + entry::bytes, std::uint8_t{0});
  }
  for (const auto& [unit, bytes] : units) {
    if (v.reader->write_sectors(1, bytes.data(), unit) != volume::sector_bytes) {
      return refuse(channel.text(messages::cannot_write_directory) + std::to_string(unit));
    }
  }
  channel.log(
      channel.text(run.stop_requested() ? messages::interrupted_prefix : messages::wiped_prefix) +
      record.name.str());
  return WipeOutcome::wiped;
}

}  // namespace fennick::exfat

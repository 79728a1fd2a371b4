// FAT recovery of one catalogued file: copies the first cluster, then the free clusters above
// it in ascending order (skipping clusters in use now), until the recorded size is reached.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "catalogue/output_file.h"
#include "engine/read_problems.h"
#include "engine/run_progress.h"
#include "engine/unreadable_bytes.h"
#include "fat/fat_engine.h"
#include "fat/fat_layout.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::fat {

namespace {

constexpr std::uint32_t progress_every_clusters = 500;

// One file's recovery: where it reports and what it may keep.
struct Recovery {
  run::RunControl& run;
  messages::StatusChannel& channel;
  FreeClusterMap* known_free;            // the run's memory of the volume's free clusters, or null
  engine::UnreadableBytes unreadable{};  // bytes of the file the medium could not deliver

  void log_error(const std::string& reason) {
    channel.log(channel.text(messages::error_prefix) + reason);
  }

  void update_progress() { engine::show_run_progress(run, channel); }

  bool copy_clusters(const catalogue::FoundFile& record, const FatLayout& layout,
                     volume::SectorReader& main_reader, volume::SectorReader& fat_reader,
                     catalogue::OutputFile& out, const std::string& output_path,
                     engine::RecoveryResult& result);
};

// Copies the clusters into the output file; false after logging when a read or write fails.
bool Recovery::copy_clusters(const catalogue::FoundFile& record, const FatLayout& layout,
                             volume::SectorReader& main_reader, volume::SectorReader& fat_reader,
                             catalogue::OutputFile& out, const std::string& output_path,
                             engine::RecoveryResult& result) {
  const auto cluster_bytes = static_cast<std::size_t>(layout.cluster_bytes());
  std::vector<std::uint8_t> buffer(cluster_bytes);
  const std::uint32_t limit = layout.cluster_limit();
  std::uint64_t current = static_cast<std::uint64_t>(record.first_cluster);
  std::int64_t written = 0;
  std::uint32_t counter = 0;
  // Once no free cluster is left above some cluster, none is above any later one either: the
  // FAT is only read, so the search need not be repeated.
  bool free_clusters_left = true;
  while (true) {
    run.pump_events();
    if (!layout.cluster_in_volume(current)) {
      log_error(channel.text(messages::cluster_outside_volume) + std::to_string(current) + ": " +
                output_path);
      return false;
    }
    const auto cluster = static_cast<std::uint32_t>(current);
    // Sectors the medium cannot deliver become zeros and are named at the end; a cluster
    // that cannot be read at all (the medium is gone) ends the file.
    std::vector<volume::ByteStretch> stretches;
    const std::int64_t position = layout.cluster_position(cluster);
    if (main_reader.read_salvaging(static_cast<std::uint32_t>(cluster_bytes), buffer.data(),
                                   position,
                                   stretches) != static_cast<std::int64_t>(cluster_bytes)) {
      log_error(channel.text(messages::cannot_read_cluster) + std::to_string(cluster) + ": " +
                output_path);
      return false;
    }
    unreadable.add_from_volume(stretches, position, written, record.size);
    const std::int64_t chunk =
        std::min<std::int64_t>(static_cast<std::int64_t>(cluster_bytes), record.size - written);
    if (chunk > 0 && !out.write_all(buffer.data(), static_cast<std::size_t>(chunk))) {
      result.destination_full = out.out_of_room() || errno == ENOSPC;
      log_error(std::string(std::strerror(errno)) + ": " + output_path);
      return false;
    }
    const std::int64_t n = std::max<std::int64_t>(chunk, 0);
    run.work_done += n;
    if (counter % progress_every_clusters == 0) update_progress();
    written += n;
    result.bytes_written = written;

    std::uint32_t next = 0;
    if (free_clusters_left) {
      next = next_free_cluster(fat_reader, layout, cluster, limit, known_free);
      free_clusters_left = next != 0;
    }
    // With no free cluster above, the physically next cluster is the best guess.
    if (next < 2 && std::uint64_t{cluster} + 1 < limit) next = cluster + 1;
    ++counter;
    if (written >= record.size || run.stop_requested()) return true;
    if (next < 2) {
      // No cluster of the volume is left to take the rest from: the file is not whole.
      log_error(channel.text(messages::file_not_whole) + std::to_string(written) +
                channel.text(messages::file_not_whole_size) + std::to_string(record.size) + ": " +
                output_path);
      return false;
    }
    current = next;
  }
}

}  // namespace

engine::RecoveryResult recover_fat_file(const volume::Volume& volume,
                                        const catalogue::FoundFile& record,
                                        catalogue::OutputFile& out, const std::string& output_path,
                                        FreeClusterMemory* memory, run::RunControl& run,
                                        messages::StatusChannel& channel) {
  engine::RecoveryResult result;
  result.output_created = true;
  Recovery recovery{run, channel, memory ? &memory->map : nullptr};
  const volume::ReadProblemHandler problems = engine::report_to(channel, run);

  bool copied = false;
  {
    volume::SectorReader main_reader(volume.source, volume::reader_sectors, problems);
    if (main_reader.error == 0) {
      const BootSector boot = load_boot_sector(main_reader);
      const FatLayout layout = make_layout(boot, volume.kind, volume.total_bytes);
      if (!layout.usable()) {
        recovery.log_error(channel.text(messages::unusable_cluster_size) + ": " + output_path);
      } else {
        // A whole cluster fits one read: the window holds at least one cluster.
        const auto cluster_sectors = static_cast<std::uint64_t>(
            (layout.cluster_bytes() + volume::sector_bytes - 1) / volume::sector_bytes);
        std::optional<volume::SectorReader> wide_reader;
        if (cluster_sectors > volume::reader_sectors && cluster_sectors <= 0xFFFF) {
          wide_reader.emplace(volume.source, static_cast<std::uint16_t>(cluster_sectors), problems);
        }
        volume::SectorReader& reader =
            wide_reader && wide_reader->error == 0 ? *wide_reader : main_reader;
        // The free-cluster search walks the FAT upward past every cluster in use; on a full
        // volume that is thousands of entries per cluster recovered, so its reader gets the
        // large window rather than the two-sector one (same entries, far fewer fills).
        volume::SectorReader fat_reader(
            volume.source, std::max(volume::fat_reader_sectors, volume::reader_sectors), problems);
        // The file can hold no more than the volume's data area; a size claimed beyond it
        // (a damaged or crafted entry) asks for no more room than that.
        const std::int64_t most = std::min<std::int64_t>(
            std::max<std::int64_t>(record.size, 0), layout.cluster_count * layout.cluster_bytes());
        if (fat_reader.error != 0) {
          // The reader has said why.
        } else if (!out.reserve(most)) {
          result.destination_full = true;
        } else {
          copied = record.size <= 0 || recovery.copy_clusters(record, layout, reader, fat_reader,
                                                              out, output_path, result);
        }
      }
    }
  }
  if (!out.close() && copied) {
    result.destination_full = errno == ENOSPC;
    recovery.log_error(std::string(std::strerror(errno)) + ": " + output_path);
    copied = false;
  }
  if (!copied) {
    result.failed = true;
    return result;
  }
  // A stop that came after the last cluster cut nothing short.
  result.stopped = run.stop_requested() && result.bytes_written < record.size;
  result.zero_ranges = recovery.unreadable.ranges();
  engine::finish_recovery(result, record, output_path, channel);
  return result;
}

}  // namespace fennick::fat

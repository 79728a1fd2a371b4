// FAT recovery of one catalogued file: copies the first cluster, then the free clusters above
// it in ascending order (skipping clusters in use now), until the recorded size is reached.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "catalogue/output_file.h"
#include "fat/fat_layout.h"
#include "fat/fat_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "volume/drive_table.h"

namespace fennick::fat {

namespace {

constexpr std::uint32_t progress_every_clusters = 500;

// The run's free-cluster maps by lower-case drive letter; used only while a run lasts.
bool free_cluster_memory_on = false;
std::map<char, FreeClusterMap> run_free_maps;

FreeClusterMap* free_map_of(char drive_letter) {
  if (!free_cluster_memory_on) return nullptr;
  return &run_free_maps[static_cast<char>(std::tolower(static_cast<unsigned char>(drive_letter)))];
}

void log_error(const std::string& reason) {
  messages::out_text(messages::get_message(72) + reason);
}

void update_progress() {
  if (messages::work_total <= 0) return;
  const double percent =
      static_cast<double>(messages::work_done) / static_cast<double>(messages::work_total) * 100.0;
  messages::channel().set_progress(
      static_cast<std::int32_t>(std::lround(std::clamp(percent, 0.0, 100.0))));
}

// Copies the clusters into the output file; false after logging when a read or write fails.
bool copy_clusters(const catalogue::TDeletedFile& record, const FatLayout& layout,
                   volume::TBuffer& main_reader, volume::TBuffer& fat_reader,
                   catalogue::OutputFile& out, const std::string& output_path,
                   RecoveryResult& result) {
  const auto cluster_bytes = static_cast<std::size_t>(layout.cluster_bytes());
  std::vector<std::uint8_t> buffer(cluster_bytes);
  const std::uint32_t limit = layout.cluster_limit();
  std::uint64_t current = static_cast<std::uint64_t>(record.first_cluster);
  std::int64_t written = 0;
  std::uint32_t counter = 0;
  // Once no free cluster is left above some cluster, none is above any later one either: the
  // FAT is only read, so the search need not be repeated.
  bool free_clusters_left = true;
  FreeClusterMap* known_free = free_map_of(record.drive_letter);
  while (true) {
    messages::process_pending_events();
    if (!layout.cluster_in_volume(current)) {
      log_error("cluster " + std::to_string(current) + " lies outside the volume: " + output_path);
      return false;
    }
    const auto cluster = static_cast<std::uint32_t>(current);
    if (main_reader.read(static_cast<std::uint32_t>(cluster_bytes), buffer.data(),
                         layout.cluster_position(cluster)) !=
        static_cast<std::int64_t>(cluster_bytes)) {
      log_error("cannot read cluster " + std::to_string(cluster) + ": " + output_path);
      return false;
    }
    const std::int64_t chunk =
        std::min<std::int64_t>(static_cast<std::int64_t>(cluster_bytes), record.size - written);
    if (chunk > 0 && !out.write_all(buffer.data(), static_cast<std::size_t>(chunk))) {
      result.destination_full = out.out_of_room() || errno == ENOSPC;
      log_error(std::string(std::strerror(errno)) + ": " + output_path);
      return false;
    }
    const std::int64_t n = std::max<std::int64_t>(chunk, 0);
    messages::work_done += n;
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
    if (written >= record.size || messages::stop_flag != 0) return true;
    if (next < 2) {
      // No cluster of the volume is left to take the rest from: the file is not whole.
      log_error("the volume ends after " + std::to_string(written) + " of " +
                std::to_string(record.size) + " bytes: " + output_path);
      return false;
    }
    current = next;
  }
}

}  // namespace

void begin_free_cluster_memory() {
  run_free_maps.clear();
  free_cluster_memory_on = true;
}

void end_free_cluster_memory() {
  run_free_maps.clear();
  free_cluster_memory_on = false;
}

int recover_fat_file(const catalogue::TDeletedFile& record, const std::string& output_path,
                     RecoveryResult* result_out) {
  catalogue::OutputFile out;
  if (!out.open(output_path)) {
    log_error(std::string(std::strerror(errno)) + ": " + output_path);
    if (result_out) {
      *result_out = RecoveryResult{};
      result_out->failed = true;
    }
    return 0;
  }
  return recover_fat_file(record, out, output_path, result_out);
}

int recover_fat_file(const catalogue::TDeletedFile& record, catalogue::OutputFile& out,
                     const std::string& output_path, RecoveryResult* result_out) {
  RecoveryResult local;
  RecoveryResult& result = result_out ? *result_out : local;
  result = RecoveryResult{};
  result.output_created = true;

  int status = 1;
  bool copied = false;
  {
    volume::TBuffer main_reader(std::string(1, record.drive_letter), volume::reader_sectors);
    if (main_reader.error != 0) {
      status = 0;
    } else {
      load_boot_sector(main_reader);
      const std::optional<FatLayout> layout = layout_for_drive(record.drive_index);
      if (!layout) {
        log_error("the volume of " + output_path + " is not in the drive table");
        status = 0;
      } else if (!layout->usable()) {
        log_error("the boot sector gives no usable cluster size: " + output_path);
      } else {
        // A whole cluster fits one read: the window holds at least one cluster.
        const auto cluster_sectors = static_cast<std::uint64_t>(
            (layout->cluster_bytes() + volume::sector_bytes - 1) / volume::sector_bytes);
        std::optional<volume::TBuffer> wide_reader;
        if (cluster_sectors > volume::reader_sectors && cluster_sectors <= 0xFFFF) {
          wide_reader.emplace(std::string(1, record.drive_letter),
                              static_cast<std::uint16_t>(cluster_sectors));
        }
        volume::TBuffer& reader =
            wide_reader && wide_reader->error == 0 ? *wide_reader : main_reader;
        // The free-cluster search walks the FAT upward past every cluster in use; on a full
        // volume that is thousands of entries per cluster recovered, so its reader gets the
        // large window rather than the two-sector one (same entries, far fewer fills).
        volume::TBuffer fat_reader(std::string(1, record.drive_letter),
                                   std::max(volume::fat_reader_sectors, volume::reader_sectors));
        // The file can hold no more than the volume's data area; a size claimed beyond it
        // (a damaged or crafted entry) asks for no more room than that.
        const std::int64_t most =
            std::min<std::int64_t>(std::max<std::int64_t>(record.size, 0),
                                   layout->cluster_count * layout->cluster_bytes());
        if (fat_reader.error != 0) {
          status = 0;
        } else if (!out.reserve(most)) {
          result.destination_full = true;
        } else {
          copied = record.size <= 0 ||
                   copy_clusters(record, *layout, reader, fat_reader, out, output_path, result);
        }
      }
    }
  }
  if (!out.close() && copied) {
    result.destination_full = errno == ENOSPC;
    log_error(std::string(std::strerror(errno)) + ": " + output_path);
    copied = false;
  }
  if (status == 0 || !copied) {
    result.failed = true;
    return status;
  }
  if (messages::stop_flag != 0) {
    result.stopped = true;
    messages::out_text(messages::get_message(73) + output_path);
  } else {
    messages::out_text(messages::get_message(74) + output_path);
  }
  return 1;
}

}  // namespace fennick::fat

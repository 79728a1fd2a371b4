// exFAT recovery of one catalogued file: its entry set is read again for the valid data
// length and the FAT-chain flag, then its clusters (contiguous or the FAT chain) are copied
// up to the recorded size, with zeros past the valid data length.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/output_file.h"
#include "engine/run_progress.h"
#include "engine/unreadable_bytes.h"
#include "exfat/exfat_engine.h"
#include "exfat/exfat_file_clusters.h"
#include "exfat/exfat_volume.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::exfat {

namespace {

constexpr std::uint64_t progress_every_clusters = 500;

// The set as the scan saw it, read again; when it no longer describes the record (changed
// since, or unreadable), what the record holds, taken as contiguous and wholly valid.
EntrySet set_of(ExfatVolume& v, const catalogue::FoundFile& record) {
  const ExfatVolume::SetBytes read = v.read_set(
      static_cast<std::uint32_t>(std::clamp<std::int64_t>(record.entry_cluster, 0, UINT32_MAX)),
      static_cast<std::uint32_t>(std::max(record.entry_offset, 0)),
      (record.entry_flags & entry_in_contiguous_directory) != 0);
  if (auto set = decode_entry_set(read.bytes);
      set && set->first_cluster == static_cast<std::uint64_t>(record.first_cluster) &&
      set->data_length == static_cast<std::uint64_t>(record.size)) {
    return *set;
  }
  EntrySet set;
  set.first_cluster =
      static_cast<std::uint32_t>(std::clamp<std::int64_t>(record.first_cluster, 0, UINT32_MAX));
  set.data_length = static_cast<std::uint64_t>(std::max<std::int64_t>(record.size, 0));
  set.valid_data_length = set.data_length;
  set.no_fat_chain = true;
  return set;
}

struct Copy {
  ExfatVolume& v;
  run::RunControl& run;
  messages::StatusChannel& channel;
  catalogue::OutputFile& out;
  const std::string& output_path;
  engine::RecoveryResult& result;
  engine::UnreadableBytes unreadable{};
  bool in_missing_stretch = false;

  void log_error(const std::string& reason) {
    channel.log(channel.text(messages::error_prefix) + reason);
  }

  bool put(const std::uint8_t* bytes, std::int64_t n) {
    run.pump_events();
    const bool ok = bytes ? out.write_all(bytes, static_cast<std::size_t>(n)) : out.skip(n);
    if (!ok) {
      result.destination_full = out.out_of_room() || errno == ENOSPC;
      log_error(std::string(std::strerror(errno)) + ": " + output_path);
      return false;
    }
    result.bytes_written += n;
    run.work_done += n;
    return true;
  }

  // Copies the clusters; false after logging when the file cannot be made whole.
  bool clusters(const EntrySet& set) {
    const std::int64_t cluster_bytes = v.layout.cluster_bytes();
    const auto size = static_cast<std::int64_t>(set.data_length);
    const auto valid = static_cast<std::int64_t>(std::min(set.valid_data_length, set.data_length));
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cluster_bytes));
    FileClusters run_of_clusters(v, set);
    std::int64_t written = 0;
    std::uint64_t counter = 0;
    while (written < size && !run.stop_requested()) {
      const auto cluster = run_of_clusters.next();
      if (!cluster) {
        log_error(channel.text(messages::file_not_whole) + std::to_string(written) +
                  channel.text(messages::file_not_whole_size) + std::to_string(size) + ": " +
                  output_path);
        return false;
      }
      const std::int64_t n = std::min(cluster_bytes, size - written);
      if (++counter % progress_every_clusters == 0) engine::show_run_progress(run, channel);
      // Past the valid data length the file reads as zeros, whatever the cluster holds.
      if (written >= valid) {
        if (!put(nullptr, n)) return false;
        written += n;
        continue;
      }
      const std::int64_t position = v.layout.cluster_position(*cluster);
      std::vector<volume::ByteStretch> stretches;
      if (v.reader->read_salvaging(static_cast<std::uint32_t>(cluster_bytes), buffer.data(),
                                   position, stretches) != cluster_bytes) {
        if (run.source_lost()) {
          log_error(channel.text(messages::cannot_read_cluster) + std::to_string(*cluster) + ": " +
                    output_path);
          return false;
        }
        // Past the end of a cut image: zeros, one line for each stretch of such clusters.
        if (!in_missing_stretch) {
          log_error(channel.text(messages::clusters_left_as_zeros) + std::to_string(*cluster) +
                    ": " + output_path);
        }
        in_missing_stretch = true;
        unreadable.add(written, n);
        if (!put(nullptr, n)) return false;
        written += n;
        continue;
      }
      in_missing_stretch = false;
      unreadable.add_from_volume(stretches, position, written, std::min(size, valid));
      const std::int64_t kept = std::clamp<std::int64_t>(valid - written, 0, n);
      std::fill(buffer.begin() + kept, buffer.begin() + n, std::uint8_t{0});
      if (!put(buffer.data(), n)) return false;
      written += n;
    }
    return true;
  }
};

}  // namespace

engine::RecoveryResult recover_exfat_file(const volume::Volume& volume,
                                          const catalogue::FoundFile& record,
                                          catalogue::OutputFile& out,
                                          const std::string& output_path,
                                          OpenedVolumeMemory* memory, run::RunControl& run,
                                          messages::StatusChannel& channel) {
  engine::RecoveryResult result;
  result.output_created = true;
  bool copied = false;
  engine::UnreadableBytes unreadable;
  {
    // Without a run's memory the volume is opened for this file alone.
    std::unique_ptr<ExfatVolume> own;
    std::unique_ptr<ExfatVolume>& held = memory ? memory->volume : own;
    if (!held) held = std::make_unique<ExfatVolume>(volume, channel, run);
    ExfatVolume& v = *held;
    Copy copy{v, run, channel, out, output_path, result};
    if (!v.usable()) {
      copy.log_error(v.problem + ": " + output_path);
    } else {
      const EntrySet set = set_of(v, record);
      // The file can hold no more than the cluster heap; a size claimed beyond it (a damaged
      // or crafted entry) asks for no more room than that.
      const auto heap_bytes = static_cast<std::int64_t>(std::uint64_t{v.layout.cluster_count}) *
                              v.layout.cluster_bytes();
      const std::int64_t most =
          std::min<std::int64_t>(std::max<std::int64_t>(record.size, 0), heap_bytes);
      if (!out.reserve(most)) {
        result.destination_full = true;
      } else {
        copied = record.size <= 0 || copy.clusters(set);
      }
      unreadable = copy.unreadable;
    }
  }
  if (!out.close() && copied) {
    result.destination_full = errno == ENOSPC;
    channel.log(channel.text(messages::error_prefix) + std::strerror(errno) + ": " + output_path);
    copied = false;
  }
  if (!copied) {
    result.failed = true;
    return result;
  }
  // A stop that came after the last cluster cut nothing short.
  result.stopped = run.stop_requested() && result.bytes_written < record.size;
  result.zero_ranges = unreadable.ranges();
  engine::finish_recovery(result, record, output_path, channel);
  return result;
}

}  // namespace fennick::exfat

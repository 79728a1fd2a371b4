// Recovery of one deleted NTFS file: its MFT record is read again and the unnamed $DATA is
// copied to the output file, resident content as it is, non-resident content cluster by
// cluster through the runs, sparse runs as zeros and compressed units decoded.
//
// A compressed unit is met as up to 15 stored clusters followed by a sparse run that starts
// inside the unit. Its stored clusters are first written as they are; when the sparse tail
// shows the unit was compressed, the output steps back over them and the decoded unit is
// written in their place. The stored clusters are kept in memory for that, so the output is
// only ever written, never read.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "catalogue/output_file.h"
#include "engine/run_progress.h"
#include "engine/unreadable_bytes.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ntfs/lznt1.h"
#include "ntfs/ntfs_engine.h"
#include "ntfs/ntfs_volume.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

namespace {

using catalogue::FoundFile;
using engine::RecoveryResult;

constexpr std::int64_t unit_clusters = 16;
constexpr std::int64_t progress_interval = 500;

void log_error(const NtfsVolume& v, const std::string& text) {
  v.channel->log(v.channel->text(messages::error_prefix) + text);
}

using catalogue::OutputFile;

struct Copy {
  NtfsVolume& v;
  run::RunControl& run;
  OutputFile& out;
  const std::string& path;
  std::int64_t size = 0;
  std::int64_t written = 0;
  bool failed = false;
  bool write_failed = false;
  bool destination_full = false;
  engine::UnreadableBytes unreadable{};  // bytes of the file the medium could not deliver
  engine::UnreadableBytes damaged{};     // bytes of compressed units that did not decode
  bool in_unreadable_stretch = false;

  std::int64_t room() const { return std::max<std::int64_t>(size - written, 0); }

  // Lets the user interface run, then writes; a failure is logged and ends the copy.
  bool write(const std::uint8_t* bytes, std::int64_t count) {
    return advance(count, [&] { return out.write_all(bytes, static_cast<std::size_t>(count)); });
  }

  // Sparse stretches become holes of the output file: no bytes are written for them, so a
  // sparse file stays sparse and a huge hole costs neither time nor disk space.
  bool write_zeros(std::int64_t count) {
    return advance(count, [&] { return out.skip(count); });
  }

  template <typename Put>
  bool advance(std::int64_t count, Put put) {
    run.pump_events();
    if (count <= 0) return true;
    if (!put()) {
      destination_full = out.out_of_room() || errno == ENOSPC;
      log_error(v, v.channel->text(messages::cannot_write) + path + ": " + std::strerror(errno));
      failed = true;
      write_failed = true;
      return false;
    }
    written += count;
    run.work_done += count;
    return true;
  }
};

void show_progress(const Copy& c) { engine::show_run_progress(c.run, *c.v.channel); }

// The stored clusters of the compression unit being read, kept until it is known whether
// the unit was compressed.
struct Unit {
  std::int64_t first_vcn = -1;
  std::vector<std::uint8_t> stored;
  std::int64_t written = 0;  // bytes those clusters put into the output
};

// Copies the non-resident $DATA. False when the runs do not cover the attribute's clusters.
bool copy_clusters(Copy& c, ConstBytes record, std::size_t data) {
  NtfsVolume& v = c.v;
  const std::int64_t cluster = v.geometry.cluster_size;
  const bool compressed = (attr_flags_of(record, data) & attr_flag_compressed) != 0;
  const std::vector<DataRun> runs = attribute_runs(record, data);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cluster));
  Unit unit;
  std::int64_t vcn = 0;
  std::int64_t left = attr_last_vcn_of(record, data) + 1;
  while (left > 0 && !c.run.stop_requested() && !c.failed) {
    // Past the file's size nothing more reaches the output; a compressed unit still open
    // may yet be decoded, so those stop only at a unit boundary.
    if (c.room() == 0 && (!compressed || vcn % unit_clusters == 0)) break;
    const VcnMapping m = map_runs(runs, vcn);
    if (!m.covered) return false;
    const std::int64_t r = std::min(m.clusters_left, left);
    if (m.lcn != 0) {
      if (m.lcn < 0 || m.lcn >= v.geometry.total_clusters) {
        // A run that leaves the volume is a damaged record: nothing past it is this file's.
        log_error(c.v, c.v.channel->text(messages::cluster_outside_volume) + std::to_string(m.lcn) +
                           ": " + c.path);
        c.failed = true;
        break;
      }
      const std::int64_t n = std::min(cluster, c.room());
      // Sectors the medium cannot deliver are zeros in the buffer and named at the end. A
      // cluster that cannot be read at all (past the end of a cut image) is zeros too, with
      // one line for each stretch of such clusters; a medium that is gone ends the file.
      std::vector<volume::ByteStretch> stretches;
      if (!read_volume_clusters(v, buffer, m.lcn, nullptr, &stretches)) {
        if (c.run.source_lost()) {
          log_error(c.v, c.v.channel->text(messages::cannot_read_cluster) + std::to_string(m.lcn) +
                             ": " + c.path);
          c.failed = true;
          break;
        }
        if (!c.in_unreadable_stretch) {
          log_error(c.v, c.v.channel->text(messages::clusters_left_as_zeros) +
                             std::to_string(m.lcn) + ": " + c.path);
        }
        c.in_unreadable_stretch = true;
        c.unreadable.add(vcn * cluster, std::min(cluster, c.size - vcn * cluster));
        std::fill(buffer.begin(), buffer.end(), 0);
        if (!compressed) {
          // Left as a hole: zeros that take no room in the destination.
          if (!c.write_zeros(n)) break;
          vcn += 1;
          left -= 1;
          if (vcn % progress_interval == 0) show_progress(c);
          continue;
        }
      } else {
        c.in_unreadable_stretch = false;
      }
      if (!stretches.empty()) {
        if (compressed) {
          // What a damaged stored cluster decodes to is unknown from there to its unit's end.
          const std::int64_t unit_end = (vcn - vcn % unit_clusters + unit_clusters) * cluster;
          const std::int64_t first = vcn * cluster;
          c.unreadable.add(first, std::min(unit_end, c.size) - first);
        } else {
          c.unreadable.add_from_volume(stretches, m.lcn * cluster, vcn * cluster, c.size);
        }
      }
      if (compressed) {
        if (vcn % unit_clusters == 0 || unit.first_vcn != vcn - vcn % unit_clusters) {
          unit = Unit{vcn - vcn % unit_clusters, {}, 0};
        }
        unit.stored.insert(unit.stored.end(), buffer.begin(), buffer.end());
        unit.written += n;
      }
      if (!c.write(buffer.data(), n)) break;
      vcn += 1;
      left -= 1;
    } else if (compressed && vcn % unit_clusters != 0 &&
               unit.first_vcn == vcn - vcn % unit_clusters &&
               static_cast<std::int64_t>(unit.stored.size()) == (vcn - unit.first_vcn) * cluster) {
      // The sparse tail of a compressed unit: replace its stored bytes by the decoded unit.
      if (!c.out.step_back(unit.written)) {
        log_error(c.v,
                  c.v.channel->text(messages::cannot_write) + c.path + ": " + std::strerror(errno));
        c.failed = true;
        break;
      }
      c.written -= unit.written;
      c.run.work_done -= unit.written;
      std::vector<std::uint8_t> decoded(static_cast<std::size_t>(unit_clusters * cluster), 0);
      const Lznt1Result result = lznt1_decompress(unit.stored, decoded);
      if (result.status == Lznt1Status::truncated || result.status == Lznt1Status::corrupt) {
        // What the unit decoded to before the damage is kept; the rest of it is zeros, and
        // the file is told as damaged with those bytes named.
        const std::int64_t unit_start = unit.first_vcn * cluster;
        const std::int64_t first = unit_start + static_cast<std::int64_t>(result.produced);
        const std::int64_t end =
            std::min(unit_start + static_cast<std::int64_t>(decoded.size()), c.size);
        if (end > first) c.damaged.add(first, end - first);
      }
      const std::int64_t n = std::min(static_cast<std::int64_t>(decoded.size()), c.room());
      if (!c.write(decoded.data(), n)) break;
      const std::int64_t tail = std::min(r, unit.first_vcn + unit_clusters - vcn);
      vcn += tail;
      left -= tail;
      unit = Unit{};
    } else {
      // A sparse run: a hole, whatever its claimed length (kept from overflowing).
      const std::int64_t clusters = std::min(r, c.room() / cluster + 1);
      c.in_unreadable_stretch = false;
      if (!c.write_zeros(std::min(clusters * cluster, c.room()))) break;
      vcn += clusters;
      left -= clusters;
    }
    if (vcn % progress_interval == 0) show_progress(c);
  }
  return true;
}

// The most bytes the output of non-resident data can take: the clusters stored inside the
// volume (a compressed cluster may decode to a whole unit), never more than the size.
std::int64_t bytes_to_store(std::span<const DataRun> runs, const Geometry& geometry,
                            bool compressed, std::int64_t size) {
  std::int64_t clusters = 0;
  for (const DataRun& run : runs) {
    if (run.lcn == 0 || run.lcn >= geometry.total_clusters || run.length <= 0) continue;
    clusters += std::min(run.length, geometry.total_clusters - run.lcn);
    if (clusters >= geometry.total_clusters) break;
  }
  const std::int64_t per_cluster = geometry.cluster_size * (compressed ? unit_clusters : 1);
  if (per_cluster <= 0) return size;
  return clusters > size / per_cluster ? size : std::min(size, clusters * per_cluster);
}

}  // namespace

RecoveryResult recover_ntfs_file(const volume::Volume& volume, const FoundFile& record,
                                 OutputFile& out, const std::string& output_path,
                                 run::RunControl& run, messages::StatusChannel& channel) {
  RecoveryResult res;
  res.output_created = true;
  // Every way out closes the output; an early one has written nothing worth a close error.
  struct Closer {
    OutputFile& out;
    ~Closer() { out.close(); }
  } closer{out};

  NtfsVolume v;
  if (!open_ntfs_volume(v, volume, channel, run)) {
    res.failed = true;
    return res;
  }
  if (!load_mft(v)) {
    channel.out_text("Cannot load MFT", messages::DialogKind::error, true);
    res.failed = true;
    return res;
  }
  // A record the deep scan found outside the MFT is read at its place; it must still be the
  // record of the number it had then.
  std::optional<FileRecord> file;
  if (record.found_by_deep_scan) {
    file = read_record_at(v, record.entry_cluster, record.entry_offset);
    if (file && record.record_no >= 0 &&
        (volume::le16_or0(file->bytes, rec_usa_offset) < usa_offset_with_record_number ||
         volume::le32_or0(file->bytes, rec_record_number) !=
             static_cast<std::uint32_t>(record.record_no))) {
      file.reset();
    }
  } else {
    file = read_file_record(v, record.record_no);
  }
  if (!file) {
    log_error(v, channel.text(messages::mft_record_unreadable) + std::to_string(record.record_no) +
                     ": " + output_path);
    res.failed = true;
    return res;
  }
  const ConstBytes bytes(file->bytes);
  const auto data = find_attribute(bytes, type_data);
  if (!data) {
    log_error(v, channel.text(messages::mft_record_without_data) +
                     std::to_string(record.record_no) + ": " + output_path);
    res.failed = true;
    return res;
  }

  Copy c{v, run, out, output_path};
  c.size = std::max<std::int64_t>(record.size, 0);
  bool covered = true;
  if (!attr_is_non_resident(bytes, *data)) {
    const auto value = attr_value(bytes, *data);
    if (value) {
      c.size = static_cast<std::int64_t>(value->length);
      if (!out.reserve(c.size)) {
        res.failed = res.destination_full = true;
        return res;
      }
      c.write(bytes.data() + value->offset, c.size);
    } else {
      covered = false;
    }
  } else {
    const bool compressed = (attr_flags_of(bytes, *data) & attr_flag_compressed) != 0;
    if (!out.reserve(
            bytes_to_store(attribute_runs(bytes, *data), v.geometry, compressed, c.size))) {
      res.failed = res.destination_full = true;
      return res;
    }
    covered = copy_clusters(c, bytes, *data);
  }
  res.bytes_written = c.written;
  res.destination_full = c.destination_full;
  res.zero_ranges = c.unreadable.ranges();
  res.damaged_ranges = c.damaged.ranges();
  if (c.failed) res.failed = true;
  if (c.write_failed) return res;
  // A full disk may show only when the last buffered bytes are flushed at close.
  if (!out.close()) {
    res.destination_full = errno == ENOSPC;
    log_error(v, std::string(std::strerror(errno)) + ": " + output_path);
    res.failed = true;
    return res;
  }
  if (c.failed) return res;
  // A stop that came after the last cluster cut nothing short.
  res.stopped = run.stop_requested() && c.written < c.size;
  if (!res.stopped && (!covered || c.written < c.size)) {
    log_error(v, channel.text(messages::file_not_whole) + std::to_string(c.written) +
                     channel.text(messages::file_not_whole_size) + std::to_string(c.size) + ": " +
                     output_path);
    res.failed = true;
    return res;
  }
  engine::finish_recovery(res, record, output_path, channel);
  return res;
}

}  // namespace fennick::ntfs

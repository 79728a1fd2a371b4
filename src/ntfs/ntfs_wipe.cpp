// Wiping one deleted NTFS file: its MFT record is overwritten with zeros, after checking that
// the bytes at the catalogued place are still that free record. Nothing else is written.
#include <optional>
#include <vector>

#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ntfs/ntfs_engine.h"
#include "ntfs/ntfs_volume.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

namespace {

using catalogue::FoundFile;
using volume::le16_or0;
using volume::le32_or0;

// Records of NTFS 3.1 keep their own number at 0x2C and their update sequence array after
// it; older records have the array where that number would be.

// Why the bytes are not the free record `number` any more; empty when they are. The record
// is checked as it lies on the volume, before fix-ups: every 512-byte block must end in the
// record's update sequence number, so a record torn or not contiguous at this place fails.
std::string refusal_for(const messages::StatusChannel& channel, ConstBytes bytes,
                        std::int32_t number) {
  const auto text = [&](int k) { return channel.text(k); };
  if (!has_file_signature(bytes)) return text(messages::record_gone);
  const std::size_t usa = le16_or0(bytes, rec_usa_offset);
  const std::size_t count = le16_or0(bytes, rec_usa_count);
  if (usa < usa_offset_with_record_number) return text(messages::record_unnumbered);
  if (count != bytes.size() / 512 + 1 || !volume::field_fits(bytes, usa, 2 * count)) {
    return text(messages::record_sequence_damaged);
  }
  const std::uint16_t sequence = le16_or0(bytes, usa);
  for (std::size_t block = 1; block < count; ++block) {
    if (le16_or0(bytes, 512 * block - 2) != sequence) return text(messages::record_torn);
  }
  if (le16_or0(bytes, rec_flags) & record_in_use) return text(messages::record_in_use);
  if (le32_or0(bytes, rec_record_number) != static_cast<std::uint32_t>(number)) {
    return text(messages::record_renumbered) + std::to_string(le32_or0(bytes, rec_record_number));
  }
  return {};
}

// One stretch of a record on the volume: a record larger than a cluster may lie in clusters
// of two MFT fragments far apart.
struct Piece {
  std::int64_t position = 0;  // byte position on the volume
  std::int64_t bytes = 0;
};

// The places of record n's bytes, mapped cluster by cluster through the MFT's runs; the
// reason when a piece is not mapped or lies outside the volume.
std::string record_pieces(const NtfsVolume& v, std::int64_t n, std::vector<Piece>& pieces) {
  const auto text = [&](int k) { return v.channel->text(k); };
  const Geometry& g = v.geometry;
  if (n < 0 || n >= v.record_count) return text(messages::record_outside_mft);
  std::int64_t position = n * g.record_size;
  std::int64_t left = g.record_size;
  while (left > 0) {
    const std::int64_t vcn = position / g.cluster_size;
    const std::int64_t in_cluster = position % g.cluster_size;
    const VcnMapping m = map_runs(v.mft_runs, vcn);
    if (!m.covered || m.lcn <= 0 || m.lcn >= g.total_clusters) {
      return text(messages::record_place_outside);
    }
    const std::int64_t bytes = std::min(g.cluster_size - in_cluster, left);
    const std::int64_t at = m.lcn * g.cluster_size + in_cluster;
    if (!pieces.empty() && pieces.back().position + pieces.back().bytes == at) {
      pieces.back().bytes += bytes;
    } else {
      pieces.push_back({at, bytes});
    }
    position += bytes;
    left -= bytes;
  }
  return {};
}

// The place of a record the deep scan found outside the MFT: it must still lie in free
// clusters outside the MFT and hold a sound record of the same number (in use or not: it is
// a record of an earlier MFT, not of the volume's own).
std::string deep_record_pieces(NtfsVolume& v, const FoundFile& record, std::vector<Piece>& pieces) {
  const auto text = [&](int k) { return v.channel->text(k); };
  const Geometry& geo = v.geometry;
  const auto found = read_record_at(v, record.entry_cluster, record.entry_offset);
  if (!found) return text(messages::record_gone);
  const ConstBytes bytes(found->bytes);
  if (record.record_no >= 0 &&
      (le16_or0(bytes, rec_usa_offset) < usa_offset_with_record_number ||
       le32_or0(bytes, rec_record_number) != static_cast<std::uint32_t>(record.record_no))) {
    return text(messages::record_renumbered_unknown);
  }
  const std::int64_t position = record.entry_cluster * geo.cluster_size + record.entry_offset;
  const auto size = static_cast<std::int64_t>(bytes.size());
  const std::int64_t first = position / geo.cluster_size;
  const std::int64_t last = (position + size - 1) / geo.cluster_size;
  for (std::int64_t c = first; c <= last; ++c) {
    for (const DataRun& run : v.mft_runs) {
      if (!run.sparse && c >= run.lcn && c < run.lcn + run.length) {
        return text(messages::record_inside_mft);
      }
    }
    const std::optional<bool> used = cluster_in_use(v, c);
    if (!used) return text(messages::cluster_bitmap_unreadable);
    if (*used) return text(messages::record_clusters_in_use);
  }
  pieces.push_back({position, size});
  return {};
}

// Overwrites the record when it is still the one the scan saw; the reason when not.
std::string wipe_at(NtfsVolume& v, const FoundFile& record, bool& written) {
  const auto text = [&](int k) { return v.channel->text(k); };
  if (!load_mft(v)) return text(messages::mft_unreadable);
  const Geometry& geo = v.geometry;
  if (record.entry_cluster <= 0) return text(messages::record_place_unknown);
  if (record.entry_cluster >= geo.total_clusters || record.entry_offset < 0 ||
      record.entry_offset >= geo.cluster_size || record.entry_offset % 512 != 0) {
    return text(messages::record_place_outside);
  }
  std::vector<Piece> pieces;
  std::string refusal = record.found_by_deep_scan ? deep_record_pieces(v, record, pieces)
                                                  : record_pieces(v, record.record_no, pieces);
  if (!refusal.empty()) return refusal;
  // The record must begin where the scan found it, or the catalogue is of another volume.
  if (pieces.front().position != record.entry_cluster * geo.cluster_size + record.entry_offset) {
    return text(messages::record_moved);
  }
  std::int64_t record_bytes = 0;
  for (const Piece& piece : pieces) record_bytes += piece.bytes;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(record_bytes));
  std::size_t filled = 0;
  for (const Piece& piece : pieces) {
    if (v.reader->read(static_cast<std::uint32_t>(piece.bytes), bytes.data() + filled,
                       piece.position) == 0) {
      return text(messages::record_unreadable);
    }
    filled += static_cast<std::size_t>(piece.bytes);
  }
  if (!record.found_by_deep_scan) {
    refusal = refusal_for(*v.channel, bytes, record.record_no);
    if (!refusal.empty()) return refusal;
  } else if (recognise_file_record(bytes) != bytes.size()) {
    return text(messages::record_gone);
  }
  // The volume is addressed in 512-byte sectors by the writer, whatever its sector size;
  // records, clusters and so every piece begin and end on one.
  const std::vector<std::uint8_t> zeros(bytes.size(), 0);
  for (const Piece& piece : pieces) {
    const auto sectors = static_cast<std::uint16_t>(piece.bytes / volume::sector_bytes);
    if (v.reader->write_sectors(sectors, zeros.data(), piece.position / volume::sector_bytes) !=
        piece.bytes) {
      return text(messages::record_not_written);
    }
    written = true;
  }
  return {};
}

}  // namespace

engine::WipeOutcome wipe_ntfs_record(const volume::Volume& volume, const FoundFile& record,
                                     run::RunControl& run, messages::StatusChannel& channel) {
  const std::string name = record.name.str();
  NtfsVolume v;
  if (!open_ntfs_volume(v, volume, channel, run)) return engine::WipeOutcome::left_alone;
  bool written = false;
  const std::string refusal = wipe_at(v, record, written);
  v.reader.reset();
  if (!written) {
    channel.log(channel.text(messages::error_prefix) + channel.text(messages::cannot_wipe) + name +
                ": " + refusal);
    return engine::WipeOutcome::left_alone;
  }
  if (run.stop_requested()) {
    channel.log(channel.text(messages::interrupted_prefix) + name);
  } else {
    channel.log(channel.text(messages::wiped_prefix) + name + " .");
  }
  return engine::WipeOutcome::wiped;
}

}  // namespace fennick::ntfs

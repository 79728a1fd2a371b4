// Opening an NTFS volume, its geometry, cluster and attribute reads, the MFT and its bitmap.
#include "ntfs/ntfs_volume.h"

#include <algorithm>
#include <limits>

#include "engine/read_problems.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "volume/le_read.h"
#include "volume/volume_source.h"

namespace fennick::ntfs {

namespace {

using volume::le16_or0;
using volume::le32_or0;
using volume::le64_or0;
using volume::u8_or0;

// Largest single read handed to the reader.
constexpr std::size_t read_piece = 1 << 20;

void log(const NtfsVolume& v, const std::string& text) {
  if (v.channel) v.channel->log(text);
}

// A text in the channel's language; empty without a channel (nothing is logged then).
std::string text(const NtfsVolume& v, int k) {
  return v.channel ? v.channel->text(k) : std::string();
}

// Clusters that can really be read: the boot sector's count, cut to the size of the image or
// device behind the reader. A crafted boot sector may claim far more than is there, and
// buffers and loops sized by that claim alone would be unbounded.
std::int64_t readable_clusters(const NtfsVolume& v) {
  std::int64_t clusters = v.geometry.total_clusters;
  if (v.source && v.geometry.cluster_size > 0) {
    const std::int64_t bytes = v.source->size_bytes();
    if (bytes >= 0) clusters = std::min(clusters, bytes / v.geometry.cluster_size);
  }
  return clusters;
}

// Runs sorted by VCN with overlaps dropped, so that map_runs sees one run per VCN.
void normalise_runs(std::vector<DataRun>& runs) {
  std::stable_sort(runs.begin(), runs.end(),
                   [](const DataRun& a, const DataRun& b) { return a.first_vcn < b.first_vcn; });
  std::vector<DataRun> kept;
  std::int64_t end = std::numeric_limits<std::int64_t>::min();
  for (const DataRun& run : runs) {
    if (run.first_vcn < end) continue;
    kept.push_back(run);
    end = run.first_vcn + run.length;
  }
  runs = std::move(kept);
}

struct ListedPiece {
  std::int64_t first_vcn = 0;
  std::int64_t record = 0;
  bool loaded = false;
};

// The extension records that hold further pieces of $MFT's unnamed $DATA, by the
// attribute list of record 0.
std::vector<ListedPiece> data_pieces_of_list(ConstBytes list) {
  std::vector<ListedPiece> pieces;
  std::size_t at = 0;
  while (volume::field_fits(list, at, list_min_entry)) {
    const std::uint16_t length = le16_or0(list, at + list_entry_length);
    if (length < list_min_entry) break;
    const std::uint32_t type = le32_or0(list, at + list_type);
    const std::uint64_t record = le64_or0(list, at + list_reference) & record_number_mask;
    if ((type & 0xFFFF) == type_data && u8_or0(list, at + list_name_length) == 0 && record != 0) {
      const auto vcn = static_cast<std::int64_t>(le64_or0(list, at + list_first_vcn));
      if (vcn > 0 &&
          record <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        pieces.push_back({vcn, static_cast<std::int64_t>(record), false});
      }
    }
    at += length;
  }
  std::sort(pieces.begin(), pieces.end(),
            [](const ListedPiece& a, const ListedPiece& b) { return a.first_vcn < b.first_vcn; });
  return pieces;
}

// Adds the runs that the extension records of record 0's attribute list describe. Pieces are
// read through the runs known so far; a piece found makes the next pass possible, so the
// passes go on while they find something.
void follow_mft_attribute_list(NtfsVolume& v, std::size_t list_attribute) {
  std::vector<std::uint8_t> list;
  if (!read_attribute_value(v, v.mft_record, list_attribute, list, "$MFT/$ATTRIBUTE_LIST")) {
    log(v, text(v, messages::mft_attribute_list_unreadable));
    return;
  }
  const std::int64_t used = attr_data_size(v.mft_record, list_attribute);
  if (used >= 0 && static_cast<std::uint64_t>(used) < list.size())
    list.resize(static_cast<std::size_t>(used));
  std::vector<ListedPiece> pieces = data_pieces_of_list(list);
  bool progress = true;
  while (progress) {
    progress = false;
    for (ListedPiece& piece : pieces) {
      if (piece.loaded) continue;
      const auto extension = read_file_record(v, piece.record);
      if (!extension) continue;
      const ConstBytes bytes(extension->bytes);
      if ((le64_or0(bytes, rec_base_reference) & record_number_mask) != 0) continue;
      for (const std::size_t at : find_attributes(bytes, type_data)) {
        if (!attr_is_non_resident(bytes, at) || attr_first_vcn_of(bytes, at) != piece.first_vcn) {
          continue;
        }
        const std::vector<DataRun> runs = attribute_runs(bytes, at);
        v.mft_runs.insert(v.mft_runs.end(), runs.begin(), runs.end());
        normalise_runs(v.mft_runs);
        piece.loaded = true;
        progress = true;
        break;
      }
    }
  }
  for (const ListedPiece& piece : pieces) {
    if (!piece.loaded) {
      log(v, text(v, messages::mft_extension_unreadable) + std::to_string(piece.record) +
                 text(v, messages::mft_records_skipped_from) + std::to_string(piece.first_vcn));
    }
  }
}

}  // namespace

std::int64_t record_size_from_code(std::int8_t code, std::int64_t cluster_size) {
  if (code < 0) return std::int64_t{1} << ((-static_cast<int>(code)) % 32);
  if (code == 0 || cluster_size <= 0) return 0;
  const std::int64_t size = code * cluster_size;
  return size > std::numeric_limits<std::int32_t>::max() ? 0 : size;
}

GeometryResult geometry_from_boot(ConstBytes boot) {
  Geometry g;
  g.bytes_per_sector = le16_or0(boot, boot_bytes_per_sector);
  g.sectors_per_cluster = u8_or0(boot, boot_sectors_per_cluster);
  if (!volume::bpb::valid_sector_size(g.bytes_per_sector)) {
    return {std::nullopt, messages::boot_bytes_per_sector, std::to_string(g.bytes_per_sector)};
  }
  if (g.sectors_per_cluster == 0) return {std::nullopt, messages::boot_no_sectors_per_cluster, {}};
  g.cluster_size = std::int64_t{g.bytes_per_sector} * g.sectors_per_cluster;
  const auto total = static_cast<std::int64_t>(le64_or0(boot, boot_total_sectors));
  if (total <= 0 || total > std::numeric_limits<std::int64_t>::max() / g.bytes_per_sector) {
    return {std::nullopt, messages::boot_total_sectors, std::to_string(total)};
  }
  g.total_sectors = total;
  g.total_clusters = total / g.sectors_per_cluster;
  g.mft_cluster = static_cast<std::int64_t>(le64_or0(boot, boot_mft_cluster));
  if (g.mft_cluster <= 0 || g.mft_cluster >= g.total_clusters) {
    return {std::nullopt, messages::boot_mft_outside, std::to_string(g.mft_cluster)};
  }
  const auto code = static_cast<std::int8_t>(u8_or0(boot, boot_record_code));
  const std::int64_t record = record_size_from_code(code, g.cluster_size);
  if (record < min_record_size || record > max_record_size || record % 512 != 0) {
    return {std::nullopt, messages::boot_record_size, std::to_string(record)};
  }
  g.record_size = static_cast<std::int32_t>(record);
  g.records_per_cluster = static_cast<std::int32_t>(g.cluster_size / record);
  return {g, 0, {}};
}

bool open_ntfs_volume(NtfsVolume& v, const volume::Volume& volume, messages::StatusChannel& channel,
                      run::RunControl& run) {
  v.channel = &channel;
  v.source = volume.source;
  v.problems = engine::report_to(channel, run);
  v.reader = std::make_unique<volume::SectorReader>(v.source, volume::reader_sectors, v.problems);
  if (v.reader->error != 0) {
    v.reader.reset();
    return false;
  }
  v.boot.fill(0);
  if (v.reader->read(512, v.boot.data(), 0) == 0) {
    v.reader.reset();
    return false;
  }
  // One window must hold at least a whole cluster; the window counts 512-byte sectors,
  // whatever the volume's sector size.
  const std::uint32_t sector_size =
      std::max<std::uint32_t>(le16_or0(ConstBytes(v.boot), boot::bytes_per_sector), 512);
  const std::uint64_t cluster_units =
      std::uint64_t{u8_or0(ConstBytes(v.boot), boot::sectors_per_cluster)} * sector_size /
      volume::sector_bytes;
  if (volume::reader_sectors < cluster_units && cluster_units <= 0xFFFF) {
    v.reader = std::make_unique<volume::SectorReader>(
        v.source, static_cast<std::uint16_t>(cluster_units), v.problems);
  }
  v.bitmap_window.clear();
  const auto g = geometry_from_boot(v.boot);
  v.window_start = g.geometry ? g.geometry->total_clusters : 0;
  return true;
}

bool read_volume_sectors(NtfsVolume& v, std::span<std::uint8_t> destination, std::int64_t first,
                         volume::SectorReader* through,
                         std::vector<volume::ByteStretch>* unreadable) {
  volume::SectorReader* reader = through ? through : v.reader.get();
  const std::int64_t sector = v.geometry.bytes_per_sector;
  if (!reader || sector <= 0 || first < 0 ||
      first > std::numeric_limits<std::int64_t>::max() / sector) {
    return false;
  }
  const std::int64_t position = first * sector;
  for (std::size_t done = 0; done < destination.size();) {
    const std::size_t piece = std::min(read_piece, destination.size() - done);
    const auto count = static_cast<std::uint32_t>(piece);
    const std::int64_t at = position + static_cast<std::int64_t>(done);
    const std::int64_t got =
        unreadable ? reader->read_salvaging(count, destination.data() + done, at, *unreadable)
                   : reader->read(count, destination.data() + done, at);
    if (got == 0) return false;
    done += piece;
  }
  return true;
}

bool read_volume_clusters(NtfsVolume& v, std::span<std::uint8_t> destination, std::int64_t first,
                          volume::SectorReader* through,
                          std::vector<volume::ByteStretch>* unreadable) {
  const std::int64_t per_cluster = v.geometry.sectors_per_cluster;
  if (first < 0 || per_cluster <= 0 ||
      first > std::numeric_limits<std::int64_t>::max() / per_cluster) {
    return false;
  }
  return read_volume_sectors(v, destination, first * per_cluster, through, unreadable);
}

bool read_attribute_clusters(NtfsVolume& v, std::span<const DataRun> runs,
                             std::span<std::uint8_t> destination, std::int64_t first_vcn,
                             volume::SectorReader* through,
                             std::vector<volume::ByteStretch>* holes) {
  const auto cluster = static_cast<std::size_t>(v.geometry.cluster_size);
  if (cluster == 0) return false;
  const std::size_t count = destination.size() / cluster;
  bool complete = true;
  std::int64_t vcn = first_vcn;
  for (std::size_t done = 0; done < count;) {
    const VcnMapping m = map_runs(runs, vcn);
    if (!m.covered) {
      std::fill(destination.begin() + static_cast<std::ptrdiff_t>(done * cluster),
                destination.end(), 0);
      return false;
    }
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::int64_t>(m.clusters_left, static_cast<std::int64_t>(count - done)));
    const auto part = destination.subspan(done * cluster, take * cluster);
    if (m.lcn == 0) {
      std::fill(part.begin(), part.end(), 0);
    } else {
      std::vector<volume::ByteStretch> stretches;
      if (!read_volume_clusters(v, part, m.lcn, through, holes ? &stretches : nullptr)) {
        std::fill(part.begin(), part.end(), 0);
        complete = false;
      }
      const std::int64_t part_position = m.lcn * v.geometry.cluster_size;
      for (const volume::ByteStretch& s : stretches) {
        holes->push_back(
            {static_cast<std::int64_t>(done * cluster) + (s.first - part_position), s.count});
      }
    }
    done += take;
    vcn += static_cast<std::int64_t>(take);
  }
  return complete;
}

bool read_attribute_value(NtfsVolume& v, ConstBytes record, std::size_t attribute,
                          std::vector<std::uint8_t>& value, const std::string& what) {
  value.clear();
  if (!attr_is_non_resident(record, attribute)) {
    const auto resident = attr_value(record, attribute);
    if (!resident) return false;
    const auto bytes = record.subspan(resident->offset, resident->length);
    value.assign(bytes.begin(), bytes.end());
    return true;
  }
  const std::int64_t last = attr_last_vcn_of(record, attribute);
  if (last < 0) return true;  // no clusters at all
  if (last >= readable_clusters(v)) {
    log(v, text(v, messages::attribute_too_long) + std::to_string(last + 1) +
               text(v, messages::attribute_too_long_volume) + std::to_string(readable_clusters(v)) +
               ": " + what);
    return false;
  }
  value.assign(static_cast<std::size_t>((last + 1) * v.geometry.cluster_size), 0);
  return read_attribute_clusters(v, attribute_runs(record, attribute), value, 0);
}

bool load_mft(NtfsVolume& v) {
  const GeometryResult g = geometry_from_boot(v.boot);
  if (!g.geometry) {
    log(v, text(v, messages::ntfs_boot_unusable) + text(v, g.problem) + g.value);
    return false;
  }
  v.geometry = *g.geometry;
  v.mft_runs.clear();
  v.record_count = 0;
  v.mft_record.assign(static_cast<std::size_t>(v.geometry.record_size), 0);
  if (!read_volume_clusters(v, v.mft_record, v.geometry.mft_cluster)) return false;
  if (!has_file_signature(v.mft_record)) return false;
  apply_fixups(v.mft_record);

  const auto data = find_attribute(v.mft_record, type_data);
  if (!data || !attr_is_non_resident(v.mft_record, *data) ||
      attr_first_vcn_of(v.mft_record, *data) != 0) {
    log(v, text(v, messages::mft_no_data_attribute));
    return false;
  }
  const std::int64_t data_size = attr_data_size(v.mft_record, *data);
  if (data_size < 0) {
    log(v, text(v, messages::mft_data_size_invalid) + std::to_string(data_size));
    return false;
  }
  v.mft_runs = attribute_runs(v.mft_record, *data);
  normalise_runs(v.mft_runs);

  // Record numbers are 32-bit in the catalogue, and no MFT is larger than its volume.
  std::int64_t count = data_size / v.geometry.record_size;
  const std::int64_t fits = v.geometry.volume_bytes() / v.geometry.record_size;
  if (count > fits) {
    log(v, text(v, messages::mft_exceeds_volume) + std::to_string(data_size) +
               text(v, messages::mft_records_read) + std::to_string(fits));
    count = fits;
  }
  count = std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max());
  v.record_count = static_cast<std::uint32_t>(count);

  if (const auto list = find_attribute(v.mft_record, type_attribute_list)) {
    follow_mft_attribute_list(v, *list);
  }
  // Records that no run maps, or that lie beyond what the volume really holds, cannot be read;
  // a count claiming them would only make the scan step through billions of absent records.
  std::int64_t mapped_clusters = 0;
  for (const DataRun& run : v.mft_runs) {
    mapped_clusters = std::max(mapped_clusters, run.first_vcn + run.length);
  }
  mapped_clusters = std::min(mapped_clusters, readable_clusters(v));
  const std::int64_t readable = mapped_clusters * v.geometry.cluster_size / v.geometry.record_size;
  if (readable < v.record_count) {
    log(v, text(v, messages::mft_exceeds_runs) + std::to_string(data_size) +
               text(v, messages::mft_records_read) + std::to_string(readable));
    v.record_count = static_cast<std::uint32_t>(readable);
  }
  return true;
}

bool read_file_record_into(NtfsVolume& v, std::int64_t n, FileRecord& record) {
  if (n < 0 || n >= v.record_count) return false;
  const Geometry& g = v.geometry;
  // The record's byte position in the MFT gives its VCN and its offset in that cluster; enough
  // clusters are read to hold the whole record even when it is larger than a cluster.
  const std::int64_t position = n * g.record_size;
  const std::int64_t vcn = position / g.cluster_size;
  const std::int64_t offset = position % g.cluster_size;
  const std::int64_t clusters = (offset + g.record_size + g.cluster_size - 1) / g.cluster_size;
  const VcnMapping where = map_runs(v.mft_runs, vcn);
  if (!where.covered) return false;
  std::vector<std::uint8_t>& buffer = v.record_clusters;
  buffer.resize(static_cast<std::size_t>(clusters * g.cluster_size));
  // A sector the medium cannot deliver costs only the record it belongs to, not the others
  // that share its clusters.
  std::vector<volume::ByteStretch> holes;
  if (!read_attribute_clusters(v, v.mft_runs, buffer, vcn, nullptr, &holes)) return false;
  for (const volume::ByteStretch& h : holes) {
    if (h.first < offset + g.record_size && offset < h.first + h.count) return false;
  }
  if (offset + g.record_size > static_cast<std::int64_t>(buffer.size())) {
    const std::int64_t index = offset / g.record_size;
    const std::string text = "ReadFileRecord Error" + std::to_string(index) + "||" +
                             std::to_string(g.record_size) + "||" + std::to_string(clusters) +
                             "||" + std::to_string(g.bytes_per_sector) + "||" +
                             std::to_string(g.sectors_per_cluster);
    if (v.channel) v.channel->out_text(text, messages::DialogKind::error, true);
    return false;
  }
  record.bytes.assign(buffer.begin() + offset, buffer.begin() + offset + g.record_size);
  if (!has_file_signature(record.bytes)) return false;
  apply_fixups(record.bytes);
  record.cluster = where.lcn;
  record.offset = static_cast<std::int32_t>(offset);
  return true;
}

std::optional<FileRecord> read_file_record(NtfsVolume& v, std::int64_t n) {
  FileRecord record;
  if (!read_file_record_into(v, n, record)) return std::nullopt;
  return record;
}

std::optional<FileRecord> read_record_at(NtfsVolume& v, std::int64_t cluster, std::int64_t offset) {
  const Geometry& g = v.geometry;
  if (cluster <= 0 || cluster >= g.total_clusters || offset < 0 || offset >= g.cluster_size) {
    return std::nullopt;
  }
  const std::int64_t position = cluster * g.cluster_size + offset;
  // The header first, for the record's size; then the whole record.
  std::array<std::uint8_t, fixup_block> header{};
  if (v.reader->read(fixup_block, header.data(), position) != fixup_block) return std::nullopt;
  const std::uint32_t bytes = le32_or0(header, rec_allocated);
  if (bytes < fixup_block || bytes > static_cast<std::uint32_t>(max_record_size)) {
    return std::nullopt;
  }
  FileRecord record;
  record.bytes.resize(bytes);
  if (v.reader->read(bytes, record.bytes.data(), position) != bytes) return std::nullopt;
  const std::size_t size = recognise_file_record(record.bytes);
  if (size == 0) return std::nullopt;
  record.bytes.resize(size);
  apply_fixups(record.bytes);
  record.cluster = cluster;
  record.offset = static_cast<std::int32_t>(offset);
  return record;
}

std::optional<bool> cluster_in_use(NtfsVolume& v, std::int64_t c) {
  const Geometry& g = v.geometry;
  if (c < 0 || c >= g.total_clusters) return std::nullopt;
  const auto file = read_file_record(v, bitmap_record);
  if (!file) return std::nullopt;
  const ConstBytes bytes(file->bytes);
  const auto data = find_attribute(bytes, type_data);
  if (!data) return std::nullopt;
  const std::int64_t byte = c / 8;
  std::uint8_t bits = 0;
  if (!attr_is_non_resident(bytes, *data)) {
    const auto value = attr_value(bytes, *data);
    if (!value || byte >= static_cast<std::int64_t>(value->length)) return std::nullopt;
    bits = bytes[value->offset + static_cast<std::size_t>(byte)];
  } else {
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(g.cluster_size));
    const std::vector<DataRun> runs = attribute_runs(bytes, *data);
    if (!read_attribute_clusters(v, runs, cluster, byte / g.cluster_size)) return std::nullopt;
    bits = cluster[static_cast<std::size_t>(byte % g.cluster_size)];
  }
  return ((bits >> (c % 8)) & 1) != 0;
}

ChosenName choose_file_name_of(NtfsVolume& v, ConstBytes record, std::int64_t n) {
  ChosenName chosen = choose_file_name(record);
  if (chosen.found) return chosen;
  const auto list_attribute = find_attribute(record, type_attribute_list);
  if (!list_attribute) return chosen;
  std::vector<std::uint8_t> list;
  if (!read_attribute_value(v, record, *list_attribute, list,
                            "#" + std::to_string(n) + "/$ATTRIBUTE_LIST")) {
    return chosen;
  }
  const std::int64_t used = attr_data_size(record, *list_attribute);
  if (attr_is_non_resident(record, *list_attribute) && used >= 0 &&
      static_cast<std::uint64_t>(used) < list.size()) {
    list.resize(static_cast<std::size_t>(used));
  }
  // The extension records holding file names, in list order, each once.
  std::vector<std::int64_t> extensions;
  const ConstBytes entries(list);
  for (std::size_t at = 0; volume::field_fits(entries, at, list_min_entry);) {
    const std::uint16_t length = le16_or0(entries, at + list_entry_length);
    if (length < list_min_entry) break;
    const std::uint64_t reference = le64_or0(entries, at + list_reference) & record_number_mask;
    if (le32_or0(entries, at + list_type) == type_file_name &&
        reference != static_cast<std::uint64_t>(n) && reference < v.record_count &&
        std::find(extensions.begin(), extensions.end(), static_cast<std::int64_t>(reference)) ==
            extensions.end()) {
      if (extensions.size() == max_name_extensions) break;
      extensions.push_back(static_cast<std::int64_t>(reference));
    }
    at += length;
  }
  ChosenName merged = chosen;
  FileRecord extension;
  for (const std::int64_t e : extensions) {
    if (!read_file_record_into(v, e, extension)) continue;
    const ConstBytes bytes(extension.bytes);
    if ((le64_or0(bytes, rec_base_reference) & record_number_mask) !=
        static_cast<std::uint64_t>(n)) {
      continue;  // no longer an extension of this record
    }
    add_file_names(merged, bytes);
  }
  return merged;
}

bool load_mft_bitmap(NtfsVolume& v) {
  const auto bitmap = find_attribute(v.mft_record, type_bitmap);
  if (!bitmap || !read_attribute_value(v, v.mft_record, *bitmap, v.mft_bitmap, "$MFT/$BITMAP")) {
    v.mft_bitmap.clear();
    if (v.channel) {
      v.channel->out_text("error in MFT AttributeBitmap", messages::DialogKind::error, true);
    }
    return false;
  }
  return true;
}

bool mft_record_in_use(const NtfsVolume& v, std::int64_t n) {
  if (n < 0) return false;
  const auto byte = static_cast<std::uint64_t>(n) / 8;
  if (byte >= v.mft_bitmap.size()) return false;
  return (v.mft_bitmap[byte] >> (n % 8)) & 1;
}

}  // namespace fennick::ntfs

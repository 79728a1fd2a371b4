// The deleted-file scan of one NTFS volume: every free MFT record that still holds a file is
// catalogued with its name, folder path, size, dates and a recovery estimate taken from the
// volume's cluster bitmap.
#include <algorithm>
#include <bit>
#include <cctype>
#include <memory>
#include <optional>
#include <unordered_map>

#include "catalogue/catalogue.h"
#include "engine/read_problems.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_engine.h"
#include "ntfs/ntfs_scan_state.h"
#include "ntfs/ntfs_volume.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

namespace {

using catalogue::FolderEntry;
using catalogue::FoundFile;
using volume::le16_or0;
using volume::le64_or0;

// Loads the window that holds the cluster's bit. The window stays marked empty on failure,
// so the next question tries again.
bool load_bitmap_window(Scan& s, std::int64_t cluster) {
  NtfsVolume& v = s.v;
  const auto window_bits = static_cast<std::int64_t>(v.bitmap_window.size()) * 8;
  v.window_start = cluster - cluster % window_bits;
  if (!s.bitmap_file) {
    // A record that cannot be read now is asked for again with the next window.
    s.bitmap_file = read_file_record(v, bitmap_record);
    if (s.bitmap_file) {
      if (const auto data = find_attribute(s.bitmap_file->bytes, type_data);
          data && attr_is_non_resident(s.bitmap_file->bytes, *data)) {
        s.bitmap_runs = attribute_runs(s.bitmap_file->bytes, *data);
      }
    }
  }
  std::optional<std::size_t> data;
  if (s.bitmap_file) data = find_attribute(s.bitmap_file->bytes, type_data);
  bool loaded = false;
  if (data) {
    const ConstBytes bytes(s.bitmap_file->bytes);
    std::fill(v.bitmap_window.begin(), v.bitmap_window.end(), 0);
    const std::int64_t first_byte = v.window_start / 8;
    if (!attr_is_non_resident(bytes, *data)) {
      if (const auto value = attr_value(bytes, *data)) {
        const auto resident = bytes.subspan(value->offset, value->length);
        if (first_byte < static_cast<std::int64_t>(resident.size())) {
          const std::size_t n = std::min(resident.size() - static_cast<std::size_t>(first_byte),
                                         v.bitmap_window.size());
          std::copy_n(resident.begin() + first_byte, n, v.bitmap_window.begin());
          loaded = true;
        }
      }
    } else {
      // Cluster by cluster: the window may reach past the bitmap's last cluster, which
      // leaves zeros there; only the cluster that holds the asked bit must be read.
      const std::int64_t cluster_bytes = v.geometry.cluster_size;
      const std::int64_t first_vcn = first_byte / cluster_bytes;
      const std::int64_t wanted_vcn = cluster / 8 / cluster_bytes;
      for (std::int64_t i = 0; i < window_clusters; ++i) {
        const auto part = std::span<std::uint8_t>(v.bitmap_window)
                              .subspan(static_cast<std::size_t>(i * cluster_bytes),
                                       static_cast<std::size_t>(cluster_bytes));
        const bool read =
            read_attribute_clusters(v, s.bitmap_runs, part, first_vcn + i, s.bitmap_reader.get());
        if (first_vcn + i == wanted_vcn) loaded = read;
      }
    }
  }
  if (!loaded) v.window_start = v.geometry.total_clusters;
  return loaded;
}

// Counts the allocated and free clusters of [first, first + count), all on the volume.
bool count_clusters(Scan& s, std::int64_t first, std::int64_t count, std::int64_t& used,
                    std::int64_t& free) {
  NtfsVolume& v = s.v;
  const auto window_bits = static_cast<std::int64_t>(v.bitmap_window.size()) * 8;
  std::int64_t c = first;
  const std::int64_t end = first + count;
  while (c < end) {
    if (c < v.window_start || c >= v.window_start + window_bits) {
      if (!load_bitmap_window(s, c)) return false;
    }
    const std::int64_t stop = std::min(end, v.window_start + window_bits);
    std::int64_t allocated = 0;
    std::int64_t i = c - v.window_start;
    const std::int64_t last = stop - v.window_start;
    while (i < last) {
      if (i % 8 == 0 && i + 8 <= last) {
        allocated += std::popcount(v.bitmap_window[static_cast<std::size_t>(i / 8)]);
        i += 8;
      } else {
        allocated += (v.bitmap_window[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1;
        ++i;
      }
    }
    used += allocated;
    free += (stop - c) - allocated;
    c = stop;
  }
  return true;
}

}  // namespace

const std::vector<FolderEntry>& folders_of(const Scan& s) {
  return s.catalogue.folders(s.drive_index);
}

std::optional<bool> cluster_allocated(Scan& s, std::int64_t c) {
  NtfsVolume& v = s.v;
  if (c < 0 || c >= v.geometry.total_clusters) return std::nullopt;
  const auto window_bits = static_cast<std::int64_t>(v.bitmap_window.size()) * 8;
  if (c < v.window_start || c >= v.window_start + window_bits) {
    if (!load_bitmap_window(s, c)) return std::nullopt;
  }
  const std::int64_t i = c - v.window_start;
  return ((v.bitmap_window[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1) != 0;
}

std::int64_t same_allocation_end(Scan& s, std::int64_t c, std::int64_t end) {
  const std::optional<bool> first = cluster_allocated(s, c);
  if (!first) return c;
  NtfsVolume& v = s.v;
  const auto window_bits = static_cast<std::int64_t>(v.bitmap_window.size()) * 8;
  // Whole bytes of the same state are stepped over at once: free space is mostly long runs.
  const std::uint8_t same_byte = *first ? 0xFF : 0x00;
  std::int64_t at = c + 1;
  while (at < end) {
    if (at < v.window_start || at >= v.window_start + window_bits) {
      if (!load_bitmap_window(s, at)) return at;
    }
    const std::int64_t i = at - v.window_start;
    const std::uint8_t byte = v.bitmap_window[static_cast<std::size_t>(i / 8)];
    if (i % 8 == 0 && byte == same_byte) {
      at += 8;
      continue;
    }
    if ((((byte >> (i % 8)) & 1) != 0) != *first) return at;
    ++at;
  }
  return end;
}

std::int8_t estimate_ntfs_quality(Scan& s, ConstBytes record) {
  const auto data = find_attribute(record, type_data);
  if (!data) return 0;
  if (!attr_is_non_resident(record, *data)) return 100;
  if (attr_flags_of(record, *data) & attr_flag_encrypted) return catalogue::quality_encrypted;
  const std::vector<DataRun> runs = attribute_runs(record, *data);
  const std::int64_t total = s.v.geometry.total_clusters;
  // No file owns more clusters than the volume has: a run list that says otherwise is
  // damaged, and counting it would take time in proportion to its claim.
  std::int64_t stored = 0;
  for (const DataRun& run : runs) {
    if (run.lcn > 0) stored += run.length;
    if (stored > total) return 0;
  }
  std::int64_t used = 0;
  std::int64_t free = 0;
  for (const DataRun& run : runs) {
    if (run.lcn <= 0) continue;
    // Clusters past the volume's end cannot be read back: they count as taken.
    const std::int64_t on_volume = std::clamp<std::int64_t>(total - run.lcn, 0, run.length);
    used += run.length - on_volume;
    if (on_volume > 0 && !count_clusters(s, run.lcn, on_volume, used, free)) {
      used = 0;
      free = 0;
    }
  }
  return free_share_percent(free, used);
}

std::string drive_prefix(const Scan& s) {
  return std::string(1,
                     static_cast<char>(std::toupper(static_cast<unsigned char>(s.drive_letter)))) +
         ":\\";
}

namespace {

// The folder record p, read on first use; none when it cannot be read (not kept, so that the
// next file tries again).
const FolderRecord* folder_record(Scan& s, std::int64_t p) {
  const auto id = static_cast<std::int32_t>(p);
  if (const auto known = s.folder_records.find(id); known != s.folder_records.end()) {
    return &known->second;
  }
  const auto record = read_file_record(s.v, p);
  if (!record) return nullptr;
  const ConstBytes bytes(record->bytes);
  const std::uint16_t flags = le16_or0(bytes, rec_flags);
  FolderRecord folder;
  folder.sequence = le16_or0(bytes, rec_sequence);
  folder.in_use = (flags & record_in_use) != 0;
  if (flags & record_is_directory) {
    const ChosenName chosen = choose_file_name_of(s.v, bytes, p);
    folder.named_folder = !chosen.name.empty();
    folder.name = chosen.name;
    folder.parent = chosen.parent;
    folder.parent_sequence = chosen.parent_sequence;
  }
  return &s.folder_records.emplace(id, std::move(folder)).first->second;
}

// The folder-list id of a parent reference whose record now holds another folder (the sequence
// numbers differ): the placeholder must not share the id of that folder.
std::int32_t stale_folder_id(std::int64_t p) { return static_cast<std::int32_t>(-1 - p); }

// The folder path of a file whose parent reference is (parent, sequence): names of up to 20
// folders from the nearest up, each followed by "\", after the drive. Folders met for the
// first time go into the drive's folder list. A parent that is no longer a named folder, or
// whose record now holds another file or folder (its sequence number differs), becomes
// "Deleted <n>" and ends the walk at the root. "Error" when a parent record cannot be read at
// all. folder_id is the folder-list id of the nearest folder.
std::string walk_ntfs_path(Scan& s, std::int32_t parent, std::uint16_t sequence,
                           std::int32_t& folder_id) {
  std::string text;
  std::int64_t p = parent;
  std::uint16_t seq = sequence;
  folder_id = parent;
  if (p > root_record) {
    for (int depth = 0; depth < max_path_depth && p != root_record; ++depth) {
      if (p >= s.v.record_count) break;
      const FolderRecord* record = folder_record(s, p);
      if (!record) return "Error";
      const bool same = parent_sequence_matches(seq, record->sequence, record->in_use);
      const bool placeholder = !same || !record->named_folder;
      // A record that now holds another folder keeps its id for that folder.
      const std::int32_t id =
          !same && record->named_folder ? stale_folder_id(p) : static_cast<std::int32_t>(p);
      const std::string component = placeholder ? "Deleted " + std::to_string(p) : record->name;
      const std::int64_t next = placeholder ? root_record : record->parent;
      if (depth == 0) folder_id = id;
      if (!s.folder_index.contains(id)) {
        FolderEntry entry;
        entry.dir_id = id;
        entry.fs_kind = s.fs_kind;
        entry.drive_letter = s.drive_letter;
        entry.parent_id = static_cast<std::int32_t>(next);
        entry.name = component;
        entry.deleted = placeholder || !record->in_use ? 1 : 0;
        if (s.catalogue.add_folder(s.drive_index, entry)) {
          s.folder_index.emplace(id, folders_of(s).size() - 1);
        }
      }
      text.insert(0, component + "\\");
      seq = placeholder ? 0 : record->parent_sequence;
      p = next;
    }
  }
  return drive_prefix(s) + text;
}

}  // namespace

ParentPath build_ntfs_path(Scan& s, std::int32_t parent, std::uint16_t sequence) {
  const std::uint64_t key = (std::uint64_t{sequence} << 32) | static_cast<std::uint32_t>(parent);
  if (const auto known = s.path_of_parent.find(key); known != s.path_of_parent.end()) {
    return known->second;
  }
  ParentPath result;
  const std::string text = walk_ntfs_path(s, parent, sequence, result.folder_id);
  result.path = catalogue::PathText(text);
  if (text != "Error") s.path_of_parent.emplace(key, result);
  return result;
}

bool blank_name(const std::string& name) {
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

// The last write (0x08) is the file's "modified" time as other readers show it; the
// record-change time (0x10) moves with renames and attribute changes and is not used.
void read_times(ConstBytes record, FoundFile& file) {
  const auto info = find_attribute(record, type_standard_information);
  if (!info) return;
  const auto value = attr_value(record, *info);
  if (!value || value->length < info_min_length) return;
  const ConstBytes bytes = record.subspan(value->offset, value->length);
  file.created = filetime_to_timestamp(le64_or0(bytes, info_created));
  file.modified = filetime_to_timestamp(le64_or0(bytes, info_modified));
}

FoundFile found_file_of(Scan& s, std::int64_t number, ConstBytes record, const ChosenName& chosen) {
  FoundFile file;
  file.drive_index = s.drive_index;
  file.fs_kind = s.fs_kind;
  file.drive_letter = s.drive_letter;
  file.record_no = static_cast<std::int32_t>(number);
  if (const auto data = find_attribute(record, type_data)) {
    file.size = std::max<std::int64_t>(attr_data_size(record, *data), 0);
  }
  file.quality = estimate_ntfs_quality(s, record);
  read_times(record, file);
  file.name = chosen.name;
  return file;
}

std::vector<std::pair<std::int64_t, std::int64_t>> data_runs_on_volume(const Scan& s,
                                                                       ConstBytes record) {
  std::vector<std::pair<std::int64_t, std::int64_t>> out;
  const auto data = find_attribute(record, type_data);
  if (!data || !attr_is_non_resident(record, *data)) return out;
  const std::int64_t total = s.v.geometry.total_clusters;
  for (const DataRun& run : attribute_runs(record, *data)) {
    if (run.sparse || run.lcn <= 0 || run.length <= 0 || run.lcn >= total) continue;
    out.emplace_back(run.lcn, std::min(run.lcn + run.length, total));
  }
  return out;
}

namespace {

void catalogue_record(Scan& s, std::int64_t r, const FileRecord& record, const ChosenName& chosen) {
  const ConstBytes bytes(record.bytes);
  FoundFile file = found_file_of(s, r, bytes, chosen);
  if (s.deep) {
    for (const auto& run : data_runs_on_volume(s, bytes)) s.mft_file_runs.push_back(run);
  }
  const ParentPath where = build_ntfs_path(s, chosen.parent, chosen.parent_sequence);
  file.path = where.path;
  file.parent_dir = where.path == "Error" ? chosen.parent : where.folder_id;
  file.selected = 0;
  file.entry_cluster = record.cluster;
  file.entry_offset = record.offset;
  s.catalogue.add(file);
}

void record_loop(Scan& s) {
  NtfsVolume& v = s.v;
  messages::StatusChannel& channel = *v.channel;
  if (!load_mft_bitmap(v)) return;
  FileRecord record;
  channel.set_progress_range(100);
  channel.set_progress(0);
  for (std::int64_t r = 0; r < v.record_count; ++r) {
    s.run.pump_events();
    if (s.run.stop_requested()) break;
    if (mft_record_in_use(v, r)) continue;
    if (!read_file_record_into(v, r, record)) continue;
    const std::uint16_t flags = le16_or0(record.bytes, rec_flags);
    if (flags & (record_in_use | record_is_directory)) continue;
    const ChosenName chosen = choose_file_name_of(v, record.bytes, r);
    if (blank_name(chosen.name)) continue;
    catalogue_record(s, r, record, chosen);
    if (r % counter_interval == 0) {
      channel.set_file_counter(s.catalogue.deleted_count());
      channel.set_progress(
          static_cast<std::int32_t>(std::min<std::int64_t>(r * 100 / v.record_count, 100)));
    }
  }
  v.mft_bitmap.clear();
  v.mft_bitmap.shrink_to_fit();
  channel.set_progress(100);
}

}  // namespace

bool scan_ntfs(const volume::Volume& volume, catalogue::Catalogue& catalogue, run::RunControl& run,
               messages::StatusChannel& channel, bool deep) {
  NtfsVolume v;
  if (!open_ntfs_volume(v, volume, channel, run)) return false;
  if (!load_mft(v)) {
    channel.out_text("Cannot load MFT", messages::DialogKind::error, true);
    return true;
  }
  Scan s{
      v,  catalogue, run, volume.drive_index, volume.kind, volume.drive_letter, {}, {}, {}, {}, {},
      {}, deep,      {}};
  s.bitmap_reader = std::make_unique<volume::SectorReader>(
      volume.source, static_cast<std::uint16_t>(v.reader->capacity / volume::sector_bytes),
      v.problems);
  if (s.bitmap_reader->error != 0) s.bitmap_reader.reset();
  const auto& folders = folders_of(s);
  for (std::size_t i = 0; i < folders.size(); ++i) s.folder_index.emplace(folders[i].dir_id, i);
  v.bitmap_window.assign(static_cast<std::size_t>(window_clusters * v.geometry.cluster_size), 0);
  v.window_start = v.geometry.total_clusters;
  record_loop(s);
  if (deep && !run.stop_requested()) deep_pass(s);
  v.bitmap_window.clear();
  return true;
}

}  // namespace fennick::ntfs

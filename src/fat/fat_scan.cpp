// The FAT deleted-entry scan: walks every directory reachable from the root, deleted folders
// included, and catalogues every deleted file and every file inside a deleted folder.
#include "fat/fat_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "engine/folder_table.h"
#include "engine/presumed_claims.h"
#include "engine/read_problems.h"
#include "fat/fat_engine.h"
#include "fat/fat_layout.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "volume/le_read.h"

namespace fennick::fat {

namespace {

using volume::le16_or0;
using volume::le32_or0;
using volume::u8_or0;

// The deep scan reads the volume through a window of this many sectors (4 MiB).
constexpr std::uint16_t deep_window_sectors = 8192;
// The FAT12/FAT16 root has no cluster; its folder entry records parent 4.
constexpr std::int32_t root_parent_id = 4;
// A long name needs at most 20 entries; pieces beyond this many are not kept, so a crafted run
// of long-name entries cannot grow a name without bound.
constexpr int long_name_piece_limit = 64;

bool is_trim_byte(unsigned char c) { return c <= 0x20; }

std::string trimmed_field(std::span<const std::uint8_t> bytes) {
  std::size_t end = 0;
  while (end < bytes.size() && bytes[end] != 0) ++end;
  std::size_t begin = 0;
  while (begin < end && is_trim_byte(bytes[begin])) ++begin;
  while (end > begin && is_trim_byte(bytes[end - 1])) --end;
  return std::string(reinterpret_cast<const char*>(bytes.data()) + begin, end - begin);
}

std::u16string utf16_run(std::span<const std::uint8_t> entry, std::size_t offset, int chars) {
  std::u16string run;
  for (int i = 0; i < chars; ++i) {
    const std::uint16_t c = le16_or0(entry, offset + 2 * static_cast<std::size_t>(i));
    if (c == 0) break;
    run.push_back(static_cast<char16_t>(c));
  }
  return run;
}

void strip_trailing_question_marks(std::string& name) {
  while (!name.empty() && name.back() == '?') name.pop_back();
}

}  // namespace

std::uint32_t entry_first_cluster(std::span<const std::uint8_t> entry) {
  return (std::uint32_t{le16_or0(entry, dirent::cluster_high)} << 16) |
         le16_or0(entry, dirent::cluster_low);
}

std::string short_entry_name(std::span<const std::uint8_t> entry) {
  if (entry.size() < 11) return {};
  const std::string base = trimmed_field(entry.subspan(dirent::name, 8));
  const std::string ext = trimmed_field(entry.subspan(dirent::extension, 3));
  std::string name = ext.empty() ? base : base + "." + ext;
  strip_trailing_question_marks(name);
  return name;
}

std::u16string long_name_units(std::span<const std::uint8_t> entry) {
  std::u16string units;
  for (const auto& [offset, count] : {std::pair<std::size_t, int>{dirent::lfn_run1, 5},
                                      {dirent::lfn_run2, 6},
                                      {dirent::lfn_run3, 2}}) {
    for (int i = 0; i < count; ++i) {
      units.push_back(
          static_cast<char16_t>(le16_or0(entry, offset + 2 * static_cast<std::size_t>(i))));
    }
  }
  return units;
}

std::string long_name_text(std::u16string_view units, bool& terminated) {
  const std::size_t end = units.find(u'\0');
  terminated = end != std::u16string_view::npos;
  std::u16string_view name = units.substr(0, end);
  while (!name.empty() && name.back() == 0xFFFF) name.remove_suffix(1);
  std::string text = catalogue::wide_to_ansi(name);
  strip_trailing_question_marks(text);
  return text;
}

std::string apply_case_flags(std::span<const std::uint8_t> entry, std::string name) {
  if (entry.size() < 13) return name;
  const std::uint8_t flags = entry[dirent::case_flags];
  const std::size_t base_end = trimmed_field(entry.subspan(dirent::name, 8)).size();
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool lower = i < base_end ? (flags & case_lower_base) != 0
                                    : i > base_end && (flags & case_lower_extension) != 0;
    if (lower && name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  return name;
}

std::string complete_cut_long_name(std::string cut, std::span<const std::uint8_t> short_entry) {
  std::string extension;
  if (short_entry.size() >= 13) {
    std::string shown = apply_case_flags(short_entry, short_entry_name(short_entry));
    const std::size_t base_end = trimmed_field(short_entry.subspan(dirent::name, 8)).size();
    if (shown.size() > base_end + 1) extension = catalogue::oem_to_utf8(shown.substr(base_end + 1));
  }
  const std::size_t dot = cut.rfind('.');
  std::string cut_extension = dot == std::string::npos ? std::string() : cut.substr(dot + 1);
  auto upper = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return t;
  };
  const bool has_extension = !extension.empty() && !cut_extension.empty() &&
                             upper(cut_extension).starts_with(upper(extension));
  if (has_extension) return cut + "\u2026";
  while (!cut.empty() && (cut.back() == '.' || cut.back() == ' ')) cut.pop_back();
  return cut + "\u2026" + (extension.empty() ? std::string() : "." + extension);
}

bool long_name_looks_whole(const std::string& name, std::span<const std::uint8_t> short_entry) {
  if (short_entry.size() < 11) return false;
  const std::string extension = trimmed_field(short_entry.subspan(dirent::extension, 3));
  const std::size_t dot = name.rfind('.');
  if (extension.empty()) return dot == std::string::npos;
  if (dot == std::string::npos) return false;
  std::string name_extension = name.substr(dot + 1);
  for (char& c : name_extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name_extension.starts_with(extension);
}

std::string long_name_piece(std::span<const std::uint8_t> entry) {
  using catalogue::wide_to_ansi;
  return wide_to_ansi(utf16_run(entry, dirent::lfn_run1, 5)) +
         wide_to_ansi(utf16_run(entry, dirent::lfn_run2, 6)) +
         wide_to_ansi(utf16_run(entry, dirent::lfn_run3, 2));
}

bool valid_entry_name(std::string_view name) {
  if (name.empty()) return false;
  if (name.find_first_of("\\/:*?\"<>|") != std::string_view::npos) return false;
  return name.front() != 0x14 && name.back() != 0x14;
}

bool valid_entry_attributes(std::uint8_t attributes) {
  if ((attributes & 0xC0) != 0) return false;
  return (attributes & attr_volume_label) == 0 || attributes == attr_long_name;
}

catalogue::Timestamp decode_fat_timestamp(std::uint16_t date, std::uint16_t time,
                                          std::uint8_t hundredths) {
  // Years past 2050 are taken for garbage: they let random bytes pass for a folder's entries.
  constexpr int last_year_field = 2050 - 1980;
  if ((date >> 9) > last_year_field) return {};
  return catalogue::decode_dos_timestamp(date, time, hundredths);
}

namespace {

// One directory being walked: where its next entry lies.
struct DirWalk {
  bool root_region = false;  // the FAT12/FAT16 root region rather than a cluster chain
  bool deleted = false;
  std::int32_t dir_id = 0;
  std::uint32_t cluster = 0;  // current cluster of a chain
  std::int64_t offset = 0;    // within the current cluster or the root region
  bool first_entry = true;
  bool exhausted = false;  // no entry follows the one in hand
  // Deleted folders: clusters read past the first one, and whether the last one read held
  // the end marker.
  std::uint32_t extra_clusters = 0;
  bool end_seen = false;
  bool deep = false;  // reached by the deep scan, not from the root
};

// A directory holds at most 65,536 entries, so a deleted folder is not read past that.
std::uint32_t max_extra_clusters(const FatLayout& layout) {
  const std::int64_t per_cluster = layout.cluster_bytes() / directory_entry_bytes;
  return per_cluster <= 0 ? 0 : static_cast<std::uint32_t>(65536 / per_cluster);
}

// An entry that may stand in a folder's later cluster: a long-name entry with its fixed
// fields as written, or a short entry with valid attributes and name bytes. "." and ".."
// begin a folder, so a cluster holding them is another folder's first cluster.
bool plausible_continuation_entry(std::span<const std::uint8_t> e) {
  const std::uint8_t attributes = e[dirent::attributes];
  if (attributes == attr_long_name) {
    return e[12] == 0 && e[dirent::cluster_low] == 0 && e[dirent::cluster_low + 1] == 0;
  }
  if (!valid_entry_attributes(attributes) || e[0] == '.') return false;
  for (std::size_t i = 0; i < 11; ++i) {
    const std::uint8_t c = e[i];
    if (i == 0 && (c == deleted_mark || c == 0x05)) continue;
    if (c < 0x20 || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr) return false;
  }
  return true;
}

class FatScanner {
 public:
  FatScanner(const FatLayout& layout, const volume::Volume& volume, catalogue::Catalogue& catalogue,
             run::RunControl& run, messages::StatusChannel& channel)
      : layout_(layout),
        volume_(volume),
        catalogue_(catalogue),
        run_(run),
        channel_(channel),
        chain_reader_(volume.source, volume::reader_sectors, engine::report_to(channel, run)),
        fat_reader_(volume.source, volume::reader_sectors, engine::report_to(channel, run)),
        folders_(catalogue, volume.drive_index, volume.kind, volume.drive_letter),
        used_bytes_(volume.total_bytes - volume.free_bytes),
        first_record_(catalogue.files().size()) {}

  void run(volume::SectorReader& main_reader, std::uint32_t root_cluster,
           const std::string& root_name);
  // After run(): reads the first bytes of every cluster the walk did not reach, in order, for
  // the "." and ".." entries that begin a folder, and walks each folder found from the top of
  // the chain its ".." links make; a folder no found entry names gets a made-up name under
  // "Lost folders".
  void deep_pass(volume::SectorReader& main_reader);
  // After deep_pass(): lowers the grades of its finds where the entries found beside them
  // show their presumed contiguous clusters were not theirs (engine/presumed_claims.h).
  void grade_deep_finds();

 private:
  bool read_entry(volume::SectorReader& reader, const DirWalk& w, DirEntry& entry);
  void advance(DirWalk& w);
  // Registers and queues a directory unless its cluster lies outside the volume or was walked.
  void open_directory(std::uint32_t cluster, const std::string& name, bool deleted,
                      std::int32_t parent_id, bool deep = false);
  std::int32_t lost_folders_id();
  std::int32_t lost_folders_id_ = -1;
  void walk_entry(volume::SectorReader& main_reader);
  void add_deleted_file(const DirEntry& entry, const std::string& name, const DirWalk& w,
                        std::uint32_t entry_cluster, std::int64_t entry_offset);
  // The deep walks' entries as claims on clusters: files (by catalogue index) and folders.
  std::vector<engine::ClusterClaim> deep_claims_;

  FatLayout layout_;
  const volume::Volume& volume_;
  catalogue::Catalogue& catalogue_;
  run::RunControl& run_;
  messages::StatusChannel& channel_;
  volume::SectorReader chain_reader_;
  volume::SectorReader fat_reader_;
  engine::FolderTable folders_;
  std::vector<DirWalk> stack_;
  // Whether the free cluster after a deleted folder's current one goes on with its entries;
  // moves the walk there when it does.
  bool next_continues_deleted_folder(DirWalk& w);
  bool holds_directory_entries(std::uint32_t cluster, bool& end_marker);

  // Clusters walked as part of live folders, and those read as deleted folders': kept apart,
  // so that a cluster a deleted folder once held never hides a live folder.
  std::unordered_set<std::uint32_t> live_clusters_;
  std::unordered_set<std::uint32_t> deleted_clusters_;
  // Folder path by folder id: the files of one folder share one path text, and the folder
  // list is searched once per folder rather than once per file.
  std::unordered_map<std::int32_t, catalogue::PathText> path_of_dir_;
  std::int64_t live_count_ = 0;
  std::int64_t live_bytes_ = 0;
  std::int64_t used_bytes_ = 0;
  std::size_t first_record_ = 0;  // this volume's first record in the catalogue
};

bool FatScanner::read_entry(volume::SectorReader& reader, const DirWalk& w, DirEntry& entry) {
  const std::int64_t position = w.root_region ? layout_.root_region_position() + w.offset
                                              : layout_.cluster_position(w.cluster) + w.offset;
  return reader.read(32, entry.data(), position) == 32;
}

void FatScanner::advance(DirWalk& w) {
  w.offset += directory_entry_bytes;
  if (w.root_region) {
    if (layout_.root_region_bytes() - w.offset < directory_entry_bytes) w.exhausted = true;
    return;
  }
  if (layout_.cluster_bytes() - w.offset >= directory_entry_bytes) return;
  const std::uint32_t next = read_fat_entry(chain_reader_, layout_, w.cluster, w.deleted);
  w.offset = 0;
  if (w.deleted) {
    // A deleted folder's chain is gone from the FAT: it may go on in the clusters that
    // follow, while they are free and hold directory entries.
    if (next_continues_deleted_folder(w)) return;
    w.exhausted = true;
    return;
  }
  // The end of the chain, a cluster outside the volume, or one a live folder already walked
  // (a loop or a cross-link) all end the directory. Clusters deleted folders were read
  // through do not: a live folder's chain is what the FAT says now.
  if (end_of_chain(next, layout_.width) || !layout_.cluster_in_volume(next) ||
      !live_clusters_.insert(next).second) {
    w.exhausted = true;
    return;
  }
  w.cluster = next;
}

bool FatScanner::next_continues_deleted_folder(DirWalk& w) {
  const std::uint64_t next = std::uint64_t{w.cluster} + 1;
  if (w.end_seen || ++w.extra_clusters > max_extra_clusters(layout_) ||
      !layout_.cluster_in_volume(next)) {
    return false;
  }
  const auto cluster = static_cast<std::uint32_t>(next);
  if (read_fat_entry(chain_reader_, layout_, cluster, false) != 0 ||
      live_clusters_.count(cluster) != 0 || deleted_clusters_.count(cluster) != 0) {
    return false;
  }
  bool end_marker = false;
  if (!holds_directory_entries(cluster, end_marker)) return false;
  deleted_clusters_.insert(cluster);
  w.cluster = cluster;
  w.end_seen = end_marker;
  return true;
}

// Whether the bytes of a cluster are directory entries up to an end marker or the cluster's
// end (and not only an end marker); end_marker tells whether one was met.
bool looks_like_entries(std::span<const std::uint8_t> data, bool& end_marker) {
  end_marker = false;
  for (std::size_t at = 0; at + directory_entry_bytes <= data.size(); at += directory_entry_bytes) {
    const std::span<const std::uint8_t> entry = data.subspan(at, directory_entry_bytes);
    if (entry[0] == 0) {
      // Nothing but the end of the directory: the folder ended in the cluster before.
      if (at == 0) return false;
      end_marker = true;
      return true;
    }
    if (!plausible_continuation_entry(entry)) return false;
  }
  return true;
}

bool FatScanner::holds_directory_entries(std::uint32_t cluster, bool& end_marker) {
  const auto bytes = static_cast<std::size_t>(layout_.cluster_bytes());
  std::vector<std::uint8_t> data(bytes);
  if (chain_reader_.read(static_cast<std::uint32_t>(bytes), data.data(),
                         layout_.cluster_position(cluster)) != static_cast<std::int64_t>(bytes)) {
    return false;
  }
  return looks_like_entries(data, end_marker);
}

void FatScanner::open_directory(std::uint32_t cluster, const std::string& name, bool deleted,
                                std::int32_t parent_id, bool deep) {
  if (!layout_.cluster_in_volume(cluster)) return;
  if (deleted) {
    // A deleted folder whose cluster is in use again holds something else now: it is skipped
    // without claiming the cluster, which a live folder may hold.
    if (read_fat_entry(chain_reader_, layout_, cluster, false) != 0 ||
        deleted_clusters_.count(cluster) != 0 || live_clusters_.count(cluster) != 0) {
      return;
    }
    deleted_clusters_.insert(cluster);
  } else {
    // A live folder is walked unless a live folder walked its cluster (a loop).
    if (!live_clusters_.insert(cluster).second) return;
  }
  DirWalk w;
  w.deleted = deleted;
  w.deep = deep;
  w.cluster = cluster;
  w.dir_id = folders_.register_directory(cluster, name, deleted, parent_id);
  stack_.push_back(w);
}

void FatScanner::add_deleted_file(const DirEntry& entry, const std::string& name, const DirWalk& w,
                                  std::uint32_t entry_cluster, std::int64_t entry_offset) {
  catalogue::FoundFile record;
  record.drive_index = volume_.drive_index;
  record.fs_kind = volume_.kind;
  record.drive_letter = volume_.drive_letter;
  record.record_no = catalogue_.deleted_count();
  record.first_cluster = entry_first_cluster(entry);
  record.size = le32_or0(entry, dirent::size);
  record.name = name;
  auto path = path_of_dir_.find(w.dir_id);
  if (path == path_of_dir_.end())
    path = path_of_dir_.emplace(w.dir_id, folders_.build_path(w.dir_id)).first;
  record.path = path->second;
  record.parent_dir = w.dir_id;
  record.quality =
      recovery_quality(fat_reader_, layout_, static_cast<std::uint32_t>(record.first_cluster),
                       record.size, channel_);
  record.modified = decode_fat_timestamp(le16_or0(entry, dirent::modified_date),
                                         le16_or0(entry, dirent::modified_time));
  record.created = decode_fat_timestamp(le16_or0(entry, dirent::created_date),
                                        le16_or0(entry, dirent::created_time),
                                        u8_or0(entry, dirent::created_10ms));
  record.entry_cluster = entry_cluster;
  record.entry_offset = static_cast<std::int32_t>(entry_offset);
  record.found_by_deep_scan = w.deep ? 1 : 0;
  record.selected = 0;
  if (w.deep) {
    engine::ClusterClaim claim;
    claim.first = static_cast<std::uint64_t>(record.first_cluster);
    claim.clusters = static_cast<std::uint64_t>((record.size + layout_.cluster_bytes() - 1) /
                                                std::max<std::int64_t>(layout_.cluster_bytes(), 1));
    claim.live = entry[0] != deleted_mark;
    claim.modified = record.modified;
    claim.record = catalogue_.files().size();
    claim.regrade = true;
    deep_claims_.push_back(claim);
  }
  catalogue_.add(record);
  channel_.set_file_counter(catalogue_.deleted_count());
}

void FatScanner::walk_entry(volume::SectorReader& main_reader) {
  DirWalk& w = stack_.back();
  run_.pump_events();
  DirEntry entry{};
  if (!read_entry(main_reader, w, entry)) {
    stack_.pop_back();
    return;
  }
  const std::uint32_t entry_cluster = w.root_region ? 0 : w.cluster;
  const std::int64_t entry_offset = w.offset;
  advance(w);

  if (w.deleted && w.first_entry) {
    // A deleted folder's cluster that no longer starts with "." holds something else now. So
    // does one that is allocated again: deleting a folder frees its clusters, and a new
    // folder that took the cluster also starts with "." but its entries are live files.
    if (trimmed_field(std::span(entry).first(8)) != "." ||
        (entry_cluster >= 2 && read_fat_entry(chain_reader_, layout_, entry_cluster, false) != 0)) {
      stack_.pop_back();
      return;
    }
  }
  w.first_entry = false;

  std::string name;
  bool long_name = false;
  if (entry[dirent::attributes] == attr_long_name) {
    long_name = true;
    // The first piece in the directory holds the end of the name. A live one carries the
    // "last piece" flag; without it the slot that held the end was taken by another entry.
    const bool end_piece_missing = entry[0] != deleted_mark && (entry[0] & lfn_last_piece) == 0;
    // All UTF-16 units first: a character outside the BMP may have its two halves in two
    // pieces or in two runs of one piece.
    std::u16string units = long_name_units(entry);
    int pieces = 1;
    while (!w.exhausted) {
      DirEntry next{};
      if (!read_entry(main_reader, w, next)) break;
      advance(w);
      entry = next;
      if (w.exhausted || entry[dirent::attributes] != attr_long_name) break;
      if (++pieces <= long_name_piece_limit) units = long_name_units(entry) + units;
    }
    bool terminated = false;
    name = long_name_text(units, terminated);
    // A name that ends inside its last piece is whole. One that fills its pieces is whole
    // when the 8.3 entry agrees with its extension; otherwise its end was lost, and it is
    // shown as cut, with the 8.3 entry's extension where it lacks one.
    const bool cut = end_piece_missing || (!terminated && !long_name_looks_whole(name, entry));
    if (cut && !name.empty() && entry[dirent::attributes] != attr_long_name) {
      name = complete_cut_long_name(name, entry);
    }
  } else {
    name = short_entry_name(entry);
  }

  const std::uint8_t attributes = entry[dirent::attributes];
  const bool marked_deleted = entry[0] == deleted_mark;
  const bool used = valid_entry_name(name) && valid_entry_attributes(attributes);
  // Short names are code page 437 bytes; a deleted one has lost its first letter to 0xE5,
  // shown as "_" (a one-letter file name keeps its byte).
  auto display_name = [&](bool directory) {
    if (long_name) return name;
    std::string bytes = apply_case_flags(entry, name);
    if (marked_deleted && !bytes.empty() && static_cast<unsigned char>(bytes[0]) == deleted_mark &&
        (directory || bytes.size() > 1)) {
      bytes[0] = '_';
    }
    return catalogue::oem_to_utf8(bytes);
  };

  bool child_pending = false;
  std::uint32_t child_cluster = 0;
  std::string child_name;
  bool child_deleted = false;
  if (used && (attributes & attr_directory) != 0 && (attributes & attr_volume_label) == 0 &&
      entry[0] != '.') {
    child_pending = true;
    child_cluster = entry_first_cluster(entry);
    child_name = display_name(true);
    child_deleted = marked_deleted || w.deleted;
  }
  const std::uint32_t size = le32_or0(entry, dirent::size);
  if (used && attributes != attr_long_name && (attributes & attr_directory) == 0 &&
      !marked_deleted && !w.deleted) {
    live_bytes_ += size;
    ++live_count_;
  }
  if (used && live_count_ % 100 == 0 && live_bytes_ > 0) {
    const std::int64_t percent =
        used_bytes_ <= 0 ? 0 : (live_bytes_ >= used_bytes_ ? 100 : live_bytes_ * 100 / used_bytes_);
    channel_.set_progress(static_cast<std::int32_t>(percent));
  }
  if (used && (attributes & (attr_directory | attr_volume_label)) == 0 && size != 0 &&
      (marked_deleted || w.deleted)) {
    add_deleted_file(entry, display_name(false), w, entry_cluster, entry_offset);
  }

  // w may not be used after the stack changes.
  const std::int32_t dir_id = w.dir_id;
  const bool deep = w.deep;
  if (name.empty() || run_.stop_requested() || w.exhausted) stack_.pop_back();
  if (run_.stop_requested()) {
    stack_.clear();
    return;
  }
  if (child_pending && deep) {
    // A folder's first cluster bounds the files found beside it like a file's does.
    engine::ClusterClaim claim;
    claim.first = child_cluster;
    claim.live = entry[0] != deleted_mark;
    claim.modified = decode_fat_timestamp(le16_or0(entry, dirent::modified_date),
                                          le16_or0(entry, dirent::modified_time));
    deep_claims_.push_back(claim);
  }
  if (child_pending) open_directory(child_cluster, child_name, child_deleted, dir_id, deep);
}

void FatScanner::run(volume::SectorReader& main_reader, std::uint32_t root_cluster,
                     const std::string& root_name) {
  if (!layout_.is_fat32()) {
    DirWalk root;
    root.root_region = true;
    root.dir_id = folders_.register_directory(0, root_name, false, root_parent_id);
    if (layout_.usable() && layout_.root_region_bytes() >= directory_entry_bytes) {
      stack_.push_back(root);
    }
  } else if (layout_.usable() && layout_.cluster_in_volume(root_cluster)) {
    open_directory(root_cluster, root_name, false, root_parent_id);
  } else {
    folders_.register_directory(root_cluster, root_name, false, root_parent_id);
  }
  while (!stack_.empty()) walk_entry(main_reader);
}

std::int32_t FatScanner::lost_folders_id() {
  if (lost_folders_id_ < 0) {
    lost_folders_id_ = folders_.register_directory(0, channel_.text(messages::lost_folders), true,
                                                   catalogue::ROOT_FOLDER_ID);
  }
  return lost_folders_id_;
}

// Whether the cluster holds a short entry (live or deleted, not a long-name piece) with a date
// that decodes: the mark of a folder's entries rather than of data that passes the name test.
bool holds_dated_short_entry(std::span<const std::uint8_t> data) {
  for (std::size_t at = 0; at + 32 <= data.size(); at += 32) {
    const std::span<const std::uint8_t> e = data.subspan(at, 32);
    if (e[0] == 0) break;
    if (e[dirent::attributes] == attr_long_name) continue;
    if (!decode_fat_timestamp(le16_or0(e, dirent::modified_date),
                              le16_or0(e, dirent::modified_time))
             .missing()) {
      return true;
    }
  }
  return false;
}

// Whether every short entry of a folder cluster names clusters of this volume and a size it
// can hold, and every folder entry a size of 0, as FAT writes them: random data that passed
// the name test seldom does.
bool entries_fit_volume(std::span<const std::uint8_t> data, const FatLayout& layout,
                        std::int64_t volume_bytes) {
  for (std::size_t at = 0; at + directory_entry_bytes <= data.size(); at += directory_entry_bytes) {
    const std::span<const std::uint8_t> e = data.subspan(at, directory_entry_bytes);
    if (e[0] == 0) break;
    const std::uint8_t attributes = e[dirent::attributes];
    if (attributes == attr_long_name || (attributes & attr_volume_label) != 0) continue;
    const std::uint32_t first = entry_first_cluster(e);
    const std::uint32_t size = le32_or0(e, dirent::size);
    if (first != 0 && !layout.cluster_in_volume(first)) return false;
    if ((attributes & attr_directory) != 0 ? size != 0 : size > volume_bytes) return false;
  }
  return true;
}

bool is_dot_entry(std::span<const std::uint8_t> e, std::string_view dots) {
  if (e.size() < 32 || (e[dirent::attributes] & attr_directory) == 0) return false;
  for (std::size_t i = 0; i < 11; ++i) {
    if (e[i] != (i < dots.size() ? static_cast<std::uint8_t>(dots[i]) : ' ')) return false;
  }
  return true;
}

void FatScanner::deep_pass(volume::SectorReader& main_reader) {
  if (!layout_.usable() || run_.stop_requested()) return;
  volume::SectorReader reader(volume_.source, deep_window_sectors,
                              engine::report_to(channel_, run_));
  if (reader.error != 0) return;
  // Where each folder's "." entry was found, and the first cluster its ".." names.
  std::map<std::uint32_t, std::uint32_t> parent_of;
  // Clusters that continue a folder whose first cluster is elsewhere.
  std::vector<std::uint32_t> later_clusters;
  std::vector<std::uint8_t> cluster_bytes;
  const std::uint32_t limit = layout_.cluster_limit();
  channel_.set_progress(0);
  for (std::uint32_t c = 2; c < limit; ++c) {
    if ((c & 0x3FF) == 0) {
      run_.pump_events();
      if (run_.stop_requested()) return;
      channel_.set_progress(static_cast<std::int32_t>(std::uint64_t{c - 2} * 100 / (limit - 2)));
    }
    if (live_clusters_.count(c) != 0 || deleted_clusters_.count(c) != 0) continue;
    std::uint8_t head[64];
    if (reader.read(sizeof head, head, layout_.cluster_position(c)) != sizeof head) continue;
    const std::span<const std::uint8_t> dot(head, 32);
    const std::span<const std::uint8_t> dotdot(head + 32, 32);
    // "." names the folder's own first cluster: a copy of a folder inside a file does not.
    if (is_dot_entry(dot, ".") && is_dot_entry(dotdot, "..") && entry_first_cluster(dot) == c) {
      parent_of[c] = entry_first_cluster(dotdot);
      continue;
    }
    // A later cluster of a folder: entries from its first byte, one of them a dated short
    // entry, as data seldom is.
    if (head[0] == '.' || !plausible_continuation_entry(dot)) continue;
    cluster_bytes.resize(static_cast<std::size_t>(layout_.cluster_bytes()));
    if (reader.read(static_cast<std::uint32_t>(cluster_bytes.size()), cluster_bytes.data(),
                    layout_.cluster_position(c)) !=
        static_cast<std::int64_t>(cluster_bytes.size())) {
      continue;
    }
    bool end_marker = false;
    if (looks_like_entries(cluster_bytes, end_marker) && holds_dated_short_entry(cluster_bytes) &&
        entries_fit_volume(cluster_bytes, layout_, volume_.total_bytes)) {
      later_clusters.push_back(c);
    }
  }
  // Walked folders by first cluster, for ".." links that lead to one.
  std::unordered_map<std::uint32_t, std::int32_t> walked;
  const auto note_walked = [&] {
    for (const catalogue::FolderEntry& f : folders_.directories()) {
      if (f.first_cluster > 0)
        walked.emplace(static_cast<std::uint32_t>(f.first_cluster), f.dir_id);
    }
  };
  note_walked();
  for (const auto& [cluster, parent] : parent_of) {
    if (run_.stop_requested()) return;
    if (deleted_clusters_.count(cluster) != 0) continue;  // reached from a folder found before
    // The top of the chain of found folders above this one: walking it names the folders
    // below it from their entries.
    std::uint32_t top = cluster;
    for (int depth = 0; depth < 64; ++depth) {
      const auto up = parent_of.find(parent_of[top]);
      if (up == parent_of.end() || up->first == top || deleted_clusters_.count(up->first) != 0) {
        break;
      }
      top = up->first;
    }
    for (const std::uint32_t start : {top, cluster}) {
      if (deleted_clusters_.count(start) != 0) continue;
      // A folder whose ".." leads to a walked folder (its entry there is gone) goes under it;
      // any other under "Lost folders". Its name is made up from its cluster.
      const auto known = walked.find(parent_of[start]);
      const std::int32_t parent = known != walked.end() ? known->second : lost_folders_id();
      open_directory(start, channel_.text(messages::made_up_folder_name) + std::to_string(start),
                     true, parent, true);
      while (!stack_.empty()) walk_entry(main_reader);
      note_walked();
    }
  }
  // The later clusters no walk took up. Such a cluster belongs to the folder that its
  // sub-folder entries' ".." links name; without one, to a folder of its own under "Lost
  // folders".
  for (const std::uint32_t c : later_clusters) {
    if (run_.stop_requested()) return;
    if (deleted_clusters_.count(c) != 0 || live_clusters_.count(c) != 0) continue;
    std::int32_t owner = -1;
    cluster_bytes.resize(static_cast<std::size_t>(layout_.cluster_bytes()));
    if (main_reader.read(static_cast<std::uint32_t>(cluster_bytes.size()), cluster_bytes.data(),
                         layout_.cluster_position(c)) ==
        static_cast<std::int64_t>(cluster_bytes.size())) {
      for (std::size_t at = 0; at + 32 <= cluster_bytes.size() && owner < 0; at += 32) {
        const std::span<const std::uint8_t> e(cluster_bytes.data() + at, 32);
        if (e[0] == 0) break;
        if (e[dirent::attributes] == attr_long_name ||
            (e[dirent::attributes] & attr_directory) == 0 || e[0] == '.') {
          continue;
        }
        const auto child = parent_of.find(entry_first_cluster(e));
        if (child == parent_of.end()) continue;
        if (const auto known = walked.find(child->second); known != walked.end()) {
          owner = known->second;
        }
      }
    }
    deleted_clusters_.insert(c);
    DirWalk w;
    w.deleted = true;
    w.deep = true;
    w.cluster = c;
    w.first_entry = false;
    w.dir_id = owner >= 0 ? owner
                          : folders_.register_directory(
                                c, channel_.text(messages::made_up_folder_name) + std::to_string(c),
                                true, lost_folders_id());
    stack_.push_back(w);
    while (!stack_.empty()) walk_entry(main_reader);
    note_walked();
  }
}

void FatScanner::grade_deep_finds() {
  engine::grade_deep_finds(std::move(deep_claims_), catalogue_.files(), first_record_,
                           layout_.cluster_bytes());
}

}  // namespace

bool scan_fat_volume(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                     run::RunControl& run, messages::StatusChannel& channel, bool deep) {
  volume::SectorReader main_reader(volume.source, volume::reader_sectors,
                                   engine::report_to(channel, run));
  if (main_reader.error != 0) return false;
  const BootSector boot = load_boot_sector(main_reader);
  const FatLayout layout = make_layout(boot, volume.kind, volume.total_bytes);

  FatScanner scanner(layout, volume, catalogue, run, channel);
  channel.set_progress_range(100);
  channel.set_progress(0);
  if (!layout.usable()) {
    channel.log(channel.text(messages::error_prefix) +
                channel.text(messages::unusable_cluster_size));
  }
  const std::string root_name =
      std::string(
          1, static_cast<char>(std::toupper(static_cast<unsigned char>(volume.drive_letter)))) +
      ":";
  scanner.run(main_reader, layout.root_cluster, root_name);
  if (deep) {
    scanner.deep_pass(main_reader);
    scanner.grade_deep_finds();
  }
  channel.set_progress(100);
  return true;
}

}  // namespace fennick::fat

// The NTFS deep pass: after the walk over the MFT, the free clusters of the volume are read
// once, in order, in large reads, and every sector that begins a sound MFT record (see
// recognise_file_record) is looked at. Such records lie outside the current MFT: an older
// MFT a quick format left behind, the old place of a moved MFT, copies of a damaged one.
// Their files are catalogued like those of the MFT, marked as found by the deep scan; their
// folders come from the folder records found beside them, by the parent references of
// their file names. A folder whose record is not found goes under "Lost folders" with a
// name made up from its record number; folders of the root stay under the root.
#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>
#include <unordered_map>

#include "engine/grading.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "ntfs/ntfs_scan_state.h"
#include "volume/le_read.h"

namespace fennick::ntfs {

namespace {

using catalogue::FolderEntry;
using catalogue::FoundFile;
using volume::le16_or0;
using volume::le32_or0;
using volume::le64_or0;

// The deep pass reads at most this many bytes at once: large reads, but small enough for the
// processor's caches to hold what was just read while it is looked at.
constexpr std::int64_t deep_read_bytes = 1024 * 1024;
constexpr std::uint16_t deep_reader_sectors =
    static_cast<std::uint16_t>(deep_read_bytes / volume::sector_bytes);
// Records below this number are the file system's own ($MFT to $Extend and the reserved ones).
constexpr std::int64_t first_user_record = 16;
constexpr std::int64_t extend_record = 11;
// Folder-list ids of the deep pass count down from here, far below those of the MFT walk
// (record numbers, and -1 - n for a record that now holds another folder).
constexpr std::int32_t first_deep_folder_id = std::numeric_limits<std::int32_t>::min() / 2;

// A folder record the pass found.
struct DeepFolder {
  std::int64_t number = -1;
  std::uint16_t sequence = 0;
  bool in_use = false;
  std::string name;
  std::int64_t parent = 0;
  std::uint16_t parent_sequence = 0;
  // The MFT holds the same record: the folder is the MFT's, with the MFT's path.
  bool in_mft = false;
};

// A file record the pass found, catalogued once every folder is known.
struct DeepFile {
  FoundFile file;
  std::int64_t parent = 0;
  std::uint16_t parent_sequence = 0;
  bool live = false;          // in use in the MFT it came from
  std::int64_t clusters = 0;  // stored on the volume, by its runs
  std::int64_t lost = 0;      // of those, claimed by a file that wrote there later
};

// A run of clusters a found file's data takes.
struct DeepRun {
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::size_t file = 0;  // index into the pass's files
  bool of_mft = false;   // a deleted file of the MFT: written after all the pass finds
};

// Where a folder of the pass went in the folder list.
struct PlacedFolder {
  std::int32_t id = 0;
  std::string path;  // "E:\Lost folders\Folder 77\Photos\"
  int depth = 0;
};

class DeepPass {
 public:
  explicit DeepPass(Scan& s) : s_(s), v_(s.v), channel_(*s.v.channel) {}
  void run();

 private:
  void read_free_clusters();
  void look_at(std::span<const std::uint8_t> buffer, std::int64_t position);
  void take_record(ConstBytes raw, std::int64_t position);
  bool same_as_mft_record(std::int64_t number, ConstBytes record);
  PlacedFolder parent_folder(std::int64_t parent, std::uint16_t sequence);
  PlacedFolder lost_folder(std::int64_t parent);
  std::int32_t lost_folders_id();
  std::int32_t add_folder(const std::string& name, std::int32_t parent_id);
  void catalogue_files();
  void grade_overlaps();

  Scan& s_;
  NtfsVolume& v_;
  messages::StatusChannel& channel_;
  std::vector<DeepFolder> folders_;
  std::unordered_multimap<std::int64_t, std::size_t> folders_by_number_;
  std::vector<std::optional<PlacedFolder>> placed_;  // by index into folders_
  std::vector<DeepFile> files_;
  std::vector<DeepRun> runs_;
  // What was taken, so that a record found twice (a copy of an old MFT) is listed once.
  std::set<std::tuple<std::int64_t, std::uint16_t, std::int64_t, std::string>> seen_;
  std::unordered_map<std::int64_t, PlacedFolder> lost_by_parent_;
  std::optional<PlacedFolder> lost_folders_;
  std::int32_t next_id_ = first_deep_folder_id;
  FileRecord current_;  // the MFT's record of the same number, for the comparison
  std::vector<std::uint8_t> record_;
  std::vector<std::uint8_t> straddling_;
};

void DeepPass::run() {
  read_free_clusters();
  // After Stop too: what was found so far is kept, as the other scans keep it.
  grade_overlaps();
  catalogue_files();
}

// The free clusters, in order, in reads of up to deep_read_bytes. Clusters the bitmap says
// are in use hold live files (and the MFT itself): they are not read. Where the bitmap cannot
// be read, everything but the MFT is.
void DeepPass::read_free_clusters() {
  volume::SectorReader reader(v_.source, deep_reader_sectors, v_.problems);
  if (reader.error != 0) return;
  const Geometry& g = v_.geometry;
  const std::int64_t total = g.total_clusters;
  const std::int64_t clusters_per_read =
      std::max<std::int64_t>(1, deep_read_bytes / g.cluster_size);
  // The MFT's clusters as sorted extents, to step over them.
  std::vector<std::pair<std::int64_t, std::int64_t>> mft;
  for (const DataRun& run : v_.mft_runs) {
    if (!run.sparse && run.lcn > 0 && run.length > 0)
      mft.emplace_back(run.lcn, run.lcn + run.length);
  }
  std::sort(mft.begin(), mft.end());
  std::vector<std::uint8_t> buffer;
  std::vector<volume::ByteStretch> unreadable;
  channel_.set_progress(0);
  std::int64_t c = 0;
  while (c < total) {
    s_.run.pump_events();
    if (s_.run.stop_requested()) return;
    channel_.set_progress(static_cast<std::int32_t>(c * 100 / total));
    std::int64_t end = std::min(total, c + clusters_per_read);
    const auto in_mft = std::find_if(mft.begin(), mft.end(),
                                     [&](const auto& e) { return e.first <= c && c < e.second; });
    if (in_mft != mft.end()) {
      c = in_mft->second;
      continue;
    }
    for (const auto& e : mft) {
      if (e.first > c) end = std::min(end, e.first);
    }
    const std::optional<bool> allocated = cluster_allocated(s_, c);
    if (allocated) {
      end = same_allocation_end(s_, c, end);
      if (end <= c) end = c + 1;
      if (*allocated) {
        c = end;
        continue;
      }
    } else {
      end = c + 1;
    }
    const std::int64_t bytes = (end - c) * g.cluster_size;
    const std::int64_t position = c * g.cluster_size;
    // Straight into the reader's window, looked at there: no copy of what is read. Only a
    // stretch with unreadable sectors is read again, with zeros for those sectors.
    std::int64_t got = 0;
    if (position % volume::sector_bytes == 0) {
      got = reader.read_sectors(static_cast<std::uint16_t>(bytes / volume::sector_bytes),
                                position / volume::sector_bytes);
    }
    if (got > 0) {
      look_at(std::span<const std::uint8_t>(reader.data.data(),
                                            static_cast<std::size_t>(std::min(got, bytes))),
              position);
    } else {
      buffer.resize(static_cast<std::size_t>(bytes));
      unreadable.clear();
      got = reader.read_salvaging(static_cast<std::uint32_t>(bytes), buffer.data(), position,
                                  unreadable);
      if (got <= 0) return;  // the medium is gone, or the volume ends early
      look_at(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)),
              position);
    }
    c = end;
  }
  channel_.set_progress(100);
}

// Every 512-byte step of the buffer that begins "FILE". A record that runs past the end of
// the buffer is read whole from the volume, through the volume's own reader: the buffer may
// be the deep reader's window.
void DeepPass::look_at(std::span<const std::uint8_t> buffer, std::int64_t position) {
  for (std::size_t at = 0; at + 4 <= buffer.size(); at += fixup_block) {
    if (std::memcmp(buffer.data() + at, "FILE", 4) != 0) continue;
    const ConstBytes rest = buffer.subspan(at);
    if (recognise_file_record(rest) != 0) {
      take_record(rest, position + static_cast<std::int64_t>(at));
      continue;
    }
    const std::uint32_t size = le32_or0(rest, rec_allocated);
    if (size <= rest.size() || size > static_cast<std::uint32_t>(max_record_size)) continue;
    straddling_.resize(size);
    if (v_.reader->read(size, straddling_.data(), position + static_cast<std::int64_t>(at)) !=
        size) {
      continue;
    }
    if (recognise_file_record(straddling_) != 0) {
      take_record(straddling_, position + static_cast<std::int64_t>(at));
    }
  }
}

void DeepPass::take_record(ConstBytes raw, std::int64_t position) {
  const std::size_t size = recognise_file_record(raw);
  record_.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(size));
  apply_fixups(record_);
  const ConstBytes record(record_);
  // Extension records carry attributes of a base record, not a file of their own.
  if ((le64_or0(record, rec_base_reference) & record_number_mask) != 0) return;
  const std::int64_t number = le16_or0(record, rec_usa_offset) >= usa_offset_with_record_number
                                  ? le32_or0(record, rec_record_number)
                                  : -1;
  if (number >= 0 && number < first_user_record) return;
  const ChosenName chosen = choose_file_name(record);
  if (!chosen.found || blank_name(chosen.name) || chosen.parent == extend_record) return;
  const std::uint16_t sequence = le16_or0(record, rec_sequence);
  if (!seen_.emplace(number, sequence, chosen.parent, chosen.name).second) return;
  const std::uint16_t flags = le16_or0(record, rec_flags);
  // A copy of a record the MFT holds adds no file; a folder's copy still tells the files
  // found beside it where they belong.
  const bool in_mft = same_as_mft_record(number, record);
  if (flags & record_is_directory) {
    DeepFolder folder;
    folder.in_mft = in_mft;
    folder.number = number;
    folder.sequence = sequence;
    folder.in_use = (flags & record_in_use) != 0;
    folder.name = chosen.name;
    folder.parent = chosen.parent;
    folder.parent_sequence = chosen.parent_sequence;
    // A folder without its number cannot be named by a parent reference.
    if (number >= 0) folders_by_number_.emplace(number, folders_.size());
    folders_.push_back(std::move(folder));
    return;
  }
  if (in_mft) return;
  DeepFile found;
  found.file = found_file_of(s_, number, record, chosen);
  FoundFile& file = found.file;
  file.found_by_deep_scan = 1;
  file.entry_cluster = position / v_.geometry.cluster_size;
  file.entry_offset = static_cast<std::int32_t>(position % v_.geometry.cluster_size);
  found.parent = chosen.parent;
  found.parent_sequence = chosen.parent_sequence;
  found.live = (flags & record_in_use) != 0;
  if (file.quality > 0) {
    for (const auto& [first, end] : data_runs_on_volume(s_, record)) {
      runs_.push_back({first, end, files_.size()});
      found.clusters += end - first;
    }
  }
  files_.push_back(std::move(found));
  if (files_.size() % 100 == 0) {
    channel_.set_file_counter(s_.catalogue.deleted_count() +
                              static_cast<std::int32_t>(files_.size()));
  }
}

// Whether the MFT's record of the same number holds the same (a copy such as the MFT's
// mirror): compared over the used bytes, apart from the update sequence array, which
// changes with every write of a record.
bool DeepPass::same_as_mft_record(std::int64_t number, ConstBytes record) {
  if (number < 0 || number >= v_.record_count) return false;
  if (!read_file_record_into(v_, number, current_)) return false;
  const ConstBytes mft(current_.bytes);
  const std::size_t used = le32_or0(record, rec_bytes_in_use);
  if (mft.size() < used || le32_or0(mft, rec_bytes_in_use) != used) return false;
  const std::size_t array = le16_or0(record, rec_usa_offset);
  const std::size_t array_end = array + 2 * std::size_t{le16_or0(record, rec_usa_count)};
  for (std::size_t i = 0; i < used; ++i) {
    if (i >= array && i < array_end) continue;
    if (mft[i] != record[i]) return false;
  }
  return true;
}

std::int32_t DeepPass::add_folder(const std::string& name, std::int32_t parent_id) {
  FolderEntry entry;
  entry.dir_id = next_id_--;
  entry.fs_kind = s_.fs_kind;
  entry.drive_letter = s_.drive_letter;
  entry.parent_id = parent_id;
  entry.name = name;
  entry.deleted = 1;
  s_.catalogue.add_folder(s_.drive_index, entry);
  return entry.dir_id;
}

std::int32_t DeepPass::lost_folders_id() {
  if (!lost_folders_) {
    const std::string name = channel_.text(messages::lost_folders);
    lost_folders_ = PlacedFolder{add_folder(name, catalogue::ROOT_FOLDER_ID),
                                 drive_prefix(s_) + name + "\\", 1};
  }
  return lost_folders_->id;
}

// The made-up folder under "Lost folders" that stands for a parent whose record was not
// found, one per record number.
PlacedFolder DeepPass::lost_folder(std::int64_t parent) {
  if (const auto known = lost_by_parent_.find(parent); known != lost_by_parent_.end()) {
    return known->second;
  }
  const std::int32_t above = lost_folders_id();
  const std::string name = channel_.text(messages::made_up_folder_name) + std::to_string(parent);
  PlacedFolder placed{add_folder(name, above), lost_folders_->path + name + "\\", 2};
  return lost_by_parent_.emplace(parent, placed).first->second;
}

// The folder a parent reference names: the root, a folder record the pass found (placed with
// the folders above it on first use), or a made-up folder under "Lost folders".
PlacedFolder DeepPass::parent_folder(std::int64_t parent, std::uint16_t sequence) {
  const auto found = [&](std::int64_t p, std::uint16_t seq) -> std::optional<std::size_t> {
    const auto [first, last] = folders_by_number_.equal_range(p);
    for (auto it = first; it != last; ++it) {
      const DeepFolder& f = folders_[it->second];
      if (parent_sequence_matches(seq, f.sequence, f.in_use)) return it->second;
    }
    return std::nullopt;
  };
  if (parent == root_record) return PlacedFolder{catalogue::ROOT_FOLDER_ID, drive_prefix(s_), 0};
  const auto start = found(parent, sequence);
  if (!start) return lost_folder(parent);
  // The chain of found folders up from this one, to the root, to one placed before, to a
  // parent not found, or to the most folders a path names (a loop ends there too).
  std::vector<std::size_t> chain{*start};
  PlacedFolder above;
  bool above_known = false;
  while (!above_known) {
    const DeepFolder& top = folders_[chain.back()];
    if (!placed_[chain.back()] && top.in_mft) {
      const ParentPath mft =
          build_ntfs_path(s_, static_cast<std::int32_t>(top.number), top.sequence);
      const std::string text = mft.path.str();
      placed_[chain.back()] =
          text == "Error"
              ? lost_folder(top.number)
              : PlacedFolder{mft.folder_id, text,
                             static_cast<int>(std::count(text.begin(), text.end(), '\\')) - 1};
    }
    if (placed_[chain.back()]) {
      above = *placed_[chain.back()];
      chain.pop_back();
      above_known = true;
    } else if (top.parent == root_record) {
      above = PlacedFolder{catalogue::ROOT_FOLDER_ID, drive_prefix(s_), 0};
      above_known = true;
    } else if (static_cast<int>(chain.size()) >= max_path_depth) {
      above = PlacedFolder{lost_folders_id(), lost_folders_->path, 1};
      above_known = true;
    } else if (const auto next = found(top.parent, top.parent_sequence);
               next && std::find(chain.begin(), chain.end(), *next) == chain.end()) {
      chain.push_back(*next);
    } else if (next) {
      above = PlacedFolder{lost_folders_id(), lost_folders_->path, 1};
      above_known = true;
    } else {
      above = lost_folder(top.parent);
      above_known = true;
    }
  }
  // A folder placed too deep already starts again under "Lost folders".
  if (above.depth + static_cast<int>(chain.size()) > max_path_depth) {
    above = PlacedFolder{lost_folders_id(), lost_folders_->path, 1};
  }
  while (!chain.empty()) {
    const std::size_t i = chain.back();
    chain.pop_back();
    const std::string& name = folders_[i].name;
    above = PlacedFolder{add_folder(name, above.id), above.path + name + "\\", above.depth + 1};
    placed_[i] = above;
  }
  return above;
}

// The bitmap shows the clusters of an old volume's files free, though files of that volume
// may have taken them from one another: a file deleted before the format left its clusters
// to later ones. Where two found files' runs meet, the one still in use in its MFT, else the
// one modified later, wrote last; the other loses those clusters from its grade.
void DeepPass::grade_overlaps() {
  for (const auto& [first, end] : s_.mft_file_runs) runs_.push_back({first, end, 0, true});
  s_.mft_file_runs.clear();
  std::sort(runs_.begin(), runs_.end(),
            [](const DeepRun& a, const DeepRun& b) { return a.first < b.first; });
  std::vector<const DeepRun*> open;
  for (const DeepRun& run : runs_) {
    std::erase_if(open, [&](const DeepRun* o) { return o->end <= run.first; });
    for (const DeepRun* o : open) {
      const std::int64_t shared = std::min(o->end, run.end) - run.first;
      if (o->of_mft || run.of_mft) {
        if (!run.of_mft) files_[run.file].lost += shared;
        if (!o->of_mft) files_[o->file].lost += shared;
        continue;
      }
      if (o->file == run.file) continue;
      DeepFile& a = files_[o->file];
      DeepFile& b = files_[run.file];
      const bool a_wins =
          (a.live && !b.live) || (a.live == b.live && a.file.modified > b.file.modified);
      const bool b_wins =
          (b.live && !a.live) || (a.live == b.live && b.file.modified > a.file.modified);
      if (!a_wins) a.lost += shared;
      if (!b_wins) b.lost += shared;
    }
    // Past this many at once the runs are damage, not files: the rest is not compared.
    if (open.size() < 64) open.push_back(&run);
  }
  for (DeepFile& f : files_) {
    if (f.lost <= 0 || f.clusters <= 0) continue;
    const std::int64_t kept = std::max<std::int64_t>(f.clusters - f.lost, 0);
    f.file.quality = std::min(f.file.quality, engine::share_percent(kept, f.clusters));
  }
  runs_.clear();
}

void DeepPass::catalogue_files() {
  placed_.assign(folders_.size(), std::nullopt);
  for (DeepFile& found : files_) {
    const PlacedFolder folder = parent_folder(found.parent, found.parent_sequence);
    found.file.path = catalogue::PathText(folder.path);
    found.file.parent_dir = folder.id;
    s_.catalogue.add(found.file);
  }
  channel_.set_file_counter(s_.catalogue.deleted_count());
  files_.clear();
}

}  // namespace

void deep_pass(Scan& s) {
  DeepPass pass(s);
  pass.run();
}

}  // namespace fennick::ntfs

// The exFAT scan: walks every folder reachable from the root, deleted folders included, and
// catalogues every deleted file and every file inside a deleted folder, graded from the
// allocation bitmap.
#include <algorithm>
#include <cctype>
#include <deque>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "engine/folder_table.h"
#include "exfat/exfat_engine.h"
#include "exfat/exfat_file_clusters.h"
#include "exfat/exfat_scanner.h"
#include "exfat/exfat_volume.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::exfat {

void ExfatScanner::run() {
  const std::string root_name =
      std::string(
          1, static_cast<char>(std::toupper(static_cast<unsigned char>(volume_.drive_letter)))) +
      ":";
  PendingDirectory root;
  root.first_cluster = v_.layout.root_cluster;
  root.length = max_directory_bytes;
  root.dir_id = folders_.register_directory(root.first_cluster, root_name, false, root_parent_id);
  live_clusters_.insert(root.first_cluster);
  stack_.push_back(root);
  drain();
  walk_reused();
}

void ExfatScanner::drain() {
  while (!stack_.empty() && !run_.stop_requested()) {
    const PendingDirectory d = stack_.back();
    stack_.pop_back();
    walk(d);
  }
}

void ExfatScanner::walk_reused() {
  // Folders whose first cluster is in use again, unless a live folder or another deleted
  // one turned out to hold it. Their sub-folders are walked as any other.
  for (std::size_t i = 0; i < reused_.size() && !run_.stop_requested(); ++i) {
    const PendingDirectory d = reused_[i];
    if (live_clusters_.count(d.first_cluster) != 0 ||
        !deleted_clusters_.insert(d.first_cluster).second) {
      continue;
    }
    walk(d);
    drain();
  }
  reused_.clear();
}

bool ExfatScanner::fill(std::size_t want) {
  const std::int64_t cluster_bytes = v_.layout.cluster_bytes();
  while (queue_.size() < want && !ended_) {
    if (offset_ >= cluster_bytes || cluster_ == 0) {
      auto next = clusters_->next();
      if (!next && clusters_->intact() && cluster_ != 0) next = continuation();
      if (!next) {
        ended_ = true;
        break;
      }
      ++walked_;
      if (cluster_ != 0) {
        // The first cluster was claimed when the folder was opened; a later one that another
        // walk of this kind met is a loop or a cross-link, and a deleted folder's cluster that
        // is in use again holds something else now.
        const bool claimed = current_->deleted ? live_clusters_.count(*next) != 0 ||
                                                     !deleted_clusters_.insert(*next).second ||
                                                     v_.bitmap->in_use(*next).value_or(false)
                                               : !live_clusters_.insert(*next).second;
        if (claimed) {
          ended_ = true;
          break;
        }
      }
      cluster_ = *next;
      offset_ = 0;
    }
    Slot slot;
    slot.cluster = cluster_;
    slot.offset = static_cast<std::uint32_t>(offset_);
    if (v_.reader->read(entry::bytes, slot.bytes.data(),
                        v_.layout.cluster_position(cluster_) + offset_) != entry::bytes) {
      ended_ = true;
      break;
    }
    offset_ += entry::bytes;
    queue_.push_back(slot);
  }
  return queue_.size() >= want;
}

std::optional<std::uint32_t> ExfatScanner::continuation() {
  if (!current_->deleted || !current_->contiguous) return std::nullopt;
  const std::uint64_t next = std::uint64_t{cluster_} + 1;
  const auto cluster_bytes = static_cast<std::uint64_t>(v_.layout.cluster_bytes());
  if (!v_.layout.cluster_in_volume(next) || (walked_ + 1) * cluster_bytes > max_directory_bytes) {
    return std::nullopt;
  }
  const auto c = static_cast<std::uint32_t>(next);
  if (v_.bitmap->in_use(c).value_or(true) || live_clusters_.count(c) != 0 ||
      deleted_clusters_.count(c) != 0) {
    return std::nullopt;
  }
  std::uint8_t type = 0;
  if (v_.reader->read(1, &type, v_.layout.cluster_position(c)) != 1) return std::nullopt;
  const std::uint8_t kind = type | entry::in_use;
  if (kind != entry::file && kind != entry::stream_extension && kind != entry::file_name) {
    return std::nullopt;
  }
  // fill() claims it, as it does every later cluster of a walk.
  return c;
}

void ExfatScanner::walk(const PendingDirectory& d) {
  clusters_.emplace(v_.layout, &*v_.fat_reader, d.first_cluster,
                    std::min(d.length, max_directory_bytes), d.contiguous);
  current_ = &d;
  cluster_ = 0;
  offset_ = 0;
  ended_ = false;
  walked_ = 0;
  queue_.clear();
  std::vector<PendingDirectory> children;
  std::vector<std::uint8_t> set_bytes;
  while (!run_.stop_requested()) {
    run_.pump_events();
    if (!fill(1)) break;
    const std::uint8_t type = queue_.front().bytes[0];
    // The end marker: nothing after it was ever used. In a cluster that holds another file's
    // data now, a zero byte is that data's.
    if (type == entry::end_of_directory && !d.reused) break;
    std::size_t consumed = 1;
    if ((type | entry::in_use) == entry::file) {
      const std::size_t n =
          1 +
          std::min<std::size_t>(queue_.front().bytes[file_entry::secondary_count], max_secondary);
      fill(n);
      set_bytes.clear();
      for (std::size_t k = 0; k < std::min(n, queue_.size()); ++k) {
        set_bytes.insert(set_bytes.end(), queue_[k].bytes.begin(), queue_[k].bytes.end());
      }
      if (const auto set = decode_entry_set(set_bytes)) {
        take_set(*set, queue_.front(), d, children);
        consumed = set->entries;
      }
    }
    for (std::size_t k = 0; k < consumed && !queue_.empty(); ++k) queue_.pop_front();
  }
  queue_.clear();
  current_ = nullptr;
  // Sub-folders are walked in the order they stand in the folder.
  for (auto it = children.rbegin(); it != children.rend(); ++it) stack_.push_back(*it);
}

void ExfatScanner::take_set(const EntrySet& set, const Slot& first, const PendingDirectory& d,
                            std::vector<PendingDirectory>& children) {
  const bool deleted = set.deleted || d.deleted;
  // In a cluster that holds another file's data now, only a deleted set whose checksum
  // matches is an entry set and not data that looks like one.
  if (d.reused && (!set.deleted || !set.checksum_ok)) return;
  if (set.directory()) {
    open_directory(set, deleted, d.dir_id, children);
    return;
  }
  if (!deleted) {
    live_bytes_ += static_cast<std::int64_t>(std::min<std::uint64_t>(set.data_length, 1ull << 50));
    if (++live_count_ % 100 == 0) show_progress();
    return;
  }
  if (set.data_length == 0) return;
  add_file(set, first, d);
}

void ExfatScanner::open_directory(const EntrySet& set, bool deleted, std::int32_t parent_id,
                                  std::vector<PendingDirectory>& children) {
  const std::uint32_t first = set.first_cluster;
  if (deep_) {
    // A folder's first cluster bounds the files found beside it like a file's does.
    engine::ClusterClaim claim;
    claim.first = first;
    claim.live = !set.deleted;
    claim.modified = set.modified;
    deep_claims_.push_back(claim);
  }
  if (!v_.layout.cluster_in_volume(first) || set.data_length == 0) return;
  PendingDirectory d;
  d.first_cluster = first;
  d.length = set.data_length;
  d.deleted = deleted;
  if (deleted) {
    if (live_clusters_.count(first) != 0 || deleted_clusters_.count(first) != 0) return;
    // A deleted folder whose cluster is in use again is read last, once every live folder has
    // claimed its clusters, and only for sets that prove themselves (see take_set).
    d.reused = v_.bitmap->in_use(first).value_or(false);
    if (!d.reused) deleted_clusters_.insert(first);
    // Its FAT chain, if it had one, is usually gone with it.
    d.contiguous = cluster_order(v_, set) != ClusterOrder::fat_chain;
  } else {
    if (!live_clusters_.insert(first).second) return;
    d.contiguous = set.no_fat_chain;
  }
  d.dir_id = folders_.register_directory(first, set.name, deleted, parent_id);
  (d.reused ? reused_ : children).push_back(d);
}

void ExfatScanner::add_file(const EntrySet& set, const Slot& first, const PendingDirectory& d) {
  catalogue::FoundFile record;
  record.drive_index = volume_.drive_index;
  record.fs_kind = volume_.kind;
  record.drive_letter = volume_.drive_letter;
  record.record_no = catalogue_.deleted_count();
  record.first_cluster = set.first_cluster;
  // Sizes beyond what an int64 holds are damage; they are shown as the largest size.
  record.size = static_cast<std::int64_t>(
      std::min<std::uint64_t>(set.data_length, std::numeric_limits<std::int64_t>::max()));
  record.name = set.name;
  auto path = path_of_dir_.find(d.dir_id);
  if (path == path_of_dir_.end()) {
    path = path_of_dir_.emplace(d.dir_id, folders_.build_path(d.dir_id)).first;
  }
  record.path = path->second;
  record.parent_dir = d.dir_id;
  record.quality = file_quality(v_, set);
  if (d.reused) {
    // The folder's cluster was written since: the set stood its test, but less is certain.
    record.quality = static_cast<std::int8_t>(record.quality / 2);
  }
  if (!set.checksum_ok) {
    // The set's bytes are not all as written: its name, size or clusters may be wrong.
    ++checksum_mismatches_;
    record.quality = static_cast<std::int8_t>(record.quality / 2);
  }
  record.created = set.created;
  record.modified = set.modified;
  record.entry_cluster = first.cluster;
  record.entry_offset = static_cast<std::int32_t>(first.offset);
  record.entry_flags = d.contiguous ? entry_in_contiguous_directory : 0;
  record.found_by_deep_scan = deep_ ? 1 : 0;
  if (deep_) {
    engine::ClusterClaim claim;
    claim.first = set.first_cluster;
    const auto cluster_bytes = static_cast<std::uint64_t>(v_.layout.cluster_bytes());
    claim.clusters =
        (set.data_length + cluster_bytes - 1) / std::max<std::uint64_t>(cluster_bytes, 1);
    claim.live = !set.deleted;
    claim.modified = set.modified;
    claim.record = catalogue_.files().size();
    // A set without a FAT chain says its clusters follow one another; only a guess is tested.
    claim.regrade = !set.no_fat_chain;
    deep_claims_.push_back(claim);
  }
  if (record.quality > 0) {
    FileClusters clusters(v_, set);
    const std::size_t index = catalogue_.files().size();
    while (const auto c = clusters.next()) {
      if (!claims_.empty() && claims_.back().record == index && claims_.back().end == *c) {
        ++claims_.back().end;
      } else {
        claims_.push_back({*c, *c + 1, index});
      }
    }
  }
  catalogue_.add(record);
  channel_.set_file_counter(catalogue_.deleted_count());
}

void ExfatScanner::grade_overlaps() {
  if (claims_.empty()) return;
  auto& files = catalogue_.files();
  std::sort(claims_.begin(), claims_.end(),
            [](const Claim& a, const Claim& b) { return a.first < b.first; });
  // Per file: clusters another, later file also claims, and whether its first one is among
  // them. The later file (by modification time) wrote last; with equal times both lose.
  std::unordered_map<std::size_t, std::pair<std::uint64_t, bool>> lost;
  std::vector<const Claim*> active;
  for (const Claim& c : claims_) {
    std::erase_if(active, [&](const Claim* a) { return a->end <= c.first; });
    for (const Claim* a : active) {
      if (a->record == c.record) continue;
      const std::uint32_t end = std::min(a->end, c.end);
      const catalogue::FoundFile& x = files[a->record];
      const catalogue::FoundFile& y = files[c.record];
      for (const std::size_t loser : {a->record, c.record}) {
        const catalogue::FoundFile& other = loser == a->record ? y : x;
        if (files[loser].modified > other.modified) continue;
        auto& [count, first_taken] = lost[loser];
        count += end - c.first;
        const auto first = static_cast<std::uint64_t>(files[loser].first_cluster);
        first_taken = first_taken || (first >= c.first && first < end);
      }
    }
    if (active.size() < most_overlapping_claims) active.push_back(&c);
  }
  const auto cluster_bytes = static_cast<std::uint64_t>(v_.layout.cluster_bytes());
  for (const auto& [index, loss] : lost) {
    catalogue::FoundFile& f = files[index];
    const std::uint64_t needed =
        (static_cast<std::uint64_t>(f.size) + cluster_bytes - 1) / cluster_bytes;
    if (loss.second || loss.first >= needed) {
      f.quality = 0;
    } else {
      f.quality = static_cast<std::int8_t>(f.quality * (needed - loss.first) / needed);
    }
  }
}

void ExfatScanner::grade_deep_finds() {
  engine::grade_deep_finds(std::move(deep_claims_), catalogue_.files(), first_record_,
                           v_.layout.cluster_bytes());
}

void ExfatScanner::show_progress() {
  if (live_bytes_ <= 0) return;
  const std::int64_t percent =
      used_bytes_ <= 0 ? 0 : (live_bytes_ >= used_bytes_ ? 100 : live_bytes_ * 100 / used_bytes_);
  channel_.set_progress(static_cast<std::int32_t>(percent));
}

bool scan_exfat_volume(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                       run::RunControl& run, messages::StatusChannel& channel, bool deep) {
  ExfatVolume v(volume, channel, run);
  if (!v.usable()) {
    channel.log(channel.text(messages::error_prefix) + v.problem);
    return false;
  }
  if (!v.boot_checksum_ok) {
    channel.log(channel.text(messages::error_prefix) +
                channel.text(messages::boot_checksum_mismatch));
  }
  if (!v.bitmap->usable()) {
    channel.log(channel.text(messages::error_prefix) +
                channel.text(messages::allocation_bitmap_unreadable));
  }
  channel.set_progress_range(100);
  channel.set_progress(0);
  ExfatScanner scanner(v, volume, catalogue, run, channel);
  scanner.run();
  if (deep && !run.stop_requested()) scanner.deep_pass();
  scanner.grade_overlaps();
  if (deep) scanner.grade_deep_finds();
  if (scanner.checksum_mismatches() > 0) {
    channel.log(channel.text(messages::error_prefix) +
                channel.text(messages::entry_set_checksum_mismatches) +
                std::to_string(scanner.checksum_mismatches()));
  }
  channel.set_progress(100);
  return true;
}

}  // namespace fennick::exfat

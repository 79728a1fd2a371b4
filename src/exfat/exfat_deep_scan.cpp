// The exFAT deep pass: after the walk from the root, every free cluster of the heap that no
// walk read is read once, in order, through a large window. A cluster that holds an entry set
// whose checksum matches is taken for a folder's cluster; the folder sets among them name the
// first clusters (and lengths) of their sub-folders, which nests the folders found. exFAT
// folders hold no link to their parent, so the top of each nest goes under "Lost folders":
// with its own name when some found set names it, else with one made up from its cluster.
// The folders are then walked as deleted folders; after a quick format the sets in them are
// still marked in use, and their files are listed as lost all the same.
#include <algorithm>
#include <map>
#include <vector>

#include "engine/read_problems.h"
#include "exfat/exfat_scanner.h"
#include "messages/program_texts.h"

namespace fennick::exfat {

namespace {

// The deep pass reads through a window of this many 512-byte units (4 MiB).
constexpr std::uint16_t deep_window_units = 8192;
// The most of a cluster looked at for entry sets (a cluster may be 32 MiB).
constexpr std::uint32_t deep_look_bytes = 4u << 20;

// A folder that a set found by the deep pass names.
struct NamedFolder {
  std::string name;
  std::uint64_t length = 0;    // bytes, from its set
  std::uint32_t named_in = 0;  // the cluster holding that set
};

}  // namespace

std::int32_t ExfatScanner::lost_folders_id() {
  if (lost_folders_id_ < 0) {
    lost_folders_id_ = folders_.register_directory(0, channel_.text(messages::lost_folders), true,
                                                   catalogue::ROOT_FOLDER_ID);
  }
  return lost_folders_id_;
}

void ExfatScanner::deep_pass() {
  volume::SectorReader reader(volume_.source, deep_window_units, engine::report_to(channel_, run_),
                              v_.layout.extent());
  if (reader.error != 0) return;
  deep_ = true;
  const std::uint32_t cluster_bytes = static_cast<std::uint32_t>(v_.layout.cluster_bytes());
  const std::uint32_t look = std::min(cluster_bytes, deep_look_bytes);
  // A set may run on into the next cluster: as much of it as the longest set needs is read
  // with the cluster, for the sets that begin in it.
  const std::uint32_t longest_set = (1 + max_secondary) * entry::bytes;
  std::vector<std::uint8_t> bytes;
  // Clusters holding a set that proves itself, in order, and the folders their sets name by
  // first cluster.
  std::vector<std::uint32_t> found;
  std::map<std::uint32_t, NamedFolder> named;
  const std::uint32_t first = 2;
  const std::uint64_t end = std::uint64_t{first} + v_.layout.cluster_count;
  channel_.set_progress(0);
  for (std::uint64_t n = first; n < end; ++n) {
    const auto c = static_cast<std::uint32_t>(n);
    if ((c & 0x3FF) == 0) {
      run_.pump_events();
      if (run_.stop_requested()) return;
      channel_.set_progress(static_cast<std::int32_t>((n - first) * 100 / (end - first)));
    }
    if (live_clusters_.count(c) != 0 || deleted_clusters_.count(c) != 0) continue;
    // Clusters in use hold live files now; where the bitmap cannot say, the cluster is read.
    if (v_.bitmap->in_use(c).value_or(false)) continue;
    const std::uint32_t span = look + (v_.layout.cluster_in_volume(n + 1) ? longest_set : 0);
    bytes.resize(span);
    if (reader.read(span, bytes.data(), v_.layout.cluster_position(c)) != span) continue;
    bool holds_set = false;
    for (std::size_t at = 0; at < look; at += entry::bytes) {
      if ((bytes[at] | entry::in_use) != entry::file) continue;
      const auto set = decode_entry_set(volume::ByteSpan(bytes).subspan(at));
      if (!set || !set->checksum_ok) continue;
      holds_set = true;
      if (set->directory() && v_.layout.cluster_in_volume(set->first_cluster) &&
          set->data_length > 0) {
        named.try_emplace(set->first_cluster, NamedFolder{set->name, set->data_length, c});
      }
      at += (set->entries - 1) * entry::bytes;
    }
    if (holds_set) found.push_back(c);
  }
  const auto is_found = [&](std::uint32_t c) {
    return std::binary_search(found.begin(), found.end(), c);
  };
  // The named folder whose clusters (read as contiguous) hold cluster c, else c itself when
  // it was found; none when neither.
  const auto folder_holding = [&](std::uint32_t c) -> std::optional<std::uint32_t> {
    auto it = named.upper_bound(c);
    if (it != named.begin()) {
      --it;
      const std::uint64_t clusters = (it->second.length + cluster_bytes - 1) / cluster_bytes;
      if (is_found(it->first) && c - it->first < clusters) return it->first;
    }
    if (is_found(c)) return c;
    return std::nullopt;
  };
  for (const std::uint32_t c : found) {
    if (run_.stop_requested()) return;
    if (deleted_clusters_.count(c) != 0 || live_clusters_.count(c) != 0) continue;
    // The top of the nest: up through the folders that hold the sets naming each folder.
    std::uint32_t top = folder_holding(c).value_or(c);
    for (int depth = 0; depth < 64; ++depth) {
      const auto name = named.find(top);
      if (name == named.end()) break;
      const auto above = folder_holding(name->second.named_in);
      if (!above || *above == top || deleted_clusters_.count(*above) != 0 ||
          live_clusters_.count(*above) != 0) {
        break;
      }
      top = *above;
    }
    if (deleted_clusters_.count(top) != 0) top = c;
    PendingDirectory d;
    d.first_cluster = top;
    d.deleted = true;
    d.contiguous = true;  // its FAT chain, if it had one, went with the format or the delete
    const auto name = named.find(top);
    if (name != named.end()) {
      d.length = name->second.length;
      d.dir_id = folders_.register_directory(top, name->second.name, true, lost_folders_id());
    } else {
      // One cluster, and those after it while they begin with entries (see continuation).
      d.length = cluster_bytes;
      d.dir_id = folders_.register_directory(
          top, channel_.text(messages::made_up_folder_name) + std::to_string(top), true,
          lost_folders_id());
    }
    deleted_clusters_.insert(top);
    walk(d);
    drain();
    walk_reused();
  }
}

}  // namespace fennick::exfat

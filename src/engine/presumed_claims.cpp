// Grades of presumed-contiguous files against the entries found beside them.
#include "engine/presumed_claims.h"

#include <algorithm>

#include "engine/grading.h"

namespace fennick::engine {

namespace {

// Whether other's first cluster, met inside claim's run, stops that run there.
bool stops(const ClusterClaim& claim, const ClusterClaim& other) {
  return other.live || other.modified > claim.modified;
}

}  // namespace

void grade_presumed_claims(std::vector<ClusterClaim> claims,
                           std::vector<catalogue::FoundFile>& files) {
  std::sort(claims.begin(), claims.end(), [](const ClusterClaim& a, const ClusterClaim& b) {
    return a.first < b.first || (a.first == b.first && a.live && !b.live);
  });
  // Each run cut at the first cluster of the first entry that stops it.
  std::vector<std::uint64_t> end(claims.size());
  for (std::size_t i = 0; i < claims.size(); ++i) {
    const ClusterClaim& c = claims[i];
    const std::uint64_t presumed = c.first + std::max<std::uint64_t>(c.clusters, 1);
    end[i] = presumed;
    std::size_t met = 0;
    for (std::size_t j = i + 1; j < claims.size() && claims[j].first < presumed; ++j) {
      if (claims[j].first == c.first) continue;  // the same start: judged below
      if (stops(c, claims[j]) || ++met >= max_claims_met) {
        end[i] = claims[j].first;
        break;
      }
    }
  }
  // A run cut short went on in the free clusters after the cut, as a file written into a
  // fragmented volume does: those of entries deleted before it was written, in order, until
  // it had its clusters. Live entries and later ones it went past.
  std::vector<bool> overwritten(claims.size(), false);
  for (std::size_t i = 0; i < claims.size(); ++i) {
    const ClusterClaim& c = claims[i];
    const std::uint64_t presumed = c.first + std::max<std::uint64_t>(c.clusters, 1);
    if (end[i] >= presumed) continue;
    std::uint64_t still_needed = presumed - end[i];
    std::size_t met = 0;
    for (std::size_t j = i + 1; j < claims.size() && still_needed > 0 && met < max_claims_met;
         ++j) {
      const ClusterClaim& d = claims[j];
      if (d.first < end[i] || (d.record && d.record == c.record)) continue;
      ++met;
      if (d.live || d.modified > c.modified || (d.modified == c.modified && !c.live)) continue;
      overwritten[j] = true;
      still_needed -= std::min(still_needed, std::max<std::uint64_t>(d.clusters, 1));
    }
  }
  // Claims whose (cut) run holds a later claim's first cluster, kept while they last.
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < claims.size(); ++i) {
    const ClusterClaim& c = claims[i];
    std::erase_if(open, [&](std::size_t k) { return end[k] <= c.first; });
    bool taken = overwritten[i];
    for (const std::size_t k : open) {
      const ClusterClaim& other = claims[k];
      if (other.record == c.record && c.record) continue;
      // A live file's cluster was its own: only a file written after the format (modified
      // later and not of the same old volume's live files) took it.
      const bool other_later = other.modified > c.modified;
      if ((other.live && !c.live) || (other_later && !(c.live && !other.live))) {
        taken = true;
        break;
      }
    }
    if (c.regrade && c.record && *c.record < files.size()) {
      catalogue::FoundFile& f = files[*c.record];
      if (taken) {
        f.quality = std::min<std::int8_t>(f.quality, 0);
      } else if (end[i] < c.first + c.clusters && f.quality > 0) {
        const auto whole = static_cast<std::int64_t>(c.clusters);
        const auto part = static_cast<std::int64_t>(end[i] - c.first);
        f.quality = std::min(f.quality, share_percent(part, whole));
      }
    }
    if (open.size() < max_claims_met) open.push_back(i);
  }
}

void grade_deep_finds(std::vector<ClusterClaim> deep_claims,
                      std::vector<catalogue::FoundFile>& files, std::size_t first_record,
                      std::int64_t cluster_bytes) {
  if (deep_claims.empty()) return;
  cluster_bytes = std::max<std::int64_t>(cluster_bytes, 1);
  for (std::size_t i = first_record; i < files.size(); ++i) {
    if (files[i].found_by_deep_scan) continue;
    ClusterClaim claim;
    claim.first = static_cast<std::uint64_t>(std::max<std::int64_t>(files[i].first_cluster, 0));
    claim.clusters = static_cast<std::uint64_t>(
        (std::max<std::int64_t>(files[i].size, 0) + cluster_bytes - 1) / cluster_bytes);
    claim.modified = files[i].modified;
    claim.record = i;
    deep_claims.push_back(claim);
  }
  grade_presumed_claims(std::move(deep_claims), files);
}

}  // namespace fennick::engine

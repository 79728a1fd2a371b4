// Reading around unreadable stretches of a medium.
#include "volume/read_faults.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace fennick::volume {

bool is_gone_error(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM || error == ENOTCONN ||
         error == ESHUTDOWN;
}

std::uint64_t ReadFaults::known_bad_end(std::uint64_t offset) const {
  auto it = bad_.upper_bound(offset);
  if (it == bad_.begin()) return 0;
  --it;
  return offset < it->second ? it->second : 0;
}

std::uint64_t ReadFaults::next_known_bad(std::uint64_t offset, std::uint64_t limit) const {
  if (known_bad_end(offset) != 0) return offset;
  const auto it = bad_.upper_bound(offset);
  return it != bad_.end() && it->first < limit ? it->first : limit;
}

void ReadFaults::remember(std::uint64_t begin, std::uint64_t end) {
  auto it = bad_.upper_bound(begin);
  bool merged = false;
  if (it != bad_.begin()) {
    const auto before = std::prev(it);
    if (before->second >= begin) {
      begin = before->first;
      end = std::max(end, before->second);
      it = bad_.erase(before);
      merged = true;
    }
  }
  while (it != bad_.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = bad_.erase(it);
    merged = true;
  }
  if (!merged && bad_.size() >= most_remembered) return;
  bad_.emplace(begin, end);
}

SourceResult ReadFaults::read(std::uint64_t offset, std::uint8_t* destination, std::size_t count,
                              const Reader& raw, const Presence& present) {
  SourceResult result;
  if (gone_) {
    result.read_error = source_gone;
    return result;
  }
  if (count == 0 || destination == nullptr) return result;
  if (offset > std::numeric_limits<std::uint64_t>::max() - count) {
    result.read_error = EINVAL;
    return result;
  }
  const std::uint64_t end = offset + count;

  // Is the medium gone, judging by this error? The presence check is asked once per request.
  bool presence_asked = false;
  bool still_present = true;
  const auto gone_by = [&](int error) {
    if (is_gone_error(error)) return true;
    if (!presence_asked) {
      presence_asked = true;
      still_present = !present || present();
    }
    return !still_present;
  };
  const auto gone_now = [&] {
    gone_ = true;
    result = SourceResult{};
    result.read_error = source_gone;
    return result;
  };

  bool whole_failed = false;
  if (next_known_bad(offset, end) == end) {
    const RawRead r = raw(offset, destination, count);
    if (r.error == 0) {
      result.bytes = r.bytes;
      return result;
    }
    if (gone_by(r.error)) return gone_now();
    whole_failed = true;
  }

  // Piece by piece: known unreadable stretches are not asked for again; the readable pieces
  // between them are read whole, and a piece that fails is read unit by unit.
  std::uint64_t delivered_end = offset;
  bool end_of_medium = false;
  int in_a_row = 0;
  const auto unreadable = [&](std::uint64_t begin, std::uint64_t stop, bool first_seen) {
    std::memset(destination + (begin - offset), 0, static_cast<std::size_t>(stop - begin));
    if (first_seen) remember(begin, stop);
    const std::uint64_t at = begin - offset;
    if (!result.unreadable.empty()) {
      UnreadableStretch& last = result.unreadable.back();
      if (last.offset + last.length == at && last.first_seen == first_seen) {
        last.length += stop - begin;
        delivered_end = stop;
        return;
      }
    }
    result.unreadable.push_back({at, stop - begin, first_seen});
    delivered_end = stop;
  };

  std::uint64_t p = offset;
  while (p < end && !end_of_medium) {
    if (const std::uint64_t bad_end = known_bad_end(p)) {
      const std::uint64_t stop = std::min(bad_end, end);
      unreadable(p, stop, false);
      p = stop;
      continue;
    }
    const std::uint64_t good_end = next_known_bad(p, end);
    if (!(whole_failed && p == offset && good_end == end)) {
      const RawRead r = raw(p, destination + (p - offset), static_cast<std::size_t>(good_end - p));
      if (r.error == 0) {
        delivered_end = p + static_cast<std::uint64_t>(r.bytes);
        end_of_medium = static_cast<std::uint64_t>(r.bytes) < good_end - p;
        in_a_row = 0;
        p = good_end;
        continue;
      }
      if (gone_by(r.error)) return gone_now();
    }
    for (std::uint64_t u = p; u < good_end && !end_of_medium;) {
      if (in_a_row >= give_up_after) {
        // A dead stretch: the rest of this piece is not tried.
        unreadable(u, good_end, true);
        break;
      }
      const std::uint64_t unit_end = std::min(good_end, (u / unit + 1) * unit);
      const RawRead r = raw(u, destination + (u - offset), static_cast<std::size_t>(unit_end - u));
      if (r.error == 0) {
        in_a_row = 0;
        delivered_end = u + static_cast<std::uint64_t>(r.bytes);
        end_of_medium = static_cast<std::uint64_t>(r.bytes) < unit_end - u;
      } else if (gone_by(r.error)) {
        return gone_now();
      } else {
        ++in_a_row;
        unreadable(u, unit_end, true);
      }
      u = unit_end;
    }
    p = good_end;
  }
  if (result.unreadable.empty()) {
    result.bytes = static_cast<std::int64_t>(delivered_end - offset);
    return result;
  }
  result.read_error = EIO;
  result.salvaged = static_cast<std::int64_t>(delivered_end - offset);
  return result;
}

}  // namespace fennick::volume

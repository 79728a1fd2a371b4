// Unreadable bytes of a recovered file.
#include "engine/unreadable_bytes.h"

#include <algorithm>

namespace fennick::engine {

void UnreadableBytes::add(std::int64_t first, std::int64_t count) {
  if (count <= 0 || first < 0) return;
  total_ += count;
  if (!ranges_.empty() && ranges_.back().second == first) {
    ranges_.back().second += count;
    return;
  }
  ranges_.emplace_back(first, first + count);
}

void UnreadableBytes::add_from_volume(const std::vector<volume::ByteStretch>& stretches,
                                      std::int64_t volume_position, std::int64_t file_offset,
                                      std::int64_t file_size) {
  for (const volume::ByteStretch& s : stretches) {
    const std::int64_t first = file_offset + (s.first - volume_position);
    // Past the file's size the bytes never reach the output.
    const std::int64_t end = std::min(first + s.count, file_size);
    if (end > first) add(first, end - first);
  }
}

}  // namespace fennick::engine

// Unreadable bytes of a recovered file.
#include "engine/unreadable_bytes.h"

#include <algorithm>

#include "messages/program_texts.h"

namespace fennick::engine {

namespace {
// Ranges named in the log line; a dying disk may leave thousands.
constexpr std::size_t ranges_named = 8;
}  // namespace

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

std::string UnreadableBytes::log_line(const messages::StatusChannel& channel,
                                      const std::string& output_path) const {
  std::string text = channel.text(messages::zeros_for_unreadable_bytes) + output_path + ": ";
  for (std::size_t i = 0; i < ranges_.size() && i < ranges_named; ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(ranges_[i].first) + "-" + std::to_string(ranges_[i].second - 1);
  }
  if (ranges_.size() > ranges_named) {
    text += " (+" + std::to_string(ranges_.size() - ranges_named) + ")";
  }
  return text;
}

}  // namespace fennick::engine

// Bytes of a recovered file that are zeros in place of what it held: those the medium could
// not deliver, or those a damaged compressed unit did not decode to. The log names the byte
// ranges (engine/recovery_result.h), so that the user knows which parts of the file to
// distrust (or to read again from a better copy of the medium).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "volume/sector_reader.h"

namespace fennick::engine {

class UnreadableBytes {
 public:
  // Bytes [first, first + count) of the file; adjacent ranges are joined.
  void add(std::int64_t first, std::int64_t count);
  // The volume stretches of a salvaging read that delivered the file's bytes from
  // file_offset on out of the volume's bytes from volume_position on.
  void add_from_volume(const std::vector<volume::ByteStretch>& stretches,
                       std::int64_t volume_position, std::int64_t file_offset,
                       std::int64_t file_size);
  bool empty() const { return ranges_.empty(); }
  // The ranges, each [first, end), in file order.
  const std::vector<std::pair<std::int64_t, std::int64_t>>& ranges() const { return ranges_; }
  std::int64_t total() const { return total_; }

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;  // [first, end)
  std::int64_t total_ = 0;
};

}  // namespace fennick::engine

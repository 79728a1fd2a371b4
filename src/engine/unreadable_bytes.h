// The bytes of a recovered file that the medium could not deliver. The file is written with
// zeros there and reported as failed; the log names the byte ranges, so that the user knows
// which parts of the file to distrust (or to read again from a better copy of the medium).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "messages/status_channel.h"
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

  // The log line that reports the file as failed, in the channel's language: the output path
  // and where its zeros are ("4608-5631, 12288-16383", the first few ranges, then "(+N)" for
  // how many more there are).
  std::string log_line(const messages::StatusChannel& channel,
                       const std::string& output_path) const;

 private:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;  // [first, end)
  std::int64_t total_ = 0;
};

}  // namespace fennick::engine

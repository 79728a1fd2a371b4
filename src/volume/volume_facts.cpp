// The source reads the file-system probes share.
#include "volume/volume_facts.h"

#include <algorithm>
#include <bit>

namespace fennick::volume {

std::vector<std::uint8_t> read_bytes(VolumeSource& source, std::uint64_t offset,
                                     std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  const SourceResult r = source.read_at(offset, bytes.data(), count);
  bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(r.bytes, 0)));
  return bytes;
}

std::uint64_t count_zero_bits(VolumeSource& source, std::uint64_t offset, std::uint64_t bits,
                              std::uint64_t& counted) {
  std::uint64_t zeros = 0;
  counted = 0;
  while (counted < bits) {
    const std::uint64_t bytes_left = (bits - counted + 7) / 8;
    const std::vector<std::uint8_t> piece = read_bytes(
        source, offset + counted / 8, std::min<std::uint64_t>(facts_piece_bytes, bytes_left));
    if (piece.empty()) break;
    for (const std::uint8_t byte : piece) {
      const std::uint64_t in_byte = std::min<std::uint64_t>(8, bits - counted);
      const std::uint8_t mask = static_cast<std::uint8_t>((1u << in_byte) - 1);
      zeros += in_byte - static_cast<unsigned>(std::popcount(static_cast<unsigned>(byte & mask)));
      counted += in_byte;
    }
  }
  return zeros;
}

}  // namespace fennick::volume

// LZNT1 decoder.
#include "ntfs/lznt1.h"

#include <algorithm>

namespace fennick::ntfs {

namespace {

constexpr std::uint16_t chunk_length_mask = 0x0FFF;
constexpr std::uint16_t chunk_compressed = 0x8000;

// Offset bits of a back-reference at the given position within the chunk's output: the
// fewest that can reach back to the chunk's start, from 4 up to 12.
unsigned offset_bits(std::size_t position) {
  unsigned bits = 4;
  for (std::size_t p = position - 1; p >= 0x10; p >>= 1) ++bits;
  return std::min(bits, 12u);
}

// Decodes one compressed chunk's data into out[start, end). Returns the status and moves o.
Lznt1Status decode_chunk(std::span<const std::uint8_t> data, std::span<std::uint8_t> out,
                         std::size_t start, std::size_t end, std::size_t& o) {
  std::size_t q = 0;
  while (q < data.size()) {
    const std::uint8_t flags = data[q++];
    for (int bit = 0; bit < 8 && q < data.size(); ++bit) {
      if (((flags >> bit) & 1) == 0) {
        if (o >= end)
          return end < start + lznt1_chunk_size ? Lznt1Status::output_full : Lznt1Status::corrupt;
        out[o++] = data[q++];
        continue;
      }
      if (q + 2 > data.size()) return Lznt1Status::truncated;
      const std::uint16_t token = static_cast<std::uint16_t>(data[q] | (data[q + 1] << 8));
      q += 2;
      const std::size_t position = o - start;
      if (position == 0) return Lznt1Status::corrupt;
      const unsigned bits = offset_bits(position);
      const std::size_t length = (token & (0xFFFFu >> bits)) + 3;
      const std::size_t offset = (token >> (16 - bits)) + 1;
      if (offset > position) return Lznt1Status::corrupt;
      // Byte by byte: a reference may overlap the bytes it produces.
      for (std::size_t i = 0; i < length; ++i) {
        if (o >= end)
          return end < start + lznt1_chunk_size ? Lznt1Status::output_full : Lznt1Status::corrupt;
        out[o] = out[o - offset];
        ++o;
      }
    }
  }
  return Lznt1Status::ok;
}

}  // namespace

Lznt1Result lznt1_decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
  Lznt1Result result;
  std::size_t p = 0;
  std::size_t chunk_start = 0;
  while (p + 2 <= input.size()) {
    const std::uint16_t header = static_cast<std::uint16_t>(input[p] | (input[p + 1] << 8));
    if (header == 0) break;
    if (chunk_start >= output.size()) {
      result.status = Lznt1Status::output_full;
      break;
    }
    // A chunk after a short one starts at the next 4096-byte boundary; the gap is zeros.
    std::fill(output.begin() + static_cast<std::ptrdiff_t>(result.produced),
              output.begin() + static_cast<std::ptrdiff_t>(chunk_start), 0);
    const std::size_t length = static_cast<std::size_t>(header & chunk_length_mask) + 1;
    const std::size_t available = std::min(length, input.size() - p - 2);
    const auto data = input.subspan(p + 2, available);
    const std::size_t end = std::min(chunk_start + lznt1_chunk_size, output.size());
    std::size_t o = chunk_start;
    Lznt1Status status = Lznt1Status::ok;
    if (header & chunk_compressed) {
      status = decode_chunk(data, output, chunk_start, end, o);
    } else {
      const std::size_t n = std::min(data.size(), end - chunk_start);
      std::copy_n(data.begin(), n, output.begin() + static_cast<std::ptrdiff_t>(o));
      o += n;
      if (n < data.size()) {
        status =
            end < chunk_start + lznt1_chunk_size ? Lznt1Status::output_full : Lznt1Status::corrupt;
      }
    }
    result.produced = o;
    if (status == Lznt1Status::ok && available < length) status = Lznt1Status::truncated;
    if (status != Lznt1Status::ok) {
      result.status = status;
      break;
    }
    p += 2 + length;
    chunk_start += lznt1_chunk_size;
  }
  return result;
}

}  // namespace fennick::ntfs

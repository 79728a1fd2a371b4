// Fuzz target: the LZNT1 decoder. The first two bytes choose the output size (up to four
// compression units of 64 KiB), the rest is the compressed data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fennick::ntfs;
  if (size < 2) return 0;
  const std::size_t out_size = (std::size_t{data[0]} | std::size_t{data[1]} << 8) * 4;
  std::vector<std::uint8_t> output(out_size, 0xA5);
  const Lznt1Result r = lznt1_decompress(std::span(data + 2, size - 2), output);
  if (r.produced > output.size()) std::abort();
  return 0;
}

// LZNT1 decoding, the compression NTFS uses for compressed attributes.
//
// A compression unit's stored bytes are a sequence of chunks, each standing for up to 4096
// bytes of output. A chunk begins with a 16-bit little-endian header: bits 0-11 hold the
// chunk's data length minus 1 (the bytes after the header), bit 15 tells whether the data is
// compressed; a header of 0 ends the data. An uncompressed chunk's data is copied as it is.
// A compressed chunk's data is a series of groups: one flag byte, then eight tokens, the
// flag's bits taken from the least significant one. A clear bit is one literal byte; a set
// bit is a 16-bit back-reference whose split between offset and length depends on how far
// into the chunk's output it stands: the offset gets as many bits as the position needs
// (4 at least, 12 at most) and the length the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fennick::ntfs {

constexpr std::size_t lznt1_chunk_size = 4096;

enum class Lznt1Status {
  ok,           // every chunk decoded up to the end marker or the input's end
  output_full,  // the output could not hold everything; it holds what fitted
  truncated,    // a chunk claims more bytes than the input has; its part that is there was decoded
  corrupt,      // a back-reference points before the chunk's start or past its end
};

struct Lznt1Result {
  std::size_t produced = 0;  // output position after the last byte written
  Lznt1Status status = Lznt1Status::ok;
};

// Decodes input into output from its start. Every chunk starts at a multiple of 4096 in the
// output; a chunk that decodes to fewer bytes leaves zeros up to the next chunk. Bytes the
// data does not reach are left as they were. Decoding stops at the first damage; what was
// decoded until then stays in the output.
Lznt1Result lznt1_decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

}  // namespace fennick::ntfs

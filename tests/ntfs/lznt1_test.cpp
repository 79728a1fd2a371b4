// LZNT1 decoding on hand-made chunks: literals, back-references (overlapping ones too), the
// offset/length split moving with the position, uncompressed chunks, and damaged input.
#include "ntfs/lznt1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fennick::ntfs {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A compressed chunk around the given data bytes (flag bytes and tokens already in place).
Bytes compressed_chunk(const Bytes& data) {
  const auto header = static_cast<std::uint16_t>(0xB000 | (data.size() - 1));
  Bytes chunk = {static_cast<std::uint8_t>(header), static_cast<std::uint8_t>(header >> 8)};
  chunk.insert(chunk.end(), data.begin(), data.end());
  return chunk;
}

// Back-reference token at an output position within the chunk, built with the split that
// position uses.
std::uint16_t token(std::size_t position, std::size_t offset, std::size_t length) {
  unsigned bits = 4;
  for (std::size_t p = position - 1; p >= 0x10; p >>= 1) ++bits;
  return static_cast<std::uint16_t>(((offset - 1) << (16 - bits)) | (length - 3));
}

void add_token(Bytes& data, std::uint16_t t) {
  data.push_back(static_cast<std::uint8_t>(t));
  data.push_back(static_cast<std::uint8_t>(t >> 8));
}

// Builds a compressed chunk's data token by token, keeping the flag bytes right, and the
// output those tokens stand for.
class ChunkWriter {
 public:
  void literal(std::uint8_t c) {
    next_flag();
    data.push_back(c);
    expected.push_back(static_cast<char>(c));
  }
  void reference(std::size_t offset, std::size_t length) {
    data[flag_at_] |= static_cast<std::uint8_t>(1u << next_flag());
    add_token(data, token(expected.size(), offset, length));
    for (std::size_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - offset]);
  }
  Bytes data;
  std::string expected;

 private:
  int next_flag() {
    if (used_ == 8) {
      flag_at_ = data.size();
      data.push_back(0);
      used_ = 0;
    }
    return used_++;
  }
  std::size_t flag_at_ = 0;
  int used_ = 8;
};

std::string decode(const Bytes& input, std::size_t out_size, Lznt1Status* status = nullptr,
                   std::size_t* produced = nullptr) {
  Bytes out(out_size, 0xEE);
  const Lznt1Result r = lznt1_decompress(input, out);
  if (status) *status = r.status;
  if (produced) *produced = r.produced;
  return {out.begin(), out.begin() + static_cast<std::ptrdiff_t>(r.produced)};
}

TEST(Lznt1Test, LiteralsOnly) {
  Bytes data = {0x00};
  for (char c : std::string("abcdefgh")) data.push_back(static_cast<std::uint8_t>(c));
  data.push_back(0x00);
  data.push_back('i');
  Lznt1Status status;
  EXPECT_EQ(decode(compressed_chunk(data), 4096, &status), "abcdefghi");
  EXPECT_EQ(status, Lznt1Status::ok);
}

TEST(Lznt1Test, BackReferencesIncludingOverlappingCopies) {
  // "abc" then a reference 3 back of length 6 (overlapping: it reads what it writes), then
  // one literal and a reference 1 back of length 4 (a run of one byte).
  Bytes data = {0b00101000};  // three literals, a reference, a literal, a reference
  data.push_back('a');
  data.push_back('b');
  data.push_back('c');
  add_token(data, token(3, 3, 6));
  data.push_back('x');
  add_token(data, token(10, 1, 4));
  EXPECT_EQ(decode(compressed_chunk(data), 4096), "abcabcabcxxxxx");
}

TEST(Lznt1Test, TheSplitBetweenOffsetAndLengthFollowsThePosition) {
  // 300 literals, then at positions 300 and 320 references whose offsets need 9 bits: read
  // with the 4-bit split of the chunk's first 16 bytes they would decode to something else.
  ChunkWriter far;
  for (int i = 0; i < 300; ++i) far.literal(static_cast<std::uint8_t>(i % 251));
  far.reference(290, 20);
  far.reference(5, 3);
  EXPECT_EQ(decode(compressed_chunk(far.data), 4096), far.expected);

  // At position 16 an offset of 16 still fits 4 bits; at 20 the offset 17 needs the fifth,
  // and the length field shrinks to 11 bits.
  ChunkWriter edge;
  for (int i = 0; i < 16; ++i) edge.literal(static_cast<std::uint8_t>('a' + i));
  edge.reference(16, 3);
  edge.literal('!');
  edge.reference(17, 5);
  EXPECT_EQ(edge.expected.substr(16), "abc!defgh");
  EXPECT_EQ(decode(compressed_chunk(edge.data), 4096), edge.expected);

  // Near the chunk's end the offset takes 12 bits and the length only 4 (at most 18).
  ChunkWriter late;
  for (int i = 0; i < 3000; ++i) late.literal(static_cast<std::uint8_t>(i * 13 % 256));
  late.reference(2999, 18);
  late.reference(1, 3);
  EXPECT_EQ(decode(compressed_chunk(late.data), 4096), late.expected);
}

TEST(Lznt1Test, UncompressedChunksAndChunkBoundaries) {
  // An uncompressed chunk of 4096 bytes, then a compressed one that refers back only inside
  // itself, then the end marker.
  Bytes input = {0xFF, 0x3F};
  std::string expected;
  for (int i = 0; i < 4096; ++i) {
    input.push_back(static_cast<std::uint8_t>(i * 7));
    expected.push_back(static_cast<char>(i * 7));
  }
  Bytes data = {0b00000100, 'z', 'y'};
  add_token(data, token(2, 2, 10));
  const Bytes second = compressed_chunk(data);
  input.insert(input.end(), second.begin(), second.end());
  input.push_back(0);
  input.push_back(0);
  input.push_back(0xAA);  // after the end marker: never read
  expected += "zyzyzyzyzyzy";
  EXPECT_EQ(decode(input, 65536), expected);

  // A short chunk followed by another: the next one starts at 4096, zeros in between.
  Bytes short_chunk = compressed_chunk({0x00, 'q'});
  Bytes two = short_chunk;
  two.insert(two.end(), short_chunk.begin(), short_chunk.end());
  std::size_t produced = 0;
  const std::string out = decode(two, 8192, nullptr, &produced);
  ASSERT_EQ(produced, 4097u);
  EXPECT_EQ(out[0], 'q');
  EXPECT_EQ(out.substr(1, 4095), std::string(4095, '\0'));
  EXPECT_EQ(out[4096], 'q');
}

TEST(Lznt1Test, DamagedInputStopsInsideItsBuffers) {
  struct Case {
    const char* what;
    Bytes input;
    Lznt1Status status;
    std::string decoded;
  };
  Bytes before_start = {0b00000010, 'a'};
  add_token(before_start, token(1, 2, 3));  // two back from position 1
  Bytes at_start = {0b00000001};
  add_token(at_start, 0x0000);  // a reference before any byte
  Bytes past_chunk = {0b00000010, 'a'};
  add_token(past_chunk, token(1, 1, 4098));  // 4097 bytes would leave the chunk
  Bytes half_token = {0b00000010, 'a', 0x05};
  Bytes truncated = compressed_chunk({0x00, 'a', 'b', 'c', 'd'});
  truncated.resize(truncated.size() - 2);
  const std::vector<Case> cases = {
      {"offset before the chunk", compressed_chunk(before_start), Lznt1Status::corrupt, "a"},
      {"reference at position 0", compressed_chunk(at_start), Lznt1Status::corrupt, ""},
      {"copy past 4096", compressed_chunk(past_chunk), Lznt1Status::corrupt,
       std::string(4096, 'a')},
      {"token cut in half", compressed_chunk(half_token), Lznt1Status::truncated, "a"},
      {"chunk longer than the input", truncated, Lznt1Status::truncated, "ab"},
      {"header only", {0x05}, Lznt1Status::ok, ""},
      {"empty", {}, Lznt1Status::ok, ""},
  };
  for (const Case& c : cases) {
    Lznt1Status status;
    EXPECT_EQ(decode(c.input, 8192, &status), c.decoded) << c.what;
    EXPECT_EQ(status, c.status) << c.what;
  }
  // An output smaller than the data: filled, never overrun.
  Bytes data = {0x00, '1', '2', '3', '4', '5', '6', '7', '8'};
  Lznt1Status status;
  Bytes small(5, 0);
  const Lznt1Result r = lznt1_decompress(compressed_chunk(data), small);
  EXPECT_EQ(r.status, Lznt1Status::output_full);
  EXPECT_EQ(std::string(small.begin(), small.end()), "12345");
  (void)status;
}

}  // namespace
}  // namespace fennick::ntfs

// ShortString<N>: a text of at most N bytes stored inline, as the catalogue's records hold
// their names and paths. A longer text is cut to N bytes when stored, at a UTF-8 character
// boundary so that a cut never leaves half a character behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace fennick::catalogue {

// Length of the longest prefix of text that has at most limit bytes and does not end inside
// a UTF-8 sequence.
inline std::size_t utf8_cut_length(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t n = limit;
  // Step back over continuation bytes to the start of the character that crosses the limit.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

template <std::size_t N>
struct ShortString {
  static_assert(N <= 255, "the length is one byte");
  std::uint8_t length = 0;
  char bytes[N] = {};

  ShortString() = default;
  ShortString(std::string_view text) { assign(text); }  // NOLINT: implicit by design

  void assign(std::string_view text) {
    length = static_cast<std::uint8_t>(utf8_cut_length(text, N));
    std::memcpy(bytes, text.data(), length);
  }
  ShortString& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  std::string_view view() const { return {bytes, length}; }
  std::string str() const { return std::string(view()); }
  bool empty() const { return length == 0; }
  void clear() { length = 0; }
  friend bool operator==(const ShortString& a, std::string_view b) { return a.view() == b; }
};

}  // namespace fennick::catalogue

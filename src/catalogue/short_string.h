// ShortString<N>: a text with a limit, as the catalogue's records hold their names and paths.
// A longer text is cut when stored, at a UTF-8 character boundary so that a cut never leaves
// half a character behind.
//
// Short limits (below 16: file-system names, extensions) count bytes and keep them inside the
// record. Long ones (names, paths) count UTF-16 units, as the file systems count a name's
// length (255 for a name, whatever its script: a character outside the BMP counts two), and
// keep the text in a block of their own, shared by every copy: a record then costs a pointer,
// all the files of one folder share one path, and sorting a million records moves little.
// The text of a block never changes after it is made, so sharing is invisible to callers;
// assigning makes a new block, and the last copy to let go of a block frees it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

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

// Length in bytes of the longest prefix of text that holds at most limit UTF-16 units and does
// not end inside a UTF-8 sequence. A four-byte sequence (outside the BMP) counts two units; any
// other sequence, and a stray byte, one.
inline std::size_t utf16_cut_length(std::string_view text, std::size_t limit) {
  std::size_t units = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t bytes = 1;
    if (lead >= 0xF0 && lead < 0xF8) {
      bytes = 4;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      bytes = 3;
    } else if (lead >= 0xC0 && lead < 0xE0) {
      bytes = 2;
    }
    // A sequence cut short by the text's end or a byte that is no continuation counts alone.
    std::size_t have = 1;
    while (have < bytes && at + have < text.size() &&
           (static_cast<unsigned char>(text[at + have]) & 0xC0) == 0x80) {
      ++have;
    }
    if (have < bytes) bytes = have;
    const std::size_t count = bytes == 4 ? 2 : 1;
    if (units + count > limit) break;
    units += count;
    at += bytes;
  }
  return at;
}

// The text inside the object: for limits of a few bytes.
template <std::size_t N>
struct InlineShortString {
  static_assert(N <= 255, "the length is one byte");
  std::uint8_t length = 0;
  char bytes[N] = {};

  InlineShortString() = default;
  InlineShortString(std::string_view text) { assign(text); }  // NOLINT: implicit by design

  void assign(std::string_view text) {
    length = static_cast<std::uint8_t>(utf8_cut_length(text, N));
    std::memcpy(bytes, text.data(), length);
  }
  InlineShortString& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  std::string_view view() const { return {bytes, length}; }
  std::string str() const { return std::string(view()); }
  bool empty() const { return length == 0; }
  void clear() { length = 0; }
  friend bool operator==(const InlineShortString& a, std::string_view b) { return a.view() == b; }
};

// The text, of at most N UTF-16 units, in an immutable block shared by copies; the empty text
// holds no block.
template <std::size_t N>
class SharedShortString {
  static_assert(N <= 65535, "no file-system text is longer");

 public:
  constexpr SharedShortString() = default;
  SharedShortString(std::string_view text) { assign(text); }  // NOLINT: implicit by design
  SharedShortString(const SharedShortString& other) noexcept : block_(other.block_) { retain(); }
  SharedShortString(SharedShortString&& other) noexcept : block_(other.block_) {
    other.block_ = nullptr;
  }
  SharedShortString& operator=(const SharedShortString& other) noexcept {
    if (block_ != other.block_) {
      other.retain();
      release();
      block_ = other.block_;
    }
    return *this;
  }
  SharedShortString& operator=(SharedShortString&& other) noexcept {
    if (this != &other) {
      release();
      block_ = other.block_;
      other.block_ = nullptr;
    }
    return *this;
  }
  ~SharedShortString() { release(); }

  void assign(std::string_view text) {
    const std::size_t n = utf16_cut_length(text, N);
    Block* made = nullptr;
    if (n > 0) {
      void* memory = ::operator new(sizeof(Block) + n);
      made = new (memory) Block{};
      made->length = static_cast<std::uint32_t>(n);
      std::memcpy(made->text(), text.data(), n);
    }
    release();
    block_ = made;
  }
  SharedShortString& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  std::string_view view() const {
    return block_ ? std::string_view(block_->text(), block_->length) : std::string_view();
  }
  std::string str() const { return std::string(view()); }
  bool empty() const { return block_ == nullptr; }
  void clear() {
    release();
    block_ = nullptr;
  }
  friend bool operator==(const SharedShortString& a, std::string_view b) { return a.view() == b; }

 private:
  struct Block {
    std::atomic<std::uint32_t> references{1};
    std::uint32_t length = 0;
    char* text() { return reinterpret_cast<char*>(this + 1); }
    const char* text() const { return reinterpret_cast<const char*>(this + 1); }
  };
  static_assert(std::is_trivially_destructible_v<Block>);

  void retain() const {
    if (block_) block_->references.fetch_add(1, std::memory_order_relaxed);
  }
  void release() {
    if (block_ && block_->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      ::operator delete(block_);
    }
  }

  Block* block_ = nullptr;
};

template <std::size_t N>
using ShortString = std::conditional_t<(N < 16), InlineShortString<N>, SharedShortString<N>>;

}  // namespace fennick::catalogue

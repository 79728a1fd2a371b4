// ShortString<N>: a text of at most N bytes, as the catalogue's records hold their names and
// paths. A longer text is cut to N bytes when stored, at a UTF-8 character boundary so that a
// cut never leaves half a character behind.
//
// Short limits (file-system names, extensions) keep their bytes inside the record. Long ones
// (names and paths of up to 255 bytes) keep one length byte and the text in a block of their
// own, shared by every copy: a record then costs a pointer instead of 256 bytes, all the files
// of one folder share one path, and sorting a million records moves a sixth of the memory.
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

// The text in an immutable block shared by copies; the empty text holds no block.
template <std::size_t N>
class SharedShortString {
  static_assert(N <= 255, "the length is one byte");

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
    const std::size_t n = utf8_cut_length(text, N);
    Block* made = nullptr;
    if (n > 0) {
      void* memory = ::operator new(sizeof(Block) + n);
      made = new (memory) Block{};
      made->length = static_cast<std::uint8_t>(n);
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
    std::uint8_t length = 0;
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

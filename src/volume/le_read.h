// Little-endian field readers over a byte span.
//
// Volume bytes are untrusted: every read checks offset + width against the span and returns
// nothing when the field does not lie inside it, so a corrupt structure is a value the caller
// handles, never an out-of-bounds access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace fennick::volume {

using ByteSpan = std::span<const std::uint8_t>;

inline bool field_fits(ByteSpan bytes, std::size_t offset, std::size_t width) {
  return offset <= bytes.size() && width <= bytes.size() - offset;
}

template <typename T>
std::optional<T> read_le(ByteSpan bytes, std::size_t offset) {
  if (!field_fits(bytes, offset, sizeof(T))) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
  }
  return static_cast<T>(value);
}

inline std::optional<std::uint8_t> read_u8(ByteSpan bytes, std::size_t offset) {
  return read_le<std::uint8_t>(bytes, offset);
}
inline std::optional<std::uint16_t> read_le16(ByteSpan bytes, std::size_t offset) {
  return read_le<std::uint16_t>(bytes, offset);
}
inline std::optional<std::uint32_t> read_le32(ByteSpan bytes, std::size_t offset) {
  return read_le<std::uint32_t>(bytes, offset);
}
inline std::optional<std::uint64_t> read_le64(ByteSpan bytes, std::size_t offset) {
  return read_le<std::uint64_t>(bytes, offset);
}

// Field value or 0 when the field lies outside the span; for callers that treat a missing
// field like an empty one (a short sector reads as zeros).
inline std::uint8_t u8_or0(ByteSpan b, std::size_t o) { return read_u8(b, o).value_or(0); }
inline std::uint16_t le16_or0(ByteSpan b, std::size_t o) { return read_le16(b, o).value_or(0); }
inline std::uint32_t le32_or0(ByteSpan b, std::size_t o) { return read_le32(b, o).value_or(0); }
inline std::uint64_t le64_or0(ByteSpan b, std::size_t o) { return read_le64(b, o).value_or(0); }

inline void write_le16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t v) {
  if (!field_fits(bytes, offset, 2)) return;
  bytes[offset] = static_cast<std::uint8_t>(v);
  bytes[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace fennick::volume

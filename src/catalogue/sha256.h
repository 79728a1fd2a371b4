// SHA-256 (FIPS 180-4), for the hash manifest of a recovery: streamed over a file's bytes,
// written as the 64 lower-case hex digits sha256sum prints.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fennick::catalogue {

class Sha256 {
 public:
  Sha256();
  void update(const std::uint8_t* bytes, std::size_t count);
  // The digest of everything given; the object is spent after it.
  std::array<std::uint8_t, 32> finish();
  // finish() as hex digits.
  std::string hex();

 private:
  void block(const std::uint8_t* chunk);
  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes given
};

// The SHA-256 of everything read from the descriptor from its current position to its end;
// none (errno set) when a read fails.
std::optional<std::string> sha256_of_descriptor(int fd);

}  // namespace fennick::catalogue

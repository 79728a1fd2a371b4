// The file a recovery writes: created anew (an older file of that name is replaced), written
// whole, and closed with the error of a late failure (a full disk often shows only then)
// reported to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fennick::catalogue {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file, write-only; false with errno set.
  bool open(const std::string& path);
  // Writes every byte, retrying short writes; false with errno set.
  bool write_all(const std::uint8_t* bytes, std::size_t count);
  // Moves the write position back over bytes already written.
  bool step_back(std::int64_t bytes);
  // Closes the file; false with errno set when the system reports a failure.
  bool close();

 private:
  int fd_ = -1;
};

}  // namespace fennick::catalogue

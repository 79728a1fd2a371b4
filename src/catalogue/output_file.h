// The file a recovery writes: created anew (an older file of that name is replaced), written
// whole through a buffer of its own, and closed with the error of a late failure (a full
// disk often shows only then) reported to the caller.
//
// The file never takes the last free space of its file system: when it is opened it learns
// the room left there, refuses a reservation larger than that, and fails a write that would
// go past it (ENOSPC) before the disk is full. Holes take no room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennick::catalogue {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates the file, write-only, mode 0600, never through a symbolic link at
  // its last component; false with errno set.
  bool open(const std::string& path);
  // Takes over a descriptor of a new, empty file opened for writing (DestinationFolder).
  bool adopt(int fd);
  // Writes into memory instead of a file (a preview): the first `limit` bytes of the file,
  // holes as zeros, go to sink; nothing reaches any disk. A write past the limit fails with
  // EFBIG, which ends a recovery once the preview has all it shows.
  void capture(std::vector<std::uint8_t>* sink, std::size_t limit);
  // Whether `bytes` more written bytes still fit the room learnt at opening; false with
  // errno ENOSPC (and out_of_room() true) when they do not.
  bool reserve(std::int64_t bytes);
  // A reservation or a write was refused for lack of room.
  bool out_of_room() const { return out_of_room_; }
  // Writes every byte (buffered, so a failure may show at a later call or at close);
  // false with errno set.
  bool write_all(const std::uint8_t* bytes, std::size_t count);
  // Moves the write position back over bytes already written.
  bool step_back(std::int64_t bytes);
  // Moves the write position forward over bytes that read as zeros, leaving a hole instead of
  // writing them (a sparse file stays sparse and costs no disk space); false with errno set.
  bool skip(std::int64_t bytes);
  // Closes the file, first extending it over a hole at its end; false with errno set when
  // the system reports a failure.
  bool close();

 private:
  bool flush();
  void start(int fd);
  bool fits(std::size_t count);

  int fd_ = -1;
  std::int64_t position_ = 0;
  std::int64_t end_ = 0;          // the file's length: the furthest position reached
  std::int64_t written_end_ = 0;  // the furthest position reached by written bytes
  std::vector<std::uint8_t> pending_;
  std::int64_t room_ = 0;    // bytes the file system had free for us when opened
  std::int64_t stored_ = 0;  // bytes written or buffered (holes not counted)
  bool out_of_room_ = false;
  std::vector<std::uint8_t>* sink_ = nullptr;  // capture mode
  std::size_t sink_limit_ = 0;
  bool write_to_sink(const std::uint8_t* bytes, std::size_t count);
};

}  // namespace fennick::catalogue

// Sources of raw volume bytes: a volume image file, a block device, or (in tests and fuzzers)
// bytes in memory. File sources open the file read-only for reads, so a scan or recovery can
// never write through a descriptor it holds. While an operation's readers are alive (a read
// session) the read-only descriptor stays open, so a scan does not pay an open and a close
// for every window it fills; a recovery run holds one session over all its files. Between
// operations nothing keeps a volume open.
//
// A file source remembers which file it stands for (device and inode, or the device number
// of a block device) when it is made, and every later open is checked against that: a name
// swapped for a link or for another file meanwhile is refused, never read or written.
// Writes happen only inside a write session: one read-write descriptor, opened without
// following a link, checked, and used for the session's reads and writes alike, so what a
// wipe checks is what it overwrites.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "volume/read_faults.h"

namespace fennick::volume {

class VolumeSource {
 public:
  virtual ~VolumeSource() = default;
  // Reads up to count bytes at the byte offset; a short count at the end of the volume. A
  // medium that fails is read around its unreadable stretches (read_faults.h).
  virtual SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) = 0;
  // Writes count bytes at the byte offset; the wipes are the only callers.
  virtual SourceResult write_at(std::uint64_t offset, const void* source, std::size_t count) = 0;
  // Size of the volume in bytes, or -1 when it cannot be learnt.
  virtual std::int64_t size_bytes() const = 0;
  // The path of a file or device source, empty for memory.
  virtual std::string path() const { return {}; }
  // Where the source's first byte lies in the file or device at path().
  virtual std::uint64_t path_offset() const { return 0; }
  // Read sessions nest; reads inside one may reuse one descriptor.
  virtual void begin_read_session() {}
  virtual void end_read_session() {}
  // Opens the one descriptor writes go through; 0, or the errno that refused it (EBUSY: a
  // block device in use by a mount; not_the_scanned_file: the name now stands for another
  // file). Reads inside the session use the same descriptor.
  virtual int begin_write_session() { return 0; }
  virtual void end_write_session() {}
};

// The error of an open that found another file than the source stands for.
constexpr int not_the_scanned_file = ESTALE;

// An image file or a block device, opened per operation.
class FileSource final : public VolumeSource {
 public:
  // Takes note of the file the path names now (links in the path are followed once, here).
  explicit FileSource(std::string path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) override;
  SourceResult write_at(std::uint64_t offset, const void* source, std::size_t count) override;
  std::int64_t size_bytes() const override;
  std::string path() const override { return path_; }
  void begin_read_session() override;
  void end_read_session() override;
  int begin_write_session() override;
  void end_write_session() override;

 private:
  struct Identity {
    dev_t device = 0;  // st_dev: the file system holding an image
    ino_t inode = 0;
    dev_t rdev = 0;  // st_rdev of a block device
    bool block = false;
  };
  static Identity identity_of(const struct stat& st);
  static bool same(const Identity& a, const Identity& b);
  // Opens the source without following a link at its last component and checks it is the
  // file noted at creation; -1 with errno set.
  int open_checked(int flags);
  // Is the medium behind the descriptor still there (after a read failed)?
  bool still_there(int fd) const;
  void close_session_descriptor();
  std::string path_;
  std::string open_path_;  // the path with its links resolved at creation
  std::optional<Identity> identity_;
  int write_fd_ = -1;  // read-write, open only inside a write session
  int write_sessions_ = 0;
  int sessions_ = 0;
  int session_fd_ = -1;  // read-only, open only inside a session
  // Inside a session: the first bytes of the volume as the session last read them from
  // offset 0. Every reader starts by reading sector 0 and most then fill their window from
  // there; in a recovery run of thousands of files these are served from here. Any write
  // and the end of the session forget them.
  std::vector<std::uint8_t> head_;
  // The unreadable stretches met inside the session; forgotten when it ends.
  ReadFaults faults_;
};

// A stretch of another source: a partition of a disk or a disk image. Offsets are the
// stretch's own; nothing before or after it is ever read or written through it. Sessions and
// the path are the whole source's.
class SliceSource final : public VolumeSource {
 public:
  // The stretch of `length` bytes from `offset` of the whole source.
  SliceSource(std::shared_ptr<VolumeSource> whole, std::uint64_t offset, std::uint64_t length)
      : whole_(std::move(whole)), offset_(offset), length_(length) {}
  SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) override;
  SourceResult write_at(std::uint64_t offset, const void* source, std::size_t count) override;
  std::int64_t size_bytes() const override { return static_cast<std::int64_t>(length_); }
  std::string path() const override { return whole_->path(); }
  std::uint64_t path_offset() const override { return whole_->path_offset() + offset_; }
  void begin_read_session() override { whole_->begin_read_session(); }
  void end_read_session() override { whole_->end_read_session(); }
  int begin_write_session() override { return whole_->begin_write_session(); }
  void end_write_session() override { whole_->end_write_session(); }
  std::uint64_t offset() const { return offset_; }

 private:
  // How many of count bytes at offset lie inside the stretch.
  std::size_t inside(std::uint64_t offset, std::size_t count) const;
  std::shared_ptr<VolumeSource> whole_;
  std::uint64_t offset_;
  std::uint64_t length_;
};

// Volume bytes held in memory. Chosen reads can fail as a failing medium's do, for tests of
// reading around unreadable stretches and of a medium that goes away.
class MemorySource final : public VolumeSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) override;
  SourceResult write_at(std::uint64_t offset, const void* source, std::size_t count) override;
  std::int64_t size_bytes() const override { return static_cast<std::int64_t>(bytes_.size()); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }
  // The next `count` attempts at the bytes fail with EIO and then succeed (a transient error).
  int failing_reads = 0;
  // Every attempt that starts at or beyond this offset fails with EIO; -1 for none.
  std::int64_t unreadable_from = -1;
  // Byte ranges [begin, end) that fail with EIO whenever an attempt touches them.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> bad_ranges;
  // The medium has gone away: every attempt fails with ENODEV.
  bool gone = false;
  // The medium goes away once this many attempts were made; -1 for never.
  std::int64_t gone_after_reads = -1;
  std::int64_t read_calls = 0;  // attempts at the bytes, narrowed ones included

 private:
  std::vector<std::uint8_t> bytes_;
  ReadFaults faults_;
};

// Size in bytes of a regular file or block device at path, -1 when it cannot be read.
std::int64_t path_size_bytes(const std::string& path);

}  // namespace fennick::volume

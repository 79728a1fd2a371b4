// What a source learns about the parts of its medium that cannot be read, and how it reads
// around them.
//
// A failing disk answers a read that touches a bad sector with EIO, after the drive and the
// kernel have retried it for a while. So that a scan or a recovery goes on past such a place
// without hammering it, a failed read is narrowed once: every 512-byte unit of the request is
// read on its own, the units that fail are remembered, and from then on (for the rest of the
// read session) a request that touches them is served from the readable units around them,
// with zeros where the bad ones are, and without asking the medium for them again. After a
// run of unreadable units in a row the rest of the request is taken as unreadable untried: a
// dead stretch of a disk costs a bounded number of failing reads, not one per sector.
//
// A medium that has gone away (a stick pulled out, a dead FUSE server, a removed device)
// answers differently (ENODEV, ENXIO, ENOMEDIUM, ENOTCONN), or answers EIO and is no longer
// there when asked; from then on every read fails at once with `source_gone`.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace fennick::volume {

// The read_error of a source whose medium has gone away.
constexpr int source_gone = ENODEV;

// True for the errors of a read whose medium is no longer there.
bool is_gone_error(int error);

// A stretch of a request that could not be read, relative to the request's first byte.
struct UnreadableStretch {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool first_seen = false;  // found by this request; no earlier request has reported it
};

struct SourceResult {
  SourceResult() = default;
  SourceResult(std::int64_t delivered, int open_failure)
      : bytes(delivered), open_error(open_failure) {}
  std::int64_t bytes = 0;  // bytes transferred; 0 on any failure
  int open_error = 0;      // errno of a failed open, 0 when the open succeeded
  int read_error = 0;      // EIO: parts could not be read (below); source_gone: medium gone
  // With read_error EIO: the bytes placed in the destination, counting the unreadable
  // stretches, which hold zeros; the request's other bytes are the medium's.
  std::int64_t salvaged = 0;
  std::vector<UnreadableStretch> unreadable;
};

// One attempt at the medium: bytes delivered (fewer at its end), or an errno.
struct RawRead {
  std::int64_t bytes = 0;
  int error = 0;
};

class ReadFaults {
 public:
  using Reader =
      std::function<RawRead(std::uint64_t offset, std::uint8_t* destination, std::size_t count)>;
  // True while the medium is still there; asked after a read failed with EIO.
  using Presence = std::function<bool()>;

  // The unit a failed read is narrowed to.
  static constexpr std::uint64_t unit = 512;
  // Unreadable units in a row after which the rest of a request is not tried.
  static constexpr int give_up_after = 16;
  // Stretches remembered at most; past that, new ones are reported but not remembered.
  static constexpr std::size_t most_remembered = 1 << 16;

  // Reads count bytes at offset through raw, narrowing around unreadable units as above.
  SourceResult read(std::uint64_t offset, std::uint8_t* destination, std::size_t count,
                    const Reader& raw, const Presence& present);

  // Forgets everything: the next session starts afresh (a medium may have been replaced).
  void forget() {
    bad_.clear();
    gone_ = false;
  }
  bool gone() const { return gone_; }
  std::size_t remembered() const { return bad_.size(); }

 private:
  // Where the known unreadable stretch holding offset ends, or 0 when offset is readable.
  std::uint64_t known_bad_end(std::uint64_t offset) const;
  // The first byte at or after offset that lies in a known unreadable stretch (or limit).
  std::uint64_t next_known_bad(std::uint64_t offset, std::uint64_t limit) const;
  void remember(std::uint64_t begin, std::uint64_t end);

  std::map<std::uint64_t, std::uint64_t> bad_;  // begin -> end, disjoint, merged
  bool gone_ = false;
};

}  // namespace fennick::volume

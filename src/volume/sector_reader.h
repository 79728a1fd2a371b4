// SectorReader: byte-addressed reads of one volume served from a window of whole 512-byte
// sectors, and whole-sector writes for the wipes.
//
// A reader belongs to one operation (a scan, one recovery, one wipe, one diagnostic read).
// At creation it reads sector 0 to learn the volume's sector limit from the boot parameter
// block (sector count, sectors per cluster, sector size); a reader whose `error` is not 0 must
// only be destroyed. The reader shows nothing itself: what goes wrong is handed to the
// caller's problem handler, which decides how to report it.
//
// On a failing medium the source reads around the unreadable stretches (read_faults.h) and
// hands the reader the rest with zeros in their place. `read` then fails for a request that
// needs any unreadable byte, as it does for any failed read, so that a walk never takes zeros
// for structures; `read_salvaging` delivers the request with zeros there and says where, for
// the copying of file contents. Each stretch is reported once, when it is first met.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fennick::volume {

class VolumeSource;

// Window sizes in sectors: the main readers of every operation, and the small FAT-lookup
// reader of FAT recovery and wipe.
constexpr std::uint16_t reader_sectors = 64;
constexpr std::uint16_t fat_reader_sectors = 2;

constexpr std::int64_t sector_bytes = 512;

enum class ReadProblemKind {
  boot_sector_unreadable,  // sector 0 could not be read: the reader is unusable
  no_cluster_size,         // sector 0 gives 0 sectors per cluster: the reader is unusable
  open_failed,             // the source could not be opened for a read
  window_out_of_range,     // a window fill was computed outside the sector limit
  offset_out_of_window,    // a byte position fell outside the window just filled
  unreadable_stretch,      // the medium could not deliver these bytes; the operation goes on
  source_gone,             // the medium has gone away: nothing more can be read
};

// What went wrong, with the log text that describes it; an unreadable stretch also gives its
// place on the volume (its text is that place, "51200-52735", and a gone medium has none: the
// caller words those two in the user's language).
struct ReadProblem {
  ReadProblemKind kind;
  std::string text;
  std::int64_t first_byte = 0;
  std::int64_t byte_count = 0;
};

// Bytes [first, first + count) of the volume.
struct ByteStretch {
  std::int64_t first = 0;
  std::int64_t count = 0;
};
using ReadProblemHandler = std::function<void(const ReadProblem&)>;

// The extent of a volume whose boot sector holds no FAT or NTFS parameter block (exFAT
// keeps those bytes zero): its length in its own sectors and their size.
struct VolumeExtent {
  std::uint64_t sectors = 0;
  std::uint32_t sector_size = 512;  // a power of two from 512 to 4096
};

class SectorReader {
 public:
  // Reads through the source (null: every read fails); problems go to on_problem. The
  // sector limit comes from the boot sector's parameter block.
  SectorReader(std::shared_ptr<VolumeSource> source, std::uint16_t capacity_sectors,
               ReadProblemHandler on_problem = {});
  // As above, with the sector limit of the given extent; sector 0 must still be readable.
  SectorReader(std::shared_ptr<VolumeSource> source, std::uint16_t capacity_sectors,
               ReadProblemHandler on_problem, VolumeExtent extent);
  ~SectorReader();
  SectorReader(const SectorReader&) = delete;
  SectorReader& operator=(const SectorReader&) = delete;

  // Copies count bytes that begin at the byte position into destination and returns count,
  // or returns 0 and copies nothing when the bytes cannot be delivered.
  std::int64_t read(std::uint32_t count, void* destination, std::int64_t position);
  // As read, but the bytes of unreadable stretches are delivered as zeros and the stretches
  // (in volume positions) are appended to unreadable. 0 only when nothing could be read at
  // all: the position lies outside the volume, or the medium is gone.
  std::int64_t read_salvaging(std::uint32_t count, void* destination, std::int64_t position,
                              std::vector<ByteStretch>& unreadable);
  // Replaces the sector limit by the extent's (a reader made to read a boot region first).
  void set_extent(VolumeExtent extent);
  // Reads sectors into the window's buffer; bytes delivered, 0 on failure.
  std::int64_t read_sectors(std::uint16_t count, std::int64_t first);
  // Writes count whole sectors from source; bytes written, 0 on failure. The window is left
  // as it is, so a later hit still returns the bytes from before the write.
  std::int64_t write_sectors(std::uint16_t count, const void* source, std::int64_t first);

  // The sector limit in 512-byte sectors: cluster_count x sectors_per_cluster volume sectors
  // of units_per_sector x 512 bytes each.
  std::int64_t sector_limit() const {
    return cluster_count * sectors_per_cluster * units_per_sector;
  }

  std::int32_t error = 0;         // 0 usable; 1 zero sectors per cluster; 2 sector 0 unreadable
  std::uint32_t capacity = 0;     // window size in bytes
  std::uint32_t valid_bytes = 0;  // bytes the last fill delivered
  std::int64_t first_sector = 0;
  std::int64_t end_sector = 0;
  std::int64_t fill_sectors = 0;
  std::int64_t cluster_count = 0;
  std::int64_t sectors_per_cluster = 0;  // volume sectors, from the boot sector
  std::int64_t units_per_sector = 1;     // 512-byte sectors in one volume sector
  std::vector<std::uint8_t> data;

 private:
  // The read session on the source lasts as long as the reader.
  std::shared_ptr<VolumeSource> source_;
  ReadProblemHandler on_problem_;
  void report(ReadProblemKind kind, std::string text);
  // Opens the read session and reads sector 0; false (error 2, reported) when it cannot.
  bool start();
  std::int64_t read_pieces(std::uint32_t count, std::uint8_t* destination, std::int64_t position,
                           std::vector<ByteStretch>* unreadable);
  std::int64_t read_within_window(std::uint32_t count, std::uint8_t* destination,
                                  std::int64_t position, std::vector<ByteStretch>* unreadable);
  // Fills the window; bytes delivered, counting the unreadable stretches (window_holes_).
  std::int64_t fill_window(std::uint16_t count, std::int64_t first);
  // Unreadable stretches of the window, as byte offsets into data: [first, second).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> window_holes_;
  bool gone_reported_ = false;
  void log_invalid_fill(const char* what, std::int64_t value, std::int64_t position);
};

}  // namespace fennick::volume

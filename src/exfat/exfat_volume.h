// An exFAT volume opened for one operation: its checked layout, readers over its sectors,
// the allocation bitmap and up-case table found in the root folder, and where an entry set
// lies (its directory may be contiguous or follow the FAT from cluster to cluster).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exfat/exfat_entries.h"
#include "exfat/exfat_layout.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/sector_reader.h"
#include "volume/volume.h"

namespace fennick::exfat {

// A found file's entry_flags bit: the directory holding its entry set is contiguous (its next
// cluster follows), rather than chained through the FAT.
constexpr std::uint8_t entry_in_contiguous_directory = 0x01;

// Which clusters are in use: one bit per cluster of the heap, read through a reader of its
// own from the bitmap's clusters (the FAT chain when intact, else contiguous). Those are
// learnt on first use: a recovery of a contiguous file never needs them.
class AllocationBitmap {
 public:
  AllocationBitmap(const volume::Volume& volume, const ExfatLayout& layout,
                   volume::SectorReader& fat_reader, std::uint32_t first_cluster,
                   std::uint64_t length, volume::ReadProblemHandler problems);
  // Whether the bitmap was found, covers the heap and can be read.
  bool usable();
  // True when the cluster is in use; nullopt when that cannot be read.
  std::optional<bool> in_use(std::uint32_t cluster);
  // The first free cluster after the given one; nullopt when none is left or the bitmap
  // cannot be read there.
  std::optional<std::uint32_t> next_free(std::uint32_t after);

 private:
  bool load();

  const volume::Volume& volume_;
  const ExfatLayout& layout_;
  volume::SectorReader& fat_reader_;
  std::uint32_t first_cluster_;
  std::uint64_t length_;
  volume::ReadProblemHandler problems_;
  bool loaded_ = false;
  std::optional<volume::SectorReader> reader_;
  std::vector<std::uint32_t> clusters_;
  bool usable_ = false;
};

class ExfatVolume {
 public:
  // Reads and checks the boot region and finds the bitmap; on failure `problem` says why
  // (the caller logs it) and nothing else may be used.
  ExfatVolume(const volume::Volume& volume, messages::StatusChannel& channel, run::RunControl& run);
  ExfatVolume(const ExfatVolume&) = delete;
  ExfatVolume& operator=(const ExfatVolume&) = delete;

  std::string problem;
  bool boot_checksum_ok = false;
  ExfatLayout layout;
  std::uint32_t upcase_cluster = 0;  // 0 when the root names none
  // Readers for directory entries and file data (a window of at least one cluster where the
  // cluster fits 64 Ki sectors), and for FAT lookups.
  std::optional<volume::SectorReader> reader;
  std::optional<volume::SectorReader> fat_reader;
  std::optional<AllocationBitmap> bitmap;

  bool usable() const { return problem.empty(); }
  // The cluster after `cluster` in a directory: the next one when contiguous, else its FAT
  // link; nullopt where the directory ends or cannot be followed.
  std::optional<std::uint32_t> next_directory_cluster(std::uint32_t cluster, bool contiguous);
  // The raw bytes of the entry set whose File entry lies at the cluster and offset (up to the
  // longest set, fewer where the directory ends), with where each 32-byte entry lies.
  struct SetBytes {
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> places;  // cluster, offset
  };
  SetBytes read_set(std::uint32_t cluster, std::uint32_t offset, bool contiguous_directory);

 private:
  struct EntryPlace {
    std::uint32_t cluster = 0;
    std::uint32_t offset = 0;
  };
  // Reads the 32-byte entry at the place (moving to the directory's next cluster first when
  // the place is at its cluster's end) and moves the place past it; false where the
  // directory ends or cannot be read.
  bool read_entry(EntryPlace& place, bool contiguous, std::uint8_t (&bytes)[entry::bytes]);
  void locate_root_entries(const volume::Volume& volume,
                           const volume::ReadProblemHandler& problems);
};

}  // namespace fennick::exfat

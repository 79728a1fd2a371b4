// The NTFS engine's ground floor: opening a volume, its geometry from the boot sector,
// reading sectors, clusters and whole attribute values, loading the MFT (following its
// attribute list) and its bitmap, and reading any MFT record by number.
//
// One NtfsVolume is the state of one operation (one scan, one recovery, one wipe); it owns
// the reader and every buffer and releases them when it goes out of scope.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "messages/status_channel.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_layout.h"
#include "run/run_control.h"
#include "volume/sector_reader.h"
#include "volume/volume.h"

namespace fennick::ntfs {

struct Geometry {
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::int64_t cluster_size = 0;
  std::int64_t total_sectors = 0;
  std::int64_t total_clusters = 0;
  std::int64_t mft_cluster = 0;
  std::int32_t record_size = 0;
  std::int32_t records_per_cluster = 0;  // 0 when a record is larger than a cluster

  std::int64_t volume_bytes() const { return total_clusters * cluster_size; }
};

// The geometry of a boot sector, or the reason it is unusable: sector size not a power of
// two from 512 to 4096, no sectors per cluster, a record size outside the bounds above or not
// a multiple of 512, or an MFT that starts outside the volume. The reason is a message number
// (src/messages/program_texts.h) and the field's value that goes after it.
struct GeometryResult {
  std::optional<Geometry> geometry;
  int problem = 0;
  std::string value;
};
GeometryResult geometry_from_boot(ConstBytes boot);

// Record size that a record-size code gives: a negative code c gives 2^(-c mod 32), a
// positive one c clusters. 0 for a code of 0 or a size that does not fit 32 bits.
std::int64_t record_size_from_code(std::int8_t code, std::int64_t cluster_size);

// One MFT record read by number, with its place on the volume.
struct FileRecord {
  std::vector<std::uint8_t> bytes;  // fix-ups applied
  std::int64_t cluster = 0;         // cluster holding the record's first byte
  std::int32_t offset = 0;          // byte offset of the record in that cluster
};

struct NtfsVolume {
  // Where the operation reports; set by open_ntfs_volume.
  messages::StatusChannel* channel = nullptr;
  std::shared_ptr<volume::VolumeSource> source;
  // What the operation's readers report to.
  volume::ReadProblemHandler problems;
  std::unique_ptr<volume::SectorReader> reader;
  std::array<std::uint8_t, 512> boot{};  // sector 0
  Geometry geometry;                     // valid after a successful load_mft
  std::vector<std::uint8_t> mft_record;  // record 0, fix-ups applied
  std::uint32_t record_count = 0;
  // Runs of $MFT's unnamed $DATA, from record 0 and from the extension records its attribute
  // list names, sorted by VCN.
  std::vector<DataRun> mft_runs;
  std::vector<std::uint8_t> mft_bitmap;
  // The scan's window on the volume's cluster bitmap.
  std::vector<std::uint8_t> bitmap_window;
  std::int64_t window_start = 0;
  // The clusters read_file_record_into reads a record from, kept from call to call so that a
  // scan of every record does not allocate for each one.
  std::vector<std::uint8_t> record_clusters;
};

// Opens the reader on the volume and copies sector 0 to v.boot; the operation reports to the
// channel. False when the reader is unusable (it has reported).
bool open_ntfs_volume(NtfsVolume& v, const volume::Volume& volume, messages::StatusChannel& channel,
                      run::RunControl& run);
// Takes the geometry from v.boot and loads record 0, the MFT's runs and the record
// count. False (with a log line saying why, except for a record 0 that is not "FILE") when
// the MFT cannot be used; the caller shows "Cannot load MFT".
bool load_mft(NtfsVolume& v);
// Record n with fix-ups applied, or none (out of range, unreadable, not "FILE").
std::optional<FileRecord> read_file_record(NtfsVolume& v, std::int64_t n);
// The same into a record the caller keeps, reusing its storage; false where the above gives
// nothing (record's contents are unspecified then).
bool read_file_record_into(NtfsVolume& v, std::int64_t n, FileRecord& record);
// The record that begins at the byte offset in the cluster (a record a deep scan found
// outside the MFT), with fix-ups applied; none when no sound record begins there.
std::optional<FileRecord> read_record_at(NtfsVolume& v, std::int64_t cluster, std::int64_t offset);
// Whether cluster c is allocated in the volume's bitmap ($Bitmap, record 6); none when the
// bitmap cannot be read there.
std::optional<bool> cluster_in_use(NtfsVolume& v, std::int64_t c);
// The name a file or folder is listed under (choose_file_name), with the file-name attributes
// of the extension records its attribute list names when the base record n holds none of its
// own: a large folder keeps its name there. Only extension records that name n as their base
// are read, each once, and no more than max_name_extensions of them.
constexpr std::size_t max_name_extensions = 64;
ChosenName choose_file_name_of(NtfsVolume& v, ConstBytes record, std::int64_t n);
// Loads the whole $BITMAP of $MFT; on failure shows "error in MFT AttributeBitmap".
bool load_mft_bitmap(NtfsVolume& v);
// Bit n of the MFT bitmap; records past its end count as free.
bool mft_record_in_use(const NtfsVolume& v, std::int64_t n);

// Reads destination.size() bytes from the first sector (volume sectors) or first cluster on,
// through the volume's reader or, when given, through another reader of the same volume.
// With unreadable given, sectors the medium cannot deliver are zeros and their stretches are
// appended there; without it such a read fails.
bool read_volume_sectors(NtfsVolume& v, std::span<std::uint8_t> destination, std::int64_t first,
                         volume::SectorReader* through = nullptr,
                         std::vector<volume::ByteStretch>* unreadable = nullptr);
bool read_volume_clusters(NtfsVolume& v, std::span<std::uint8_t> destination, std::int64_t first,
                          volume::SectorReader* through = nullptr,
                          std::vector<volume::ByteStretch>* unreadable = nullptr);
// Fills destination (a whole number of clusters) from the attribute's runs from first_vcn
// on; sparse runs give zeros. False when a VCN is not covered or a read fails; the clusters
// not read are zeros then. With holes given, sectors the medium cannot deliver are zeros too
// and their stretches (as offsets into destination) are appended there instead of failing.
bool read_attribute_clusters(NtfsVolume& v, std::span<const DataRun> runs,
                             std::span<std::uint8_t> destination, std::int64_t first_vcn,
                             volume::SectorReader* through = nullptr,
                             std::vector<volume::ByteStretch>* holes = nullptr);
// The whole value of an attribute: the resident bytes, or clusters 0 to last VCN of a
// non-resident one. A value larger than the volume is refused with a log line naming what.
bool read_attribute_value(NtfsVolume& v, ConstBytes record, std::size_t attribute,
                          std::vector<std::uint8_t>& value, const std::string& what);

}  // namespace fennick::ntfs

// Decoding of one MFT record already in memory: fix-ups, the attribute walk, attribute sizes
// and values, data runs and VCN mapping, times and names. No I/O happens here.
//
// Records come from the volume and may be damaged or crafted: every read stays inside the
// record copy, every walk advances or stops, and a structure that does not fit is "none".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "ntfs/ntfs_layout.h"

namespace fennick::ntfs {

using ConstBytes = std::span<const std::uint8_t>;

// True when the record begins with "FILE".
bool has_file_signature(ConstBytes record);

// The size of the MFT record that raw begins with, raw as it lies on the volume (before
// fix-ups) and possibly longer than the record: a "FILE" signature; a size that is a power of
// two from 512 to 64 KiB and fits raw; an update sequence array with one entry per 512-byte
// block, lying before the first attribute; a first attribute and a used length inside the
// record; and every block ending in the update sequence number. 0 when any of it fails: the
// test a deep scan makes of every sector it reads.
std::size_t recognise_file_record(ConstBytes raw);

// Restores the last two bytes of every 512-byte block from the update sequence array.
// Entries that would fall outside the record are left alone.
void apply_fixups(std::span<std::uint8_t> record);

// Offset of the first unnamed attribute of the type whose position in the list is at least
// first_position; none when there is no such attribute or the walk meets a damaged header.
std::optional<std::size_t> find_attribute(ConstBytes record, std::uint32_t type,
                                          int first_position = 0);

// Every unnamed attribute of the type, in list order (the same ones find_attribute visits
// with rising first positions, each once).
std::vector<std::size_t> find_attributes(ConstBytes record, std::uint32_t type);

bool attr_is_non_resident(ConstBytes record, std::size_t attribute);
std::uint16_t attr_flags_of(ConstBytes record, std::size_t attribute);
std::int64_t attr_first_vcn_of(ConstBytes record, std::size_t attribute);
std::int64_t attr_last_vcn_of(ConstBytes record, std::size_t attribute);
std::int64_t attr_allocated_size(ConstBytes record, std::size_t attribute);
std::int64_t attr_data_size(ConstBytes record, std::size_t attribute);

struct ResidentValue {
  std::size_t offset = 0;  // inside the record
  std::size_t length = 0;
};
// The resident value's place in the record; none when it does not lie inside the attribute.
std::optional<ResidentValue> attr_value(ConstBytes record, std::size_t attribute);

struct DataRun {
  std::int64_t first_vcn = 0;
  std::int64_t length = 0;  // clusters
  std::int64_t lcn = 0;     // 0 for a sparse run
  bool sparse = false;
};
// Every run of a non-resident attribute, in VCN order. Decoding stops at the end marker, at
// the attribute's end, or at an entry that does not fit; runs decoded up to there are kept.
std::vector<DataRun> decode_runs(ConstBytes record, std::size_t attribute);

struct VcnMapping {
  bool covered = false;
  std::int64_t lcn = 0;            // 0 for a sparse run
  std::int64_t clusters_left = 0;  // clusters of the run from the VCN on
};
VcnMapping map_vcn(ConstBytes record, std::size_t attribute, std::int64_t vcn);

// The runs of a non-resident attribute cut to its VCN range (first VCN to last VCN), so that
// a run list claiming more than its header does maps nothing beyond it.
std::vector<DataRun> attribute_runs(ConstBytes record, std::size_t attribute);
// map_vcn over runs already decoded (sorted by VCN, not overlapping), by binary search.
VcnMapping map_runs(std::span<const DataRun> runs, std::int64_t vcn);

// The fields of a file-name value (type 0x30) the engine reads.
struct FileNameValue {
  std::uint32_t parent_record = 0;    // low 32 bits of the parent reference
  std::uint16_t parent_sequence = 0;  // top 16 bits of the parent reference
  std::uint8_t name_space = 0;        // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
  std::string name;                   // converted to UTF-8
};
// The file-name value of a resident attribute; none when the value is too short to hold
// the fixed fields. A name longer than the value is cut to what the value holds.
std::optional<FileNameValue> file_name_of(ConstBytes record, std::size_t attribute);

// The name a found file is listed under: among the record's unnamed file-name attributes with
// a namespace of at most 3, the one with the smallest namespace (the first of equals), so a
// long name wins over its 8.3 alias. The parent is that of the last file-name attribute in
// list order. found is false (name empty) when no attribute qualifies; parent is 0 when the
// record has no readable file name at all.
struct ChosenName {
  std::string name;
  std::int32_t parent = 0;
  std::uint16_t parent_sequence = 0;  // of the same attribute as parent
  bool found = false;
  bool any = false;             // some file-name attribute was readable
  std::uint8_t name_space = 4;  // of the chosen name
};
ChosenName choose_file_name(ConstBytes record);
// Adds the names of a further record of the same file (an extension record, in attribute-list
// order) to a choice: its attributes count as if they followed those already seen.
void add_file_names(ChosenName& chosen, ConstBytes record);

// Whether a file-name attribute's parent reference still names the folder whose record has
// this sequence number: the same number, or, for a free record, the number before the one
// that deleting it set (deletion moves it on by one, skipping 0). A reference with sequence 0
// is not checked.
bool parent_sequence_matches(std::uint16_t reference, std::uint16_t record_sequence,
                             bool record_in_use);

// free / (free + used) x 100, rounded to the nearest integer with halves to the even one;
// 0 when both are 0.
std::int8_t free_share_percent(std::int64_t free_clusters, std::int64_t used_clusters);

// A FILETIME (100 ns ticks since 1601-01-01 00:00 UTC) with all its ticks, in UTC; missing
// from the year 10000 on (no time a volume keeps, so garbage).
catalogue::Timestamp filetime_to_timestamp(std::uint64_t filetime);

// units UTF-16LE code units at the start of bytes (as many as fit) to UTF-8.
std::string name_to_ansi(ConstBytes utf16le, std::size_t units);

}  // namespace fennick::ntfs

// The state of one NTFS scan, shared by the walk over the MFT (ntfs_scan.cpp) and the deep
// pass over the rest of the volume (ntfs_deep_scan.cpp): the volume, the catalogue it fills,
// the folder paths made so far and the window on the cluster bitmap the grades come from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "run/run_control.h"

namespace fennick::ntfs {

constexpr int max_path_depth = 20;
// The cluster-bitmap window, in clusters of bitmap bytes.
constexpr std::int64_t window_clusters = 2;
constexpr std::int64_t counter_interval = 100;

// What the walk up the folders needs of one folder record, read once per scan.
struct FolderRecord {
  std::uint16_t sequence = 0;
  bool in_use = false;
  bool named_folder = false;  // a directory with a usable name
  std::string name;
  std::int64_t parent = 0;
  std::uint16_t parent_sequence = 0;
};

// A folder path and the folder-list id of its nearest folder.
struct ParentPath {
  catalogue::PathText path;
  std::int32_t folder_id = 0;
};

struct Scan {
  NtfsVolume& v;
  catalogue::Catalogue& catalogue;
  run::RunControl& run;
  std::int32_t drive_index;
  volume::FileSystemKind fs_kind;
  char drive_letter;
  // Position in the drive's folder list by folder id, beside the list itself, so that paths
  // of big volumes do not search the list from its start for every component.
  std::unordered_map<std::int32_t, std::size_t> folder_index;
  // Folder path by parent reference (sequence number and record): the files of one folder
  // share one path text, and the walk up its folders is made once per folder, not per file.
  std::unordered_map<std::uint64_t, ParentPath> path_of_parent;
  // The folder records the walks have read, by record number.
  std::unordered_map<std::int32_t, FolderRecord> folder_records;
  // The cluster bitmap's record, read once it can be, with its runs decoded once.
  std::optional<FileRecord> bitmap_file;
  std::vector<DataRun> bitmap_runs;
  // The bitmap's clusters are read through a reader of their own, so that loading a bitmap
  // window does not throw away the window of MFT records the scan is reading.
  std::unique_ptr<volume::SectorReader> bitmap_reader;
  // With a deep scan to follow: the clusters of the deleted files the MFT holds. They were
  // written after anything a record outside the MFT describes.
  bool deep = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> mft_file_runs;  // first, end
};

const std::vector<catalogue::FolderEntry>& folders_of(const Scan& s);

// Whether cluster c is allocated in the volume's bitmap; none when that part of the bitmap
// cannot be read.
std::optional<bool> cluster_allocated(Scan& s, std::int64_t c);
// The first cluster from c on, before end, whose allocation differs from c's; end when there
// is none, and c when the bitmap cannot be read there.
std::int64_t same_allocation_end(Scan& s, std::int64_t c, std::int64_t end);

// The folder path of a file whose parent reference is (parent, sequence), walked up the MFT's
// folder records and made once per reference; "Error" (not kept) when a record cannot be read.
ParentPath build_ntfs_path(Scan& s, std::int32_t parent, std::uint16_t sequence);

// Recovery estimate of a record's unnamed $DATA: 100 for resident content, -3 when encrypted,
// else the share of its clusters that are still free; 0 when it has no such attribute.
std::int8_t estimate_ntfs_quality(Scan& s, ConstBytes record);

// "E:\" for the scan's drive.
std::string drive_prefix(const Scan& s);

// Whether a name is empty or only blanks and control characters: such a record is not listed.
bool blank_name(const std::string& name);

// Creation and last-write times of the record's standard information; 0 when absent.
void read_times(ConstBytes record, catalogue::FoundFile& file);

// A found file from its record: drive, record number, size of its unnamed $DATA, grade,
// times and name. Its folder and its place are the caller's.
catalogue::FoundFile found_file_of(Scan& s, std::int64_t number, ConstBytes record,
                                   const ChosenName& chosen);

// The runs of the record's unnamed, non-resident $DATA that lie on the volume, as
// [first, end) cluster ranges cut to its end (sparse and empty runs left out).
std::vector<std::pair<std::int64_t, std::int64_t>> data_runs_on_volume(const Scan& s,
                                                                       ConstBytes record);

// Reads the volume outside the current MFT for MFT records of files the MFT no longer holds
// (an older MFT after a quick format, a moved or damaged MFT) and catalogues them, marked as
// found by the deep scan, with paths built from the folders among them.
void deep_pass(Scan& s);

}  // namespace fennick::ntfs

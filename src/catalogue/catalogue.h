// The catalogue of one scan run (the found files, the per-volume folder lists, the type
// counts) and the text conversion for names a volume stores in UTF-16.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/date_time.h"
#include "catalogue/short_string.h"
#include "volume/file_system_kind.h"

namespace fennick::catalogue {

// Folder id of every volume's root directory (the NTFS root is MFT record 5).
constexpr std::int32_t ROOT_FOLDER_ID = 5;

// Status codes carried in FoundFile::quality besides the 0..100 estimate.
constexpr std::int8_t quality_error = -1;
constexpr std::int8_t quality_compressed = -2;
constexpr std::int8_t quality_encrypted = -3;

// The longest name of a file or folder, and the longest folder path, in UTF-16 units as the
// file systems count them (a Windows path reaches 32,767).
constexpr std::size_t max_name_units = 255;
constexpr std::size_t max_path_units = 32767;
using NameText = ShortString<max_name_units>;
using PathText = ShortString<max_path_units>;

// One found file. A record whose name is empty is a wiped file.
struct FoundFile {
  std::int32_t drive_index = 0;  // index of the volume in the front end's drive list
  volume::FileSystemKind fs_kind = volume::FileSystemKind::unknown;
  char drive_letter = 0;           // lower case
  std::int32_t record_no = 0;      // FAT: running number of the run; NTFS: MFT record number
  std::int64_t first_cluster = 0;  // FAT: first data cluster; NTFS: unused
  std::int64_t size = 0;
  std::int8_t quality = 0;  // 0..100 or a status code
  Timestamp created;        // missing or invalid on disk: the value 0 (1899-12-30 00:00:00)
  Timestamp modified;
  NameText name;
  std::uint16_t type_group = 0;
  PathText path;                // "E:\DOCS\OLD\"
  std::int32_t parent_dir = 0;  // folder id of the folder that holds the entry
  std::uint8_t selected = 0;
  std::uint8_t entry_flags = 0;         // exFAT: how the directory holding the entry set goes on
  std::uint8_t found_by_deep_scan = 0;  // 1: in a folder only the deep scan reached
  std::int64_t entry_cluster = 0;  // FAT: directory cluster of the entry set (0 = root region);
                                   // NTFS: cluster holding the MFT record
  std::int32_t entry_offset = 0;   // byte offset of the entry set / record in that cluster

  // "FAT32", "FAT", "exFAT" or "NTFS", as the lists show it.
  std::string fs_name() const { return std::string(volume::table_name(fs_kind)); }
};

// One folder on the path of a found file.
struct FolderEntry {
  std::int32_t dir_id = 0;
  volume::FileSystemKind fs_kind = volume::FileSystemKind::unknown;
  char drive_letter = 0;
  std::int32_t first_cluster = 0;  // FAT scanner's private directory table only
  std::int32_t parent_id = 0;
  NameText name;
  std::uint8_t deleted = 0;  // deleted, below a deleted folder, or an NTFS placeholder
};

// Records grow in steps of this many, folder lists in steps of folder_growth_step.
constexpr std::int32_t record_growth_step = 5000;
constexpr std::int32_t folder_growth_step = 1000;
// Folder lists are kept for drive indexes below this (a drive list has at most 24 letters).
constexpr std::int32_t max_drive_index = 26;
// The file-type groups (file_types.h).
constexpr std::size_t file_group_count = 68;

// The catalogue of one scan run: the found files of all its volumes in the order they were
// found, each volume's folder list, and the per-type file counts the type tree shows.
class Catalogue {
 public:
  const std::vector<FoundFile>& files() const { return files_; }
  std::vector<FoundFile>& files() { return files_; }
  // Found files, wiped ones included.
  std::int32_t deleted_count() const { return static_cast<std::int32_t>(files_.size()); }
  // Files wiped since the scan.
  std::int32_t wiped_count() const { return wiped_count_; }

  // Empties the records, the folder lists and the type counts, and tells the views that
  // hold indexes into the records.
  void clear();
  // Appends a copy of the record.
  void add(const FoundFile& record);
  // Marks a record as wiped: name emptied, selection cleared, its type's count lowered.
  void mark_wiped(FoundFile& record);

  // The folder list of the volume at drive_index (empty for an index with none).
  const std::vector<FolderEntry>& folders(std::int32_t drive_index) const;
  // The entry with that id in the volume's folder list, or nothing.
  std::optional<FolderEntry> find_folder(std::int32_t drive_index, std::int32_t dir_id) const;
  // Appends the entry to the volume's folder list; false for a drive index out of range.
  bool add_folder(std::int32_t drive_index, const FolderEntry& entry);
  // Orders the volume's folder list by parent id, keeping the order of equal ones.
  void sort_folders(std::int32_t drive_index);

  // Files of each type group, as the last classification counted them.
  std::array<std::int32_t, file_group_count>& type_counts() { return type_counts_; }
  const std::array<std::int32_t, file_group_count>& type_counts() const { return type_counts_; }

  // Views that hold indexes into the records register a reset here, so that clearing the
  // catalogue never leaves them pointing at records that are gone.
  void set_cleared_hook(std::function<void()> hook) { cleared_hook_ = std::move(hook); }

 private:
  std::vector<FoundFile> files_;
  std::int32_t wiped_count_ = 0;
  std::vector<std::vector<FolderEntry>> folders_;
  std::array<std::int32_t, file_group_count> type_counts_{};
  std::function<void()> cleared_hook_;
};

// UTF-16 text to the system's ANSI code page, which is UTF-8 here. An unpaired surrogate or
// U+FFFF becomes "?". code_page 0 (the only value callers pass) is the system's.
std::string wide_to_ansi(std::u16string_view text, int code_page = 0);

// Bytes in the DOS code page 437 (FAT short names) to UTF-8.
std::string oem_to_utf8(std::string_view bytes);

}  // namespace fennick::catalogue

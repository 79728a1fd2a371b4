// The catalogue of one scan run: the found-file records, the per-volume folder lists, and
// the text conversion for names a volume stores in UTF-16.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/short_string.h"

namespace fennick::catalogue {

// Folder id of every volume's root directory (the NTFS root is MFT record 5).
constexpr std::int32_t ROOT_FOLDER_ID = 5;

// Days since 1899-12-30 00:00, time of day as the fraction; 0 = missing or invalid on disk.
using DateTime = double;

// Status codes carried in TDeletedFile::quality besides the 0..100 estimate.
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
struct TDeletedFile {
  std::int32_t drive_index = 0;    // index of the volume's entry in drive_table
  ShortString<5> fs_name;          // "FAT32", "FAT" or "NTFS"
  char drive_letter = 0;           // lower case
  std::int32_t record_no = 0;      // FAT: running number of the run; NTFS: MFT record number
  std::int64_t first_cluster = 0;  // FAT: first data cluster; NTFS: unused
  std::int64_t size = 0;
  std::int8_t quality = 0;  // 0..100 or a status code
  DateTime created = 0;
  DateTime modified = 0;
  NameText name;
  std::uint16_t type_group = 0;
  PathText path;                // "E:\DOCS\OLD\"
  std::int32_t parent_dir = 0;  // folder id of the folder that holds the entry
  std::uint8_t selected = 0;
  std::int64_t entry_cluster = 0;  // FAT: directory cluster of the entry set (0 = root region);
                                   // NTFS: cluster holding the MFT record
  std::int32_t entry_offset = 0;   // byte offset of the entry set / record in that cluster
};

// One folder on the path of a found file.
struct TFolderEntry {
  std::int32_t dir_id = 0;
  ShortString<5> fs_name;
  char drive_letter = 0;
  std::int32_t first_cluster = 0;  // FAT scanner's private directory table only
  std::int32_t parent_id = 0;
  NameText name;
  std::uint8_t deleted = 0;  // deleted, below a deleted folder, or an NTFS placeholder
};

// The catalogue: records of all volumes of one scan run, in the order they were found.
extern std::vector<TDeletedFile> deleted_files;
extern std::int32_t deleted_count;
extern std::int32_t wiped_count;

// Records grow in steps of this many, folder lists in steps of folder_growth_step.
constexpr std::int32_t record_growth_step = 5000;
constexpr std::int32_t folder_growth_step = 1000;

// Empties the catalogue and every drive's folder list, and forgets the list's last clicked
// row and its row map.
void clear_catalogue();
// Appends a copy of the record.
void add_deleted_file(const TDeletedFile& record);
// Marks a record as wiped: name emptied, selection cleared, wiped_count grown.
void mark_wiped(TDeletedFile& record);

// Views that hold indexes into deleted_files register a reset here, so that clearing the
// catalogue never leaves them pointing at records that are gone.
void set_catalogue_cleared_hook(void (*hook)());

// Folder list of the volume at drive_index: the entry with that id, or nothing.
std::optional<TFolderEntry> folder_list_find(std::int32_t drive_index, std::int32_t dir_id);
// Appends the entry to the folder list of the volume at drive_index; false when there is no
// such volume.
bool folder_list_add(std::int32_t drive_index, const TFolderEntry& entry);

// UTF-16 text to the system's ANSI code page, which is UTF-8 here. An unpaired surrogate or
// U+FFFF becomes "?". code_page 0 (the only value callers pass) is the system's.
std::string wide_to_ansi(std::u16string_view text, int code_page = 0);

// Bytes in the DOS code page 437 (FAT short names) to UTF-8.
std::string oem_to_utf8(std::string_view bytes);

}  // namespace fennick::catalogue

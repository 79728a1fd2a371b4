// File-system dispatch: chooses the engine by file-system name for scans, recoveries and
// wipes, builds the output path of a recovered file, and holds the size text and the raw
// diagnostic reads.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/recovery_result.h"

namespace fennick::dispatch {

// The folder recovered files go to (the destination field's text).
extern std::string destination_folder;

// Scans current_drive with the engine of its file system; 1 when the volume could be opened
// (also when the scan was stopped), 0 otherwise (unknown file system, unreadable volume).
int scan_volume();

// What a recovery wrote, for the undelete run and the command line.
struct RecoveryOutcome {
  std::string output_path;  // the path actually written
  catalogue::RecoveryResult result;
  bool engine_ran = false;  // false for a record of no known file system
};

// Starts a recovery run: output paths already given out in an earlier run are forgotten.
void begin_recovery_run();
// Ends the run: the volumes it read from are let go (their descriptors closed).
void end_recovery_run();
// Recovers the record below destination_folder, with its folder path when keep_folders is
// set. Always 1; the engines log their own outcome.
int recover_file(const catalogue::TDeletedFile& record, bool keep_folders,
                 RecoveryOutcome* outcome = nullptr);
// Wipes the record's entries on its volume. Always 1; wiped tells whether anything was
// overwritten.
int wipe_file(const catalogue::TDeletedFile& record, bool* wiped = nullptr);

// The output path of a record: destination folder, the record's folder path (when
// keep_folders) and its name, each part made safe for the file system. Paths already in
// `taken` get " (2)", " (3)", ... before the extension.
std::string output_path_for(const catalogue::TDeletedFile& record, bool keep_folders,
                            const std::string& destination, const std::set<std::string>& taken);
// One path component as it may reach the file system: "/" and control characters become
// "_", an empty name, "." or ".." is replaced, so no name can leave its folder, and a name
// longer than Linux's 255 bytes is shortened in its stem, at a character boundary, keeping
// its extension.
std::string safe_component(std::string_view name);

// " b", " Kb" (binary kilo) or " Mb" (decimal mega) text of a size.
std::string size_text(std::int64_t size);

// The preview status line for a record: empty for JPEG names, else message 76 centred.
std::string preview_status_text(const catalogue::TDeletedFile& record);

// 1,024 raw bytes of an NTFS record's MFT entry into buffer; false (buffer left as it was) for
// other records and when they cannot be read.
bool read_record_raw(const catalogue::TDeletedFile& record, std::array<std::uint8_t, 1024>& buffer);
// Sector 0 of the volume under the letter into buffer; false (buffer left) when unreadable.
bool read_boot_sector_raw(char drive_letter, std::array<std::uint8_t, 512>& buffer);

}  // namespace fennick::dispatch

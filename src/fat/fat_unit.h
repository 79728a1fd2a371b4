// FAT engine: FAT12/16/32 layout and FAT access, the deleted-entry scan, recovery and wipe
// of one catalogued file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/recovery_result.h"

namespace fennick::catalogue {
class OutputFile;
}

namespace fennick::fat {

// Sector 0 of the volume the FAT engine works on now; every FAT scan, recovery and wipe
// reads it first.
extern std::array<std::uint8_t, 512> boot_sector;

using catalogue::RecoveryResult;

// Scans the volume of current_drive; 1 when its reader was usable, 0 otherwise.
int scan_fat_volume();
// Copies the record's presumed clusters to output_path; 1 when the volume could be opened.
int recover_fat_file(const catalogue::TDeletedFile& record, const std::string& output_path,
                     RecoveryResult* result = nullptr);
// The same into an output file the caller opened; the engine closes it before it reports
// the outcome. output_path names it in the log.
int recover_fat_file(const catalogue::TDeletedFile& record, catalogue::OutputFile& out,
                     const std::string& output_path, RecoveryResult* result = nullptr);
// A recovery run brackets its files with these: in between, the free clusters a recovery
// learns from a volume's FAT are kept for the run's later files of that volume. Outside a run
// every recovery reads what it needs afresh.
void begin_free_cluster_memory();
void end_free_cluster_memory();
// Overwrites the record's directory entry set; 1 when the volume could be opened.
// wiped, when given, tells whether the entries were actually overwritten.
int wipe_fat_file(const catalogue::TDeletedFile& record, bool* wiped = nullptr);

}  // namespace fennick::fat

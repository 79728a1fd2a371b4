// NTFS engine: the deleted-file scan of one volume, and the recovery and wipe of one
// catalogued file. Everything is read from raw sectors; only the wipe writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/recovery_result.h"

namespace fennick::catalogue {
class OutputFile;
}

namespace fennick::ntfs {

// Sector 0 of the NTFS volume opened last. Every scan, recovery and wipe reads its own
// volume's boot sector into it; it stays in place afterwards for the raw record dump.
extern std::array<std::uint8_t, 512> ntfs_boot_sector;

// Scans the volume of current_drive; 1 when the volume could be opened, else 0.
int scan_ntfs();
// Copies the content of the record's file to output_path; 1 when the volume could be opened.
int recover_ntfs_file(const catalogue::TDeletedFile& record, const std::string& output_path,
                      catalogue::RecoveryResult* result = nullptr);
// The same into an output file the caller opened; the engine closes it before it reports
// the outcome. output_path names it in the log.
int recover_ntfs_file(const catalogue::TDeletedFile& record, catalogue::OutputFile& out,
                      const std::string& output_path, catalogue::RecoveryResult* result = nullptr);
// Overwrites the record's MFT entry with zeros after checking it is still the free record the
// scan saw; 1 when the volume could be opened. wiped tells whether the entry was written.
int wipe_ntfs_record(const catalogue::TDeletedFile& record, bool* wiped = nullptr);

// Bytes per sector and sectors per cluster of the NTFS volume opened last (for the raw
// record dump); 0 before any NTFS volume was opened.
std::uint32_t last_bytes_per_sector();
std::uint32_t last_sectors_per_cluster();

}  // namespace fennick::ntfs

// The NTFS engine: NTFS volumes behind the engine interface. The scan, the recovery and the
// wipe of one found file live in ntfs_scan.cpp, ntfs_recovery.cpp and ntfs_wipe.cpp; the
// volume, MFT and attribute reading they share in ntfs_volume.h and mft_record.h. Everything
// is read from raw sectors; only the wipe writes.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"

namespace fennick::ntfs {

// Scans the MFT for free records that still describe a file; with deep, then reads the free
// clusters outside the MFT for records of files it no longer holds.
bool scan_ntfs(const volume::Volume& volume, catalogue::Catalogue& catalogue, run::RunControl& run,
               messages::StatusChannel& channel, bool deep = false);

// Copies the content of the record's file into out: the record is read again and its
// unnamed $DATA copied, sparse runs as holes and compressed units decoded.
engine::RecoveryResult recover_ntfs_file(const volume::Volume& volume,
                                         const catalogue::FoundFile& record,
                                         catalogue::OutputFile& out, const std::string& output_path,
                                         run::RunControl& run, messages::StatusChannel& channel);

// Overwrites the record's MFT entry with zeros after checking it is still the free record
// the scan saw.
engine::WipeOutcome wipe_ntfs_record(const volume::Volume& volume,
                                     const catalogue::FoundFile& record, run::RunControl& run,
                                     messages::StatusChannel& channel);

class NtfsEngine final : public engine::Engine {
 public:
  bool probe(volume::VolumeSource& source, volume::ByteSpan boot,
             volume::VolumeFacts& facts) const override;
  bool scan(const volume::Volume& volume, catalogue::Catalogue& catalogue, run::RunControl& run,
            messages::StatusChannel& channel) const override;
  bool deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                 run::RunControl& run, messages::StatusChannel& channel) const override;
  engine::RecoveryResult recover(const volume::Volume& volume, const catalogue::FoundFile& record,
                                 catalogue::OutputFile& out, const std::string& output_path,
                                 engine::RecoveryMemory* memory, run::RunControl& run,
                                 messages::StatusChannel& channel) const override;
  engine::WipeOutcome wipe(const volume::Volume& volume, const catalogue::Catalogue& catalogue,
                           const catalogue::FoundFile& record, run::RunControl& run,
                           messages::StatusChannel& channel) const override;
};

}  // namespace fennick::ntfs

// The exFAT engine: exFAT volumes behind the engine interface. The scan, the recovery and the
// wipe of one found file live in exfat_scan.cpp, exfat_recovery.cpp and exfat_wipe.cpp; the
// layout, entry sets and the opened volume they share in exfat_layout.h, exfat_entries.h and
// exfat_volume.h.
#pragma once

#include <string>

#include "engine/engine.h"

namespace fennick::exfat {

// Walks every folder reachable from the root, deleted ones included, and catalogues every
// deleted file and every file inside a deleted folder.
bool scan_exfat_volume(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                       run::RunControl& run, messages::StatusChannel& channel);

// Copies the record's clusters into out: its FAT chain when the set says it has one and the
// chain is still whole, else the clusters from the first on; zeros past the valid data length.
engine::RecoveryResult recover_exfat_file(const volume::Volume& volume,
                                          const catalogue::FoundFile& record,
                                          catalogue::OutputFile& out,
                                          const std::string& output_path, run::RunControl& run,
                                          messages::StatusChannel& channel);

// Overwrites the record's entry set after checking it is still the set the scan saw.
engine::WipeOutcome wipe_exfat_file(const volume::Volume& volume,
                                    const catalogue::Catalogue& catalogue,
                                    const catalogue::FoundFile& record, run::RunControl& run,
                                    messages::StatusChannel& channel);

class ExfatEngine final : public engine::Engine {
 public:
  bool probe(volume::VolumeSource& source, volume::ByteSpan boot,
             volume::VolumeFacts& facts) const override;
  bool scan(const volume::Volume& volume, catalogue::Catalogue& catalogue, run::RunControl& run,
            messages::StatusChannel& channel) const override;
  engine::RecoveryResult recover(const volume::Volume& volume, const catalogue::FoundFile& record,
                                 catalogue::OutputFile& out, const std::string& output_path,
                                 engine::RecoveryMemory* memory, run::RunControl& run,
                                 messages::StatusChannel& channel) const override;
  engine::WipeOutcome wipe(const volume::Volume& volume, const catalogue::Catalogue& catalogue,
                           const catalogue::FoundFile& record, run::RunControl& run,
                           messages::StatusChannel& channel) const override;
};

}  // namespace fennick::exfat

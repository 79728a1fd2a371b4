// The exFAT engine: exFAT volumes behind the engine interface. The scan, the recovery and the
// wipe of one found file live in exfat_scan.cpp, exfat_recovery.cpp and exfat_wipe.cpp; the
// layout, entry sets and the opened volume they share in exfat_layout.h, exfat_entries.h and
// exfat_volume.h.
#pragma once

#include <memory>
#include <string>

#include "engine/engine.h"
#include "exfat/exfat_volume.h"

namespace fennick::exfat {

// What a recovery run keeps for one exFAT volume: the volume opened once (boot region, readers,
// the bitmap's place), rather than once for every file it recovers.
class OpenedVolumeMemory final : public engine::RecoveryMemory {
 public:
  std::unique_ptr<ExfatVolume> volume;
};

// Walks every folder reachable from the root, deleted ones included, and catalogues every
// deleted file and every file inside a deleted folder; with deep, then reads the free
// clusters no walk reached for folders of their own (after a quick format, or whose entry
// is gone).
bool scan_exfat_volume(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                       run::RunControl& run, messages::StatusChannel& channel, bool deep = false);

// Copies the record's clusters into out in the order exfat_file_clusters.h describes, with
// zeros past the valid data length. memory, when given, keeps the opened volume for the run.
engine::RecoveryResult recover_exfat_file(const volume::Volume& volume,
                                          const catalogue::FoundFile& record,
                                          catalogue::OutputFile& out,
                                          const std::string& output_path,
                                          OpenedVolumeMemory* memory, run::RunControl& run,
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
  bool deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                 run::RunControl& run, messages::StatusChannel& channel) const override;
  std::unique_ptr<engine::RecoveryMemory> make_recovery_memory() const override;
  engine::RecoveryResult recover(const volume::Volume& volume, const catalogue::FoundFile& record,
                                 catalogue::OutputFile& out, const std::string& output_path,
                                 engine::RecoveryMemory* memory, run::RunControl& run,
                                 messages::StatusChannel& channel) const override;
  engine::WipeOutcome wipe(const volume::Volume& volume, const catalogue::Catalogue& catalogue,
                           const catalogue::FoundFile& record, run::RunControl& run,
                           messages::StatusChannel& channel) const override;
};

}  // namespace fennick::exfat

// The FAT engine: FAT12/16/32 volumes behind the engine interface. The scan, the recovery and
// the wipe of one found file live in fat_scan.cpp, fat_recovery.cpp and fat_wipe.cpp; the
// layout and FAT lookups they share in fat_layout.h.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "fat/fat_layout.h"

namespace fennick::fat {

// What a recovery run keeps for one FAT volume: the free clusters learnt from its FAT, so
// that the run's later files do not read and test the same stretches of clusters in use.
class FreeClusterMemory final : public engine::RecoveryMemory {
 public:
  FreeClusterMap map;
};

// Scans the volume, walking every folder reachable from the root, deleted ones included; with
// deep, then reads every cluster the walk did not reach for folders that begin there.
bool scan_fat_volume(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                     run::RunControl& run, messages::StatusChannel& channel, bool deep = false);

// Copies the record's presumed clusters into out: the first cluster, then the free clusters
// above it. memory, when given, keeps what the FAT told about free clusters for the run.
engine::RecoveryResult recover_fat_file(const volume::Volume& volume,
                                        const catalogue::FoundFile& record,
                                        catalogue::OutputFile& out, const std::string& output_path,
                                        FreeClusterMemory* memory, run::RunControl& run,
                                        messages::StatusChannel& channel);

// Overwrites the record's directory entry set after checking it is still the deleted entry
// the scan saw; the folder list says whether its folder was a deleted one.
engine::WipeOutcome wipe_fat_file(const volume::Volume& volume,
                                  const catalogue::Catalogue& catalogue,
                                  const catalogue::FoundFile& record, run::RunControl& run,
                                  messages::StatusChannel& channel);

class FatEngine final : public engine::Engine {
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

}  // namespace fennick::fat

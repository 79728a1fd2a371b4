// The FAT engine's interface, over the scan, recovery, wipe and probe.
#include "fat/fat_engine.h"

#include "fat/fat_probe.h"

namespace fennick::fat {

bool FatEngine::probe(volume::VolumeSource& source, volume::ByteSpan boot,
                      volume::VolumeFacts& facts) const {
  return probe_fat(source, boot, facts);
}

bool FatEngine::scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                     run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_fat_volume(volume, catalogue, run, channel);
}

bool FatEngine::deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                          run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_fat_volume(volume, catalogue, run, channel, true);
}

std::unique_ptr<engine::RecoveryMemory> FatEngine::make_recovery_memory() const {
  return std::make_unique<FreeClusterMemory>();
}

engine::RecoveryResult FatEngine::recover(const volume::Volume& volume,
                                          const catalogue::FoundFile& record,
                                          catalogue::OutputFile& out,
                                          const std::string& output_path,
                                          engine::RecoveryMemory* memory, run::RunControl& run,
                                          messages::StatusChannel& channel) const {
  return recover_fat_file(volume, record, out, output_path,
                          dynamic_cast<FreeClusterMemory*>(memory), run, channel);
}

engine::WipeOutcome FatEngine::wipe(const volume::Volume& volume,
                                    const catalogue::Catalogue& catalogue,
                                    const catalogue::FoundFile& record, run::RunControl& run,
                                    messages::StatusChannel& channel) const {
  return wipe_fat_file(volume, catalogue, record, run, channel);
}

}  // namespace fennick::fat

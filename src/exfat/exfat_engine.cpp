// The exFAT engine's interface, over the scan, recovery, wipe and probe.
#include "exfat/exfat_engine.h"

#include "exfat/exfat_probe.h"

namespace fennick::exfat {

bool ExfatEngine::probe(volume::VolumeSource& source, volume::ByteSpan boot,
                        volume::VolumeFacts& facts) const {
  return probe_exfat(source, boot, facts);
}

bool ExfatEngine::scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                       run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_exfat_volume(volume, catalogue, run, channel);
}

bool ExfatEngine::deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                            run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_exfat_volume(volume, catalogue, run, channel, true);
}

std::unique_ptr<engine::RecoveryMemory> ExfatEngine::make_recovery_memory() const {
  return std::make_unique<OpenedVolumeMemory>();
}

engine::RecoveryResult ExfatEngine::recover(const volume::Volume& volume,
                                            const catalogue::FoundFile& record,
                                            catalogue::OutputFile& out,
                                            const std::string& output_path,
                                            engine::RecoveryMemory* memory, run::RunControl& run,
                                            messages::StatusChannel& channel) const {
  return recover_exfat_file(volume, record, out, output_path,
                            dynamic_cast<OpenedVolumeMemory*>(memory), run, channel);
}

engine::WipeOutcome ExfatEngine::wipe(const volume::Volume& volume,
                                      const catalogue::Catalogue& catalogue,
                                      const catalogue::FoundFile& record, run::RunControl& run,
                                      messages::StatusChannel& channel) const {
  return wipe_exfat_file(volume, catalogue, record, run, channel);
}

}  // namespace fennick::exfat

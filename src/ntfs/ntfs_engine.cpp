// The NTFS engine's interface, over the scan, recovery, wipe and probe.
#include "ntfs/ntfs_engine.h"

#include "ntfs/ntfs_probe.h"

namespace fennick::ntfs {

bool NtfsEngine::probe(volume::VolumeSource& source, volume::ByteSpan boot,
                       volume::VolumeFacts& facts) const {
  return probe_ntfs(source, boot, facts);
}

bool NtfsEngine::scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                      run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_ntfs(volume, catalogue, run, channel);
}

bool NtfsEngine::deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                           run::RunControl& run, messages::StatusChannel& channel) const {
  return scan_ntfs(volume, catalogue, run, channel, true);
}

engine::RecoveryResult NtfsEngine::recover(const volume::Volume& volume,
                                           const catalogue::FoundFile& record,
                                           catalogue::OutputFile& out,
                                           const std::string& output_path,
                                           engine::RecoveryMemory* /*memory*/, run::RunControl& run,
                                           messages::StatusChannel& channel) const {
  return recover_ntfs_file(volume, record, out, output_path, run, channel);
}

engine::WipeOutcome NtfsEngine::wipe(const volume::Volume& volume,
                                     const catalogue::Catalogue& /*catalogue*/,
                                     const catalogue::FoundFile& record, run::RunControl& run,
                                     messages::StatusChannel& channel) const {
  return wipe_ntfs_record(volume, record, run, channel);
}

}  // namespace fennick::ntfs

// The one interface every file-system engine offers: probe a volume, scan it for deleted
// files into a catalogue, recover one found file into an output file, wipe one found file's
// remains. The workflow layer picks the engine by the volume's file-system kind
// (workflow/engines.h) and never needs to know which one it holds.
//
// An engine keeps no state between calls: everything an operation works with is passed in,
// and what a recovery run remembers from file to file lives in a RecoveryMemory the run owns.
#pragma once

#include <memory>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/output_file.h"
#include "engine/recovery_result.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/le_read.h"
#include "volume/volume.h"
#include "volume/volume_facts.h"

namespace fennick::engine {

// What an engine keeps for one volume over the files of one recovery run.
class RecoveryMemory {
 public:
  virtual ~RecoveryMemory() = default;
};

// How a wipe of one found file ended.
enum class WipeOutcome {
  wiped,       // its remains were overwritten
  left_alone,  // nothing was written: the volume no longer holds what the scan saw, or the
               // volume could not be read (the log says which)
  stopped,     // the run was stopped before anything was written
};

class Engine {
 public:
  virtual ~Engine() = default;

  // True when sector 0 (boot, 512 bytes) is a volume of this engine's file system; facts
  // then holds what the volume's own structures say about it.
  virtual bool probe(volume::VolumeSource& source, volume::ByteSpan boot,
                     volume::VolumeFacts& facts) const = 0;

  // Adds the volume's deleted files to the catalogue (and the folders on their paths to the
  // volume's folder list). False when the volume could not be read at all (the log says
  // why); a scan the run stopped is true.
  virtual bool scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                    run::RunControl& run, messages::StatusChannel& channel) const = 0;

  // As scan, then reads the whole volume once, in order, for what the scan could not reach
  // (folders whose parent entry is gone, folders of an earlier file system after a format),
  // and adds those files marked as found by the deep scan. An engine without such a pass
  // scans as scan does.
  virtual bool deep_scan(const volume::Volume& volume, catalogue::Catalogue& catalogue,
                         run::RunControl& run, messages::StatusChannel& channel) const {
    return scan(volume, catalogue, run, channel);
  }

  // What this engine keeps over a recovery run's files of one volume; null when nothing.
  virtual std::unique_ptr<RecoveryMemory> make_recovery_memory() const { return nullptr; }

  // Copies the found file's presumed content into out, which the engine closes before it
  // logs the outcome; output_path names the file in the log.
  virtual RecoveryResult recover(const volume::Volume& volume, const catalogue::FoundFile& record,
                                 catalogue::OutputFile& out, const std::string& output_path,
                                 RecoveryMemory* memory, run::RunControl& run,
                                 messages::StatusChannel& channel) const = 0;

  // Overwrites the found file's entries on the volume after checking they still are what the
  // scan saw. The caller holds the volume's write session.
  virtual WipeOutcome wipe(const volume::Volume& volume, const catalogue::Catalogue& catalogue,
                           const catalogue::FoundFile& record, run::RunControl& run,
                           messages::StatusChannel& channel) const = 0;
};

}  // namespace fennick::engine

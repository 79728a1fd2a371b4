// The wipe run: overwriting what is left of the chosen found files, with the log lines, the
// progress, the stop and the catalogue's bookkeeping (a wiped file leaves the lists and its
// type's count), for both front ends.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "workflow/drive_list.h"

namespace fennick::workflow {

// Wipes one found file inside a write session on its volume: a mounted volume, a name that
// now stands for another file, or a volume that cannot be opened for writing is refused with
// a log line and nothing written.
engine::WipeOutcome wipe_file(const DriveList& drives, const catalogue::Catalogue& catalogue,
                              const catalogue::FoundFile& record, run::RunControl& run,
                              messages::StatusChannel& channel);

struct WipeSummary {
  bool nothing_to_do = false;  // no file was chosen: message 60
  bool any_failed = false;     // some file was left as it was
  bool stopped = false;
};

// Wipes the records at the catalogue indexes, in that order: logs " Start wipe" and the end
// (58 or 59), moves the progress bar per file, lets pending events through before each file
// and stops there when asked. A file whose remains were overwritten is marked wiped in the
// catalogue; one the engine left alone stays listed. after_file runs after each file, before
// the catalogue is told.
WipeSummary wipe_files(
    const DriveList& drives, catalogue::Catalogue& catalogue,
    const std::vector<std::int32_t>& indexes, run::RunControl& run,
    messages::StatusChannel& channel,
    const std::function<void(std::int32_t index, engine::WipeOutcome)>& after_file = {});

}  // namespace fennick::workflow

// The wipe run.
#include "workflow/wipe_run.h"

#include <cstring>

#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "volume/write_session.h"
#include "workflow/engines.h"

namespace fennick::workflow {

engine::WipeOutcome wipe_file(const DriveList& drives, const catalogue::Catalogue& catalogue,
                              const catalogue::FoundFile& record, run::RunControl& run,
                              messages::StatusChannel& channel) {
  using engine::WipeOutcome;
  if (record.name.empty()) return WipeOutcome::left_alone;
  const engine::Engine* engine = engine_for(record.fs_kind);
  if (engine == nullptr) return WipeOutcome::left_alone;
  const Drive* drive =
      record.drive_index >= 0 && static_cast<std::size_t>(record.drive_index) < drives.size()
          ? &drives[static_cast<std::size_t>(record.drive_index)]
          : nullptr;
  // The engine's checking reads and its writes all go through this session's descriptor.
  const volume::WriteSession session(drive ? drive->source : nullptr);
  switch (session.refusal()) {
    case volume::WriteRefusal::none:
      break;
    case volume::WriteRefusal::mounted:
      channel.log(channel.text(messages::wipe_refused_mounted) + session.volume_path());
      return WipeOutcome::left_alone;
    case volume::WriteRefusal::not_the_scanned_volume:
      channel.log(channel.text(messages::volume_not_the_scanned_one) + session.volume_path());
      return WipeOutcome::left_alone;
    case volume::WriteRefusal::read_only_format:
      channel.log(channel.text(messages::error_prefix) + channel.text(messages::cannot_wipe) +
                  record.name.str() + channel.text(messages::image_not_written_in_place) +
                  session.volume_path());
      return WipeOutcome::left_alone;
    case volume::WriteRefusal::cannot_open:
      channel.log(channel.text(messages::error_prefix) + channel.text(messages::cannot_wipe) +
                  record.name.str() + ": " + std::strerror(session.error()) + ": " +
                  session.volume_path());
      return WipeOutcome::left_alone;
  }
  return engine->wipe(*drive, catalogue, record, run, channel);
}

WipeSummary wipe_files(const DriveList& drives, catalogue::Catalogue& catalogue,
                       const std::vector<std::int32_t>& indexes, run::RunControl& run,
                       messages::StatusChannel& channel,
                       const std::function<void(std::int32_t, engine::WipeOutcome)>& after_file) {
  WipeSummary summary;
  const auto total = static_cast<std::int64_t>(indexes.size());
  run.work_total = total;
  run.work_done = 0;
  if (total == 0) {
    summary.nothing_to_do = true;
    channel.out_text(channel.text(messages::no_files_to_wipe), messages::DialogKind::error, true);
    return summary;
  }
  channel.set_progress_range(static_cast<std::int32_t>(total));
  channel.set_progress(0);
  channel.log(" Start wipe");
  for (const std::int32_t i : indexes) {
    if (run.stop_requested()) break;
    run.pump_events();
    // A stop that arrived just now wipes nothing more.
    if (run.stop_requested()) break;
    catalogue::FoundFile& record = catalogue.files()[static_cast<std::size_t>(i)];
    const engine::WipeOutcome outcome = wipe_file(drives, catalogue, record, run, channel);
    ++run.work_done;
    channel.set_progress(static_cast<std::int32_t>(run.work_done));
    if (after_file) after_file(i, outcome);
    // Only a file whose remains were overwritten leaves the catalogue; one the engine could
    // not wipe stays listed and counted, so the list never claims a wipe that did not happen.
    if (outcome == engine::WipeOutcome::wiped) {
      catalogue.mark_wiped(record);
    } else {
      summary.any_failed = true;
    }
  }
  summary.stopped = run.stop_requested();
  // A medium that went away ended the run: the files not reached are not wiped.
  if (run.source_lost()) summary.any_failed = true;
  channel.set_progress(static_cast<std::int32_t>(total));
  channel.log(channel.text(summary.stopped ? messages::wipe_interrupted : messages::wipe_ended));
  return summary;
}

}  // namespace fennick::workflow

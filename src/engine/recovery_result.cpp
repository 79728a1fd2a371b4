// The line that ends the recovery of one file, the same for every engine.
#include "engine/recovery_result.h"

#include "messages/message_ids.h"
#include "messages/program_texts.h"

namespace fennick::engine {

namespace {
// Ranges named in a log line; a dying disk may leave thousands.
constexpr std::size_t ranges_named = 8;
}  // namespace

std::string byte_ranges_text(const ByteRanges& ranges) {
  std::string text;
  for (std::size_t i = 0; i < ranges.size() && i < ranges_named; ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(ranges[i].first) + "-" + std::to_string(ranges[i].second - 1);
  }
  if (ranges.size() > ranges_named)
    text += " (+" + std::to_string(ranges.size() - ranges_named) + ")";
  return text;
}

void finish_recovery(RecoveryResult& result, const catalogue::FoundFile& record,
                     const std::string& output_path, messages::StatusChannel& channel) {
  result.overwritten = record.quality == 0;
  if (result.failed || result.destination_full) return;
  const auto ranges_line = [&](int text, const ByteRanges& ranges) {
    channel.log(channel.text(text) + output_path + ": " + byte_ranges_text(ranges));
  };
  switch (result.outcome()) {
    case RecoveryOutcome::interrupted:
      channel.log(channel.text(messages::interrupted_prefix) + output_path);
      break;
    case RecoveryOutcome::overwritten:
      channel.log(channel.text(messages::copied_but_overwritten) + output_path);
      break;
    case RecoveryOutcome::recovered:
      channel.log(channel.text(messages::undeleted_prefix) + output_path);
      break;
    default:
      break;
  }
  // What of the output is zeros, also for a file cut short: the part written is still to be
  // distrusted there.
  if (!result.zero_ranges.empty()) {
    ranges_line(messages::zeros_for_unreadable_bytes, result.zero_ranges);
  }
  if (!result.damaged_ranges.empty()) {
    ranges_line(messages::damaged_compressed_units, result.damaged_ranges);
  }
}

}  // namespace fennick::engine

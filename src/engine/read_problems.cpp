// Sector-reader problems as log lines.
#include "engine/read_problems.h"

#include <string>

#include "messages/program_texts.h"

namespace fennick::engine {

namespace {

void show(messages::StatusChannel& channel, const volume::ReadProblem& problem) {
  // A window computed outside the volume and an unreadable stretch are notes for the log;
  // everything else means a read the operation needed did not happen.
  const bool serious = problem.kind != volume::ReadProblemKind::window_out_of_range &&
                       problem.kind != volume::ReadProblemKind::unreadable_stretch;
  std::string text = problem.text;
  if (problem.kind == volume::ReadProblemKind::unreadable_stretch) {
    text = channel.text(messages::unreadable_stretch) + problem.text;
  } else if (problem.kind == volume::ReadProblemKind::source_gone) {
    text = channel.text(messages::medium_gone);
  }
  channel.out_text(text, serious ? messages::DialogKind::error : messages::DialogKind::plain,
                   serious);
}

}  // namespace

volume::ReadProblemHandler report_to(messages::StatusChannel& channel) {
  return [&channel](const volume::ReadProblem& problem) { show(channel, problem); };
}

volume::ReadProblemHandler report_to(messages::StatusChannel& channel, run::RunControl& run) {
  return [&channel, &run](const volume::ReadProblem& problem) {
    if (problem.kind == volume::ReadProblemKind::source_gone) {
      if (run.lose_source()) show(channel, problem);
      return;
    }
    show(channel, problem);
  };
}

}  // namespace fennick::engine

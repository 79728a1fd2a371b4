// fennick-cli scan, recover and wipe: scan the named volumes, select files with the filter
// and sort options, then print, recover or wipe them.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue_view.h"
#include "catalogue/date_time.h"
#include "cli/bodyfile.h"
#include "cli/cli_commands.h"
#include "cli/stop_signals.h"
#include "cli/terminal_text.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "workflow/record_text.h"
#include "workflow/recovery_run.h"
#include "workflow/scan_run.h"
#include "workflow/wipe_run.h"

namespace fennick::cli {

namespace {

using catalogue::FoundFile;

struct RecordPick {
  char letter = 0;  // 0: any drive
  std::int32_t record_no = 0;
};

struct ScanOptions {
  CommonOptions common;
  catalogue::TCustomFilter filter;
  std::optional<std::int64_t> max_size;  // a second, upper size bound
  std::vector<RecordPick> records;
  int sort_key = catalogue::sort_none;
  bool sort_given = false;
  std::string destination;
  bool keep_folders = false;
  bool file_times = true;  // recovered files get the found files' modified times
  bool yes = false;
  bool deep = false;      // --deep: read each volume whole after the ordinary scan
  bool bodyfile = false;  // scan --format bodyfile: a timeline's body file, not a table
  std::string manifest;   // recover --manifest FILE
};

enum class Command { scan, recover, wipe };

bool parse_int64(const std::string& text, std::int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

bool parse_record_pick(const std::string& text, RecordPick& pick) {
  std::string number = text;
  if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]))) {
    pick.letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    number = text.substr(2);
  }
  std::int64_t n = 0;
  if (!parse_int64(number, n) || n < INT32_MIN || n > INT32_MAX) return false;
  pick.record_no = static_cast<std::int32_t>(n);
  return true;
}

const std::vector<std::string> sort_names = {"none", "name",    "path",    "status",
                                             "size", "created", "modified"};

// Parses the options of scan, recover and wipe; false with status set on a usage error.
bool parse_scan_options(Command command, const std::vector<std::string>& args, ScanOptions& o,
                        int& status) {
  o.common.format = default_output_format(stdout);
  auto& f = o.filter;
  int date_kind = -1;
  f.date_from = catalogue::Timestamp::earliest();
  f.date_to = catalogue::Timestamp::latest();
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool has_inline = false;
    if (a.starts_with("--") && a.find('=') != std::string::npos) {
      value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
      has_inline = true;
    }
    auto next_value = [&](std::string& out) {
      if (has_inline) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        status = usage_error(a + " needs a value");
        return false;
      }
      out = args[++i];
      return true;
    };
    auto date_option = [&](int kind, bool from) {
      std::string v;
      if (!next_value(v)) return false;
      if (date_kind >= 0 && date_kind != kind) {
        status = usage_error("modified and created dates cannot be combined");
        return false;
      }
      const auto d = catalogue::parse_timestamp(v);
      if (!d) {
        status = usage_error("not a date (YYYY-MM-DD): " + v);
        return false;
      }
      date_kind = kind;
      // A day given as the lower bound starts at 00:00; as the upper bound it takes in the
      // whole day, up to the start of the next, as the filter dialog stores them.
      const bool day_only = v.size() <= 10;
      if (from) {
        f.date_from = *d;
      } else {
        f.date_to = day_only ? catalogue::day_after(*d) : *d;
      }
      return true;
    };
    std::string v;
    if (a == "--format") {
      if (!next_value(v)) return false;
      o.bodyfile = v == "bodyfile" && command == Command::scan;
      if (!o.bodyfile && !parse_output_format(v, o.common.format)) {
        status = usage_error("unknown format: " + v);
        return false;
      }
    } else if (a == "--name") {
      if (!next_value(v)) return false;
      f.name_on = true;
      f.name_part = v;
    } else if (a == "--modified-from" || a == "--modified-to" || a == "--created-from" ||
               a == "--created-to") {
      if (!date_option(a.starts_with("--created") ? 1 : 0, a.ends_with("-from"))) return false;
    } else if (a == "--min-size" || a == "--max-size") {
      std::int64_t n = 0;
      if (!next_value(v)) return false;
      if (!parse_int64(v, n) || n < 0) {
        status = usage_error(a + " needs a number of bytes: " + v);
        return false;
      }
      if (a == "--min-size") {
        f.size_on = true;
        f.size_mode = 0;
        f.size_limit = n;
      } else {
        o.max_size = n;
      }
    } else if (a == "--deep") {
      o.deep = true;
    } else if (a == "--hide-overwritten") {
      f.hide_overwritten = true;
    } else if (a == "--hide-temporary") {
      f.hide_temporary = true;
    } else if (a == "--record") {
      RecordPick pick;
      if (!next_value(v)) return false;
      if (!parse_record_pick(v, pick)) {
        status = usage_error("--record needs [LETTER:]NUMBER: " + v);
        return false;
      }
      o.records.push_back(pick);
    } else if (a == "--sort") {
      if (!next_value(v)) return false;
      const auto it = std::find(sort_names.begin(), sort_names.end(), v);
      if (it == sort_names.end()) {
        status = usage_error("unknown sort key: " + v);
        return false;
      }
      o.sort_key = static_cast<int>(it - sort_names.begin());
      o.sort_given = true;
    } else if (a == "--to" && command == Command::recover) {
      if (!next_value(o.destination)) return false;
    } else if (a == "--keep-folders" && command == Command::recover) {
      o.keep_folders = true;
    } else if (a == "--no-times" && command == Command::recover) {
      o.file_times = false;
    } else if (a == "--manifest" && command == Command::recover) {
      if (!next_value(o.manifest)) return false;
      if (o.manifest.empty()) {
        status = usage_error("--manifest needs a file name");
        return false;
      }
    } else if (a == "--yes" && command == Command::wipe) {
      o.yes = true;
    } else if (a.starts_with("-") && a != "-") {
      status = usage_error("unknown option: " + a);
      return false;
    } else {
      o.common.volumes.push_back(args[i]);
    }
  }
  if (date_kind >= 0) {
    f.date_on = true;
    f.date_kind = static_cast<std::uint8_t>(date_kind);
  }
  if (o.common.volumes.empty()) {
    status = usage_error("no volume given");
    return false;
  }
  if (command == Command::recover && o.destination.empty()) {
    status = usage_error("recover needs --to DIR");
    return false;
  }
  if (command == Command::wipe && !o.yes) {
    status = usage_error("wipe destroys what is left of the selected files; confirm with --yes");
    return false;
  }
  return true;
}

// What one command works with: the named volumes, the catalogue of their scan, the run and
// the console.
struct Session {
  workflow::DriveList drives;
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::StatusChannel& channel;
};

// Scans every named volume; false when one could not be read or scanned.
bool scan_named_volumes(const ScanOptions& o, Session& session) {
  LoadedDrives loaded = load_named_volumes(o.common.volumes, false);
  session.drives = std::move(loaded.drives);
  for (auto& d : session.drives) d.ticked = true;
  // A terminal shows the scan line at once: no pause before the volume is read.
  workflow::ScanSettings settings;
  settings.pause_before_scan = std::chrono::milliseconds(0);
  settings.deep = o.deep;
  const workflow::ScanSummary summary = workflow::scan_ticked_drives(
      session.drives, session.catalogue, session.run, session.channel, settings);
  session.channel.log(
      session.channel.text(messages::recoverable_files) +
      std::to_string(session.catalogue.deleted_count() - session.catalogue.wiped_count()));
  return loaded.readable && summary.all_scanned;
}

// Catalogue indexes of the selected records, in catalogue order.
std::vector<std::int32_t> select_records(const ScanOptions& o, Session& session) {
  if (o.sort_given) catalogue::sort_catalogue(session.catalogue, o.sort_key);
  catalogue::CatalogueView view;
  view.filter = o.filter;
  view.build_row_map(session.catalogue, 0, catalogue::any_drive, 0);
  std::vector<std::int32_t> chosen;
  for (const std::int32_t i : view.row_map) {
    const FoundFile& r = session.catalogue.files()[static_cast<std::size_t>(i)];
    if (o.max_size && !(r.size < *o.max_size)) continue;
    if (!o.records.empty()) {
      bool picked = false;
      for (const RecordPick& p : o.records) {
        picked |= p.record_no == r.record_no && (p.letter == 0 || p.letter == r.drive_letter);
      }
      if (!picked) continue;
    }
    chosen.push_back(i);
  }
  return chosen;
}

std::string upper_letter(char letter) {
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

void print_records(const std::vector<std::int32_t>& chosen, const catalogue::Catalogue& catalogue,
                   OutputFormat format) {
  OutputTable table;
  table.columns = {{"drive"},
                   {"record", true},
                   {"name"},
                   {"path"},
                   {"size", true},
                   {"quality", true},
                   {"status"},
                   {"created"},
                   {"modified"},
                   // Added last, so that readers of the first nine columns read on as before.
                   {"deep", true}};
  table.made_rows = chosen.size();
  table.make_row = [&chosen, &catalogue](std::size_t row, std::vector<std::string>& cells) {
    const FoundFile& r = catalogue.files()[static_cast<std::size_t>(chosen[row])];
    const int word = workflow::status_message(r.quality);
    cells.resize(10);
    cells[0] = upper_letter(r.drive_letter);
    cells[1] = std::to_string(r.record_no);
    cells[2] = r.name.view();
    cells[3] = r.path.view();
    cells[4] = std::to_string(r.size);
    cells[5] = std::to_string(r.quality);
    cells[6] = word < 0 ? std::string() : messages::get_message(messages::english_base, word);
    cells[7] = catalogue::format_timestamp(r.created);
    cells[8] = catalogue::format_timestamp(r.modified);
    cells[9] = r.found_by_deep_scan ? "1" : "0";
  };
  print_table(table, format, stdout);
}

int recover_selected(const ScanOptions& o, const std::vector<std::int32_t>& chosen,
                     Session& session) {
  std::error_code ec;
  std::filesystem::create_directories(o.destination, ec);
  if (!std::filesystem::is_directory(o.destination)) {
    std::fprintf(stderr, "fennick-cli: cannot use %s as the destination folder: %s\n",
                 terminal_text(o.destination).c_str(),
                 ec ? terminal_text(ec.message()).c_str() : "not a folder");
    return exit_usage;
  }
  workflow::RecoverySettings settings;
  settings.destination = o.destination;
  settings.keep_folders = [&o] { return o.keep_folders; };
  settings.file_times = o.file_times;
  settings.manifest_path = o.manifest;
  const workflow::RecoverySummary summary = workflow::recover_files(
      session.drives, session.catalogue, chosen, settings, session.run, session.channel);
  return summary.any_failed ? exit_some_failed : exit_done;
}

int wipe_selected(const std::vector<std::int32_t>& chosen, Session& session) {
  const workflow::WipeSummary summary =
      workflow::wipe_files(session.drives, session.catalogue, chosen, session.run, session.channel,
                           [&session](std::int32_t i, engine::WipeOutcome) {
                             session.catalogue.files()[static_cast<std::size_t>(i)].selected = 0;
                           });
  return summary.any_failed ? exit_some_failed : exit_done;
}

int run(Command command, const std::vector<std::string>& args, messages::StatusChannel& channel) {
  ScanOptions o;
  int status = exit_done;
  if (!parse_scan_options(command, args, o, status)) return status;
  Session session{{}, {}, {}, channel};
  const StopSignals signals(session.run, StopSignals::Repeat::ends_program);
  const bool readable = scan_named_volumes(o, session);
  const std::vector<std::int32_t> chosen = select_records(o, session);
  int result = exit_done;
  if (command == Command::scan) {
    if (o.bodyfile) {
      print_bodyfile(chosen, session.catalogue, stdout);
    } else {
      print_records(chosen, session.catalogue, o.common.format);
    }
  } else if (command == Command::recover) {
    result = recover_selected(o, chosen, session);
  } else {
    result = wipe_selected(chosen, session);
  }
  if (result == exit_usage) return result;
  return readable ? result : exit_unreadable;
}

}  // namespace

int run_scan(const std::vector<std::string>& args, messages::StatusChannel& channel) {
  return run(Command::scan, args, channel);
}
int run_recover(const std::vector<std::string>& args, messages::StatusChannel& channel) {
  return run(Command::recover, args, channel);
}
int run_wipe(const std::vector<std::string>& args, messages::StatusChannel& channel) {
  return run(Command::wipe, args, channel);
}

}  // namespace fennick::cli

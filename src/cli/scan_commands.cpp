// fennick-cli scan, recover and wipe: scan the named volumes, select files with the filter
// and sort options, then print, recover or wipe them.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue_view.h"
#include "catalogue/date_time.h"
#include "cli/cli_commands.h"
#include "cli/terminal_text.h"
#include "dispatch/scan_run.h"
#include "dispatch/undelete_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "volume/drive_table.h"

namespace fennick::cli {

namespace {

using catalogue::TDeletedFile;

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
  bool yes = false;
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
  f.date_from = -1e9;
  f.date_to = 1e9;
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
      const auto d = catalogue::parse_datetime(v);
      if (!d) {
        status = usage_error("not a date (YYYY-MM-DD): " + v);
        return false;
      }
      date_kind = kind;
      // A day given as the lower bound starts at 00:00; as the upper bound it ends at the
      // day's last moment, as the filter dialog stores them.
      const bool day_only = v.size() <= 10;
      if (from) {
        f.date_from = *d;
      } else {
        f.date_to = day_only ? *d + 0.99999999 : *d;
      }
      return true;
    };
    std::string v;
    if (a == "--format") {
      if (!next_value(v)) return false;
      if (!parse_output_format(v, o.common.format)) {
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

extern "C" void on_interrupt(int) {
  // The running loop sees the request after its current piece and ends cleanly.
  messages::stop_flag = 1;
  std::signal(SIGINT, SIG_DFL);
}

// Scans every named volume; false when one could not be read or scanned.
bool scan_named_volumes(const ScanOptions& o) {
  bool readable = load_named_volumes(o.common.volumes, false);
  for (auto& d : volume::drive_table) d.ticked = true;
  catalogue::clear_catalogue();
  messages::stop_flag = 0;
  dispatch::pause_before_scan = std::chrono::milliseconds(0);
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::current_drive = static_cast<std::int32_t>(i);
    if (messages::stop_flag != 0) break;
    if (!dispatch::scan_drive()) readable = false;
  }
  messages::out_text(messages::get_message(35) +
                     std::to_string(catalogue::deleted_count - catalogue::wiped_count));
  return readable;
}

// Catalogue indexes of the selected records, in catalogue order.
std::vector<std::int32_t> select_records(const ScanOptions& o) {
  if (o.sort_given) catalogue::sort_catalogue(o.sort_key);
  catalogue::current_filter = o.filter;
  catalogue::build_row_map(0, 20, 0);
  std::vector<std::int32_t> chosen;
  for (const std::int32_t i : catalogue::row_map) {
    const TDeletedFile& r = catalogue::deleted_files[static_cast<std::size_t>(i)];
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

void print_records(const std::vector<std::int32_t>& chosen, OutputFormat format) {
  OutputTable table;
  table.columns = {{"drive"},         {"record", true}, {"name"},    {"path"},    {"size", true},
                   {"quality", true}, {"status"},       {"created"}, {"modified"}};
  table.made_rows = chosen.size();
  table.make_row = [&chosen](std::size_t row, std::vector<std::string>& cells) {
    const TDeletedFile& r = catalogue::deleted_files[static_cast<std::size_t>(chosen[row])];
    const int word = dispatch::status_message(r.quality);
    cells.resize(9);
    cells[0] = upper_letter(r.drive_letter);
    cells[1] = std::to_string(r.record_no);
    cells[2] = r.name.view();
    cells[3] = r.path.view();
    cells[4] = std::to_string(r.size);
    cells[5] = std::to_string(r.quality);
    cells[6] = word < 0 ? std::string() : messages::get_message(messages::english_base, word);
    cells[7] = catalogue::format_datetime(r.created);
    cells[8] = catalogue::format_datetime(r.modified);
  };
  print_table(table, format, stdout);
}

int recover_selected(const ScanOptions& o, const std::vector<std::int32_t>& chosen) {
  using messages::get_message;
  std::error_code ec;
  std::filesystem::create_directories(o.destination, ec);
  if (!std::filesystem::is_directory(o.destination)) {
    std::fprintf(stderr, "fennick-cli: cannot use %s as the destination folder: %s\n",
                 terminal_text(o.destination).c_str(),
                 ec ? terminal_text(ec.message()).c_str() : "not a folder");
    return exit_usage;
  }
  if (chosen.empty()) {
    messages::out_text(get_message(55));
    return exit_done;
  }
  dispatch::destination_folder = o.destination;
  dispatch::begin_recovery_run();
  messages::work_total = 0;
  messages::work_done = 0;
  for (const std::int32_t i : chosen) messages::work_total += catalogue::deleted_files[i].size;
  messages::channel().set_progress_range(100);
  messages::out_text(get_message(52));
  bool any_failed = false;
  bool destination_full = false;
  for (const std::int32_t i : chosen) {
    if (messages::stop_flag != 0) break;
    const TDeletedFile& r = catalogue::deleted_files[static_cast<std::size_t>(i)];
    volume::current_drive = r.drive_index;
    dispatch::RecoveryOutcome outcome;
    dispatch::recover_file(r, o.keep_folders, &outcome);
    if (!outcome.engine_ran || outcome.result.failed) any_failed = true;
    if (outcome.result.destination_full) {
      destination_full = true;
      break;
    }
  }
  dispatch::end_recovery_run();
  messages::out_text(get_message(messages::stop_flag != 0 || destination_full ? 53 : 54));
  return any_failed ? exit_some_failed : exit_done;
}

int wipe_selected(const std::vector<std::int32_t>& chosen) {
  using messages::get_message;
  if (chosen.empty()) {
    messages::out_text(get_message(60));
    return exit_done;
  }
  messages::work_total = static_cast<std::int64_t>(chosen.size());
  messages::work_done = 0;
  messages::channel().set_progress_range(static_cast<std::int32_t>(chosen.size()));
  messages::out_text(" Start wipe");
  bool any_failed = false;
  for (const std::int32_t i : chosen) {
    if (messages::stop_flag != 0) break;
    TDeletedFile& r = catalogue::deleted_files[static_cast<std::size_t>(i)];
    bool wiped = false;
    dispatch::wipe_file(r, &wiped);
    if (wiped) {
      catalogue::mark_wiped(r);
    } else {
      any_failed = true;
    }
    messages::channel().set_progress(static_cast<std::int32_t>(++messages::work_done));
  }
  messages::out_text(get_message(messages::stop_flag != 0 ? 58 : 59));
  return any_failed ? exit_some_failed : exit_done;
}

int run(Command command, const std::vector<std::string>& args) {
  ScanOptions o;
  int status = exit_done;
  if (!parse_scan_options(command, args, o, status)) return status;
  std::signal(SIGINT, on_interrupt);
  const bool readable = scan_named_volumes(o);
  const std::vector<std::int32_t> chosen = select_records(o);
  int result = exit_done;
  if (command == Command::scan) {
    print_records(chosen, o.common.format);
  } else if (command == Command::recover) {
    result = recover_selected(o, chosen);
  } else {
    result = wipe_selected(chosen);
  }
  std::signal(SIGINT, SIG_DFL);
  if (result == exit_usage) return result;
  return readable ? result : exit_unreadable;
}

}  // namespace

int run_scan(const std::vector<std::string>& args) { return run(Command::scan, args); }
int run_recover(const std::vector<std::string>& args) { return run(Command::recover, args); }
int run_wipe(const std::vector<std::string>& args) { return run(Command::wipe, args); }

}  // namespace fennick::cli

// fennick-cli drives: the drive table of the named volumes, or of the machine.
#include <filesystem>
#include <string>

#include "cli/cli_commands.h"
#include "cli/terminal_text.h"
#include "workflow/drive_list.h"

namespace fennick::cli {

LoadedDrives load_named_volumes(const std::vector<std::string>& volumes,
                                bool include_block_devices) {
  workflow::DriveListing listing = workflow::list_drives(volumes, include_block_devices);
  for (const workflow::DriveProblem& p : listing.problems) {
    std::fprintf(stderr, "fennick-cli: cannot read volume %s: %s\n", terminal_text(p.path).c_str(),
                 terminal_text(p.reason).c_str());
  }
  return LoadedDrives{std::move(listing.drives), std::move(listing.others),
                      listing.problems.empty()};
}

namespace {

// Parses the options of a command that takes volumes and an output format.
bool parse_common(const std::vector<std::string>& args, CommonOptions& options, int& status) {
  options.format = default_output_format(stdout);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--format" || a.starts_with("--format=")) {
      std::string value;
      if (a == "--format") {
        if (i + 1 >= args.size()) {
          status = usage_error("--format needs table, tsv or json");
          return false;
        }
        value = args[++i];
      } else {
        value = a.substr(9);
      }
      if (!parse_output_format(value, options.format)) {
        status = usage_error("unknown format: " + value);
        return false;
      }
      options.format_given = true;
    } else if (a.starts_with("-") && a != "-") {
      status = usage_error("unknown option: " + a);
      return false;
    } else {
      options.volumes.push_back(a);
    }
  }
  return true;
}

}  // namespace

int run_drives(const std::vector<std::string>& args) {
  CommonOptions options;
  int status = exit_done;
  if (!parse_common(args, options, status)) return status;
  const LoadedDrives loaded = load_named_volumes(options.volumes, options.volumes.empty());

  OutputTable table;
  table.columns = {{"drive"},
                   {"caption"},
                   {"fs"},
                   {"cluster_size", true},
                   {"total_bytes", true},
                   {"free_bytes", true},
                   {"source"},
                   {"partition"}};
  // "#2 at 1048576, 33554432 bytes" for a partition of a disk; empty for a whole file or device.
  const auto place = [](int number, std::uint64_t start, std::uint64_t length) {
    std::string text = number > 0 ? "#" + std::to_string(number) + " " : std::string();
    return text + "at " + std::to_string(start) + ", " + std::to_string(length) + " bytes";
  };
  for (const workflow::Drive& d : loaded.drives) {
    const bool inside = d.partition_number > 0 || d.offset > 0;
    table.rows.push_back(
        {std::string(1, static_cast<char>(d.drive_letter - 'a' + 'A')) + ":",
         workflow::drive_caption(d), d.fs_name(), std::to_string(d.cluster_size),
         std::to_string(d.total_bytes), std::to_string(d.free_bytes), d.source_path,
         inside ? place(d.partition_number, d.offset, static_cast<std::uint64_t>(d.length))
                : std::string()});
  }
  // Partitions whose volume is not one this program reads: listed with their type, no letter.
  for (const workflow::OtherPartition& p : loaded.others) {
    const std::string name = std::filesystem::path(p.source_path).filename().string();
    table.rows.push_back({std::string(), name + " #" + std::to_string(p.number), p.type, "0", "0",
                          "0", p.source_path, place(p.number, p.start, p.length)});
  }
  print_table(table, options.format, stdout);
  return loaded.readable ? exit_done : exit_unreadable;
}

}  // namespace fennick::cli

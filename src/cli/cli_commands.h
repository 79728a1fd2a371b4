// Commands of fennick-cli and what they share: exit codes, the parsed common options.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/output_table.h"
#include "messages/status_channel.h"
#include "workflow/drive_list.h"

namespace fennick::cli {

// Exit status: done; some file could not be recovered or wiped; bad usage; a volume could
// not be read.
constexpr int exit_done = 0;
constexpr int exit_some_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_unreadable = 3;

struct CommonOptions {
  std::vector<std::string> volumes;
  OutputFormat format = OutputFormat::tsv;
  bool format_given = false;
};

// Prints the usage to the stream.
void print_usage(std::FILE* out);
// Reports a usage error on stderr with the usage; returns exit_usage.
int usage_error(const std::string& what);

// The drive list of the named volumes (letters from "c"), or of the machine too; readable is
// false, after a message per volume, when one of them cannot be read.
struct LoadedDrives {
  workflow::DriveList drives;
  std::vector<workflow::OtherPartition> others;  // partitions that hold no readable volume
  bool readable = true;
};
LoadedDrives load_named_volumes(const std::vector<std::string>& volumes,
                                bool include_block_devices);

int run_drives(const std::vector<std::string>& args);
int run_scan(const std::vector<std::string>& args, messages::StatusChannel& channel);
int run_recover(const std::vector<std::string>& args, messages::StatusChannel& channel);
int run_wipe(const std::vector<std::string>& args, messages::StatusChannel& channel);
int run_clean(const std::vector<std::string>& args, messages::StatusChannel& channel);

}  // namespace fennick::cli

// Helpers shared by the tests: fixture images, running commands, memory volumes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/volume_source.h"
#include "workflow/drive_list.h"

namespace fennick::testing {

struct CommandResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs a shell command line; stdout and stderr captured separately.
CommandResult run_command(const std::string& command_line);
// Quotes a text for the shell.
std::string shell_quote(const std::string& text);
// Whether a program is on PATH.
bool have_program(const std::string& name);

// Path of a fixture image in the build folder ("fat16.img"), or empty when absent.
std::string fixture_image(const std::string& name);
// Path of fennick-cli.
std::string cli_path();

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets the TZ variable of this process (and tzset) for the life of the object, and puts
// back what was there: local time in a zone a test names, e.g. a POSIX rule such as
// "CET-1CEST,M3.5.0,M10.5.0/3", which needs no zone database.
class ZoneScope {
 public:
  explicit ZoneScope(const std::string& zone);
  ~ZoneScope();
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::optional<std::string> old_;
};

// A drive of the letter over bytes in memory (kind unknown until the test says).
workflow::Drive memory_drive(char letter, std::shared_ptr<volume::MemorySource> source,
                             volume::FileSystemKind kind = volume::FileSystemKind::unknown);

// A boot sector for the reader's limit rule: sectors per cluster at 13 and a 64-bit total at
// 40, padded to `bytes` with a byte pattern that tells every sector apart (byte i = sector
// number low byte xor offset low byte).
std::vector<std::uint8_t> patterned_volume(std::size_t bytes, std::uint8_t sectors_per_cluster,
                                           std::uint64_t total_sectors);
std::uint8_t pattern_byte(std::uint64_t position);

// SHA-256 of a file as lower-case hex (sha256sum), empty when it cannot be read.
std::string sha256_of(const std::string& path);

// Everything below a folder, links not followed, one line per entry in name order: its
// relative path, kind and inode, and for all but folders (which change as entries come) its
// size, modified time in nanoseconds and, for a regular file, its content's SHA-256.
std::string tree_listing(const std::string& folder);
// The lines of an earlier listing that a later one lacks: empty when nothing that was there
// was replaced, truncated, unlinked, written or touched (new entries aside).
std::string entries_changed(const std::string& before, const std::string& after);

// One image as drive C: (the only entry of a drive list, as the drive list probes it), with
// an empty catalogue, a run control and a recording channel, and the three engine operations
// on it.
class DriveScope {
 public:
  explicit DriveScope(const std::string& image);
  DriveScope(const DriveScope&) = delete;
  DriveScope& operator=(const DriveScope&) = delete;

  workflow::DriveList drives;
  catalogue::Catalogue catalogue;
  run::RunControl run;
  messages::RecordingChannel channel;

  workflow::Drive& drive() { return drives.at(0); }
  // Scans drive C: with its engine into the catalogue (with deep, the deep scan); false when
  // it could not be read.
  bool scan(bool deep = false);
  // Recovers the record into a new file at path through the record's engine (a failure to
  // create the file is a failed result).
  engine::RecoveryResult recover(const catalogue::FoundFile& record, const std::string& path);
  // Wipes the record as the wipe run does (inside a write session).
  engine::WipeOutcome wipe(const catalogue::FoundFile& record);
};

}  // namespace fennick::testing

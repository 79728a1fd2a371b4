// Helpers shared by the tests: fixture images, running commands, memory volumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/volume_source.h"

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

// Binds a memory volume to the letter and returns it.
std::shared_ptr<volume::MemorySource> attach_memory_volume(char letter,
                                                           std::vector<std::uint8_t> bytes);

// A boot sector for the reader's limit rule: sectors per cluster at 13 and a 64-bit total at
// 40, padded to `bytes` with a byte pattern that tells every sector apart (byte i = sector
// number low byte xor offset low byte).
std::vector<std::uint8_t> patterned_volume(std::size_t bytes, std::uint8_t sectors_per_cluster,
                                           std::uint64_t total_sectors);
std::uint8_t pattern_byte(std::uint64_t position);

// SHA-256 of a file as lower-case hex (sha256sum), empty when it cannot be read.
std::string sha256_of(const std::string& path);

// Binds one image as drive C: (the only entry of the drive table), empties the catalogue and
// the run state; undoes all of it at the end of the scope.
class DriveScope {
 public:
  explicit DriveScope(const std::string& image);
  ~DriveScope();
  DriveScope(const DriveScope&) = delete;
  DriveScope& operator=(const DriveScope&) = delete;
};

}  // namespace fennick::testing

// Test helpers.
#include "test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "catalogue/output_file.h"
#include "workflow/engines.h"
#include "workflow/wipe_run.h"

namespace fennick::testing {

namespace fs = std::filesystem;

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

CommandResult run_command(const std::string& command_line) {
  CommandResult result;
  char err_name[] = "/tmp/fennick-test-stderr-XXXXXX";
  const int err_fd = ::mkstemp(err_name);
  if (err_fd < 0) return result;
  ::close(err_fd);
  const std::string full = "(" + command_line + ") 2>" + shell_quote(err_name);
  std::FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_name);
  std::stringstream ss;
  ss << err.rdbuf();
  result.err = ss.str();
  ::unlink(err_name);
  return result;
}

bool have_program(const std::string& name) {
  return run_command("command -v " + shell_quote(name) + " >/dev/null").exit_code == 0;
}

std::string fixture_image(const std::string& name) {
  const fs::path p = fs::path(FENNICK_FIXTURE_DIR) / name;
  return fs::exists(p) ? p.string() : std::string();
}

std::string cli_path() { return FENNICK_CLI_PATH; }

ZoneScope::ZoneScope(const std::string& zone) {
  if (const char* old = std::getenv("TZ")) old_ = old;
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
}

ZoneScope::~ZoneScope() {
  if (old_) {
    ::setenv("TZ", old_->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TempDir::TempDir() {
  char name[] = "/tmp/fennick-test-XXXXXX";
  const char* made = ::mkdtemp(name);
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

workflow::Drive memory_drive(char letter, std::shared_ptr<volume::MemorySource> source,
                             volume::FileSystemKind kind) {
  workflow::Drive drive;
  drive.drive_letter = letter;
  drive.kind = kind;
  drive.length = source->size_bytes();
  drive.source = std::move(source);
  return drive;
}

std::uint8_t pattern_byte(std::uint64_t position) {
  return static_cast<std::uint8_t>((position / 512) ^ (position % 512) ^ 0x5A);
}

std::vector<std::uint8_t> patterned_volume(std::size_t bytes, std::uint8_t sectors_per_cluster,
                                           std::uint64_t total_sectors) {
  std::vector<std::uint8_t> v(bytes);
  for (std::size_t i = 0; i < bytes; ++i) v[i] = pattern_byte(i);
  v[13] = sectors_per_cluster;
  v[21] = 0xF8;
  for (int i = 0; i < 8; ++i) v[40 + i] = static_cast<std::uint8_t>(total_sectors >> (8 * i));
  return v;
}

std::string sha256_of(const std::string& path) {
  const CommandResult r = run_command("sha256sum " + shell_quote(path));
  return r.exit_code == 0 ? r.out.substr(0, 64) : std::string();
}

std::string tree_listing(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> lines;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    const char* kind = S_ISREG(st.st_mode)    ? "file"
                       : S_ISDIR(st.st_mode)  ? "folder"
                       : S_ISLNK(st.st_mode)  ? "link"
                       : S_ISFIFO(st.st_mode) ? "fifo"
                                              : "other";
    std::string line = path.substr(folder.size()) + " " + kind + " " + std::to_string(st.st_ino);
    if (!S_ISDIR(st.st_mode)) {
      line += " " + std::to_string(st.st_size) + " " +
              std::to_string(st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec);
    }
    if (S_ISREG(st.st_mode)) line += " " + sha256_of(path);
    if (S_ISLNK(st.st_mode)) line += " -> " + fs::read_symlink(it->path(), ec).string();
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

std::string entries_changed(const std::string& before, const std::string& after) {
  std::set<std::string> now;
  std::istringstream later(after);
  for (std::string line; std::getline(later, line);) now.insert(line);
  std::string lost;
  std::istringstream earlier(before);
  for (std::string line; std::getline(earlier, line);) {
    if (now.count(line) == 0) lost += line + "\n";
  }
  return lost;
}

DriveScope::DriveScope(const std::string& image) {
  drives = workflow::list_drives({image}, false).drives;
}

bool DriveScope::scan(bool deep) {
  const engine::Engine* engine = workflow::engine_for(drive().kind);
  if (engine == nullptr) return false;
  return deep ? engine->deep_scan(drive(), catalogue, run, channel)
              : engine->scan(drive(), catalogue, run, channel);
}

engine::RecoveryResult DriveScope::recover(const catalogue::FoundFile& record,
                                           const std::string& path) {
  engine::RecoveryResult result;
  const engine::Engine* engine = workflow::engine_for(record.fs_kind);
  catalogue::OutputFile out;
  if (engine == nullptr || record.drive_index < 0 ||
      static_cast<std::size_t>(record.drive_index) >= drives.size() || !out.open(path)) {
    result.failed = true;
    return result;
  }
  return engine->recover(drives[static_cast<std::size_t>(record.drive_index)], record, out, path,
                         nullptr, run, channel);
}

engine::WipeOutcome DriveScope::wipe(const catalogue::FoundFile& record) {
  return workflow::wipe_file(drives, catalogue, record, run, channel);
}

}  // namespace fennick::testing

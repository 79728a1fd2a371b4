// Body-format lines of found files.
#include "cli/bodyfile.h"

#include <algorithm>

#include "catalogue/date_time.h"
#include "cli/terminal_text.h"

namespace fennick::cli {

namespace {

// Seconds since 1970 of a found file's date, or 0 for none (the body format's "unknown").
std::int64_t unix_seconds(catalogue::Timestamp value) {
  const auto when = catalogue::unix_time_of(value);
  return when ? when->seconds : 0;
}

}  // namespace

std::string bodyfile_line(const catalogue::FoundFile& r) {
  // "C:\Docs\" + "a.txt" -> "C:/Docs/a.txt (deleted)", escaped like every other text that
  // leaves the program, and with '|' (the field separator) written as its escape.
  std::string name(r.path.view());
  name += r.name.view();
  std::replace(name.begin(), name.end(), '\\', '/');
  std::string escaped;
  for (const char c : terminal_text(name)) {
    if (c == '|') {
      escaped += "\\x7C";
    } else {
      escaped += c;
    }
  }
  escaped += " (deleted)";
  const std::int64_t modified = unix_seconds(r.modified);
  const std::int64_t created = unix_seconds(r.created);
  return "0|" + escaped + "|" + std::to_string(r.record_no) + "|0|0|0|" +
         std::to_string(std::max<std::int64_t>(r.size, 0)) + "|0|" + std::to_string(modified) +
         "|0|" + std::to_string(created) + "\n";
}

void print_bodyfile(const std::vector<std::int32_t>& chosen, const catalogue::Catalogue& catalogue,
                    std::FILE* out) {
  for (const std::int32_t i : chosen) {
    const std::string line = bodyfile_line(catalogue.files()[static_cast<std::size_t>(i)]);
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::fflush(out);
}

}  // namespace fennick::cli

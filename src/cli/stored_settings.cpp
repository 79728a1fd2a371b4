// Reading the stored language from the settings file.
#include "cli/stored_settings.h"

#include <cstdlib>
#include <fstream>

#include "messages/message_catalogue.h"

namespace fennick::cli {

namespace {

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string settings_file_path() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && *xdg != '\0') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/BrantleSoftware/Fennick.conf";
}

std::optional<int> stored_language(const std::string& settings_path) {
  std::ifstream in(settings_path);
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    if (section != "General" || eq == std::string::npos || trim(line.substr(0, eq)) != "language") {
      continue;
    }
    // A value that is no language's base reads as the default, so a damaged file can never
    // make the lookup read another language's texts shifted.
    const messages::Language* language = messages::find_language(trim(line.substr(eq + 1)));
    if (language == nullptr) return std::nullopt;
    return language->base;
  }
  return std::nullopt;
}

}  // namespace fennick::cli

// The desktop program's settings file, read by the command line for the one value it shares:
// the language. The file is the per-user INI file the desktop program's settings store keeps
// ($XDG_CONFIG_HOME/BrantleSoftware/Fennick.conf, ~/.config when XDG_CONFIG_HOME is unset).
#pragma once

#include <optional>
#include <string>

namespace fennick::cli {

// Path of the settings file.
std::string settings_file_path();
// The stored "language" value when it names one of the 27 languages; nothing when the file
// or the value is missing, or the value is not a language's base.
std::optional<int> stored_language(const std::string& settings_path);

}  // namespace fennick::cli

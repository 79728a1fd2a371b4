// Output paths of recovered files: what a found file's output is called and which folders
// below the destination it goes to. Nothing here touches the file system.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::catalogue {

// The output path of a record: destination folder, the record's folder path (when
// keep_folders) and its name, each part made safe for the file system. Paths already in
// `taken` get " (2)", " (3)", ... before the extension.
std::string output_path_for(const FoundFile& record, bool keep_folders,
                            const std::string& destination, const std::set<std::string>& taken);

// The destination's folders a record's file goes to: its folder path below the drive, each
// part made safe, when folders are kept; none otherwise.
std::vector<std::string> output_folders_for(const FoundFile& record, bool keep_folders);

// One path component as it may reach the file system: "/" and control characters become
// "_", an empty name, "." or ".." is replaced, so no name can leave its folder, and a name
// longer than Linux's 255 bytes is shortened in its stem, at a character boundary, keeping
// its extension.
std::string safe_component(std::string_view name);

}  // namespace fennick::catalogue

// File-type groups: the constant group and extension tables, the classification of every
// found file into a group by the extension of its name, and the per-group file counters
// that the type tree shows.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "catalogue/short_string.h"

namespace fennick::catalogue {

struct FileGroup {
  std::uint16_t number = 0;
  ShortString<255> description;
  std::int32_t count = 0;  // catalogue records in the group
};

struct FileExtension {
  ShortString<7> extension;  // ".JPG": leading dot, upper case; or empty
  std::uint16_t group = 0;
};

constexpr std::size_t file_group_count = 68;
// Row 0 is a blank that is never compared; rows 1.. hold the extensions group by group.
constexpr std::size_t file_extension_rows = 117;
// Where a name with no extension, or with one no row names, goes.
constexpr std::uint16_t other_files_group = 65;

extern std::array<FileGroup, file_group_count> file_groups;
extern std::array<FileExtension, file_extension_rows> file_extensions;

// Writes both tables and sets every group's counter to 0.
void init_file_types();
// The group of a file name: its text from the last "." on, a-z upper-cased, compared whole
// with the extension rows in order; the first equal row wins, no equal row gives group 65.
std::uint16_t file_type_of(std::string_view name);
// Rebuilds the tables, then gives every catalogue record its type_group and counts it.
void classify_files();

}  // namespace fennick::catalogue

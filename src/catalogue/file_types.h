// File-type groups: the constant group and extension tables, and the classification of every
// found file into a group by the extension of its name (the catalogue keeps the counts).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "catalogue/catalogue.h"
#include "catalogue/short_string.h"

namespace fennick::catalogue {

struct FileGroup {
  std::uint16_t number = 0;
  ShortString<255> description;
};

struct FileExtension {
  ShortString<7> extension;  // ".JPG": leading dot, upper case; or empty
  std::uint16_t group = 0;
};

// Row 0 is a blank that is never compared; rows 1.. hold the extensions group by group.
constexpr std::size_t file_extension_rows = 117;
// Where a name with no extension, or with one no row names, goes.
constexpr std::uint16_t other_files_group = 65;

// The group table (index = group number) and the extension table.
const std::array<FileGroup, file_group_count>& file_groups();
const std::array<FileExtension, file_extension_rows>& file_extensions();
// The group of a file name: its text from the last "." on, a-z upper-cased, compared whole
// with the extension rows in order; the first equal row wins, no equal row gives group 65.
std::uint16_t file_type_of(std::string_view name);
// Gives every record of the catalogue its type_group and counts the records of each group
// afresh.
void classify_files(Catalogue& catalogue);

}  // namespace fennick::catalogue

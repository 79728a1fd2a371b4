// The two views on the catalogue: sorting the records in place by one of seven keys, and the
// filter conditions with the row map that says which records the list shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::catalogue {

enum SortKey : int {
  sort_none = 0,      // record_no ascending
  sort_name = 1,      // name ascending, a-z folded
  sort_path = 2,      // path ascending, a-z folded
  sort_status = 3,    // quality descending
  sort_size = 4,      // size descending
  sort_created = 5,   // newest first
  sort_modified = 6,  // newest first
};

// Reorders deleted_files[0 .. deleted_count-1] by the key, moving whole records; any other
// key leaves the catalogue as it is. Not stable.
void sort_catalogue(int key);

struct TCustomFilter {
  bool name_on = false;
  std::string name_part;
  bool date_on = false;
  std::uint8_t date_kind = 0;  // 0 modified, 1 created
  DateTime date_from = 0;      // exclusive
  DateTime date_to = 0;        // exclusive
  bool size_on = false;
  std::uint8_t size_mode = 0;  // 0 "at least" (size above), 1 "at most" (size below)
  std::int64_t size_limit = 0;
  bool hide_overwritten = false;
  bool hide_temporary = false;

  bool any_on() const {
    return name_on || date_on || size_on || hide_overwritten || hide_temporary;
  }
};

extern TCustomFilter current_filter;
// The list's selection: folder id (0 none) with its drive letter, or a type group (0 all).
extern std::int32_t view_folder;
extern std::uint8_t view_drive;
extern std::uint16_t view_type;
// Catalogue indexes of the rows the list shows, ascending.
extern std::vector<std::int32_t> row_map;

// Does the record pass current_filter.
bool filter_match(const TDeletedFile& record);
// Stores the selection and rebuilds row_map from it and current_filter.
void build_row_map(std::int32_t folder, std::uint8_t drive, std::uint16_t type);

// Upper case of a-z only, as the sort and the filter compare names.
std::string fold_ascii_upper(std::string_view text);

}  // namespace fennick::catalogue

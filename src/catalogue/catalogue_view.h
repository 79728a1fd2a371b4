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

// Reorders the catalogue's records by the key, moving whole records; any other key leaves
// the catalogue as it is. Not stable. Reversed, the key's order is turned around (names z-a,
// lowest status, smallest and oldest first) and the sort is stable: records the key finds
// equal keep the order they had, so a reversed sort of a reversed list changes nothing.
void sort_catalogue(Catalogue& catalogue, int key, bool reversed = false);

struct TCustomFilter {
  bool name_on = false;
  std::string name_part;
  bool date_on = false;
  std::uint8_t date_kind = 0;  // 0 modified, 1 created
  Timestamp date_from;         // exclusive
  Timestamp date_to;           // exclusive
  bool size_on = false;
  std::uint8_t size_mode = 0;  // 0 "at least" (size above), 1 "at most" (size below)
  std::int64_t size_limit = 0;
  bool hide_overwritten = false;
  bool hide_temporary = false;

  bool any_on() const {
    return name_on || date_on || size_on || hide_overwritten || hide_temporary;
  }
};

// The drive value of a selection that names no drive: the list is not limited to a folder.
constexpr std::uint8_t any_drive = 20;

// Does the record pass the filter.
bool filter_match(const TCustomFilter& filter, const FoundFile& record);

// What the file list shows of a catalogue: the filter, the selection in the folder or type
// tree, and the rows that pass both.
struct CatalogueView {
  TCustomFilter filter;
  // The selection: folder id (0 none) with its drive letter, or a type group (0 all).
  std::int32_t folder = 0;
  std::uint8_t drive = any_drive;
  std::uint16_t type = 0;
  // Catalogue indexes of the rows the list shows, ascending.
  std::vector<std::int32_t> row_map;

  // Stores the selection and rebuilds row_map from it and the filter.
  void build_row_map(const Catalogue& catalogue, std::int32_t folder, std::uint8_t drive,
                     std::uint16_t type);
};

// Upper case of a-z only, as the sort and the filter compare names.
std::string fold_ascii_upper(std::string_view text);

}  // namespace fennick::catalogue

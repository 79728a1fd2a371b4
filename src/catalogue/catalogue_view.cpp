// Sorting and filtering the catalogue.
#include "catalogue/catalogue_view.h"

#include <algorithm>
#include <utility>

namespace fennick::catalogue {

std::string fold_ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

namespace {

// Byte-wise comparison of the folded texts; a prefix comes first.
int compare_folded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Is a before b under the key.
bool before(const FoundFile& a, const FoundFile& b, int key) {
  switch (key) {
    case sort_none:
      return a.record_no < b.record_no;
    case sort_name:
      return compare_folded(a.name.view(), b.name.view()) < 0;
    case sort_path:
      return compare_folded(a.path.view(), b.path.view()) < 0;
    case sort_status:
      return a.quality > b.quality;
    case sort_size:
      return a.size > b.size;
    case sort_created:
      return a.created > b.created;
    case sort_modified:
      return a.modified > b.modified;
    default:
      return false;
  }
}

// Quicksort with the middle record as pivot. The smaller side is sorted by recursion and the
// larger one by the loop, so the depth stays logarithmic whatever the keys; the two sides are
// disjoint, so the order this gives is the same as sorting left side first.
void quicksort(std::vector<FoundFile>& r, std::int32_t left, std::int32_t right, int key) {
  while (left < right) {
    const FoundFile pivot = r[static_cast<std::size_t>(left + (right - left) / 2)];
    std::int32_t i = left;
    std::int32_t j = right;
    do {
      while (before(r[i], pivot, key)) ++i;
      while (before(pivot, r[j], key)) --j;
      if (i <= j) {
        std::swap(r[i], r[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - left < right - i) {
      if (left < j) quicksort(r, left, j, key);
      left = i;
    } else {
      if (i < right) quicksort(r, i, right, key);
      right = j;
    }
  }
}

bool contains(const std::string& haystack, const std::string& needle) {
  return !needle.empty() && haystack.find(needle) != std::string::npos;
}

}  // namespace

void sort_catalogue(Catalogue& catalogue, int key, bool reversed) {
  const std::int32_t count = catalogue.deleted_count();
  if (key < sort_none || key > sort_modified || count < 2) return;
  if (!reversed) {
    quicksort(catalogue.files(), 0, count - 1, key);
    return;
  }
  // A merge sort: n log n compares whatever the keys a volume holds.
  std::stable_sort(catalogue.files().begin(), catalogue.files().end(),
                   [key](const FoundFile& a, const FoundFile& b) { return before(b, a, key); });
}

bool filter_match(const TCustomFilter& f, const FoundFile& record) {
  if (f.name_on && !contains(fold_ascii_upper(record.name.view()), fold_ascii_upper(f.name_part))) {
    return false;
  }
  if (f.date_on) {
    const Timestamp d = f.date_kind == 0 ? record.modified : record.created;
    if (!(f.date_from < d && d < f.date_to)) return false;
  }
  if (f.size_on) {
    if (f.size_mode == 0 ? !(record.size > f.size_limit) : !(record.size < f.size_limit)) {
      return false;
    }
  }
  if (f.hide_overwritten && record.quality == 0) return false;
  if (f.hide_temporary) {
    const std::string name = fold_ascii_upper(record.name.view());
    const std::string path = fold_ascii_upper(record.path.view());
    if (contains(name, "TEMP") || contains(path, "TEMP") || contains(name, "TMP")) return false;
  }
  return true;
}

void CatalogueView::build_row_map(const Catalogue& catalogue, std::int32_t folder_id,
                                  std::uint8_t drive_letter, std::uint16_t type_group) {
  folder = folder_id;
  drive = drive_letter;
  type = type_group;
  row_map.clear();
  row_map.reserve(static_cast<std::size_t>(catalogue.deleted_count() - catalogue.wiped_count()));
  const std::vector<FoundFile>& files = catalogue.files();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FoundFile& r = files[i];
    if (folder != 0) {
      if (r.parent_dir != folder || static_cast<std::uint8_t>(r.drive_letter) != drive) continue;
    } else if (type != 0 && r.type_group != type) {
      continue;
    }
    if (r.name.empty() || !filter_match(filter, r)) continue;
    row_map.push_back(static_cast<std::int32_t>(i));
  }
}

}  // namespace fennick::catalogue

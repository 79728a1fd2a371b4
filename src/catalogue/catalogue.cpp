// The catalogue's storage, its growth rules, the folder lists and the name conversions.
#include "catalogue/catalogue.h"

#include <algorithm>

namespace fennick::catalogue {

void Catalogue::clear() {
  std::vector<FoundFile>().swap(files_);
  wiped_count_ = 0;
  std::vector<std::vector<FolderEntry>>().swap(folders_);
  type_counts_.fill(0);
  if (cleared_hook_) cleared_hook_();
}

void Catalogue::add(const FoundFile& record) {
  // Room for at least the next 5000 records, and at least double the old room, so that a
  // scan of a million records does not copy the whole catalogue every 5000 records.
  const std::size_t count = files_.size();
  if (count % record_growth_step == 0 && files_.capacity() < count + record_growth_step) {
    files_.reserve(std::max(count + record_growth_step, 2 * files_.capacity()));
  }
  files_.push_back(record);
}

void Catalogue::mark_wiped(FoundFile& record) {
  if (record.name.empty()) return;
  record.selected = 0;
  record.name.clear();
  ++wiped_count_;
  if (record.type_group < type_counts_.size() && type_counts_[record.type_group] > 0) {
    --type_counts_[record.type_group];
  }
}

const std::vector<FolderEntry>& Catalogue::folders(std::int32_t drive_index) const {
  static const std::vector<FolderEntry> none;
  if (drive_index < 0 || static_cast<std::size_t>(drive_index) >= folders_.size()) return none;
  return folders_[static_cast<std::size_t>(drive_index)];
}

std::optional<FolderEntry> Catalogue::find_folder(std::int32_t drive_index,
                                                  std::int32_t dir_id) const {
  for (const FolderEntry& entry : folders(drive_index)) {
    if (entry.dir_id == dir_id) return entry;
  }
  return std::nullopt;
}

bool Catalogue::add_folder(std::int32_t drive_index, const FolderEntry& entry) {
  if (drive_index < 0 || drive_index >= max_drive_index) return false;
  const auto index = static_cast<std::size_t>(drive_index);
  if (folders_.size() <= index) folders_.resize(index + 1);
  std::vector<FolderEntry>& folders = folders_[index];
  if (folders.size() % folder_growth_step == 0 &&
      folders.capacity() < folders.size() + folder_growth_step) {
    folders.reserve(std::max(folders.size() + folder_growth_step, 2 * folders.capacity()));
  }
  folders.push_back(entry);
  return true;
}

void Catalogue::sort_folders(std::int32_t drive_index) {
  if (drive_index < 0 || static_cast<std::size_t>(drive_index) >= folders_.size()) return;
  auto& folders = folders_[static_cast<std::size_t>(drive_index)];
  std::stable_sort(folders.begin(), folders.end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.parent_id < b.parent_id;
  });
}

namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code page 437, bytes 0x80..0xFF.
constexpr char16_t cp437_high[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

}  // namespace

std::string wide_to_ansi(std::u16string_view text, int /*code_page*/) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFF) {
      out += '?';  // not a character: the conversion's default character
    } else {
      append_utf8(out, c);
    }
  }
  return out;
}

std::string oem_to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else {
      append_utf8(out, cp437_high[b - 0x80]);
    }
  }
  return out;
}

}  // namespace fennick::catalogue

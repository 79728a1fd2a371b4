// The folder table and path builder of the directory walks.
#include "engine/folder_table.h"

#include <cctype>

namespace fennick::engine {

namespace {
// Folders a path names at most; deeper files lose their upper folders.
constexpr int path_depth_limit = 20;
}  // namespace

FolderTable::FolderTable(catalogue::Catalogue& catalogue, std::int32_t drive_index,
                         volume::FileSystemKind kind, char drive_letter)
    : catalogue_(catalogue), drive_index_(drive_index), kind_(kind), drive_letter_(drive_letter) {}

std::int32_t FolderTable::register_directory(std::uint32_t cluster, const std::string& name,
                                             bool deleted, std::int32_t parent_id) {
  catalogue::FolderEntry entry;
  entry.dir_id = static_cast<std::int32_t>(directories_.size()) + catalogue::ROOT_FOLDER_ID;
  entry.first_cluster = static_cast<std::int32_t>(cluster);
  entry.parent_id = parent_id;
  entry.name = name;
  entry.deleted = deleted ? 1 : 0;
  directories_.push_back(entry);
  return entry.dir_id;
}

const catalogue::FolderEntry* FolderTable::find_listed_folder(std::int32_t id) {
  const auto& folders = catalogue_.folders(drive_index_);
  if (indexed_ > folders.size()) {
    indexed_ = 0;
    position_.clear();
  }
  for (; indexed_ < folders.size(); ++indexed_) {
    position_.emplace(folders[indexed_].dir_id, indexed_);
  }
  const auto found = position_.find(id);
  return found == position_.end() ? nullptr : &folders[found->second];
}

std::string FolderTable::build_path(std::int32_t dir_id) {
  std::string text;
  std::int32_t id = dir_id;
  for (int level = 0; level < path_depth_limit && id != catalogue::ROOT_FOLDER_ID; ++level) {
    if (const catalogue::FolderEntry* known = find_listed_folder(id)) {
      text = known->name.str() + "\\" + text;
      id = known->parent_id;
      continue;
    }
    const std::int64_t index = std::int64_t{id} - catalogue::ROOT_FOLDER_ID;
    if (index < 0 || index >= static_cast<std::int64_t>(directories_.size())) break;
    catalogue::FolderEntry entry = directories_[static_cast<std::size_t>(index)];
    entry.fs_kind = kind_;
    entry.drive_letter = drive_letter_;
    entry.first_cluster = 0;  // only the scan's own table keeps clusters
    catalogue_.add_folder(drive_index_, entry);
    text = entry.name.str() + "\\" + text;
    id = entry.parent_id;
  }
  return std::string(1,
                     static_cast<char>(std::toupper(static_cast<unsigned char>(drive_letter_)))) +
         ":\\" + text;
}

}  // namespace fennick::engine

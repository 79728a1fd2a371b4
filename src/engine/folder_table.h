// The folder table of a directory walk (FAT and exFAT scans): every directory the walk
// opens gets a folder id, and the path builder turns a folder id into "E:\DOCS\OLD\",
// adding the folders it names to the volume's folder list in the catalogue on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/catalogue.h"
#include "volume/file_system_kind.h"

namespace fennick::engine {

// A scan's table of directories and the path builder. The directory with folder id k + 5
// is entry k; the root comes first with ROOT_FOLDER_ID. Folders on the path of a found file
// go to the volume's folder list in the catalogue when a path first names them.
class FolderTable {
 public:
  FolderTable(catalogue::Catalogue& catalogue, std::int32_t drive_index,
              volume::FileSystemKind kind, char drive_letter);

  std::int32_t register_directory(std::uint32_t cluster, const std::string& name, bool deleted,
                                  std::int32_t parent_id);
  // "E:\DOCS\OLD\" for the folder id, at most the 20 lowest folders.
  std::string build_path(std::int32_t dir_id);
  const std::vector<catalogue::FolderEntry>& directories() const { return directories_; }

 private:
  // The first entry with the id in the volume's folder list, as a search from its start
  // finds it, or null.
  const catalogue::FolderEntry* find_listed_folder(std::int32_t id);

  catalogue::Catalogue& catalogue_;
  std::int32_t drive_index_;
  volume::FileSystemKind kind_;
  char drive_letter_;
  std::vector<catalogue::FolderEntry> directories_;
  // Positions in the folder list by folder id, so that the path builder does not search the
  // list from its start for every folder of every path. While a scan runs the list is only
  // appended to; the index takes up the entries added since it last looked.
  std::size_t indexed_ = 0;
  std::unordered_map<std::int32_t, std::size_t> position_;
};

}  // namespace fennick::engine

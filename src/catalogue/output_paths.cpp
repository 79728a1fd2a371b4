// Output paths of recovered files: the destination folder, the record's folder path when
// folders are kept, and its name, each part made safe for the file system.
#include "catalogue/output_paths.h"

#include "catalogue/destination_folder.h"

namespace fennick::catalogue {

namespace {

// The record path's folders below the drive ("E:\DOCS\OLD\" gives DOCS and OLD).
std::vector<std::string> relative_folders(std::string_view path) {
  std::vector<std::string> folders;
  if (path.size() <= 3) return folders;
  path.remove_prefix(3);
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // An empty part is a doubled separator, which collapses into one.
    if (!part.empty()) folders.emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return folders;
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string safe_component(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
  }
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  // A name of 255 UTF-16 units can take up to 765 bytes of UTF-8, and a Linux name only 255:
  // the stem gives way, the extension stays.
  constexpr std::size_t max_component_bytes = 255;
  if (out.size() > max_component_bytes) {
    const std::size_t dot = out.rfind('.');
    const bool keep_ext = dot != std::string::npos && dot > 0 && out.size() - dot <= 32;
    const std::string ext = keep_ext ? out.substr(dot) : std::string();
    std::string stem = keep_ext ? out.substr(0, dot) : out;
    stem.resize(utf8_cut_length(stem, max_component_bytes - ext.size()));
    out = stem + ext;
  }
  return out;
}

std::string output_path_for(const FoundFile& record, bool keep_folders,
                            const std::string& destination, const std::set<std::string>& taken) {
  std::string folder = destination;
  for (const std::string& part : output_folders_for(record, keep_folders))
    folder = join(folder, part);
  const std::string name = safe_component(record.name.view());
  std::string path = join(folder, name);
  for (int n = 2; taken.count(path) != 0; ++n) path = join(folder, numbered_name(name, n));
  return path;
}

std::vector<std::string> output_folders_for(const FoundFile& record, bool keep_folders) {
  std::vector<std::string> folders;
  if (!keep_folders) return folders;
  for (const std::string& part : relative_folders(record.path.view())) {
    folders.push_back(safe_component(part));
  }
  return folders;
}

}  // namespace fennick::catalogue

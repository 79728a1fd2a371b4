// File-system kinds from probed type names.
#include "volume/file_system_kind.h"

#include <cctype>
#include <string>

namespace fennick::volume {

FileSystemKind kind_from_name(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The order matters: "FAT32" and "EXFAT" hold "FAT" too, and a name such as "VFAT" that
  // gives no width is a FAT volume whose width its boot sector tells.
  if (upper.find("FAT32") != std::string::npos) return FileSystemKind::fat32;
  if (upper.find("EXFAT") != std::string::npos) return FileSystemKind::exfat;
  if (upper.find("FAT12") != std::string::npos) return FileSystemKind::fat12;
  if (upper.find("FAT") != std::string::npos) return FileSystemKind::fat16;
  if (upper.find("NTFS") != std::string::npos) return FileSystemKind::ntfs;
  return FileSystemKind::unknown;
}

}  // namespace fennick::volume

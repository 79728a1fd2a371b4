// The file systems a volume can hold, as far as Fennick tells them apart.
#pragma once

#include <string>
#include <string_view>

namespace fennick::volume {

enum class FileSystemKind { unknown, fat12, fat16, fat32, exfat, ntfs };

// "FAT12", "FAT16", "FAT32", "exFAT", "NTFS", or empty for unknown.
constexpr std::string_view kind_name(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::fat12:
      return "FAT12";
    case FileSystemKind::fat16:
      return "FAT16";
    case FileSystemKind::fat32:
      return "FAT32";
    case FileSystemKind::exfat:
      return "exFAT";
    case FileSystemKind::ntfs:
      return "NTFS";
    case FileSystemKind::unknown:
      break;
  }
  return {};
}

// The name the drive list and the found files show: "FAT32", "FAT" for FAT12 and FAT16,
// "exFAT", "NTFS", or empty.
constexpr std::string_view table_name(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::fat32:
      return "FAT32";
    case FileSystemKind::fat12:
    case FileSystemKind::fat16:
      return "FAT";
    case FileSystemKind::exfat:
      return "exFAT";
    case FileSystemKind::ntfs:
      return "NTFS";
    case FileSystemKind::unknown:
      break;
  }
  return {};
}

// FAT12, FAT16 and FAT32 (the kinds the FAT engine reads).
constexpr bool is_fat(FileSystemKind kind) {
  return kind == FileSystemKind::fat12 || kind == FileSystemKind::fat16 ||
         kind == FileSystemKind::fat32;
}

// The kind a probed type name stands for ("FAT16", "vfat" and "ntfs" are not told apart by
// case); an unknown name gives unknown.
FileSystemKind kind_from_name(std::string_view name);

}  // namespace fennick::volume

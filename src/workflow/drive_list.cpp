// Building the drive list from named images and the machine's block devices.
#include "workflow/drive_list.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "volume/image_source.h"
#include "volume/mount_lookup.h"
#include "volume/partition_table.h"
#include "volume/volume_facts.h"
#include "workflow/engines.h"

namespace fennick::workflow {

using volume::FileSource;
using volume::find_mount_point;
using volume::path_size_bytes;
using volume::read_sys_line;
using volume::SourceResult;
using volume::VolumeFacts;
using volume::VolumeSource;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t mib = 1048576;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Type as libblkid names it, for volumes our own reader does not know: the whole file or
// device at path, or the stretch of length bytes from offset (length 0: to the end).
std::string blkid_type(const std::string& path, std::uint64_t offset = 0,
                       std::uint64_t length = 0) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  blkid_probe probe = blkid_new_probe();
  std::string type;
  const char* value = nullptr;
  if (probe &&
      blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(length)) == 0 &&
      blkid_do_safeprobe(probe) == 0 &&
      blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
    type = upper(value);
  }
  if (probe) blkid_free_probe(probe);
  ::close(fd);
  return type;
}

std::string canonical_or_same(const std::string& path) {
  std::error_code ec;
  const fs::path c = fs::weakly_canonical(path, ec);
  return ec ? path : c.string();
}

// Total and free bytes as the mounted file system reports them; false when it reports none
// (some FUSE file systems give zeros).
bool mounted_space(const std::string& mount_point, Drive& drive) {
  struct statvfs sv {};
  if (::statvfs(mount_point.c_str(), &sv) != 0 || sv.f_blocks == 0) return false;
  drive.total_bytes =
      static_cast<std::int64_t>(sv.f_blocks) * static_cast<std::int64_t>(sv.f_frsize);
  drive.free_bytes =
      static_cast<std::int64_t>(sv.f_bavail) * static_cast<std::int64_t>(sv.f_frsize);
  return true;
}

struct Candidate {
  std::string path;
  bool is_image = false;
  bool removable = false;
  int partition = 0;                    // the partition the user named ("usb.img#2"), or 0
  std::optional<std::uint64_t> offset;  // the offset the user named ("usb.img@1048576")
  bool read_table = false;              // a disk whose partitions become drives
};

// A named volume with "#N" or "@BYTES" after an existing file's name, when the whole text
// names nothing: that partition of the disk, or the volume at that byte offset.
Candidate named_candidate(const std::string& text) {
  Candidate c{text, true, false, 0, std::nullopt, true};
  struct stat st {};
  if (::stat(text.c_str(), &st) == 0) return c;
  const std::size_t mark = text.find_last_of("#@");
  if (mark == std::string::npos || mark == 0 || mark + 1 >= text.size() ||
      mark + 19 < text.size() ||
      text.find_first_not_of("0123456789", mark + 1) != std::string::npos) {
    return c;
  }
  const std::string base = text.substr(0, mark);
  if (::stat(base.c_str(), &st) != 0) return c;
  const unsigned long long number = std::strtoull(text.c_str() + mark + 1, nullptr, 10);
  c.path = base;
  c.read_table = false;
  if (text[mark] == '#') {
    c.partition = number > 0 && number <= 1000000 ? static_cast<int>(number) : -1;
  } else {
    c.offset = number;
  }
  return c;
}

// One volume a candidate gives: the whole disk or one stretch of it.
struct Piece {
  std::shared_ptr<VolumeSource> source;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  int partition = 0;
  VolumeFacts facts;
  bool in_raw_file = true;  // its bytes lie in the file itself, where libblkid can look
};

// The drive of a piece of the candidate.
Drive make_drive(const Candidate& c, const Piece& piece, char letter) {
  Drive drive;
  drive.drive_letter = letter;
  drive.is_image = c.is_image;
  drive.source_path = c.path;
  drive.partition_number = piece.partition;
  drive.offset = piece.offset;
  drive.length = static_cast<std::int64_t>(piece.length);
  drive.size_mb = static_cast<double>(static_cast<std::int64_t>(piece.length) / mib);
  drive.drive_kind = c.removable ? (letter <= 'c' ? 0 : 2) : 1;
  drive.ticked = letter == 'c';
  drive.kind = piece.facts.kind != volume::FileSystemKind::unknown ? piece.facts.kind
               : piece.in_raw_file
                   ? volume::kind_from_name(blkid_type(c.path, piece.offset, piece.length))
                   : volume::FileSystemKind::unknown;
  drive.cluster_size = piece.facts.cluster_size;
  drive.total_bytes = piece.facts.total_bytes;
  drive.free_bytes = piece.facts.free_bytes;
  drive.mount_point = find_mount_point(c.path, piece.offset);
  if (!drive.mount_point.empty()) mounted_space(drive.mount_point, drive);
  drive.source = piece.source;
  return drive;
}

// Opens the candidate and finds its volumes; false when it cannot be read (reason says why).
// Partitions that hold no volume this program reads go to others.
bool open_candidate(const Candidate& c, std::vector<Piece>& pieces,
                    std::vector<OtherPartition>& others, std::vector<DriveProblem>& problems,
                    std::string& reason) {
  struct stat st {};
  if (::stat(c.path.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  const std::int64_t size = path_size_bytes(c.path);
  if (size < 0) {
    reason = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) ? "its size cannot be read"
                                                        : "not a volume image or block device";
    return false;
  }
  // An image format other than raw is read through its library; its bytes are the disk.
  std::shared_ptr<VolumeSource> whole;
  std::int64_t disk_bytes = size;
  const volume::ImageFormat format =
      S_ISREG(st.st_mode) ? volume::detect_image_format(c.path) : volume::ImageFormat::raw;
  if (format != volume::ImageFormat::raw) {
    volume::OpenedImage image = volume::open_image(c.path, format);
    if (!image.source) {
      reason = std::string(volume::format_name(format)) + " image: " + image.problem;
      return false;
    }
    whole = std::move(image.source);
    disk_bytes = whole->size_bytes();
  } else {
    whole = std::make_shared<FileSource>(c.path);
  }
  std::uint8_t probe_byte = 0;
  const SourceResult r = whole->read_at(0, &probe_byte, 1);
  if (r.open_error != 0) {
    reason = std::strerror(r.open_error);
    return false;
  }
  if (r.bytes == 0 && disk_bytes > 0) {
    reason = "read error";
    return false;
  }
  const auto table_of = [&] {
    return format == volume::ImageFormat::raw ? volume::read_partition_table(c.path)
                                              : volume::read_partition_table(*whole);
  };
  const auto disk_size = static_cast<std::uint64_t>(disk_bytes);
  const auto stretch = [&](std::uint64_t offset, std::uint64_t length, int number) {
    Piece piece;
    piece.source = std::make_shared<volume::SliceSource>(whole, offset, length);
    piece.offset = offset;
    piece.length = length;
    piece.partition = number;
    piece.facts = probe_volume(*piece.source);
    piece.in_raw_file = format == volume::ImageFormat::raw;
    return piece;
  };
  if (c.offset) {
    if (*c.offset >= disk_size) {
      reason = "the offset " + std::to_string(*c.offset) + " lies past the end";
      return false;
    }
    pieces.push_back(stretch(*c.offset, disk_size - *c.offset, 0));
    return true;
  }
  if (c.partition != 0) {
    const volume::PartitionTable table = table_of();
    for (const volume::PartitionEntry& p : table.partitions) {
      if (p.number == c.partition) {
        pieces.push_back(stretch(p.start, p.length, p.number));
        return true;
      }
    }
    reason = "it has no partition " + std::to_string(c.partition);
    return false;
  }
  Piece all;
  all.source = whole;
  all.length = disk_size;
  all.facts = probe_volume(*whole);
  all.in_raw_file = format == volume::ImageFormat::raw;
  if (all.facts.kind == volume::FileSystemKind::unknown && c.read_table) {
    const volume::PartitionTable table = table_of();
    for (const std::string& problem : table.problems) problems.push_back({c.path, problem});
    for (const volume::PartitionEntry& p : table.partitions) {
      Piece piece = stretch(p.start, p.length, p.number);
      if (piece.facts.kind != volume::FileSystemKind::unknown) {
        pieces.push_back(std::move(piece));
        continue;
      }
      const std::string type = format == volume::ImageFormat::raw
                                   ? blkid_type(c.path, p.start, p.length)
                                   : std::string();
      others.push_back({c.path, p.number, p.start, p.length, type.empty() ? p.type : type});
    }
    if (!table.partitions.empty()) return true;
  }
  pieces.push_back(std::move(all));
  return true;
}

bool listable_file_system(volume::FileSystemKind kind) {
  return kind != volume::FileSystemKind::unknown;
}

// Whether the kernel made partition devices of the disk (sysfs lists them inside it).
bool has_partition_devices(const fs::path& sys) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sys, ec)) {
    if (fs::exists(entry.path() / "partition", ec)) return true;
  }
  return false;
}

// FAT, exFAT and NTFS block devices of at least 1 MiB, in name order. Loop devices count
// only when a file backs them.
std::vector<Candidate> block_device_candidates() {
  std::vector<Candidate> found;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator("/sys/class/block", ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const fs::path sys = fs::path("/sys/class/block") / name;
    if (name.starts_with("loop") && !fs::exists(sys / "loop" / "backing_file", ec)) continue;
    const long long sectors = std::atoll(read_sys_line(sys / "size").c_str());
    if (sectors * 512 < mib) continue;
    const std::string path = "/dev/" + name;
    const bool partition = fs::exists(sys / "partition", ec);
    FileSource source(path);
    bool read_table = false;
    if (!listable_file_system(probe_volume(source).kind)) {
      // A whole disk whose partitions the kernel made no devices for (a card reader that
      // does not scan, a loop device without -P): its table is read here.
      if (partition || has_partition_devices(sys) ||
          volume::read_partition_table(path).partitions.empty()) {
        continue;
      }
      read_table = true;
    }
    // A partition's removable flag lives on its disk.
    fs::path disk = sys;
    if (partition) disk = fs::canonical(sys, ec).parent_path();
    const bool removable = read_sys_line(disk / "removable") == "1";
    found.push_back({path, false, removable, 0, std::nullopt, read_table});
  }
  return found;
}

}  // namespace

DriveListing list_drives(const std::vector<std::string>& named_volumes,
                         bool include_block_devices) {
  DriveListing listing;
  std::vector<DriveProblem>& problems = listing.problems;
  std::vector<Candidate> candidates;
  for (const std::string& text : named_volumes) {
    Candidate c = named_candidate(text);
    // A named disk whose partitions have devices of their own: with the machine's devices
    // listed too, those are its partitions' drives, so the table is not read twice.
    struct stat st {};
    if (include_block_devices && c.read_table && ::stat(c.path.c_str(), &st) == 0 &&
        S_ISBLK(st.st_mode) &&
        has_partition_devices(
            fs::path("/sys/dev/block") /
            (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))))) {
      c.read_table = false;
    }
    candidates.push_back(std::move(c));
  }
  if (include_block_devices) {
    // A device the user named is listed once, under the named entry's letter.
    std::vector<std::string> named;
    for (const std::string& p : named_volumes) named.push_back(canonical_or_same(p));
    for (Candidate& c : block_device_candidates()) {
      if (std::find(named.begin(), named.end(), canonical_or_same(c.path)) == named.end()) {
        candidates.push_back(std::move(c));
      }
    }
  }
  char letter = 'c';
  for (const Candidate& c : candidates) {
    if (letter > 'z') {
      problems.push_back({c.path, "no drive letter left (at most 24 volumes)"});
      continue;
    }
    std::vector<Piece> pieces;
    std::string reason;
    if (!open_candidate(c, pieces, listing.others, problems, reason)) {
      problems.push_back({c.path, reason});
      continue;
    }
    for (const Piece& piece : pieces) {
      if (letter > 'z') {
        problems.push_back({c.path, "no drive letter left (at most 24 volumes)"});
        break;
      }
      Drive drive = make_drive(c, piece, letter);
      drive.drive_index = static_cast<std::int32_t>(listing.drives.size());
      listing.drives.push_back(std::move(drive));
      ++letter;
    }
  }
  return listing;
}

std::string drive_caption(const Drive& drive) {
  char size_part[64];
  if (drive.size_mb >= 1000) {
    std::snprintf(size_part, sizeof size_part, " (%.2f GB)", drive.size_mb / 1024);
  } else {
    std::snprintf(size_part, sizeof size_part, " (%.2f MB)", drive.size_mb);
  }
  std::string caption(
      1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive.drive_letter))));
  caption += ":\\ ";
  // A volume inside a disk names the disk and where in it; an image file its name, so that
  // two images of one size can be told apart.
  std::error_code ec;
  if (drive.partition_number > 0 || drive.offset > 0 ||
      (!drive.source_path.empty() && fs::is_regular_file(drive.source_path, ec))) {
    caption += " " + source_place(drive);
  }
  return caption + size_part;
}

std::string source_place(const Drive& drive) {
  const std::string name = fs::path(drive.source_path).filename().string();
  if (drive.partition_number > 0) return name + " #" + std::to_string(drive.partition_number);
  if (drive.offset > 0) return name + " @" + std::to_string(drive.offset);
  return name;
}

Drive* find_drive(DriveList& drives, char drive_letter) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(drive_letter)));
  for (Drive& d : drives) {
    if (d.drive_letter == lower) return &d;
  }
  return nullptr;
}

}  // namespace fennick::workflow

// erase_directory_entries: takes every free MFT record of an NTFS volume with an empty file
// of its own, until the MFT has to grow, then deletes those files again.
//
// Linux has no query for the MFT's valid data length, so it is read from MFT record 0 through
// the NTFS engine, after asking the mount to write out what it holds.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "cleaning/clean_files.h"
#include "cleaning/clean_unit.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"
#include "ntfs/ntfs_volume.h"
#include "volume/le_read.h"

namespace fennick::cleaning {

namespace {

using detail::child_path;
using detail::counter_name;

constexpr std::uint64_t files_per_folder = 3000;
constexpr std::uint64_t last_folder_number = 999999;
// Initialised ("valid data") size of a non-resident attribute, after the data size.
constexpr std::size_t attr_initialised_size = 0x38;

struct MftSize {
  std::int64_t valid_bytes = 0;
  std::int32_t record_size = 0;
};

// MftValidDataLength and the record size, from record 0 of the volume as it is on disk now.
std::optional<MftSize> query_mft_size(const volume::DriveInfo& drive, const std::string& root) {
  const int root_fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_fd >= 0) {
    ::syncfs(root_fd);
    ::close(root_fd);
  }
  ntfs::NtfsVolume v;
  if (!ntfs::open_ntfs_volume(v, drive) || !ntfs::load_mft(v)) return std::nullopt;
  const ntfs::ConstBytes record(v.mft_record);
  const auto data = ntfs::find_attribute(record, ntfs::type_data);
  if (!data || !ntfs::attr_is_non_resident(record, *data)) return std::nullopt;
  const std::uint32_t length = volume::le32_or0(record, *data + ntfs::attr_length);
  const auto valid = volume::read_le64(record, *data + attr_initialised_size);
  if (length < attr_initialised_size + 8 || !valid) return std::nullopt;
  const auto bytes = static_cast<std::int64_t>(*valid);
  if (bytes < 0) return std::nullopt;
  return MftSize{bytes, v.geometry.record_size};
}

// A TMPDIR folder left by an earlier run that could not finish: nothing in it but empty
// files with 12-digit names. Anything else under such a name is the user's and stays.
bool is_leftover_folder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  bool ours = true;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat file {};
    const bool digits = name.size() == 12 && name.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || ::fstatat(::dirfd(dir), entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(file.st_mode) || file.st_size != 0) {
      ours = false;
      break;
    }
  }
  ::closedir(dir);
  return ours;
}

// Makes the next TMPDIR folder of this run, hidden; empty when none can be made. A name the
// user holds is passed over.
std::string start_folder(const std::string& root, std::uint64_t& folder_number) {
  while (folder_number <= last_folder_number) {
    const std::string path = child_path(root, "TMPDIR" + counter_name(folder_number, 6));
    folder_number += 1;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (!is_leftover_folder(path) || !delete_folder_tree(path)) continue;
    }
    if (::mkdir(path.c_str(), 0700) != 0) return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      detail::make_hidden(fd);
      ::close(fd);
    }
    return path;
  }
  return {};
}

}  // namespace

bool erase_directory_entries(const volume::DriveInfo& drive) {
  if (volume::get_file_system_name(drive.drive_letter) != "NTFS") {
    messages::out_text(messages::get_message(108));
    return false;
  }
  const std::string root = clean_root(drive);
  if (root.empty()) return false;

  const std::optional<MftSize> first = query_mft_size(drive, root);
  if (!first) {
    detail::progress_to(100);
    return false;
  }
  const std::int64_t v0 = first->valid_bytes;
  const std::uint64_t records =
      std::max<std::uint64_t>(1, static_cast<std::uint64_t>(v0 / first->record_size));
  std::int64_t valid = v0;
  bool query_ok = true;

  detail::progress_start();
  std::vector<std::string> folders;
  std::string folder;
  std::uint64_t count = 0;
  std::uint64_t folder_number = 0;
  while (true) {
    messages::process_pending_events();
    if (count % files_per_folder == 0) {
      folder = start_folder(root, folder_number);
      if (folder.empty()) break;
      folders.push_back(folder);
    }
    const std::string file = child_path(folder, counter_name(count, 12));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) break;
    count += 1;
    if (count % 500 == 0) {
      detail::progress_to(static_cast<std::int64_t>(std::min<std::uint64_t>(50, count * 3000 / records)));
    }
    ::close(fd);
    if (count % 20 == 0) {
      const std::optional<MftSize> now = query_mft_size(drive, root);
      query_ok = now.has_value();
      if (now) valid = now->valid_bytes;
    }
    if (!query_ok || valid > v0 || messages::stop_flag != 0) break;
  }
  const bool grew = valid > v0;

  // The folders go with their files; the bar moves from where it stands to 100 as they go.
  const std::int64_t base = detail::progress_now();
  const auto n = static_cast<std::int64_t>(folders.size());
  for (std::int64_t i = 0; i < n; ++i) {
    struct stat st {};
    if (::lstat(folders[static_cast<std::size_t>(i)].c_str(), &st) == 0) {
      detail::progress_to(base + (100 - base) * (i + 1) / n);
      delete_folder_tree(folders[static_cast<std::size_t>(i)]);
      messages::process_pending_events();
    }
  }
  detail::progress_to(100);
  return grew;
}

}  // namespace fennick::cleaning

// erase_directory_entries: takes every free MFT record of an NTFS volume with an empty file
// of its own, until the MFT has to grow, then deletes those files again.
//
// Linux has no query for the MFT's valid data length, so it is read from MFT record 0 through
// the NTFS engine, after asking the mount to write out what it holds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "cleaning/clean_files.h"
#include "cleaning/clean_jobs.h"
#include "messages/message_ids.h"
#include "messages/status_channel.h"
#include "ntfs/ntfs_layout.h"
#include "ntfs/ntfs_volume.h"
#include "volume/le_read.h"

namespace fennick::cleaning {

namespace {

using detail::counter_name;

constexpr std::uint64_t files_per_folder = 3000;
constexpr std::uint64_t last_folder_number = 999999;
struct MftSize {
  std::int64_t valid_bytes = 0;
  std::int32_t record_size = 0;
};

// MftValidDataLength and the record size, from record 0 of the volume as it is on disk now.
std::optional<MftSize> query_mft_size(const CleanJob& job, int root_fd) {
  ::syncfs(root_fd);
  ntfs::NtfsVolume v;
  if (!ntfs::open_ntfs_volume(v, job.volume, job.channel, job.run) || !ntfs::load_mft(v)) {
    return std::nullopt;
  }
  const ntfs::ConstBytes record(v.mft_record);
  const auto data = ntfs::find_attribute(record, ntfs::type_data);
  if (!data || !ntfs::attr_is_non_resident(record, *data)) return std::nullopt;
  const std::uint32_t length = volume::le32_or0(record, *data + ntfs::attr_length);
  const auto valid = volume::read_le64(record, *data + ntfs::attr_initialised);
  if (length < ntfs::attr_initialised + 8 || !valid) return std::nullopt;
  const auto bytes = static_cast<std::int64_t>(*valid);
  if (bytes < 0) return std::nullopt;
  return MftSize{bytes, v.geometry.record_size};
}

// One TMPDIR folder of this run: its name in the root and the descriptor every file of it is
// made and removed through, so that nothing a user puts at the name later is followed.
struct TempFolder {
  std::string name;
  detail::OwnedFd fd;
  struct stat made {};
};

// A TMPDIR folder left by an earlier run that could not finish: nothing in it but empty
// files with 12-digit names. Anything else under such a name is the user's and stays. What
// was checked is what goes: the files are removed through the folder's descriptor, then the
// folder, if the name still names it. True when the name is free afterwards.
bool remove_leftover_folder(const detail::RootFolder& root, const std::string& name) {
  struct stat listed {};
  if (::fstatat(root.fd.get(), name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(listed.st_mode)) {
    return false;
  }
  const detail::OwnedFd folder(detail::open_folder_at(root.fd.get(), name, root.device));
  struct stat opened {};
  if (!folder.valid() || ::fstat(folder.get(), &opened) != 0 ||
      !detail::same_file(opened, listed)) {
    return false;
  }
  int error = 0;
  const std::vector<std::string> names = detail::folder_entries(folder.get(), error);
  if (error != 0) return false;
  for (const std::string& file_name : names) {
    struct stat file {};
    const bool digits =
        file_name.size() == 12 && file_name.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || ::fstatat(folder.get(), file_name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(file.st_mode) || file.st_size != 0 || file.st_dev != root.device) {
      return false;
    }
  }
  for (const std::string& file_name : names) ::unlinkat(folder.get(), file_name.c_str(), 0);
  struct stat now {};
  return ::fstatat(root.fd.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         detail::same_file(now, listed) &&
         ::unlinkat(root.fd.get(), name.c_str(), AT_REMOVEDIR) == 0;
}

// Makes the next TMPDIR folder of this run in the root, hidden, and opens it; none when none
// can be made. A name the user holds is passed over.
std::optional<TempFolder> start_folder(const detail::RootFolder& root,
                                       std::uint64_t& folder_number) {
  while (folder_number <= last_folder_number) {
    TempFolder folder;
    folder.name = "TMPDIR" + counter_name(folder_number, 6);
    folder_number += 1;
    struct stat st {};
    if (::fstatat(root.fd.get(), folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !remove_leftover_folder(root, folder.name)) {
      continue;
    }
    if (::mkdirat(root.fd.get(), folder.name.c_str(), 0700) != 0) return std::nullopt;
    folder.fd = detail::OwnedFd(detail::open_folder_at(root.fd.get(), folder.name, root.device));
    if (!folder.fd.valid() || ::fstat(folder.fd.get(), &folder.made) != 0) {
      // Removes only an empty folder, never what a link points to.
      ::unlinkat(root.fd.get(), folder.name.c_str(), AT_REMOVEDIR);
      return std::nullopt;
    }
    detail::make_hidden(folder.fd.get());
    return folder;
  }
  return std::nullopt;
}

// Removes the run's files from the folder through its descriptor, then the folder itself when
// its name in the root still names it.
void remove_folder(const detail::RootFolder& root, const TempFolder& folder) {
  int error = 0;
  for (const std::string& name : detail::folder_entries(folder.fd.get(), error)) {
    delete_folder_tree(folder.fd.get(), name);
  }
  struct stat now {};
  if (::fstatat(root.fd.get(), folder.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      detail::same_file(now, folder.made)) {
    ::unlinkat(root.fd.get(), folder.name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

bool erase_directory_entries(const CleanJob& job) {
  detail::Worker w(job);
  const volume::Volume& drive = job.volume;
  if (drive.kind != volume::FileSystemKind::ntfs) {
    w.log(w.text(messages::not_an_ntfs_drive));
    return false;
  }
  const detail::RootFolder root = detail::open_clean_root(drive, job.channel);
  if (root.path.empty()) return false;
  if (!root.fd.valid()) {
    w.progress_to(100);
    return false;
  }

  const std::optional<MftSize> first = query_mft_size(job, root.fd.get());
  if (!first) {
    w.progress_to(100);
    return false;
  }
  const std::int64_t v0 = first->valid_bytes;
  const std::uint64_t records =
      std::max<std::uint64_t>(1, static_cast<std::uint64_t>(v0 / first->record_size));
  std::int64_t valid = v0;
  bool query_ok = true;

  // Every folder of the run stays open until its files are gone.
  detail::DescriptorLimit limit;
  w.progress_start();
  std::vector<TempFolder> folders;
  std::uint64_t count = 0;
  std::uint64_t folder_number = 0;
  while (true) {
    w.pump();
    if (count % files_per_folder == 0) {
      std::optional<TempFolder> next = start_folder(root, folder_number);
      if (!next) break;
      folders.push_back(std::move(*next));
    }
    const int fd = ::openat(folders.back().fd.get(), counter_name(count, 12).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) break;
    struct stat made {};
    const bool on_volume = ::fstat(fd, &made) == 0 && made.st_dev == root.device;
    ::close(fd);
    if (!on_volume) break;
    count += 1;
    if (count % 500 == 0) {
      w.progress_to(static_cast<std::int64_t>(std::min<std::uint64_t>(50, count * 3000 / records)));
    }
    if (count % 20 == 0) {
      const std::optional<MftSize> now = query_mft_size(job, root.fd.get());
      query_ok = now.has_value();
      if (now) valid = now->valid_bytes;
    }
    if (!query_ok || valid > v0 || w.stopped()) break;
  }
  const bool grew = valid > v0;

  // The folders go with their files; the bar moves from where it stands to 100 as they go.
  const std::int64_t base = w.progress_now();
  const auto n = static_cast<std::int64_t>(folders.size());
  for (std::int64_t i = 0; i < n; ++i) {
    w.progress_to(base + (100 - base) * (i + 1) / n);
    remove_folder(root, folders[static_cast<std::size_t>(i)]);
    w.pump();
  }
  w.progress_to(100);
  return grew;
}

}  // namespace fennick::cleaning

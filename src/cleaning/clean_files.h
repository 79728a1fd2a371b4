// What the cleaning workers share below their interface: the root folder, creating their own
// files (hidden, gone from the folder as soon as they exist), the volume's file attributes
// and the progress bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fennick::cleaning::detail {

// NTFS / FAT file attributes the workers read or set.
constexpr std::uint32_t attribute_read_only = 0x0001;
constexpr std::uint32_t attribute_hidden = 0x0002;
constexpr std::uint32_t attribute_sparse = 0x0200;
constexpr std::uint32_t attribute_compressed = 0x0800;
constexpr std::uint32_t attribute_encrypted = 0x4000;

// root + "/" + name, with no doubled "/".
std::string child_path(const std::string& folder, const std::string& name);

// The attributes that the mount exposes for the file (ntfs-3g's system.ntfs_attrib_be, or the
// FAT attribute ioctl); none when the mount has no such notion.
std::optional<std::uint32_t> file_attributes(int fd);
std::optional<std::uint32_t> file_attributes(const std::string& path);
// Sets them; false when the mount cannot.
bool set_file_attributes(int fd, std::uint32_t attributes);
bool set_file_attributes(const std::string& path, std::uint32_t attributes);
// Adds the hidden attribute where the mount supports it; nothing otherwise.
void make_hidden(int fd);

// Creates a cleanup file of the workers' own at path (it must not exist yet), hidden, and
// removes its name at once, so the file lives only as long as the returned descriptor and
// disappears when it is closed, whatever happens to the run. extra_flags are added to the
// open (O_DSYNC for write-through); direct asks for unbuffered writes where the file system
// allows them. -1 with errno set when it cannot be created; nothing is left behind then.
int create_cleanup_file(const std::string& path, int extra_flags, bool direct);

// Zero-padded decimal: counter_name(7, 6) == "000007".
std::string counter_name(std::uint64_t value, int digits);

// The progress bar of the active channel, range 0..100.
void progress_start();
void progress_to(std::int64_t position);
// Where progress_start / progress_to left the bar.
std::int32_t progress_now();

}  // namespace fennick::cleaning::detail

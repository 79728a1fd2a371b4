// The folder a recovery writes into, held open for the run.
//
// Fennick runs as root, and a destination is often a folder that other people can write to.
// Every folder and file a recovery makes is therefore created relative to the descriptor of
// its parent, never through a symbolic link, and never in place of anything already there: a
// file, folder, link, FIFO, device or socket found in the way is left alone and the new file
// or folder goes beside it under the next free " (n)" name. Files are made 0600 and folders 0700;
// when the program was started through sudo or pkexec for a person who owns the destination, what
// it makes is handed to that person.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fennick::catalogue {

// The person a root-run program works for, from the environment sudo and pkexec leave.
struct Requester {
  uid_t uid = 0;
  gid_t gid = 0;
};
// SUDO_UID/SUDO_GID, else PKEXEC_UID with that user's primary group; none when the process
// is not root, or the values are missing, malformed or name root.
std::optional<Requester> requester_from_environment();

// Why something in the destination was not used, for the log.
enum class InTheWay { link, not_regular };

struct CreatedFile {
  int fd = -1;           // write-only descriptor of the new, empty file; -1 on failure
  std::string path;      // destination + relative path actually used, for the log
  std::string relative;  // the path below the destination, with "/" separators
  int error = 0;         // errno when fd is -1
  std::string reason;    // what went wrong when fd is -1 (for the log)
};

class DestinationFolder {
 public:
  DestinationFolder() = default;
  ~DestinationFolder();
  DestinationFolder(const DestinationFolder&) = delete;
  DestinationFolder& operator=(const DestinationFolder&) = delete;

  // Opens the folder the user named (links in that path are the user's own choice and are
  // followed) and decides whom new files belong to: the requester when one is given and owns
  // the folder. False with errno set.
  bool open(const std::string& path, std::optional<Requester> requester);
  bool is_open() const { return fd_ >= 0; }
  // Lets the folder go and forgets the folders chosen.
  void close();
  const std::string& path() const { return path_; }

  // Makes the folders (already safe names) below the destination, each relative to its
  // parent's descriptor; the relative path actually used ("" for the destination itself),
  // or nothing with errno set. A link or other non-folder in the way gives "NAME (2)" etc.;
  // the choice is remembered, so later files of the same folder go to the same place.
  std::optional<std::string> make_folders(const std::vector<std::string>& folders);

  // Creates `name` (a safe name) in the folder at `relative` as a new file. Nothing in the
  // way is ever replaced, truncated or unlinked (a file from before the run, a file the run
  // wrote, a folder, a link, a FIFO, a device, a socket): the next " (n)" name is tried,
  // skipping the paths `taken` says are used.
  CreatedFile create_file(const std::string& relative, const std::string& name,
                          const std::function<bool(const std::string&)>& taken);

  // A read-only descriptor of a file this object created, not through a link at its place;
  // -1 with errno set. The caller closes it.
  int open_for_reading(const std::string& relative);
  // Removes a file this object created (an output that got no byte).
  void remove(const std::string& relative);
  // Sets the modified and access times of a file this object created (seconds and
  // nanoseconds since 1970, UTC), not following a link at its place; false with errno set.
  bool set_times(const std::string& relative, std::int64_t seconds, std::int64_t nanoseconds);

  // Told of everything left alone in the destination: the path and why.
  std::function<void(const std::string&, InTheWay)> on_in_the_way;

 private:
  // The descriptor of the folder at relative ("" for the destination), opened component by
  // component without following links; -1 with errno set. The object keeps it (the files
  // of one folder usually come one after another) and closes it when another is opened.
  int open_folder(const std::string& relative);
  // Makes or opens `name` in parent; a descriptor of the folder, or -1 (errno ELOOP or
  // ENOTDIR when something else is in the way).
  int make_folder(int parent, const std::string& name);
  void hand_over(int fd) const;
  std::string display(const std::string& relative) const;

  int fd_ = -1;
  std::string path_;
  std::optional<Requester> owner_;
  // A folder asked for (its relative path as asked) and the relative path it was given.
  std::map<std::string, std::string> folders_;
  // The same for whole paths, so that a known folder is entered in one call.
  std::unordered_map<std::string, std::string> made_paths_;
  int cached_fd_ = -1;
  std::string cached_relative_;
};

// "name (n).ext": the name a file or folder gets when its own is used; the stem is cut at a
// character boundary so the name stays within the 255 bytes a Linux name may have.
std::string numbered_name(const std::string& name, int n);

}  // namespace fennick::catalogue

// The Clean Disk workers: erasing free MFT records (directory entries), cluster tips and free
// space of a mounted volume, and the two routines they share (overwrite_region,
// delete_folder_tree).
//
// The workers never write sectors. They work through files and folders of their own that
// they create below the volume's mount point, and through the bytes past the end of the
// user's files, so the mounted file system does all the writing. They report through the
// job's status channel (log lines, progress 0..100), let the run pump pending events before
// every piece of work and stop when the run is asked to. Every cleanup file is gone when a
// worker returns, however it ended.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "messages/status_channel.h"
#include "run/run_control.h"
#include "volume/volume.h"

namespace fennick::cleaning {

// What one cleaning job works on and with.
struct CleanJob {
  const volume::Volume& volume;
  run::RunControl& run;
  messages::StatusChannel& channel;
};

// The three page-aligned buffers a region is overwritten with: zeros, 0xFF bytes and random
// bytes. Made on first use; every job makes its own, so every free-space run writes new
// random bytes.
class OverwritePatterns {
 public:
  // Makes the buffers when they do not exist yet; false when the memory cannot be had.
  bool ready();
  const std::uint8_t* pattern(int k) const { return buffers_[k].get(); }

 private:
  struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, FreeDeleter> buffers_[3];
};

// Writes `length` bytes at the descriptor's current position three times (zeros, 0xFF,
// random bytes, in pieces of at most 1 MiB with pending events let through between pieces)
// and leaves the position at the end of the region. False when a write fails (the volume is
// full, for instance) or the pattern buffers cannot be made; the region may then be partly
// written. A descriptor opened for direct I/O that the file system refuses to write directly
// falls back to ordinary writes.
bool overwrite_region(int fd, std::int64_t length, OverwritePatterns& patterns,
                      run::RunControl& run);

// Deletes the folder (or file) `name` of the folder parent_fd with everything in it, each
// entry removed relative to its folder's descriptor. Symbolic links are removed, never
// followed, and nothing on another device (a volume mounted below) is entered. True when
// nothing is left at the name.
bool delete_folder_tree(int parent_fd, const std::string& name);
// The same for a path (the folders leading to its last part are the caller's to trust).
bool delete_folder_tree(const std::string& path);

// The folder the workers work in: the volume's mount point, looked up now (the drive list
// may be older than the mount). Empty, after a log line saying so, when the volume is not
// mounted.
std::string clean_root(const volume::Volume& volume, messages::StatusChannel& channel);

// NTFS only: creates empty files in hidden TMPDIRnnnnnn folders of the root until the MFT
// has had to grow (so every free MFT record, among them those of deleted files, has been
// taken by a new file), then deletes them all. True when the MFT grew.
bool erase_directory_entries(const CleanJob& job);

// Overwrites the bytes between the end of every file of the volume and the end of its last
// cluster, three times; each file keeps its length, content and times. Compressed,
// encrypted and sparse files are skipped. used_bytes drives the progress bar. False only
// when the volume cannot be walked at all (not mounted, root unreadable, cluster size
// unknown). counts, when given, learns the sizes of all files met and the files whose tips
// were handled.
struct TipsCounts {
  std::int64_t seen_bytes = 0;
  std::uint32_t files = 0;
};
bool erase_cluster_tips(const CleanJob& job, std::int32_t cluster_size, std::int64_t used_bytes,
                        TipsCounts* counts = nullptr);

// Fills the free space with one large hidden cleanup file, then with small ones until not a
// byte more can be written (on NTFS the last ones take the free MFT records), and deletes
// them all. False when a check or the creation of the first cleanup file fails.
bool erase_free_space(const CleanJob& job);

}  // namespace fennick::cleaning

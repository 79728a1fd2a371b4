// The one way a wipe may write to a volume: a write session on the volume's source, opened
// once for the whole wipe of a file after checking that the volume is not mounted and that
// its name still stands for the volume that was scanned. The wipe's checking reads and its
// writes go through the session's one descriptor.
#pragma once

#include <memory>
#include <string>

namespace fennick::volume {

class VolumeSource;

enum class WriteRefusal {
  none,
  mounted,                 // a file system is mounted from it: its driver would undo the wipe
  not_the_scanned_volume,  // the name now stands for another file, or for a link
  read_only_format,        // an image format that is not written in place (EWF, VHD, ...)
  cannot_open,             // error() says why
};

class WriteSession {
 public:
  // Opens the session on the source (null: refused with cannot_open).
  explicit WriteSession(std::shared_ptr<VolumeSource> source);
  ~WriteSession();
  WriteSession(const WriteSession&) = delete;
  WriteSession& operator=(const WriteSession&) = delete;

  WriteRefusal refusal() const { return refusal_; }
  int error() const { return error_; }
  // The path of the volume, for the log.
  const std::string& volume_path() const { return path_; }

 private:
  std::shared_ptr<VolumeSource> source_;
  WriteRefusal refusal_ = WriteRefusal::none;
  int error_ = 0;
  std::string path_;
};

}  // namespace fennick::volume

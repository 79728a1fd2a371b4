// Write sessions of the wipes.
#include "volume/write_session.h"

#include <cerrno>

#include "volume/mount_lookup.h"
#include "volume/volume_source.h"

namespace fennick::volume {

WriteSession::WriteSession(std::shared_ptr<VolumeSource> source) : source_(std::move(source)) {
  if (!source_) {
    refusal_ = WriteRefusal::cannot_open;
    error_ = ENODEV;
    source_.reset();
    return;
  }
  path_ = source_->path();
  if (!path_.empty() && !find_mount_point(path_, source_->path_offset()).empty()) {
    refusal_ = WriteRefusal::mounted;
    source_.reset();
    return;
  }
  error_ = source_->begin_write_session();
  if (error_ == 0) return;
  refusal_ = error_ == EBUSY                  ? WriteRefusal::mounted
             : error_ == not_the_scanned_file ? WriteRefusal::not_the_scanned_volume
             : error_ == EROFS                ? WriteRefusal::read_only_format
                                              : WriteRefusal::cannot_open;
  source_.reset();
}

WriteSession::~WriteSession() {
  if (source_) source_->end_write_session();
}

}  // namespace fennick::volume

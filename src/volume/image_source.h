// Disk-image formats, read-only: EWF (E01, with its further segments), VHD and VHDX, VMDK,
// QCOW2 through Debian's libraries, and split raw images (name.001, name.002, ...). The format
// is told by the file's signature, never by its name (split raw aside, which has none).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "volume/volume_source.h"

namespace fennick::volume {

enum class ImageFormat { raw, split_raw, ewf, vhd, vhdx, vmdk, qcow };

// "raw", "split raw", "EWF", "VHD", "VHDX", "VMDK", "QCOW".
std::string_view format_name(ImageFormat format);

// The format of the regular file at path, by its signature; raw when it has none we know.
// A file named *.001 whose next segment *.002 exists is split raw.
ImageFormat detect_image_format(const std::string& path);

struct OpenedImage {
  std::shared_ptr<VolumeSource> source;  // null when it could not be opened
  std::string problem;                   // why not
};

// Opens the image of a format other than raw for reading. The source's bytes are the disk
// the image holds; writes are refused (a wipe of such an image is not done in place).
OpenedImage open_image(const std::string& path, ImageFormat format);

}  // namespace fennick::volume

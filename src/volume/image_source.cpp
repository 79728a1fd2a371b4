// Image-format sources over libewf, libvhdi, libvmdk and libqcow, and split raw images.
#include "volume/image_source.h"

#include <fcntl.h>
#include <libewf.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace fennick::volume {

namespace {

// The first bytes of the file, or fewer.
std::vector<std::uint8_t> head_of(const std::string& path, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t got = ::pread(fd, bytes.data(), count, 0);
  ::close(fd);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

bool starts_with(const std::vector<std::uint8_t>& bytes, std::string_view signature) {
  return bytes.size() >= signature.size() &&
         std::memcmp(bytes.data(), signature.data(), signature.size()) == 0;
}

// A VHD carries its footer ("conectix") in the last 512 bytes; a dynamic one a copy at 0.
bool vhd_footer_at_end(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  char footer[8] = {};
  const bool found = ::fstat(fd, &st) == 0 && st.st_size >= 512 &&
                     ::pread(fd, footer, sizeof footer, st.st_size - 512) == sizeof footer &&
                     std::memcmp(footer, "conectix", 8) == 0;
  ::close(fd);
  return found;
}

std::string segment_name(const std::string& first, int n) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "%03d", n);
  return first.substr(0, first.size() - 3) + suffix;
}

bool regular_file(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The text of a library's error, freed.
template <typename Error, typename Sprint, typename Free>
std::string error_text(Error* error, Sprint sprint, Free free_error) {
  if (error == nullptr) return "cannot be read";
  std::array<char, 512> text{};
  sprint(error, text.data(), text.size());
  free_error(&error);
  std::string out(text.data());
  // The libraries end their messages with a newline or a period and a newline.
  while (!out.empty() && (out.back() == '\n' || out.back() == '.')) out.pop_back();
  return out.empty() ? "cannot be read" : out;
}

// What every image source shares: no writes, sizes and path, and read sessions at whose end
// what was learnt about unreadable stretches is forgotten.
class ReadOnlyImage : public VolumeSource {
 public:
  ReadOnlyImage(std::string path, std::uint64_t size) : path_(std::move(path)), size_(size) {}
  SourceResult write_at(std::uint64_t, const void*, std::size_t) override { return {0, EROFS}; }
  int begin_write_session() override { return EROFS; }
  std::int64_t size_bytes() const override { return static_cast<std::int64_t>(size_); }
  std::string path() const override { return path_; }
  void begin_read_session() override { ++sessions_; }
  void end_read_session() override {
    if (sessions_ > 0 && --sessions_ == 0) faults_.forget();
  }

 protected:
  // count bytes at offset, cut at the media's end.
  std::size_t inside(std::uint64_t offset, std::size_t count) const {
    if (offset >= size_) return 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
  }
  // Reads through the attempt, around unreadable stretches; the image file must still be
  // there for a failure to count as an unreadable stretch rather than a lost medium.
  SourceResult read_around_faults(std::uint64_t offset, std::uint8_t* destination,
                                  std::size_t count, const ReadFaults::Reader& attempt) {
    SourceResult result =
        faults_.read(offset, destination, count, attempt, [this] { return regular_file(path_); });
    if (sessions_ == 0) faults_.forget();
    return result;
  }

 private:
  std::string path_;
  std::uint64_t size_;
  int sessions_ = 0;
  ReadFaults faults_;
};

// A disk read through one of the format libraries: its handle, its read call (they all take
// handle, buffer, size, offset, error) and what closes and frees the handle.
template <typename Handle, typename Error>
class LibrarySource final : public ReadOnlyImage {
 public:
  using Read = ssize_t (*)(Handle*, void*, size_t, off64_t, Error**);
  using Release = void (*)(Handle*);
  LibrarySource(std::string path, std::uint64_t size, Handle* handle, Read read, Release release)
      : ReadOnlyImage(std::move(path), size), handle_(handle), read_(read), release_(release) {}
  ~LibrarySource() override { release_(handle_); }
  LibrarySource(const LibrarySource&) = delete;
  LibrarySource& operator=(const LibrarySource&) = delete;
  SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) override {
    const std::size_t n = inside(offset, count);
    if (n == 0) return {0, 0};
    // The libraries give no errno: a failed read (a damaged chunk, an unreadable segment)
    // is an unreadable stretch.
    return read_around_faults(
        offset, static_cast<std::uint8_t*>(destination), n,
        [this](std::uint64_t at, std::uint8_t* into, std::size_t want) -> RawRead {
          const ssize_t got = read_(handle_, into, want, static_cast<off64_t>(at), nullptr);
          if (got < 0) return {0, EIO};
          return {static_cast<std::int64_t>(got), 0};
        });
  }

 private:
  Handle* handle_;
  Read read_;
  Release release_;
};

// name.001, name.002, ... read as one disk; each segment a checked file source that reads
// around its own unreadable stretches.
class SplitRawSource final : public ReadOnlyImage {
 public:
  struct Segment {
    std::shared_ptr<FileSource> file;
    std::uint64_t start = 0;
    std::uint64_t length = 0;
  };
  SplitRawSource(std::string path, std::uint64_t size, std::vector<Segment> segments)
      : ReadOnlyImage(std::move(path), size), segments_(std::move(segments)) {}
  SourceResult read_at(std::uint64_t offset, void* destination, std::size_t count) override {
    SourceResult result;
    std::size_t done = 0;
    auto* out = static_cast<std::uint8_t*>(destination);
    count = inside(offset, count);
    while (done < count) {
      const std::uint64_t at = offset + done;
      const auto segment = std::find_if(segments_.begin(), segments_.end(), [at](const Segment& s) {
        return at >= s.start && at - s.start < s.length;
      });
      if (segment == segments_.end()) break;
      const std::size_t piece = static_cast<std::size_t>(
          std::min<std::uint64_t>(count - done, segment->start + segment->length - at));
      const SourceResult r = segment->file->read_at(at - segment->start, out + done, piece);
      if (r.open_error != 0) return {0, r.open_error};
      std::int64_t got = r.bytes;
      if (r.read_error == EIO) {
        for (UnreadableStretch s : r.unreadable) {
          s.offset += done;
          result.unreadable.push_back(s);
        }
        got = r.salvaged;
      } else if (r.read_error != 0) {
        SourceResult failed;
        failed.read_error = r.read_error;
        return failed;
      }
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
      if (static_cast<std::size_t>(got) < piece) break;
    }
    if (!result.unreadable.empty()) {
      result.read_error = EIO;
      result.salvaged = static_cast<std::int64_t>(done);
      return result;
    }
    result.bytes = static_cast<std::int64_t>(done);
    return result;
  }
  void begin_read_session() override {
    for (const Segment& s : segments_) s.file->begin_read_session();
  }
  void end_read_session() override {
    for (const Segment& s : segments_) s.file->end_read_session();
  }

 private:
  std::vector<Segment> segments_;
};

// At most this many segments of a split raw or EWF image.
constexpr int max_segments = 999;

OpenedImage open_split_raw(const std::string& first) {
  std::vector<SplitRawSource::Segment> segments;
  std::uint64_t total = 0;
  for (int n = 1; n <= max_segments; ++n) {
    const std::string name = segment_name(first, n);
    if (!regular_file(name)) break;
    const std::int64_t size = path_size_bytes(name);
    if (size <= 0) return {nullptr, "segment " + name + " cannot be read"};
    segments.push_back(
        {std::make_shared<FileSource>(name), total, static_cast<std::uint64_t>(size)});
    total += static_cast<std::uint64_t>(size);
  }
  if (segments.empty()) return {nullptr, "no segments"};
  return {std::make_shared<SplitRawSource>(first, total, std::move(segments)), {}};
}

OpenedImage open_ewf(const std::string& path) {
  libewf_error_t* error = nullptr;
  char** names = nullptr;
  int count = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1) {
    return {nullptr, error_text(error, libewf_error_sprint, libewf_error_free)};
  }
  if (count > max_segments) {
    libewf_glob_free(names, count, nullptr);
    return {nullptr, "too many segments"};
  }
  libewf_handle_t* handle = nullptr;
  size64_t size = 0;
  if (libewf_handle_initialize(&handle, &error) != 1 ||
      libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, &error) != 1 ||
      libewf_handle_get_media_size(handle, &size, &error) != 1) {
    libewf_glob_free(names, count, nullptr);
    if (handle) libewf_handle_free(&handle, nullptr);
    return {nullptr, error_text(error, libewf_error_sprint, libewf_error_free)};
  }
  libewf_glob_free(names, count, nullptr);
  return {std::make_shared<LibrarySource<libewf_handle_t, libewf_error_t>>(
              path, size, handle, libewf_handle_read_random,
              [](libewf_handle_t* h) {
                libewf_handle_close(h, nullptr);
                libewf_handle_free(&h, nullptr);
              }),
          {}};
}

OpenedImage open_vhdi(const std::string& path) {
  libvhdi_error_t* error = nullptr;
  libvhdi_file_t* file = nullptr;
  size64_t size = 0;
  std::uint32_t disk_type = 0;
  if (libvhdi_file_initialize(&file, &error) != 1 ||
      libvhdi_file_open(file, path.c_str(), libvhdi_get_access_flags_read(), &error) != 1 ||
      libvhdi_file_get_media_size(file, &size, &error) != 1) {
    if (file) libvhdi_file_free(&file, nullptr);
    return {nullptr, error_text(error, libvhdi_error_sprint, libvhdi_error_free)};
  }
  // A differencing image holds only what changed since its parent.
  if (libvhdi_file_get_disk_type(file, &disk_type, nullptr) == 1 &&
      disk_type == LIBVHDI_DISK_TYPE_DIFFERENTIAL) {
    libvhdi_file_close(file, nullptr);
    libvhdi_file_free(&file, nullptr);
    return {nullptr, "a differencing image (it needs its parent image)"};
  }
  return {std::make_shared<LibrarySource<libvhdi_file_t, libvhdi_error_t>>(
              path, size, file, libvhdi_file_read_buffer_at_offset,
              [](libvhdi_file_t* f) {
                libvhdi_file_close(f, nullptr);
                libvhdi_file_free(&f, nullptr);
              }),
          {}};
}

OpenedImage open_vmdk(const std::string& path) {
  libvmdk_error_t* error = nullptr;
  libvmdk_handle_t* handle = nullptr;
  size64_t size = 0;
  if (libvmdk_handle_initialize(&handle, &error) != 1 ||
      libvmdk_handle_open(handle, path.c_str(), libvmdk_get_access_flags_read(), &error) != 1 ||
      libvmdk_handle_open_extent_data_files(handle, &error) != 1 ||
      libvmdk_handle_get_media_size(handle, &size, &error) != 1) {
    if (handle) libvmdk_handle_free(&handle, nullptr);
    return {nullptr, error_text(error, libvmdk_error_sprint, libvmdk_error_free)};
  }
  return {std::make_shared<LibrarySource<libvmdk_handle_t, libvmdk_error_t>>(
              path, size, handle, libvmdk_handle_read_buffer_at_offset,
              [](libvmdk_handle_t* h) {
                libvmdk_handle_close(h, nullptr);
                libvmdk_handle_free(&h, nullptr);
              }),
          {}};
}

OpenedImage open_qcow(const std::string& path) {
  libqcow_error_t* error = nullptr;
  libqcow_file_t* file = nullptr;
  size64_t size = 0;
  if (libqcow_file_initialize(&file, &error) != 1 ||
      libqcow_file_open(file, path.c_str(), libqcow_get_access_flags_read(), &error) != 1 ||
      libqcow_file_get_media_size(file, &size, &error) != 1) {
    if (file) libqcow_file_free(&file, nullptr);
    return {nullptr, error_text(error, libqcow_error_sprint, libqcow_error_free)};
  }
  return {std::make_shared<LibrarySource<libqcow_file_t, libqcow_error_t>>(
              path, size, file, libqcow_file_read_buffer_at_offset,
              [](libqcow_file_t* f) {
                libqcow_file_close(f, nullptr);
                libqcow_file_free(&f, nullptr);
              }),
          {}};
}

}  // namespace

std::string_view format_name(ImageFormat format) {
  switch (format) {
    case ImageFormat::raw:
      return "raw";
    case ImageFormat::split_raw:
      return "split raw";
    case ImageFormat::ewf:
      return "EWF";
    case ImageFormat::vhd:
      return "VHD";
    case ImageFormat::vhdx:
      return "VHDX";
    case ImageFormat::vmdk:
      return "VMDK";
    case ImageFormat::qcow:
      return "QCOW";
  }
  return "raw";
}

ImageFormat detect_image_format(const std::string& path) {
  if (!regular_file(path)) return ImageFormat::raw;
  const std::vector<std::uint8_t> head = head_of(path, 64);
  if (starts_with(head, std::string_view("EVF\x09\x0D\x0A\xFF\x00", 8)) ||
      starts_with(head, std::string_view("LVF\x09\x0D\x0A\xFF\x00", 8))) {
    return ImageFormat::ewf;
  }
  if (starts_with(head, "vhdxfile")) return ImageFormat::vhdx;
  if (starts_with(head, "conectix") || vhd_footer_at_end(path)) return ImageFormat::vhd;
  if (starts_with(head, "KDMV") || starts_with(head, "# Disk DescriptorFile")) {
    return ImageFormat::vmdk;
  }
  if (starts_with(head, std::string_view("QFI\xFB", 4))) return ImageFormat::qcow;
  if (path.size() > 4 && path.ends_with(".001") && regular_file(segment_name(path, 2))) {
    return ImageFormat::split_raw;
  }
  return ImageFormat::raw;
}

OpenedImage open_image(const std::string& path, ImageFormat format) {
  switch (format) {
    case ImageFormat::split_raw:
      return open_split_raw(path);
    case ImageFormat::ewf:
      return open_ewf(path);
    case ImageFormat::vhd:
    case ImageFormat::vhdx:
      return open_vhdi(path);
    case ImageFormat::vmdk:
      return open_vmdk(path);
    case ImageFormat::qcow:
      return open_qcow(path);
    case ImageFormat::raw:
      break;
  }
  return {nullptr, "not an image format"};
}

}  // namespace fennick::volume

// The hash manifest of a recovery run: one line per file the run left in the destination, in
// the format sha256sum writes and checks ("HASH  PATH", the path relative to the destination),
// and beside it (the same name + ".tsv") what each file is: its drive and source, record number,
// size, grade, how its recovery ended, the byte ranges written as zeros, and the hash. With both a
// recovery can be checked (cd DESTINATION && sha256sum -c MANIFEST) and reported later.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::workflow {

// One file of the run as the manifest records it.
struct ManifestEntry {
  std::string relative_path;  // below the destination, "/" separators
  std::string drive;          // "C:"
  std::string source;         // the image or device it was read from
  std::int64_t record_no = 0;
  std::int64_t size = 0;
  std::int32_t quality = 0;
  // "recovered", "overwritten", "damaged", "zeros", "interrupted" or "failed"
  std::string outcome;
  // Bytes written as zeros in place of the file's content, [first, end)
  std::vector<std::pair<std::int64_t, std::int64_t>> zero_ranges;
  std::string sha256;
};

// The line sha256sum writes for a file: names holding a backslash or a line break are
// written with them escaped and the line begins with a backslash, as sha256sum -c expects.
std::string sha256sum_line(const std::string& sha256, const std::string& path);
// The TSV row of an entry (tabs, line breaks and backslashes in values escaped), and the
// header row.
std::string manifest_tsv_header();
std::string manifest_tsv_row(const ManifestEntry& entry);

class RecoveryManifest {
 public:
  RecoveryManifest() = default;
  ~RecoveryManifest();
  RecoveryManifest(const RecoveryManifest&) = delete;
  RecoveryManifest& operator=(const RecoveryManifest&) = delete;

  // Takes over the two files' descriptors (new, empty, open for writing) and writes the
  // TSV header.
  bool start(int list_fd, int table_fd);
  // Creates the files at path and path + ".tsv", both new (never through a link, never in
  // place of a file already there), or neither; false with errno set.
  bool open(const std::string& path);
  bool add(const ManifestEntry& entry);
  // Writes out and closes both; false with errno set when a write failed at any point.
  bool close();

 private:
  bool write(int fd, const std::string& text);
  int list_fd_ = -1;
  int table_fd_ = -1;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace fennick::workflow

// The preview of a found file: its first bytes read through its engine's recovery into memory
// (never to a disk), and what the window shows of them: a picture, text, or a hex and
// character view. Both front ends' rules live here; the window only decodes pictures (Qt's
// image readers) and draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "volume/volume.h"

namespace fennick::workflow {

// A preview reads at most this much of a file.
constexpr std::size_t preview_limit = 32u << 20;
// The hex view shows at most this much.
constexpr std::size_t hex_view_limit = 4096;

struct PreviewBytes {
  std::vector<std::uint8_t> bytes;  // the file's first bytes, up to the limit
  bool readable = false;            // the engine read them (whole or up to the limit)
};

// Reads the record's first bytes from its volume through its engine, with no log lines and
// no dialogs. Not readable for a wiped record, a record of no known file system, one the
// engine cannot read, or one whose first cluster is in use (graded "Overwritten": message
// 77 is all a preview can say of it). Safe on a thread of its own: it uses the volume and a
// copy of the record only.
PreviewBytes read_preview_bytes(const volume::Volume& volume, const catalogue::FoundFile& record,
                                std::size_t limit = preview_limit);

enum class PreviewKind { picture, text, other };

// What kind of preview the bytes get: picture by their signature (JPEG, PNG, GIF, BMP, WebP,
// TIFF), text when they decode as text, else other.
PreviewKind preview_kind(const std::vector<std::uint8_t>& bytes);

// The bytes as text, when they are text: UTF-8, UTF-16 with a byte-order mark, else Latin-1,
// with few control characters (tabs, line ends and form feeds apart); none otherwise. A UTF-8
// sequence cut by the preview's limit at the end does not count against it.
std::optional<std::string> preview_text(const std::vector<std::uint8_t>& bytes);

// "00000000  48 65 6c 6c 6f 0a ...  |Hello.|" lines for the first hex_view_limit bytes.
std::string hex_view(const std::vector<std::uint8_t>& bytes);

}  // namespace fennick::workflow

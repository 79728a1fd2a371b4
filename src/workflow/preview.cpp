// Reading a found file's first bytes for a preview, and telling pictures, text and other
// content apart.
#include "workflow/preview.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "catalogue/output_file.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "workflow/engines.h"

namespace fennick::workflow {

PreviewBytes read_preview_bytes(const volume::Volume& volume, const catalogue::FoundFile& record,
                                std::size_t limit) {
  PreviewBytes out;
  if (record.name.empty() || record.quality == 0) return out;
  const engine::Engine* engine = engine_for(record.fs_kind);
  if (engine == nullptr) return out;
  // Its own run and a channel that drops what the engine says: a preview neither logs nor
  // asks, and nothing pumps the window's events from another thread.
  run::RunControl run;
  messages::SilentChannel quiet;
  catalogue::OutputFile sink;
  sink.capture(&out.bytes, limit);
  const std::unique_ptr<engine::RecoveryMemory> memory = engine->make_recovery_memory();
  const engine::RecoveryResult result =
      engine->recover(volume, record, sink, record.name.str(), memory.get(), run, quiet);
  sink.close();
  // Stopping at the limit is a write that failed on purpose; anything else that failed
  // before the first byte leaves nothing to show.
  out.readable = !out.bytes.empty() || (!result.failed && record.size == 0);
  return out;
}

namespace {

bool starts_with(const std::vector<std::uint8_t>& bytes, std::string_view magic,
                 std::size_t at = 0) {
  return bytes.size() >= at + magic.size() &&
         std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
}

// Bytes 0..31 other than tab, line feed, form feed and carriage return, and DEL.
bool control_byte(std::uint8_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r') || c == 0x7F;
}

// The length of the UTF-8 sequence at i, 0 when it is not a valid one; a sequence cut by the
// end of the bytes counts as valid (the preview's limit may cut it).
std::size_t utf8_sequence(const std::vector<std::uint8_t>& b, std::size_t i) {
  const std::uint8_t c = b[i];
  std::size_t n = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0 && c >= 0xC2)
    n = 2;
  else if ((c & 0xF0) == 0xE0)
    n = 3;
  else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
    n = 4;
  else
    return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if (i + k >= b.size()) return n;
    if ((b[i + k] & 0xC0) != 0x80) return 0;
  }
  return n;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Text when at most one byte in 100 is a control character.
bool few_controls(std::size_t controls, std::size_t total) { return controls * 100 <= total; }

}  // namespace

PreviewKind preview_kind(const std::vector<std::uint8_t>& bytes) {
  if (starts_with(bytes, "\xFF\xD8\xFF") || starts_with(bytes, "\x89PNG\r\n\x1A\n") ||
      starts_with(bytes, "GIF87a") || starts_with(bytes, "GIF89a") || starts_with(bytes, "BM") ||
      (starts_with(bytes, "RIFF") && starts_with(bytes, "WEBP", 8)) ||
      starts_with(bytes, std::string_view("II*\0", 4)) ||
      starts_with(bytes, std::string_view("MM\0*", 4))) {
    return PreviewKind::picture;
  }
  return preview_text(bytes) ? PreviewKind::text : PreviewKind::other;
}

std::optional<std::string> preview_text(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return std::nullopt;
  std::string out;
  // UTF-16 with a byte-order mark.
  const bool le = starts_with(bytes, "\xFF\xFE");
  const bool be = starts_with(bytes, "\xFE\xFF");
  if (le || be) {
    std::size_t controls = 0;
    std::size_t units = 0;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      std::uint32_t u = le ? bytes[i] | (bytes[i + 1] << 8) : (bytes[i] << 8) | bytes[i + 1];
      ++units;
      if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
        const std::uint32_t low =
            le ? bytes[i + 2] | (bytes[i + 3] << 8) : (bytes[i + 2] << 8) | bytes[i + 3];
        if (low >= 0xDC00 && low <= 0xDFFF) {
          u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
      if (u < 0x80 && control_byte(static_cast<std::uint8_t>(u))) ++controls;
      append_utf8(out, u);
    }
    if (!few_controls(controls, units)) return std::nullopt;
    return out;
  }
  std::size_t i = starts_with(bytes, "\xEF\xBB\xBF") ? 3 : 0;
  std::size_t controls = 0;
  bool utf8 = true;
  for (std::size_t k = i; k < bytes.size();) {
    const std::size_t n = utf8_sequence(bytes, k);
    if (n == 0) {
      utf8 = false;
      break;
    }
    if (n == 1 && control_byte(bytes[k])) ++controls;
    k += n;
  }
  if (utf8) {
    if (!few_controls(controls, bytes.size())) return std::nullopt;
    // A sequence the limit cut at the very end is left out.
    std::size_t end = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= end - i; ++back) {
      const std::uint8_t c = bytes[end - back];
      if ((c & 0xC0) == 0xC0) {
        if (utf8_sequence(bytes, end - back) > back) end -= back;
        break;
      }
      if ((c & 0x80) == 0) break;
    }
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
  }
  // Latin-1: every byte a character of its own.
  controls = 0;
  for (const std::uint8_t c : bytes) {
    if (control_byte(c) || (c >= 0x80 && c < 0xA0)) ++controls;
    append_utf8(out, c);
  }
  if (!few_controls(controls, bytes.size())) return std::nullopt;
  return out;
}

std::string hex_view(const std::vector<std::uint8_t>& bytes) {
  const std::size_t shown = std::min(bytes.size(), hex_view_limit);
  std::string out;
  char cell[32];
  for (std::size_t line = 0; line < shown; line += 16) {
    std::snprintf(cell, sizeof cell, "%08zx  ", line);
    out += cell;
    for (std::size_t k = 0; k < 16; ++k) {
      if (line + k < shown) {
        std::snprintf(cell, sizeof cell, "%02x ", bytes[line + k]);
        out += cell;
      } else {
        out += "   ";
      }
      if (k == 7) out += ' ';
    }
    out += " |";
    for (std::size_t k = 0; k < 16 && line + k < shown; ++k) {
      const std::uint8_t c = bytes[line + k];
      out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
    }
    out += "|\n";
  }
  return out;
}

}  // namespace fennick::workflow

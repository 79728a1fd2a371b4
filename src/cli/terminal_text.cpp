// Visible escapes for text written by the command line.
#include "cli/terminal_text.h"

#include <cstdio>

namespace fennick::cli {

namespace {

// One step through UTF-8 text: a code point and its length, or one byte that is not valid.
struct Unit {
  char32_t code_point = 0;  // the byte itself when !valid
  std::size_t length = 1;
  bool valid = true;
};

// The unit at text[at] (at < text.size()). Overlong forms, surrogates, code points above
// U+10FFFF and sequences cut short are invalid: their first byte is the unit, the next step
// starts at the byte after it.
Unit next_unit(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const Unit invalid{lead, 1, false};
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length = 0;
  char32_t code_point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07u;
  } else {
    return invalid;
  }
  if (text.size() - at < length) return invalid;
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[at + k]);
    if ((b & 0xC0) != 0x80) return invalid;
    code_point = (code_point << 6) | (b & 0x3Fu);
  }
  if (length == 3 && (code_point < 0x800 || (code_point >= 0xD800 && code_point <= 0xDFFF))) {
    return invalid;
  }
  if (length == 4 && (code_point < 0x10000 || code_point > 0x10FFFF)) return invalid;
  return {code_point, length, true};
}

bool is_bidi_control(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// C0 controls, DEL, C1 controls and the bidirectional controls.
bool is_escaped(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || is_bidi_control(c);
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether what is written from text[at] on begins with "\", "xHH" or "u{": a backslash just
// before it would be read as the start of an escape.
bool starts_escape_like(std::string_view text, std::size_t at) {
  if (at >= text.size()) return false;
  const char c = text[at];
  if (c == '\\') return true;
  if (c == 'x') {
    return text.size() - at >= 3 && is_hex_digit(text[at + 1]) && is_hex_digit(text[at + 2]);
  }
  if (c == 'u') return text.size() - at >= 2 && text[at + 1] == '{';
  const Unit next = next_unit(text, at);
  return !next.valid || is_escaped(next.code_point);
}

void append_hex(std::string& out, const char* format, unsigned value) {
  char buf[16];
  const int n = std::snprintf(buf, sizeof buf, format, value);
  if (n > 0) out.append(buf, static_cast<std::size_t>(n));
}

}  // namespace

void append_terminal_text(std::string& out, std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const Unit u = next_unit(text, at);
    if (!u.valid || (is_escaped(u.code_point) && u.code_point < 0x80)) {
      append_hex(out, "\\x%02X", static_cast<unsigned>(u.code_point));
    } else if (is_escaped(u.code_point)) {
      append_hex(out, "\\u{%04X}", static_cast<unsigned>(u.code_point));
    } else if (u.code_point == '\\') {
      out += starts_escape_like(text, at + 1) ? "\\\\" : "\\";
    } else {
      out.append(text.substr(at, u.length));
    }
    at += u.length;
  }
}

std::string terminal_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_terminal_text(out, text);
  return out;
}

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  std::size_t at = 0;
  while (at < text.size()) {
    const Unit u = next_unit(text, at);
    if (!u.valid) {
      out += "\\ufffd";
    } else if (u.code_point == '"' || u.code_point == '\\') {
      out += '\\';
      out += static_cast<char>(u.code_point);
    } else if (is_escaped(u.code_point)) {
      append_hex(out, "\\u%04x", static_cast<unsigned>(u.code_point));
    } else {
      out.append(text.substr(at, u.length));
    }
    at += u.length;
  }
  out += '"';
}

}  // namespace fennick::cli

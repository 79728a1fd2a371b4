// Text that leaves fennick-cli (table, TSV and JSON output, log lines on stderr) with every
// character that could steer a terminal or reorder what it shows written as a visible escape.
// Names and paths come from the volumes, which are untrusted, and the program runs as root.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fennick::cli {

// Appends `text` to `out` with these escapes (hex digits upper case):
//   \xHH      a C0 control (U+0000..U+001F), DEL (U+007F), or a byte that is not part of valid
//             UTF-8 (a stray continuation byte, an overlong form, a surrogate, a code point
//             above U+10FFFF or a sequence cut short): one escape per byte;
//   \u{HHHH}  a C1 control (U+0080..U+009F) or a bidirectional control (U+061C, U+200E,
//             U+200F, U+202A..U+202E, U+2066..U+2069), by its code point;
//   \\        a backslash of the text that is written just before "\", before "x" and two hex
//             digits, or before "u{"; every other backslash is written as it is, so that paths
//             such as C:\DOCS\ read as before.
// Everything else (letters of any script, wide characters, emoji) passes unchanged. Reading
// "\\" as one backslash, "\xHH" as a byte, "\u{H...}" as a code point and any other backslash
// as itself gives the original bytes back.
void append_terminal_text(std::string& out, std::string_view text);
std::string terminal_text(std::string_view text);

// Appends `text` as a JSON string with its quotes: '"' and '\' escaped, the same controls as
// above written as \u00hh or \uhhhh (so a JSON reader gets the original code points back), and
// every byte that is not part of valid UTF-8 written as \ufffd (U+FFFD, the replacement
// character): JSON strings hold code points, not bytes.
void append_json_string(std::string& out, std::string_view text);

}  // namespace fennick::cli

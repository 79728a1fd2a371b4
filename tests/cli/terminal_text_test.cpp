// The command line's escaping of text for a terminal (terminal_text.h), and its use by the
// output formats and the console channel, called directly: escapes per kind of character,
// letters of every script unchanged, a decoder that gets the original bytes back, JSON
// strings, table widths measured on the escaped text, and log lines escaped while the
// progress bar keeps its own control sequences.
#include "cli/terminal_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/console_channel.h"
#include "cli/output_table.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"

namespace fennick::testing {
namespace {

using cli::terminal_text;

// One code point as UTF-8, through the catalogue's own UTF-16 conversion.
void append_utf8(std::string& out, char32_t c) {
  std::u16string unit;
  if (c >= 0x10000) {
    unit += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    unit += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    unit += static_cast<char16_t>(c);
  }
  out += catalogue::wide_to_ansi(unit);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The documented reading of escaped text: "\\" one backslash, "\xHH" one byte, "\u{H...}" one
// code point, any other backslash itself.
std::string unescape(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      if (s[i + 1] == '\\') {
        out += '\\';
        i += 2;
        continue;
      }
      if (s[i + 1] == 'x' && i + 3 < s.size() && hex_value(s[i + 2]) >= 0 &&
          hex_value(s[i + 3]) >= 0) {
        out += static_cast<char>(hex_value(s[i + 2]) * 16 + hex_value(s[i + 3]));
        i += 4;
        continue;
      }
      if (s[i + 1] == 'u' && i + 2 < s.size() && s[i + 2] == '{') {
        const std::size_t close = s.find('}', i + 3);
        if (close != std::string_view::npos && close > i + 3) {
          char32_t c = 0;
          for (std::size_t k = i + 3; k < close; ++k) c = c * 16 + hex_value(s[k]);
          append_utf8(out, c);
          i = close + 1;
          continue;
        }
      }
    }
    out += s[i++];
  }
  return out;
}

// True when `s` is well-formed UTF-8 (the byte ranges of the Unicode standard's table of
// well-formed sequences) and holds no C0 control, DEL, C1 control or bidirectional control.
bool terminal_safe(std::string_view s, std::string& why) {
  auto byte = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
  for (std::size_t i = 0; i < s.size();) {
    const unsigned b = byte(i);
    auto in = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
    std::size_t n = 0;
    if (b < 0x80)
      n = 1;
    else if (in(b, 0xC2, 0xDF) && in(byte(i + 1), 0x80, 0xBF))
      n = 2;
    else if (b == 0xE0 && in(byte(i + 1), 0xA0, 0xBF) && in(byte(i + 2), 0x80, 0xBF))
      n = 3;
    else if ((in(b, 0xE1, 0xEC) || in(b, 0xEE, 0xEF)) && in(byte(i + 1), 0x80, 0xBF) &&
             in(byte(i + 2), 0x80, 0xBF))
      n = 3;
    else if (b == 0xED && in(byte(i + 1), 0x80, 0x9F) && in(byte(i + 2), 0x80, 0xBF))
      n = 3;
    else if (b == 0xF0 && in(byte(i + 1), 0x90, 0xBF) && in(byte(i + 2), 0x80, 0xBF) &&
             in(byte(i + 3), 0x80, 0xBF))
      n = 4;
    else if (in(b, 0xF1, 0xF3) && in(byte(i + 1), 0x80, 0xBF) && in(byte(i + 2), 0x80, 0xBF) &&
             in(byte(i + 3), 0x80, 0xBF))
      n = 4;
    else if (b == 0xF4 && in(byte(i + 1), 0x80, 0x8F) && in(byte(i + 2), 0x80, 0xBF) &&
             in(byte(i + 3), 0x80, 0xBF))
      n = 4;
    if (n == 0) {
      why = "ill-formed UTF-8 at byte " + std::to_string(i);
      return false;
    }
    const std::string_view unit = s.substr(i, n);
    const bool control =
        (n == 1 && (b < 0x20 || b == 0x7F)) || (n == 2 && b == 0xC2 && byte(i + 1) < 0xA0);
    const bool bidi = unit == "\u061C" || unit == "\u200E" || unit == "\u200F" ||
                      (n == 3 && b == 0xE2 && byte(i + 1) == 0x80 && in(byte(i + 2), 0xAA, 0xAE)) ||
                      (n == 3 && b == 0xE2 && byte(i + 1) == 0x81 && in(byte(i + 2), 0xA6, 0xA9));
    if (control || bidi) {
      why = "control at byte " + std::to_string(i);
      return false;
    }
    i += n;
  }
  return true;
}

// The output with its own framing (the line feeds that end lines, the tabs between cells)
// taken out, for terminal_safe.
std::string without_framing(std::string text) {
  std::erase_if(text, [](char c) { return c == '\n' || c == '\t'; });
  return text;
}

struct EscapeCase {
  const char* what;
  std::string text;
  std::string escaped;
};

const std::vector<EscapeCase>& escape_cases() {
  static const std::vector<EscapeCase> cases = {
      {"window title (OSC)", "a\x1B]0;pwned\x07z", R"(a\x1B]0;pwned\x07z)"},
      {"every C0 kind", std::string("\x00\x01\x1F", 3), R"(\x00\x01\x1F)"},
      {"tab and line breaks", "tab\there\nline\rend", R"(tab\x09here\x0Aline\x0Dend)"},
      {"DEL", "del\x7F", R"(del\x7F)"},
      {"C1 CSI and the C1 ends",
       "csi\xC2\x9B"
       "2J \xC2\x80\xC2\x9F",
       R"(csi\u{009B}2J \u{0080}\u{009F})"},
      {"first letter after C1 passes", "\xC2\xA0\xC3\xA9", "\xC2\xA0\xC3\xA9"},
      {"right-to-left override", "invoice\u202Etxt.exe", R"(invoice\u{202E}txt.exe)"},
      {"every bidi control",
       "\u061C\u200E\u200F\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069",
       R"(\u{061C}\u{200E}\u{200F}\u{202A}\u{202B}\u{202C}\u{202D}\u{202E})"
       R"(\u{2066}\u{2067}\u{2068}\u{2069})"},
      {"neighbours of the bidi controls pass", "\u200D\u2029\u202F\u2065\u206A",
       "\u200D\u2029\u202F\u2065\u206A"},
      {"stray continuation byte", "a\x80z", R"(a\x80z)"},
      {"overlong slash", "\xC0\xAF", R"(\xC0\xAF)"},
      {"overlong three bytes", "\xE0\x80\xAF", R"(\xE0\x80\xAF)"},
      {"surrogate", "\xED\xA0\x80", R"(\xED\xA0\x80)"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", R"(\xF4\x90\x80\x80)"},
      {"lead bytes that never start a character", "\xF5\xFF\xFE", R"(\xF5\xFF\xFE)"},
      {"sequence cut short by the end", "ok\xE2\x80", R"(ok\xE2\x80)"},
      {"sequence cut short by a letter", "\xE2\x80z", R"(\xE2\x80z)"},
      {"Cyrillic", "Документ отчёт.txt", "Документ отчёт.txt"},
      {"CJK", "日本語のファイル.txt", "日本語のファイル.txt"},
      {"emoji", "smile 😀 👍🏽.txt", "smile 😀 👍🏽.txt"},
      {"Arabic and Hebrew letters", "ملف קובץ", "ملف קובץ"},
      {"a path keeps its backslashes", "C:\\DOCS\\OLD\\", "C:\\DOCS\\OLD\\"},
      {"backslash before x and two hex digits", "\\x41", R"(\\x41)"},
      {"backslash before x and no hex pair", "C:\\xray\\x4", "C:\\xray\\x4"},
      {"backslash before u{", "\\u{41}", R"(\\u{41})"},
      {"backslash before u", "C:\\users", "C:\\users"},
      {"two backslashes", "a\\\\b", R"(a\\\b)"},
      {"backslash before an escape", "\\\x1B", R"(\\\x1B)"},
      {"backslash before an invalid byte", "\\\xFF", R"(\\\xFF)"},
      {"backslash at the end", "end\\", "end\\"},
      {"empty", "", ""},
  };
  return cases;
}

TEST(TerminalTextTest, EscapesControlsBidiAndInvalidBytesAndNothingElse) {
  for (const EscapeCase& c : escape_cases()) {
    SCOPED_TRACE(c.what);
    const std::string out = terminal_text(c.text);
    EXPECT_EQ(out, c.escaped);
    std::string why;
    EXPECT_TRUE(terminal_safe(out, why)) << why;
    EXPECT_EQ(unescape(out), c.text) << "the escapes read back to the original bytes";
    std::string appended = "keep";
    cli::append_terminal_text(appended, c.text);
    EXPECT_EQ(appended, "keep" + c.escaped);
  }
}

// Strings built from the pieces that interact (backslashes, escape-like letters, controls,
// pieces of UTF-8 sequences): each escaped text is safe and reads back to the original.
TEST(TerminalTextTest, EveryMixOfPiecesReadsBackAndIsSafe) {
  const std::vector<std::string> pieces = {
      "\\",           "x",  "u",    "{",    "}",      "4",       "F",    "a",    "\x1B",
      "\x07",         "\n", "\x7F", "\xC2", "\x9B",   "\xE2",    "\x80", "\xAE", "\xFF",
      "\xED\xA0\x80", "é",  "日",   "😀",    "\u202E", "\xF0\x9F"};
  std::mt19937 random(20240611);
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    const int length = static_cast<int>(random() % 10);
    for (int k = 0; k < length; ++k) text += pieces[random() % pieces.size()];
    const std::string out = terminal_text(text);
    std::string why;
    ASSERT_TRUE(terminal_safe(out, why)) << why << " in " << out;
    ASSERT_EQ(unescape(out), text) << out;
  }
}

// Log lines are message texts joined with names: no letter of any language may change.
TEST(TerminalTextTest, MessageTextsOfAllLanguagesPassUnchanged) {
  std::size_t checked = 0;
  for (const messages::Language& language : messages::language_table()) {
    std::vector<int> numbers;
    for (int k = 0; k <= language.last_message; ++k) numbers.push_back(k);
    for (int k = messages::program_text_first; k <= messages::program_text_last; ++k) {
      numbers.push_back(k);
    }
    for (const int k : numbers) {
      const std::string text = messages::get_message(language.base, k);
      EXPECT_EQ(terminal_text(text), text) << language.english_name << " message " << k;
      ++checked;
    }
  }
  EXPECT_GT(checked, 27u * 100u);
}

TEST(TerminalTextTest, JsonStringsKeepCodePointsAndReplaceInvalidBytes) {
  struct Case {
    std::string text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"plain", R"("plain")"},
      {"quote \" and \\", R"("quote \" and \\")"},
      {"a\x1B]0;t\x07", R"("a\u001b]0;t\u0007")"},
      {"tab\tnl\n", R"("tab\u0009nl\u000a")"},
      {"del\x7F", R"("del\u007f")"},
      {"csi\xC2\x9B", R"("csi\u009b")"},
      {"x\u202Ey\u2066\u061C", R"("x\u202ey\u2066\u061c")"},
      {"Документ 日本 😀", "\"Документ 日本 😀\""},
      {"bad\xFF\xC0\xAF"
       "end",
       R"("bad\ufffd\ufffd\ufffdend")"},
      {"cut\xE2\x80", R"("cut\ufffd\ufffd")"},
  };
  for (const Case& c : cases) {
    std::string out;
    cli::append_json_string(out, c.text);
    EXPECT_EQ(out, c.json) << c.text;
  }
}

std::string print_to_string(const cli::OutputTable& table, cli::OutputFormat format) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  cli::print_table(table, format, out);
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Code point index of the first occurrence of `what` in the line.
std::size_t column_of(const std::string& line, const std::string& what) {
  const std::size_t at = line.find(what);
  if (at == std::string::npos) return std::string::npos;
  std::size_t column = 0;
  for (std::size_t i = 0; i < at; ++i)
    column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
  return column;
}

cli::OutputTable hostile_table() {
  cli::OutputTable table;
  table.columns = {{"name"}, {"size", true}, {"path"}};
  table.rows = {{"a\x1B]0;pwned\x07", "1", "C:\\"},
                {"tab\there", "22", "C:\\D\xC2\x9B\\"},
                {"日本語", "333", "C:\\\u202E\\"},
                {"bad\xFF", "4444", "C:\\"}};
  return table;
}

TEST(TerminalTextTest, TableColumnsAreMeasuredOnTheEscapedText) {
  const std::string out = print_to_string(hostile_table(), cli::OutputFormat::table);
  std::string why;
  ASSERT_TRUE(terminal_safe(without_framing(out), why)) << why;
  const std::vector<std::string> lines = lines_of(out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].substr(0, lines[1].find(' ')), R"(a\x1B]0;pwned\x07)");
  EXPECT_EQ(lines[2].substr(0, lines[2].find(' ')), R"(tab\x09here)");
  EXPECT_NE(lines[3].find(R"(C:\\\u{202E}\)"), std::string::npos) << lines[3];
  // The widest name is the escaped window title (17 code points): every path starts at the
  // same column, and the right-aligned sizes end in the same column.
  const std::size_t path_column = column_of(lines[0], "path");
  EXPECT_EQ(path_column, std::string(R"(a\x1B]0;pwned\x07)").size() + 2 + 4 + 2);
  const char* sizes[] = {"1  ", "22  ", "333  ", "4444  "};
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(column_of(lines[i], "C:"), path_column) << lines[i];
    EXPECT_EQ(column_of(lines[i], sizes[i - 1]) + std::string(sizes[i - 1]).size(), path_column)
        << lines[i];
  }
}

TEST(TerminalTextTest, TsvRowsStayRowsAndJsonStaysValid) {
  const std::string tsv = print_to_string(hostile_table(), cli::OutputFormat::tsv);
  std::string why;
  EXPECT_TRUE(terminal_safe(without_framing(tsv), why)) << why;
  EXPECT_EQ(tsv,
            "name\tsize\tpath\n"
            "a\\x1B]0;pwned\\x07\t1\tC:\\\n"
            "tab\\x09here\t22\tC:\\D\\u{009B}\\\n"
            "日本語\t333\tC:\\\\\\u{202E}\\\n"
            "bad\\xFF\t4444\tC:\\\n");
  const std::string json = print_to_string(hostile_table(), cli::OutputFormat::json);
  EXPECT_TRUE(terminal_safe(without_framing(json), why)) << why;
  EXPECT_NE(json.find(R"({"name": "a\u001b]0;pwned\u0007", "size": 1, "path": "C:\\"})"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("path": "C:\\\u202e\\")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("name": "bad\ufffd")"), std::string::npos) << json;
}

// Reads what is waiting on the pty's master side.
std::string drain(int master) {
  std::string text;
  char buf[4096];
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

TEST(TerminalTextTest, LogLinesAreEscapedAndTheProgressBarKeepsItsFraming) {
  const std::string name = "/dest/a\x1B]0;pwned\x07\xC2\x9B\u202E.txt";
  const std::string shown = R"(/dest/a\x1B]0;pwned\x07\u{009B}\u{202E}.txt)";
  {
    // Into a file: the line alone, escaped.
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    {
      cli::ConsoleChannel channel(out);
      channel.out_text(" Undeleted successfully: " + name, messages::DialogKind::plain, false);
    }
    std::fclose(out);
    EXPECT_EQ(std::string(data, size), " Undeleted successfully: " + shown + "\n");
    std::free(data);
  }
  // On a terminal: the bar is drawn with \r and cleared with ESC [ K, the line is escaped.
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  std::FILE* terminal = ::fdopen(slave, "w");
  ASSERT_NE(terminal, nullptr);
  {
    cli::ConsoleChannel channel(terminal);
    channel.set_progress_range(100);
    channel.set_progress(50);
    channel.out_text(" Error: " + name, messages::DialogKind::plain, false);
  }
  std::fclose(terminal);
  const std::string seen = drain(master);
  ::close(master);
  EXPECT_NE(seen.find("\r["), std::string::npos) << seen;
  EXPECT_NE(seen.find("] 50%"), std::string::npos) << seen;
  const std::size_t clear = seen.find("\r\x1B[K");
  const std::size_t line = seen.find(" Error: " + shown);
  EXPECT_NE(clear, std::string::npos) << seen;
  EXPECT_NE(line, std::string::npos) << seen;
  EXPECT_LT(clear, line);
  EXPECT_EQ(seen.find('\x07'), std::string::npos) << "the name's BEL reached the terminal";
  EXPECT_EQ(seen.find("\x1B]"), std::string::npos) << "the name's OSC reached the terminal";
}

}  // namespace
}  // namespace fennick::testing

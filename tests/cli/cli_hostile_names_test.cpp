// fennick-cli on a FAT volume whose deleted files have names that try to steer a terminal
// (window title, CSI, DEL, right-to-left override, tab and line break) next to ordinary
// Cyrillic, CJK and emoji names: scan in all three formats, the drive table and the log lines
// of recover show escapes and never a raw control. The image is made with mkfs.fat and
// mtools under placeholder names whose long-name entries are then given the real names
// (mtools refuses control characters and cannot write characters beyond U+FFFF).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "test_support.h"
#include "volume/le_read.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct NamedFile {
  std::u16string name;  // the long name given to the deleted file
  std::string shown;    // how table, TSV and log lines show it
};

// Surrogate pairs sit inside one of the 5/6/2-character runs of a long-name entry.
const std::vector<NamedFile>& named_files() {
  static const std::vector<NamedFile> files = {
      {u"title\x1B]0;pwned\x07.txt", R"(title\x1B]0;pwned\x07.txt)"},
      {u"csi\x9B"
       u"2J del\x7F.txt",
       R"(csi\u{009B}2J del\x7F.txt)"},
      {u"invoice\x202Etxt.exe", R"(invoice\u{202E}txt.exe)"},
      {u"tab\there\nline.txt", R"(tab\x09here\x0Aline.txt)"},
      {u"Документ.txt", "Документ.txt"},
      {u"日本語のファイル.txt", "日本語のファイル.txt"},
      {u"smile \xD83D\xDE00.txt", "smile 😀.txt"},
  };
  return files;
}

// ASCII name of file f with as many characters as its real name: each 13-character piece
// (one long-name entry) starts with a letter for the file and one for the piece, so every
// entry of every placeholder is told apart.
std::u16string placeholder(std::size_t f, std::size_t length) {
  std::u16string name;
  for (std::size_t i = 0; i < length; ++i) {
    const std::size_t in_piece = i % 13;
    name += in_piece == 0   ? static_cast<char16_t>(u'A' + f)
            : in_piece == 1 ? static_cast<char16_t>(u'a' + i / 13)
                            : u'z';
  }
  return name;
}

constexpr std::size_t unit_at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// Rewrites the characters of every long-name entry of `from` with those of `to` (as long);
// returns the number of entries rewritten.
std::size_t rename_long_name(Bytes& img, const std::u16string& from, const std::u16string& to) {
  std::size_t rewritten = 0;
  const std::size_t pieces = (from.size() + 12) / 13;
  for (std::size_t at = 0; at + 32 <= img.size(); at += 32) {
    if (img[at + 11] != 0x0F) continue;
    for (std::size_t p = 0; p < pieces; ++p) {
      bool match = true;
      for (std::size_t i = 0; i < 13 && match; ++i) {
        const std::size_t k = 13 * p + i;
        const std::uint16_t want = k < from.size() ? from[k] : (k == from.size() ? 0 : 0xFFFF);
        match = volume::le16_or0(img, at + unit_at[i]) == want;
      }
      if (!match) continue;
      for (std::size_t i = 0; i < 13 && 13 * p + i < to.size(); ++i) {
        volume::write_le16(img, at + unit_at[i], to[13 * p + i]);
      }
      ++rewritten;
      break;
    }
  }
  return rewritten;
}

std::string utf8_of(const std::u16string& s) { return catalogue::wide_to_ansi(s); }

// Code points of the text as "65 66 ..." (decimal), as the JSON check prints them.
std::string code_points_of(const std::u16string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    out += (out.empty() ? "" : " ") + std::to_string(static_cast<std::uint32_t>(c));
  }
  return out;
}

// Offsets of bytes that must never reach a terminal from a name: C0 controls other than the
// line feeds that end lines (and the tabs between TSV cells), DEL, C1 controls (C2 80..C2 9F)
// and U+202E. Empty when there is none.
std::string raw_controls(const std::string& text, bool tabs_allowed) {
  std::string found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const bool c0 = b < 0x20 && b != '\n' && !(tabs_allowed && b == '\t');
    const bool c1 =
        b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    const bool rlo = text.compare(i, 3, "\u202E") == 0;
    if (c0 || b == 0x7F || c1 || rlo) found += std::to_string(i) + " ";
  }
  return found;
}

class CliHostileNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<TempDir>();
    image = dir->path() + "/hostile.img";
    const std::string img = shell_quote(image);
    std::ofstream(dir->path() + "/data.bin") << std::string(3000, 'd');
    std::string script =
        "set -e; export MTOOLS_SKIP_CHECK=1 TZ=UTC SOURCE_DATE_EPOCH=1700000000; "
        "mkfs.fat -C -F 12 -n HOSTILE -i 1234ABCD --invariant " +
        img + " 1440 >/dev/null; ";
    // All files first, then the deletions: a later copy must not take a deleted file's
    // entries or clusters.
    std::string deletions;
    for (std::size_t f = 0; f < named_files().size(); ++f) {
      const std::string name = utf8_of(placeholder(f, named_files()[f].name.size()));
      script +=
          "mcopy -i " + img + " " + shell_quote(dir->path() + "/data.bin") + " ::" + name + "; ";
      deletions += "mdel -i " + img + " ::" + name + "; ";
    }
    script += deletions;
    const CommandResult made = run_command(script);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    std::ifstream in(image, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    for (std::size_t f = 0; f < named_files().size(); ++f) {
      const std::u16string& name = named_files()[f].name;
      ASSERT_EQ(rename_long_name(bytes, placeholder(f, name.size()), name), (name.size() + 12) / 13)
          << "file " << f;
    }
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  static void TearDownTestSuite() { dir.reset(); }

  static CommandResult cli(const std::string& args) {
    return run_command(shell_quote(cli_path()) + " " + args);
  }

  static std::unique_ptr<TempDir> dir;
  static std::string image;
};

std::unique_ptr<TempDir> CliHostileNames::dir;
std::string CliHostileNames::image;

TEST_F(CliHostileNames, TableAndTsvShowTheEscapesAndNoRawControl) {
  for (const char* format : {"table", "tsv"}) {
    SCOPED_TRACE(format);
    const CommandResult r = cli(std::string("scan --format ") + format + " " + shell_quote(image));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(raw_controls(r.out, std::string(format) == "tsv"), "") << r.out;
    EXPECT_EQ(raw_controls(r.err, false), "") << r.err;
    const std::size_t rows = static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n'));
    EXPECT_EQ(rows, named_files().size() + 1) << "a name's line break made a row of its own\n"
                                              << r.out;
    for (const NamedFile& f : named_files()) {
      if (std::string(format) == "tsv") {
        EXPECT_NE(r.out.find("\t" + f.shown + "\tC:\\\t3000\t"), std::string::npos)
            << f.shown << "\n"
            << r.out;
      } else {
        EXPECT_NE(r.out.find(" " + f.shown + " "), std::string::npos) << f.shown << "\n" << r.out;
      }
    }
  }
}

// Names in the aligned table: the path column starts at the same terminal column on every
// line (one column per code point, as the table counts).
TEST_F(CliHostileNames, TableColumnsLineUpOnTheEscapedNames) {
  const CommandResult r = cli("scan --format table " + shell_quote(image));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::size_t> columns;
  std::size_t start = 0;
  for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = r.out.substr(start, end - start);
    const std::size_t at = line.find(start == 0 ? "path" : "C:\\");
    ASSERT_NE(at, std::string::npos) << line;
    std::size_t column = 0;
    for (std::size_t i = 0; i < at; ++i)
      column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    columns.push_back(column);
  }
  ASSERT_EQ(columns.size(), named_files().size() + 1);
  for (const std::size_t c : columns) EXPECT_EQ(c, columns.front()) << r.out;
}

TEST_F(CliHostileNames, JsonParsesBackToTheNamesCodePoints) {
  const std::string json = dir->path() + "/scan.json";
  const CommandResult r =
      cli("scan --format json " + shell_quote(image) + " > " + shell_quote(json));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::ifstream in(json, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(raw_controls(text, false), "") << text;
  const CommandResult names = run_command(
      "python3 -c 'import json, sys\n"
      "for r in json.load(open(sys.argv[1], encoding=\"utf-8\")):\n"
      "    print(\" \".join(str(ord(c)) for c in r[\"name\"]))' " +
      shell_quote(json));
  ASSERT_EQ(names.exit_code, 0) << names.err << text;
  for (const NamedFile& f : named_files()) {
    EXPECT_NE(names.out.find(code_points_of(f.name) + "\n"), std::string::npos)
        << utf8_of(f.name) << "\n"
        << names.out;
  }
}

// The log lines name the recovered files: escaped as well. The files on disk keep their
// names as the destination's naming rule made them.
TEST_F(CliHostileNames, RecoverLogLinesShowTheEscapes) {
  TempDir out;
  const CommandResult r = cli("recover --to " + shell_quote(out.path()) + " " + shell_quote(image));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(raw_controls(r.err, false), "") << r.err;
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(out.path())) {
    ++files;
    const std::string name = e.path().filename().string();
    std::string shown;
    for (const NamedFile& f : named_files()) {
      // safe_component turned C0 controls and DEL into "_"; C1 and bidi controls stay.
      std::string on_disk = utf8_of(f.name);
      for (char& c : on_disk) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
      }
      if (on_disk != name) continue;
      shown = f.shown;
      for (const std::string_view kept : {R"(\x1B)", R"(\x07)", R"(\x7F)", R"(\x09)", R"(\x0A)"}) {
        for (std::size_t at; (at = shown.find(kept)) != std::string::npos;)
          shown.replace(at, kept.size(), "_");
      }
    }
    ASSERT_FALSE(shown.empty()) << "unexpected output file " << name;
    EXPECT_NE(r.err.find(" Undeleted successfully: " + out.path() + "/" + shown + "\n"),
              std::string::npos)
        << shown << "\n"
        << r.err;
  }
  EXPECT_EQ(files, named_files().size());
}

// A volume's path from the command line, as the drive table and the error lines show it.
TEST_F(CliHostileNames, DriveTableAndErrorLinesEscapeVolumePaths) {
  const std::string odd = dir->path() + "/vol\x1B]0;pwned\x07\xC2\x9B.img";
  fs::copy_file(image, odd, fs::copy_options::overwrite_existing);
  const std::string shown = dir->path() + R"(/vol\x1B]0;pwned\x07\u{009B}.img)";
  const CommandResult drives = cli("drives --format tsv " + shell_quote(odd));
  ASSERT_EQ(drives.exit_code, 0) << drives.err;
  EXPECT_EQ(raw_controls(drives.out, true), "") << drives.out;
  // A whole volume: its partition cell is empty.
  EXPECT_NE(drives.out.find("\t" + shown + "\t\n"), std::string::npos) << drives.out;

  const CommandResult missing = cli("scan " + shell_quote(odd + ".missing"));
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_EQ(raw_controls(missing.err, false), "") << missing.err;
  EXPECT_NE(missing.err.find("cannot read volume " + shown + ".missing"), std::string::npos)
      << missing.err;
}

}  // namespace
}  // namespace fennick::testing

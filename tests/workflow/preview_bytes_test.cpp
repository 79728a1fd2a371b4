// What a preview makes of a file's first bytes (text, picture or other, the hex view), and the
// memory capture a preview reads a file into through its engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/output_file.h"
#include "test_support.h"
#include "workflow/preview.h"

namespace fennick::workflow {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

TEST(PreviewKindTest, PicturesBySignatureTextByContent) {
  struct Case {
    std::string bytes;
    PreviewKind kind;
  };
  const Case cases[] = {
      {"\xFF\xD8\xFF\xE0rest", PreviewKind::picture},
      {"\x89PNG\r\n\x1A\nrest", PreviewKind::picture},
      {"GIF89a...", PreviewKind::picture},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), PreviewKind::picture},
      {std::string("II*\0rest", 8), PreviewKind::picture},
      {"Plain words\nand lines\n", PreviewKind::text},
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       PreviewKind::text},
      {std::string("\0\1\2\3\4\5binary", 12), PreviewKind::other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(preview_kind(bytes_of(c.bytes)), c.kind) << c.bytes;
  }
}

TEST(PreviewTextTest, DecodesUtf8Utf16AndLatin1AndRefusesBinary) {
  // UTF-8, with a byte-order mark dropped and a sequence cut at the end left out.
  EXPECT_EQ(preview_text(bytes_of("\xEF\xBB\xBFK\xC3\xB6ln")), "K\xC3\xB6ln");
  EXPECT_EQ(preview_text(bytes_of("K\xC3\xB6ln \xE2\x82")), "K\xC3\xB6ln ");
  // UTF-16 both ways, a character outside the BMP from its surrogate pair.
  EXPECT_EQ(preview_text(bytes_of(std::string("\xFF\xFEK\0\xF6\0=\xD8\x00\xDE", 10))),
            "K\xC3\xB6\xF0\x9F\x98\x80");
  EXPECT_EQ(preview_text(bytes_of(std::string("\xFE\xFF\0K\0\xF6", 6))), "K\xC3\xB6");
  // Latin-1 when the bytes are not UTF-8.
  EXPECT_EQ(preview_text(bytes_of("K\xF6ln")), "K\xC3\xB6ln");
  // Control characters beyond one in a hundred make it no text.
  EXPECT_FALSE(preview_text(bytes_of(std::string("ab\0cd", 5))).has_value());
  EXPECT_FALSE(preview_text({}).has_value());
}

TEST(HexViewTest, ShowsOffsetsBytesAndCharactersOfTheFirstFourKibibytes) {
  EXPECT_EQ(hex_view(bytes_of("Hello, world!\n\x01\x7F"
                              "AB")),
            "00000000  48 65 6c 6c 6f 2c 20 77  6f 72 6c 64 21 0a 01 7f  |Hello, world!...|\n"
            "00000010  41 42                                             |AB|\n");
  const std::vector<std::uint8_t> big(10000, 'x');
  const std::string view = hex_view(big);
  EXPECT_EQ(std::count(view.begin(), view.end(), '\n'), 256);
}

TEST(OutputCaptureTest, KeepsTheFirstBytesWithHolesAsZerosAndStopsAtTheLimit) {
  std::vector<std::uint8_t> sink;
  catalogue::OutputFile out;
  out.capture(&sink, 10);
  EXPECT_TRUE(out.reserve(1'000'000'000)) << "a preview reserves nothing";
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_TRUE(out.write_all(abc, 3));
  EXPECT_TRUE(out.skip(2));
  EXPECT_TRUE(out.write_all(abc, 3));
  EXPECT_TRUE(out.step_back(1));
  EXPECT_TRUE(out.write_all(abc, 3));
  errno = 0;
  EXPECT_FALSE(out.write_all(abc, 3)) << "past the limit";
  EXPECT_EQ(errno, EFBIG);
  EXPECT_TRUE(out.close());
  EXPECT_EQ(sink, (std::vector<std::uint8_t>{'a', 'b', 'c', 0, 0, 'a', 'b', 'a', 'b', 'c'}));
}

}  // namespace
}  // namespace fennick::workflow

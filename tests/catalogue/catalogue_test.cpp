// The catalogue's growth and clearing rules, folder lists, short strings and name conversion.
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fennick::catalogue {
namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  Catalogue catalogue;
};

TEST_F(CatalogueTest, GrowsInStepsOf5000AndKeepsRecordsInOrder) {
  FoundFile record;
  for (int i = 0; i < 4999; ++i) {
    record.record_no = catalogue.deleted_count();
    catalogue.add(record);
  }
  EXPECT_EQ(catalogue.files().capacity(), 5000u);
  catalogue.add(record);  // the 5000th fits
  EXPECT_EQ(catalogue.files().capacity(), 5000u);
  catalogue.add(record);  // the 5001st grows the array first
  EXPECT_EQ(catalogue.files().capacity(), 10000u);
  EXPECT_EQ(catalogue.deleted_count(), 5001);
  EXPECT_EQ(catalogue.files()[4998].record_no, 4998);
  // Later steps at least double the room, so growth costs stay linear in the record count.
  for (int i = 5001; i < 10001; ++i) catalogue.add(record);
  EXPECT_EQ(catalogue.files().capacity(), 20000u);
  for (int i = 10001; i < 10001 + 5000; ++i) {
    record.record_no = catalogue.deleted_count();
    catalogue.add(record);
  }
  EXPECT_EQ(catalogue.files().capacity(), 20000u);
  EXPECT_EQ(catalogue.files()[15000].record_no, 15000);
}

TEST_F(CatalogueTest, ClearingEmptiesRecordsCountsAndEveryFolderList) {
  FoundFile record;
  record.name = "a.txt";
  catalogue.add(record);
  catalogue.add(record);
  catalogue.mark_wiped(catalogue.files()[0]);
  catalogue.mark_wiped(catalogue.files()[0]);  // a wiped record is not wiped twice
  EXPECT_EQ(catalogue.wiped_count(), 1);
  EXPECT_EQ(catalogue.deleted_count() - catalogue.wiped_count(), 1);
  EXPECT_TRUE(catalogue.files()[0].name.empty());

  FolderEntry folder;
  folder.dir_id = 6;
  ASSERT_TRUE(catalogue.add_folder(1, folder));
  int cleared = 0;
  catalogue.set_cleared_hook([&cleared] { ++cleared; });
  catalogue.clear();
  EXPECT_EQ(cleared, 1) << "views holding row indexes are told";
  EXPECT_EQ(catalogue.deleted_count(), 0);
  EXPECT_EQ(catalogue.wiped_count(), 0);
  EXPECT_TRUE(catalogue.files().empty());
  EXPECT_TRUE(catalogue.folders(1).empty());
}

TEST_F(CatalogueTest, FolderListsArePerVolume) {
  FolderEntry docs;
  docs.dir_id = 6;
  docs.parent_id = ROOT_FOLDER_ID;
  docs.name = "DOCS";
  ASSERT_TRUE(catalogue.add_folder(0, docs));
  EXPECT_FALSE(catalogue.add_folder(max_drive_index, docs)) << "beyond any drive list";
  EXPECT_FALSE(catalogue.add_folder(-1, docs));
  EXPECT_EQ(catalogue.folders(0).capacity(), 1000u);

  const auto found = catalogue.find_folder(0, 6);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->name.view(), "DOCS");
  EXPECT_FALSE(catalogue.find_folder(1, 6).has_value());
  EXPECT_FALSE(catalogue.find_folder(0, 7).has_value());
  EXPECT_FALSE(catalogue.find_folder(9, 6).has_value());
  EXPECT_FALSE(catalogue.find_folder(-1, 6).has_value());
  EXPECT_TRUE(catalogue.folders(max_drive_index).empty());
}

TEST(ShortStringTest, NamesAreCutAtTheirLengthInUtf16UnitsAtACharacterBoundary) {
  struct Case {
    std::string text;
    std::string stored;
  };
  const std::string ascii255(255, 'a');
  std::string cyrillic150;
  for (int i = 0; i < 150; ++i) cyrillic150 += "\xD0\x96";  // Ж: two bytes, one unit
  std::string cjk255;
  for (int i = 0; i < 255; ++i) cjk255 += "\xE5\x86\x99";  // 写: three bytes, one unit
  const std::string emoji = "\xF0\x9F\x98\x80";            // U+1F600: four bytes, two units
  const std::vector<Case> cases = {
      {"", ""},
      {"short", "short"},
      {ascii255 + "bc", ascii255},
      // 300 bytes of Cyrillic and an extension: 155 units, kept whole.
      {cyrillic150 + ".docx", cyrillic150 + ".docx"},
      {cjk255 + "x", cjk255},
      {std::string(254, 'a') + "\xC3\xA9", std::string(254, 'a') + "\xC3\xA9"},
      // A character outside the BMP that would end at unit 256 is left out whole.
      {std::string(254, 'a') + emoji, std::string(254, 'a')},
      {std::string(253, 'a') + emoji + "b", std::string(253, 'a') + emoji},
  };
  for (const Case& c : cases) {
    ShortString<255> s(c.text);
    EXPECT_EQ(s.view(), c.stored) << c.text.size();
  }
  // A deep path keeps every folder.
  std::string deep = "C:\\";
  for (int i = 0; i < 40; ++i) deep += cyrillic150.substr(0, 40) + "\\";
  EXPECT_EQ(PathText(deep).view(), deep);
  // Short limits count bytes.
  ShortString<5> fs("FAT32X");
  EXPECT_EQ(fs.view(), "FAT32");
}

// Names and paths share their text between copies: a copy must keep its text whatever
// happens to the original, and the records must sort and move like values.
TEST(ShortStringTest, CopiesKeepTheirTextWhenTheOriginalChanges) {
  ShortString<255> original(std::string(200, 'p') + "\\");
  ShortString<255> copy = original;
  ShortString<255> assigned;
  assigned = original;
  original = "other";
  EXPECT_EQ(copy.view(), std::string(200, 'p') + "\\");
  EXPECT_EQ(assigned.view(), copy.view());
  original.clear();
  EXPECT_TRUE(original.empty());
  EXPECT_EQ(copy.view().size(), 201u);
  ShortString<255> moved = std::move(copy);
  EXPECT_EQ(moved.view(), assigned.view());
  const ShortString<255>& same = moved;
  moved = same;  // assigning a text to itself keeps it
  EXPECT_EQ(moved.view(), assigned.view());
  ShortString<255> empty("");
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.view(), "");

  std::vector<FoundFile> records(3);
  const char* names[] = {"c.txt", "a.txt", "b.txt"};
  const PathText shared(std::string(200, 'p') + "\\");
  for (int i = 0; i < 3; ++i) {
    records[i].name = names[i];
    records[i].path = shared;  // one block, shared by all
  }
  std::vector<FoundFile> sorted = records;
  std::sort(sorted.begin(), sorted.end(),
            [](const FoundFile& a, const FoundFile& b) { return a.name.view() < b.name.view(); });
  records.clear();
  EXPECT_EQ(sorted[0].name.view(), "a.txt");
  EXPECT_EQ(sorted[2].name.view(), "c.txt");
}

TEST(NameConversionTest, WideToAnsiGivesUtf8AndQuestionMarksForNonCharacters) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {u"", ""},
      {u"report.txt", "report.txt"},
      {u"Gr\u00FC\u00DFe",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},
      {u"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      // Long-name padding and broken surrogates.
      {std::u16string(u"ab") + char16_t(0xFFFF) + char16_t(0xFFFF), "ab??"},
      {std::u16string(1, char16_t(0xD800)) + u"x", "?x"},
      {u"x" + std::u16string(1, char16_t(0xDC00)), "x?"},
  };
  for (const Case& c : cases) EXPECT_EQ(wide_to_ansi(c.text), c.expected);
}

TEST(NameConversionTest, ShortNameBytesAreCodePage437) {
  EXPECT_EQ(oem_to_utf8("README  "), "README  ");
  EXPECT_EQ(oem_to_utf8("\x81\x84\xE1"), "\xC3\xBC\xC3\xA4\xC3\x9F");  // u-umlaut a-umlaut sharp s
  EXPECT_EQ(oem_to_utf8("\xE5"), "\xCF\x83");                          // sigma: a deleted marker
}

}  // namespace
}  // namespace fennick::catalogue

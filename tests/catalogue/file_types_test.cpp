// File-type classification: the group a name gets by its extension, the table's order rules
// (first equal row wins, the part after the last dot counts), and the counters a
// classification run over the catalogue leaves behind.
#include "catalogue/file_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "catalogue/catalogue.h"

namespace fennick::catalogue {
namespace {

struct NameCase {
  const char* name;
  std::uint16_t group;
};

TEST(FileTypes, NamesGoToTheGroupOfTheirLastExtension) {
  const NameCase cases[] = {
      {"photo.jpeg", 9},
      {"PHOTO.JPG", 9},
      {"Photo.JpG", 9},
      {"archive.tar.gz", 48},
      {"archive.gz.tar", 51},
      {"README", 65},
      {"data.xyz", 65},
      {"page.shtml", 20},
      {"budget.wks", 21},
      {"inbox.mbx", 63},
      {"report.", 65},
      {".txt", 42},
      {"a.jpgx", 65},
      {"a.jp", 65},
      {"x.$$$", 43},
      {"sheet.123", 21},
      {"tune.mp", 57},
      {"clip.m1v", 58},
      {"setup.EXE", 67},
      {"image.psd", 66},
      {"book.Xls", 23},
      {"a.verylongext", 65},
      {"a.midi", 59},
      {"Grüße.txt", 42},
      // Only a-z are folded: a UTF-8 extension never equals an ASCII row.
      {"a.t\xC3\x9Ft", 65},
      {"dir.d/file", 65},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(file_type_of(c.name), c.group) << c.name;
  }
}

TEST(FileTypes, TablesHoldEveryGroupAndRowInOrder) {
  const Catalogue fresh;
  EXPECT_EQ(file_groups()[9].description, "JPEG Standard Graphics");
  EXPECT_EQ(file_groups()[45].description, "WordPrefect Documents and Graphics v8");
  EXPECT_EQ(file_groups()[65].description, "Other Files");
  EXPECT_EQ(file_groups()[67].description, "Application");
  std::set<std::uint16_t> groups_with_rows;
  std::uint16_t previous = 0;
  for (std::size_t g = 0; g < file_group_count; ++g) {
    EXPECT_EQ(file_groups()[g].number, g);
    EXPECT_EQ(fresh.type_counts()[g], 0);
    if (g > 0) {
      EXPECT_FALSE(file_groups()[g].description.empty()) << g;
    }
  }
  EXPECT_TRUE(file_extensions()[0].extension.empty());
  EXPECT_TRUE(file_extensions()[113].extension.empty());
  EXPECT_EQ(file_extensions()[113].group, other_files_group);
  EXPECT_EQ(file_extensions()[1].extension, ".DWG");
  EXPECT_EQ(file_extensions()[116].extension, ".COM");
  for (std::size_t r = 1; r < file_extension_rows; ++r) {
    const FileExtension& row = file_extensions()[r];
    // Group by group, ascending; the blank extension of group 65 sits between 64 and 66.
    EXPECT_GE(row.group, previous) << r;
    previous = row.group;
    groups_with_rows.insert(row.group);
    EXPECT_EQ(row.extension.empty(), row.group == other_files_group) << r;
    if (!row.extension.empty()) {
      EXPECT_EQ(row.extension.view()[0], '.') << r;
      for (char c : row.extension.view()) EXPECT_FALSE(c >= 'a' && c <= 'z') << r;
    }
  }
  // Every group but the reserved 0 and the extension-less 62 can receive files.
  for (std::uint16_t g = 1; g < file_group_count; ++g) {
    EXPECT_EQ(groups_with_rows.count(g), g == 62 ? 0u : 1u) << g;
  }
  // .WKS stands twice; the Lotus row comes first.
  int wks = 0;
  for (const FileExtension& row : file_extensions()) wks += row.extension == ".WKS";
  EXPECT_EQ(wks, 2);
}

TEST(FileTypes, ClassifyingCountsEveryRecordAndStartsAfresh) {
  Catalogue catalogue;
  const char* names[] = {"a.jpg", "b.JPEG", "c.jpg", "notes.txt", "x.TXT", "README", ""};
  for (const char* n : names) {
    FoundFile r;
    r.name = n;
    r.type_group = 7;  // stale value from elsewhere, must be replaced
    catalogue.add(r);
  }
  classify_files(catalogue);
  const auto& counts = catalogue.type_counts();
  EXPECT_EQ(counts[9], 3);
  EXPECT_EQ(counts[42], 2);
  EXPECT_EQ(counts[65], 2);  // no dot, and the empty name of a wiped record
  EXPECT_EQ(counts[7], 0);
  std::int32_t total = 0;
  for (const std::int32_t count : counts) total += count;
  EXPECT_EQ(total, catalogue.deleted_count());
  EXPECT_EQ(catalogue.files()[1].type_group, 9);
  EXPECT_EQ(catalogue.files()[3].type_group, 42);
  EXPECT_EQ(catalogue.files()[5].type_group, 65);

  // A second run counts from zero, not on top of the first.
  catalogue.clear();
  FoundFile r;
  r.name = "one.pdf";
  catalogue.add(r);
  classify_files(catalogue);
  EXPECT_EQ(counts[9], 0);
  EXPECT_EQ(counts[38], 1);
}

}  // namespace
}  // namespace fennick::catalogue

// Sorting and filtering the catalogue.
#include "catalogue/catalogue_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "catalogue/date_time.h"

namespace fennick::catalogue {
namespace {

// The start of day n after 1899-12-30 (day 0 is the missing time), on the given clock.
Timestamp day(int n, TimeBase base = TimeBase::utc) {
  return Timestamp::from_ticks(n * Timestamp::ticks_per_day, base);
}

FoundFile make(std::string_view name, std::int64_t size = 0, std::int8_t quality = 100) {
  FoundFile r;
  r.name = name;
  r.size = size;
  r.quality = quality;
  r.path = "C:\\";
  return r;
}

class ViewTest : public ::testing::Test {
 protected:
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const FoundFile& record : catalogue.files()) out.push_back(record.name.str());
    return out;
  }
  std::vector<std::string> shown() {
    view.build_row_map(catalogue, 0, any_drive, 0);
    std::vector<std::string> out;
    for (const auto i : view.row_map) out.push_back(catalogue.files()[i].name.str());
    return out;
  }
  Catalogue catalogue;
  CatalogueView view;
};

TEST_F(ViewTest, NamesSortWithAToZFoldedOnly) {
  for (const char* n : {"Report.pdf", "_a", "README.TXT", "Z", "report.doc", "\xC3\xA9t\xC3\xA9"}) {
    catalogue.add(make(n));
  }
  sort_catalogue(catalogue, sort_name);
  EXPECT_EQ(names(), (std::vector<std::string>{"README.TXT", "report.doc", "Report.pdf", "Z", "_a",
                                               "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(ViewTest, StatusSizeAndDatesSortDescendingAndNoneByRecordNumber) {
  const std::vector<std::int8_t> qualities = {-3, 0, 100, -1, 50, -2, 80, 10};
  for (std::size_t i = 0; i < qualities.size(); ++i) {
    FoundFile r = make(std::to_string(i), static_cast<std::int64_t>(i * 7 % 5), qualities[i]);
    r.record_no = static_cast<std::int32_t>(100 - i);
    r.modified = day(i % 3);
    catalogue.add(r);
  }
  sort_catalogue(catalogue, sort_status);
  std::vector<int> got;
  for (int i = 0; i < catalogue.deleted_count(); ++i) got.push_back(catalogue.files()[i].quality);
  EXPECT_EQ(got, (std::vector<int>{100, 80, 50, 10, 0, -1, -2, -3}));
  sort_catalogue(catalogue, sort_size);
  for (int i = 1; i < catalogue.deleted_count(); ++i)
    EXPECT_GE(catalogue.files()[i - 1].size, catalogue.files()[i].size);
  sort_catalogue(catalogue, sort_modified);
  for (int i = 1; i < catalogue.deleted_count(); ++i)
    EXPECT_GE(catalogue.files()[i - 1].modified, catalogue.files()[i].modified);
  sort_catalogue(catalogue, sort_none);
  for (int i = 1; i < catalogue.deleted_count(); ++i)
    EXPECT_LT(catalogue.files()[i - 1].record_no, catalogue.files()[i].record_no);
  const auto before = names();
  sort_catalogue(catalogue, 7);
  EXPECT_EQ(names(), before) << "an unknown key leaves the order";
}

TEST_F(ViewTest, SortingManyEqualKeysStaysShallowAndKeepsEveryRecord) {
  for (int i = 0; i < 20000; ++i) catalogue.add(make(i % 2 ? "same" : "SAME", 1));
  sort_catalogue(catalogue, sort_name);
  sort_catalogue(catalogue, sort_size);
  EXPECT_EQ(catalogue.deleted_count(), 20000);
}

// Reversed, every key's order turns around, and records the key finds equal keep the order
// they had before the sort (a tag in entry_offset tells them apart).
TEST_F(ViewTest, ReversedSortsTurnEachKeyAroundAndKeepEqualRecordsInOrder) {
  struct Case {
    int key;
    // Is a strictly after b in the key's own order (so before it once reversed).
    std::function<bool(const FoundFile& a, const FoundFile& b)> after;
  };
  const Case cases[] = {
      {sort_name,
       [](const FoundFile& a, const FoundFile& b) {
         return fold_ascii_upper(a.name.view()) > fold_ascii_upper(b.name.view());
       }},
      {sort_path,
       [](const FoundFile& a, const FoundFile& b) {
         return fold_ascii_upper(a.path.view()) > fold_ascii_upper(b.path.view());
       }},
      {sort_status, [](const FoundFile& a, const FoundFile& b) { return a.quality < b.quality; }},
      {sort_size, [](const FoundFile& a, const FoundFile& b) { return a.size < b.size; }},
      {sort_created, [](const FoundFile& a, const FoundFile& b) { return a.created < b.created; }},
      {sort_modified,
       [](const FoundFile& a, const FoundFile& b) { return a.modified < b.modified; }},
      {sort_none, [](const FoundFile& a, const FoundFile& b) { return a.record_no > b.record_no; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("key " + std::to_string(c.key));
    catalogue.clear();
    // 60 records with few distinct values per key, so every key has long runs of equals.
    const char* names[] = {"b.txt", "A.txt", "a.TXT", "c.doc"};
    const char* paths[] = {"C:\\B\\", "C:\\a\\", "C:\\A\\"};
    for (int i = 0; i < 60; ++i) {
      FoundFile r = make(names[i % 4], i % 5, static_cast<std::int8_t>(i % 3 * 40));
      r.path = paths[i % 3];
      // Times compare by what they show, whichever clock they were read on: equal ticks of
      // local and UTC times are equal records.
      r.created = day(i % 7, i % 3 == 0 ? TimeBase::local : TimeBase::utc);
      r.modified = day(i % 2, i % 5 == 0 ? TimeBase::local : TimeBase::utc);
      r.record_no = i % 6;
      r.entry_offset = i;
      catalogue.add(r);
    }
    // First in the key's own order, then reversed: equal records keep that first order.
    sort_catalogue(catalogue, c.key);
    std::vector<std::int32_t> first_order(60);
    for (int i = 0; i < 60; ++i)
      first_order[static_cast<std::size_t>(catalogue.files()[i].entry_offset)] = i;
    sort_catalogue(catalogue, c.key, true);
    ASSERT_EQ(catalogue.deleted_count(), 60);
    for (int i = 1; i < 60; ++i) {
      const FoundFile& a = catalogue.files()[i - 1];
      const FoundFile& b = catalogue.files()[i];
      ASSERT_FALSE(c.after(b, a)) << "at " << i;
      if (!c.after(a, b)) {
        EXPECT_LT(first_order[static_cast<std::size_t>(a.entry_offset)],
                  first_order[static_cast<std::size_t>(b.entry_offset)])
            << "equal records swapped at " << i;
      }
    }
    // Sorting the reversed list reversed again leaves it as it is.
    std::vector<std::int32_t> tags;
    for (const FoundFile& r : catalogue.files()) tags.push_back(r.entry_offset);
    sort_catalogue(catalogue, c.key, true);
    std::vector<std::int32_t> again;
    for (const FoundFile& r : catalogue.files()) again.push_back(r.entry_offset);
    EXPECT_EQ(again, tags);
  }
}

TEST_F(ViewTest, ReversedSortOfAHundredThousandRecordsKeepsEveryRecord) {
  for (int i = 0; i < 100000; ++i) {
    FoundFile r = make("f" + std::to_string(i * 7919 % 100000), i % 1000);
    r.entry_offset = i;
    catalogue.add(r);
  }
  sort_catalogue(catalogue, sort_name, true);
  sort_catalogue(catalogue, sort_size, true);
  ASSERT_EQ(catalogue.deleted_count(), 100000);
  std::vector<bool> seen(100000);
  for (int i = 0; i < 100000; ++i) {
    const FoundFile& r = catalogue.files()[i];
    seen[static_cast<std::size_t>(r.entry_offset)] = true;
    if (i > 0) {
      ASSERT_LE(catalogue.files()[i - 1].size, r.size);
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 100000);
}

TEST_F(ViewTest, FilterConditionsAsTheDialogSetsThem) {
  for (const char* n : {"README.TXT", "mytxtfile.doc", "notes.doc", "~WRL0003.TMP", "Template.doc",
                        "Attempt.txt", "Tmpl.doc", "\xC3\x89T\xC3\x89.txt"}) {
    catalogue.add(make(n));
  }
  view.filter.name_on = true;
  view.filter.name_part = "txt";
  EXPECT_EQ(shown(), (std::vector<std::string>{"README.TXT", "mytxtfile.doc", "Attempt.txt",
                                               "\xC3\x89T\xC3\x89.txt"}));
  view.filter.name_part = "\xC3\xA9";  // é does not match É
  EXPECT_TRUE(shown().empty());
  view.filter.name_part = "";
  EXPECT_TRUE(shown().empty()) << "an empty name part matches nothing";
  view.filter = TCustomFilter{};
  view.filter.hide_temporary = true;
  EXPECT_EQ(shown(), (std::vector<std::string>{"README.TXT", "mytxtfile.doc", "notes.doc",
                                               "\xC3\x89T\xC3\x89.txt"}));
}

TEST_F(ViewTest, SizeDateAndOverwrittenConditions) {
  const Timestamp noon = make_timestamp(2005, 3, 1, 12);
  const Timestamp midnight = make_timestamp(2005, 3, 1);
  const Timestamp next_day = make_timestamp(2005, 3, 2);
  const Timestamp last_tick = make_timestamp(2005, 3, 1, 23, 59, 59, 9'999'999, TimeBase::utc);
  struct Row {
    const char* name;
    std::int64_t size;
    std::int8_t quality;
    Timestamp modified;
  };
  for (const Row& row : {Row{"a", 1023, 0, noon}, Row{"b", 1024, -1, midnight},
                         Row{"c", 1025, 50, next_day}, Row{"d", 1024, 100, last_tick}}) {
    FoundFile r = make(row.name, row.size, row.quality);
    r.modified = row.modified;
    catalogue.add(r);
  }
  view.filter.size_on = true;
  view.filter.size_limit = 1024;
  EXPECT_EQ(shown(), std::vector<std::string>{"c"});
  view.filter.size_mode = 1;
  EXPECT_EQ(shown(), std::vector<std::string>{"a"});
  view.filter = TCustomFilter{};
  // The day 2005-03-01 as the dialog stores it: after its start, before the next day's start.
  view.filter.date_on = true;
  view.filter.date_from = midnight;
  view.filter.date_to = day_after(midnight);
  EXPECT_EQ(shown(), (std::vector<std::string>{"a", "d"}));
  view.filter = TCustomFilter{};
  view.filter.hide_overwritten = true;
  EXPECT_EQ(shown(), (std::vector<std::string>{"b", "c", "d"}));
}

TEST_F(ViewTest, WipedRecordsAndOtherFoldersGetNoRow) {
  for (const char* n : {"a", "b", "c"}) {
    FoundFile r = make(n);
    r.drive_letter = 'c';
    r.parent_dir = n[0] == 'c' ? 6 : 5;
    catalogue.add(r);
  }
  catalogue.mark_wiped(catalogue.files()[1]);
  EXPECT_EQ(shown(), (std::vector<std::string>{"a", "c"}));
  view.build_row_map(catalogue, 5, 'c', 0);
  EXPECT_EQ(view.row_map, std::vector<std::int32_t>{0});
  view.build_row_map(catalogue, 6, 'd', 0);
  EXPECT_TRUE(view.row_map.empty());
}

}  // namespace
}  // namespace fennick::catalogue

// The found-file list: marking by click, Shift-click, Space and the menu with the total
// label, sorting by each column header (both ways) and by the Sort By box, and the
// Status/Preview tabs.
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <set>

#include "catalogue/catalogue_view.h"
#include "catalogue/date_time.h"
#include "gui_support.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "workflow/record_text.h"

namespace fennick::testing {
namespace {

class ListTest : public GuiTest {
 protected:
  std::set<int> marked_rows() const {
    std::set<int> marked;
    for (int r = 0; r < rows(); ++r) {
      if (record(r).selected == 1) marked.insert(r);
    }
    return marked;
  }
  // selected_total is the sum over every marked record, shown rows or not, and the label
  // shows it exactly when it is above zero.
  void expect_total_consistent() const {
    std::int64_t sum = 0;
    for (std::int32_t i = 0; i < found().deleted_count(); ++i) {
      const auto& r = found().files()[static_cast<std::size_t>(i)];
      if (r.selected == 1) sum += r.size;
    }
    EXPECT_EQ(form_->selected_total(), sum);
    auto* label = find<QLabel>("TotalFilesizeHTMLStaticText");
    EXPECT_EQ(!label->isHidden(), sum > 0);
    if (sum > 0) {
      EXPECT_EQ(label->text(), "Total file size:  <b>" +
                                   QString::fromStdString(workflow::size_text(sum)) + "</b>");
    }
  }
  std::int64_t size_of_rows(std::initializer_list<int> list) const {
    std::int64_t sum = 0;
    for (int r : list) sum += record(r).size;
    return sum;
  }
};

TEST_F(ListTest, MarkingByClickShiftClickSpaceAndMenu) {
  ASSERT_TRUE(open({"fat16.img"}));
  start_scan();
  ASSERT_EQ(rows(), 20);
  auto* space_target = find<QTableView>("AdvListView");
  struct Step {
    const char* what;
    std::function<void()> act;
    std::set<int> marked;
    int last_clicked;
  };
  const Step steps[] = {
      // Right after a scan nothing was clicked: a Shift-click runs from row 4 up to row 0.
      {"shift-click row 4", [&] { click_cell(4, 0, true); }, {0, 1, 2, 3, 4}, 4},
      {"unselect all", [&] { find<QAction>("UnselectAll1")->trigger(); }, {}, 4},
      {"click row 0", [&] { click_cell(0, 0); }, {0}, 0},
      {"click row 0 again", [&] { click_cell(0, 0); }, {}, 0},
      {"click the path of row 3", [&] { click_cell(3, 1); }, {}, 0},
      {"shift-click the path of row 6", [&] { click_cell(6, 1, true); }, {}, 6},
      // Rows 2, 4, 5 unmarked and 3 marked; mark 2, then Shift-click 5: rows 5, 4, 3, 2.
      {"click row 3", [&] { click_cell(3, 0); }, {3}, 3},
      {"click row 2", [&] { click_cell(2, 0); }, {2, 3}, 2},
      {"shift-click row 5", [&] { click_cell(5, 0, true); }, {2, 3, 4, 5}, 5},
      {"space on the selected row 5",
       [&] { QTest::keyClick(space_target, Qt::Key_Space); },
       {2, 3, 4},
       5},
      {"space again", [&] { QTest::keyClick(space_target, Qt::Key_Space); }, {2, 3, 4, 5}, 5},
      // Shift-click above the last clicked row: rows 7, 8, 9 take row 7's new state.
      {"click row 9", [&] { click_cell(9, 0); }, {2, 3, 4, 5, 9}, 9},
      {"shift-click row 7", [&] { click_cell(7, 0, true); }, {2, 3, 4, 5, 7, 8, 9}, 7},
      {"reverse",
       [&] { find<QAction>("ReverseSelection1")->trigger(); },
       {0, 1, 6, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
       7},
      {"select all",
       [&] { find<QAction>("SelectAll1")->trigger(); },
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
       7},
      {"select all twice",
       [&] { find<QAction>("SelectAll1")->trigger(); },
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
       7},
      {"unselect all", [&] { find<QAction>("UnselectAll1")->trigger(); }, {}, 7},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(marked_rows(), step.marked);
    EXPECT_EQ(form_->last_clicked_row(), step.last_clicked);
    expect_total_consistent();
  }
  // The check marks the list draws are the records' marks.
  click_cell(1, 0);
  auto* model = find<QTableView>("AdvListView")->model();
  EXPECT_EQ(model->data(model->index(1, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model->data(model->index(2, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);

  // With a folder selected, the menu commands touch only its rows; other marks stay.
  find<QAction>("UnselectAll1")->trigger();
  click_cell(0, 0);  // a record outside the folder below stays marked
  const std::int32_t outside = record(0).record_no;
  QTest::mouseClick(find<QWidget>("AdvNavBarPanelFilesTreeHeader"), Qt::LeftButton);
  select_folder({"C:\\", "DOCS"});
  ASSERT_EQ(rows(), 2);  // Meeting minutes, Backup 2023.zip
  find<QAction>("SelectAll1")->trigger();
  EXPECT_EQ(marked_rows(), (std::set<int>{0, 1}));
  expect_total_consistent();
  find<QAction>("ReverseSelection1")->trigger();
  EXPECT_EQ(marked_rows(), (std::set<int>{}));
  find<QAction>("ReverseSelection1")->trigger();
  select_folder({});  // the root: every file again
  ASSERT_EQ(rows(), 20);
  std::set<std::int32_t> marked_records;
  for (int r : marked_rows()) marked_records.insert(record(r).record_no);
  EXPECT_EQ(marked_records.size(), 3u);
  EXPECT_TRUE(marked_records.count(outside));
  expect_total_consistent();
}

// Independent statement of each key's order: is a allowed before b.
bool in_order(const catalogue::FoundFile& a, const catalogue::FoundFile& b, int key) {
  auto fold = [](std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
  };
  auto text_le = [&](std::string_view x, std::string_view y) {
    const std::string fx = fold(x), fy = fold(y);
    return std::lexicographical_compare(
               fy.begin(), fy.end(), fx.begin(), fx.end(), [](char p, char q) {
                 return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
               }) == false;
  };
  switch (key) {
    case 0:
      return a.record_no <= b.record_no;
    case 1:
      return text_le(a.name.view(), b.name.view());
    case 2:
      return text_le(a.path.view(), b.path.view());
    case 3:
      return a.quality >= b.quality;
    case 4:
      return a.size >= b.size;
    case 5:
      return a.created >= b.created;
    case 6:
      return a.modified >= b.modified;
  }
  return true;
}

TEST_F(ListTest, SortingByEachHeaderAndByTheSortByBox) {
  const bool have_ntfs = !fixture_image("ntfs.img").empty();
  ASSERT_TRUE(open({"fat16.img", have_ntfs ? "ntfs.img" : "fat12.img"}));
  find<QAction>("MenuItem3")->trigger();
  start_scan();
  const int all = rows();
  ASSERT_GT(all, 20);
  click_cell(3, 0);  // one marked record, which must stay marked through every sort
  const std::int32_t marked_no = record(3).record_no;
  const char marked_drive = record(3).drive_letter;
  auto* box = find<QComboBox>("SortByALComboBox");
  auto check_sorted = [&](int key) {
    for (std::int32_t i = 0; i + 1 < found().deleted_count(); ++i) {
      ASSERT_TRUE(in_order(found().files()[static_cast<std::size_t>(i)],
                           found().files()[static_cast<std::size_t>(i) + 1], key))
          << "key " << key << " at " << i;
    }
    ASSERT_EQ(rows(), all);
    for (int r = 0; r < rows(); ++r) ASSERT_EQ(view().row_map[static_cast<std::size_t>(r)], r);
    int marked = 0;
    for (int r = 0; r < rows(); ++r) {
      if (record(r).selected == 1) {
        ++marked;
        EXPECT_EQ(record(r).record_no, marked_no);
        EXPECT_EQ(record(r).drive_letter, marked_drive);
      }
    }
    EXPECT_EQ(marked, 1);
  };
  for (int column = 0; column < 6; ++column) {
    SCOPED_TRACE(column);
    click_header(column);
    check_sorted(column + 1);
    EXPECT_EQ(box->currentIndex(), column + 1);
    EXPECT_EQ(box->currentText().toStdString(), message(messages::field_filename + column));
  }
  // The untitled last column: the order stays, the box's choice clears.
  std::vector<std::int32_t> before;
  for (int r = 0; r < rows(); ++r) before.push_back(record(r).record_no);
  click_header(6);
  std::vector<std::int32_t> after;
  for (int r = 0; r < rows(); ++r) after.push_back(record(r).record_no);
  EXPECT_EQ(after, before);
  EXPECT_EQ(box->currentIndex(), -1);
  // The box: each entry chosen by the keyboard sorts by its key ("None" by record number).
  for (int key : {4, 1, 0}) {
    SCOPED_TRACE(key);
    box->setCurrentIndex(key == 0 ? 1 : key - 1);
    QTest::keyClick(box, key == 0 ? Qt::Key_Up : Qt::Key_Down);
    ASSERT_EQ(box->currentIndex(), key);
    check_sorted(key);
  }
  // A size sort shows largest first in the list's own texts.
  click_header(3);
  EXPECT_EQ(cell(0, 3).toStdString(), workflow::size_text(record(0).size));
  EXPECT_GE(record(0).size, record(rows() - 1).size);
}

// A second click on the header the list is sorted by turns the order around, a third turns
// it back; the header's arrow shows the direction of the values (names up from A, sizes down
// from the largest) and flips with it; the box keeps the field, and choosing a field in the
// box always sorts in the field's own order. None and the untitled last column show no arrow
// of their own.
TEST_F(ListTest, HeaderClicksSortBothWaysWithTheArrowAndTheBoxSortsInTheFieldsOwnOrder) {
  ASSERT_TRUE(open({"fat16.img"}));
  start_scan();
  ASSERT_GT(rows(), 10);
  auto* box = find<QComboBox>("SortByALComboBox");
  QHeaderView* header = find<QTableView>("AdvListView")->horizontalHeader();
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), -1) << "not sorted yet";
  const auto choose = [&](int key) {
    box->setCurrentIndex(key);
    emit box->activated(key);
  };
  const auto names = [&] {
    QStringList shown;
    for (int r = 0; r < rows(); ++r) shown << cell(r, 0);
    return shown;
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    int key;        // the key the list must be in order by
    bool reversed;  // ... turned around
    int arrow_section;
    Qt::SortOrder arrow;
    int box_index;
  };
  const Step steps[] = {
      {"click Name", [&] { click_header(0); }, 1, false, 0, Qt::AscendingOrder, 1},
      {"click Name again", [&] { click_header(0); }, 1, true, 0, Qt::DescendingOrder, 1},
      {"and again", [&] { click_header(0); }, 1, false, 0, Qt::AscendingOrder, 1},
      {"click Size", [&] { click_header(3); }, 4, false, 3, Qt::DescendingOrder, 4},
      {"click Size again", [&] { click_header(3); }, 4, true, 3, Qt::AscendingOrder, 4},
      {"the untitled column leaves order and arrow", [&] { click_header(6); }, 4, true, 3,
       Qt::AscendingOrder, -1},
      {"click Size after it", [&] { click_header(3); }, 4, false, 3, Qt::DescendingOrder, 4},
      {"click Name, then Name in the box",
       [&] {
         click_header(0);
         click_header(0);
         choose(1);
       },
       1, false, 0, Qt::AscendingOrder, 1},
      {"Name in the box again", [&] { choose(1); }, 1, false, 0, Qt::AscendingOrder, 1},
      {"a click after the box turns it around", [&] { click_header(0); }, 1, true, 0,
       Qt::DescendingOrder, 1},
      {"Modified in the box", [&] { choose(6); }, 6, false, 5, Qt::DescendingOrder, 6},
      {"None in the box", [&] { choose(0); }, 0, false, -1, Qt::AscendingOrder, 0},
  };
  QStringList ascending_names;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    ASSERT_EQ(rows(), found().deleted_count());
    for (int r = 0; r + 1 < rows(); ++r) {
      const catalogue::FoundFile& a = record(r);
      const catalogue::FoundFile& b = record(r + 1);
      ASSERT_TRUE(step.reversed ? in_order(b, a, step.key) : in_order(a, b, step.key))
          << "row " << r;
    }
    EXPECT_EQ(header->sortIndicatorSection(), step.arrow_section);
    if (step.arrow_section >= 0) {
      EXPECT_EQ(header->sortIndicatorOrder(), step.arrow);
    }
    EXPECT_EQ(box->currentIndex(), step.box_index);
    if (step.key == 1 && !step.reversed) ascending_names = names();
  }
  // The fixture's names differ, so the two directions are each other's mirror image.
  click_header(0);
  ASSERT_EQ(names(), ascending_names);
  click_header(0);
  QStringList mirrored = ascending_names;
  std::reverse(mirrored.begin(), mirrored.end());
  EXPECT_EQ(names(), mirrored);
  // A new scan lists the files as found again, with no arrow.
  start_scan();
  EXPECT_EQ(header->sortIndicatorSection(), -1);
  click_header(0);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder) << "a new scan starts over";
}

TEST_F(ListTest, StatusAndPreviewTabs) {
  ASSERT_TRUE(open({"fat16.img"}));
  start_scan();
  auto* memo = find<QWidget>("AdvMemo");
  auto* preview = find<QLabel>("PreviewStatusHTMLabel");
  auto* header = find<QLabel>("HTMLabelStatus");
  auto row_named = [&](const QString& name) {
    for (int r = 0; r < rows(); ++r)
      if (cell(r, 0) == name) return r;
    return -1;
  };
  // Rows show the status word, size text and dates of their record.
  const int txt = row_named("Grüße.txt");
  ASSERT_GE(txt, 0);
  EXPECT_EQ(cell(txt, 2), "Very Good");
  EXPECT_EQ(cell(txt, 3), "1 Kb");  // 1500 bytes
  EXPECT_EQ(cell(txt, 4), "2024-01-15 09:28");
  EXPECT_EQ(cell(txt, 5), "2024-01-15 09:28");
  EXPECT_EQ(cell(txt, 6), "");

  click_cell(txt, 1);  // selects the row without marking it
  EXPECT_TRUE(memo->isHidden());
  EXPECT_TRUE(header->text().contains("<b>Preview</b>"));
  // The fixture's files hold their path, then random bytes: no text, no picture. The preview
  // reads them off the window's thread, then says so above a hex view of their first bytes.
  QTRY_VERIFY(!preview->isHidden());
  EXPECT_TRUE(preview->text().contains("Preview is not available for this type of file"));
  auto* hex = find<QPlainTextEdit>("PreviewTextEdit");
  EXPECT_TRUE(hex->toPlainText().startsWith("00000000  2f 47 72 c3 bc c3 9f 65  2e 74 78 74 0a"))
      << hex->toPlainText().left(80).toStdString();
  const int jpg = row_named("Море.jpg");
  ASSERT_GE(jpg, 0);
  click_cell(jpg, 1);
  EXPECT_TRUE(preview->text().isEmpty()) << "the old file's preview is cleared at once";
  QTRY_VERIFY(!preview->isHidden());
  EXPECT_TRUE(preview->text().contains("Preview is not available for this type of file"));
  // The Status word brings the log back.
  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(20, 10));
  EXPECT_FALSE(memo->isHidden());
  EXPECT_TRUE(header->text().contains("<b>Status</b>"));
  // The Preview word with a selected row acts as selecting it again.
  click_cell(txt, 1);
  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(20, 10));
  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(120, 10));
  EXPECT_TRUE(memo->isHidden());
  // Leaving the list goes back to Status and drops the row selection.
  find<QWidget>("AdvListView")->setFocus();
  find<QWidget>("SaveAdvDirectoryEdit")->setFocus();
  QCoreApplication::processEvents();
  EXPECT_FALSE(memo->isHidden());
  EXPECT_TRUE(preview->isHidden());
  EXPECT_TRUE(find<QTableView>("AdvListView")->selectionModel()->selectedRows().isEmpty());
  // With no selected row, the Preview word says there is nothing to preview: dialog, then line.
  bool dialog_seen = false;
  on_next_dialog([&](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), " No files to preview");
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    dialog_seen = true;
    box->accept();
  });
  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(120, 10));
  EXPECT_TRUE(dialog_seen);
  EXPECT_EQ(log().back(), " No files to preview");
}

}  // namespace
}  // namespace fennick::testing

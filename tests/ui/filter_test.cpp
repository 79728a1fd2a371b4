// The filter dialog: enabling rules of its boxes, and each condition set through its
// controls narrowing the list exactly as an independent statement of the condition says,
// with the folder selection kept; Cancel changes nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <set>

#include "catalogue/catalogue_view.h"
#include "catalogue/date_time.h"
#include "gui_support.h"

namespace fennick::testing {
namespace {

class FilterTest : public GuiTest {
 protected:
  template <typename T>
  T* in_dialog(const char* name) const {
    T* found = filter_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  // Opens the dialog with the filter button, lets set_up change its controls, then presses
  // the confirm (or cancel) button.
  void run_dialog(const std::function<void()>& set_up, bool confirm = true) {
    bool done = false;
    on_next_dialog([&](QWidget* dialog) {
      EXPECT_EQ(dialog, filter_.get());
      set_up();
      QTest::mouseClick(in_dialog<QWidget>(confirm ? "SetAdvToolButton" : "CancelAdvToolButton"),
                        Qt::LeftButton);
      done = true;
    });
    click("FilterAdvToolButton");
    EXPECT_TRUE(done);
  }
  void check(const char* box, bool on) {
    auto* b = in_dialog<QCheckBox>(box);
    if (b->isChecked() != on) QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    ASSERT_EQ(b->isChecked(), on) << box;
  }
  void clear_all_boxes() {
    for (const char* box : {"NameHTMLCheckBox", "DateHTMLCheckBox", "SizeHTMLCheckBox",
                            "OverwrittenHTMLCheckBox", "TemporaryHTMLCheckBox"}) {
      check(box, false);
    }
  }
  std::set<std::pair<QString, QString>> shown() const {
    std::set<std::pair<QString, QString>> rows_shown;
    for (int r = 0; r < rows(); ++r) rows_shown.insert({cell(r, 1), cell(r, 0)});
    return rows_shown;
  }
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

TEST_F(FilterTest, BoxesEnableTheirFields) {
  ASSERT_TRUE(open({"fat12.img"}));
  struct Rule {
    const char* box;
    std::vector<const char*> fields;
  };
  const Rule rules[] = {
      {"NameHTMLCheckBox", {"NameAdvEdit"}},
      {"DateHTMLCheckBox", {"DateALComboBox", "FromDateDBAdvSpinEdit", "ToDateDBAdvSpinEdit"}},
      {"SizeHTMLCheckBox", {"SizeALComboBox", "SizeDBAdvSpinEdit"}},
  };
  EXPECT_EQ(in_dialog<QDateEdit>("FromDateDBAdvSpinEdit")->date(), QDate(2007, 6, 26));
  EXPECT_EQ(in_dialog<QDateEdit>("ToDateDBAdvSpinEdit")->date(), QDate(2007, 6, 26));
  for (const Rule& rule : rules) {
    for (const char* f : rule.fields) EXPECT_FALSE(in_dialog<QWidget>(f)->isEnabled()) << f;
    check(rule.box, true);
    for (const char* f : rule.fields) EXPECT_TRUE(in_dialog<QWidget>(f)->isEnabled()) << f;
    check(rule.box, false);
    for (const char* f : rule.fields) EXPECT_FALSE(in_dialog<QWidget>(f)->isEnabled()) << f;
  }
}

TEST_F(FilterTest, EachConditionNarrowsTheListAndKeepsTheFolder) {
  const bool have_ntfs = !fixture_image("ntfs.img").empty();
  ASSERT_TRUE(open({"fat16.img", have_ntfs ? "ntfs.img" : "fat12.img"}));
  find<QAction>("MenuItem3")->trigger();
  start_scan();
  // Names and paths that only the temporary-file rule catches.
  found().files().at(1).name = "Template.doc";
  found().files().at(4).name = "~WRL0003.TMP";
  found().files().at(5).path = "C:\\WINDOWS\\TEMP\\";

  using catalogue::FoundFile;
  // A day passes a file after its first moment and before the next day's.
  const catalogue::Timestamp jan15 = catalogue::make_timestamp(2024, 1, 15);
  const catalogue::Timestamp jan16 = catalogue::make_timestamp(2024, 1, 16);
  const catalogue::Timestamp may6 = catalogue::make_timestamp(2019, 5, 6);
  const catalogue::Timestamp may7 = catalogue::make_timestamp(2019, 5, 7);
  struct Case {
    const char* what;
    std::function<void()> set_up;
    std::function<bool(const FoundFile&)> passes;
    bool filter_on;
  };
  const Case cases[] = {
      {"no condition", [] {}, [](const FoundFile&) { return true; }, false},
      {"name part txt",
       [&] {
         check("NameHTMLCheckBox", true);
         QLineEdit* edit = in_dialog<QLineEdit>("NameAdvEdit");
         edit->clear();
         QTest::keyClicks(edit, "txt");
       },
       [](const FoundFile& r) { return upper(r.name.view()).find("TXT") != std::string::npos; },
       true},
      {"modified on 2024-01-15",
       [&] {
         check("DateHTMLCheckBox", true);
         in_dialog<QComboBox>("DateALComboBox")->setCurrentIndex(0);
         in_dialog<QDateEdit>("FromDateDBAdvSpinEdit")->setDate(QDate(2024, 1, 15));
         in_dialog<QDateEdit>("ToDateDBAdvSpinEdit")->setDate(QDate(2024, 1, 15));
       },
       [&](const FoundFile& r) { return r.modified > jan15 && r.modified < jan16; }, true},
      {"created on 2019-05-06",
       [&] {
         check("DateHTMLCheckBox", true);
         in_dialog<QComboBox>("DateALComboBox")->setCurrentIndex(1);
         in_dialog<QDateEdit>("FromDateDBAdvSpinEdit")->setDate(QDate(2019, 5, 6));
         in_dialog<QDateEdit>("ToDateDBAdvSpinEdit")->setDate(QDate(2019, 5, 6));
       },
       [&](const FoundFile& r) { return r.created > may6 && r.created < may7; }, true},
      {"at least 5 Kb",
       [&] {
         check("SizeHTMLCheckBox", true);
         in_dialog<QComboBox>("SizeALComboBox")->setCurrentIndex(0);
         in_dialog<QSpinBox>("SizeDBAdvSpinEdit")->setValue(5);
       },
       [](const FoundFile& r) { return r.size > 5 * 1024; }, true},
      {"at most 2 Kb",
       [&] {
         check("SizeHTMLCheckBox", true);
         in_dialog<QComboBox>("SizeALComboBox")->setCurrentIndex(1);
         in_dialog<QSpinBox>("SizeDBAdvSpinEdit")->setValue(2);
       },
       [](const FoundFile& r) { return r.size < 2 * 1024; }, true},
      {"hide overwritten", [&] { check("OverwrittenHTMLCheckBox", true); },
       [](const FoundFile& r) { return r.quality != 0; }, true},
      {"hide temporary", [&] { check("TemporaryHTMLCheckBox", true); },
       [](const FoundFile& r) {
         const std::string n = upper(r.name.view()), p = upper(r.path.view());
         return n.find("TEMP") == std::string::npos && p.find("TEMP") == std::string::npos &&
                n.find("TMP") == std::string::npos;
       },
       true},
  };
  QTest::mouseClick(find<QWidget>("AdvNavBarPanelFilesTreeHeader"), Qt::LeftButton);
  struct Selection {
    QStringList folder;  // empty: the root, all files
    std::function<bool(const FoundFile&)> in_it;
  };
  const Selection selections[] = {
      {{}, [](const FoundFile&) { return true; }},
      {{"C:\\"},
       [](const FoundFile& r) {
         return r.drive_letter == 'c' && r.parent_dir == catalogue::ROOT_FOLDER_ID;
       }},
  };
  for (const Selection& selection : selections) {
    select_folder(selection.folder);
    const std::int32_t folder = view().folder;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " in /" + selection.folder.join("/").toStdString());
      run_dialog([&] {
        clear_all_boxes();
        c.set_up();
      });
      std::set<std::pair<QString, QString>> expected;
      int passing_anywhere = 0;
      for (std::int32_t i = 0; i < found().deleted_count(); ++i) {
        const FoundFile& r = found().files()[static_cast<std::size_t>(i)];
        if (r.name.empty() || !c.passes(r)) continue;
        ++passing_anywhere;
        if (selection.in_it(r))
          expected.insert(
              {QString::fromStdString(r.path.str()), QString::fromStdString(r.name.str())});
      }
      EXPECT_EQ(shown(), expected);
      EXPECT_EQ(view().folder, folder);  // the folder selection is kept
      EXPECT_EQ(find<QLabel>("StatusPanel1")->text(), c.filter_on ? "Filter ON" : "Filter OFF");
      EXPECT_EQ(find<QLabel>("StatusPanel2")->text(),
                "Files: " + QString::number(found().deleted_count()));
      if (c.filter_on) {
        EXPECT_LT(passing_anywhere, found().deleted_count()) << "the case filters nothing";
        EXPECT_GT(passing_anywhere, 0) << "the case lets nothing pass";
      }
    }
  }

  // Cancel: the list and the indicator stay; the changed text is there at the next opening.
  run_dialog([&] {
    clear_all_boxes();
    check("NameHTMLCheckBox", true);
    QLineEdit* edit = in_dialog<QLineEdit>("NameAdvEdit");
    edit->clear();
    QTest::keyClicks(edit, "doc");
  });
  const auto before = shown();
  run_dialog(
      [&] {
        QLineEdit* edit = in_dialog<QLineEdit>("NameAdvEdit");
        edit->clear();
        QTest::keyClicks(edit, "zip");
      },
      false);
  EXPECT_EQ(shown(), before);
  EXPECT_EQ(view().filter.name_part, "doc");
  EXPECT_EQ(in_dialog<QLineEdit>("NameAdvEdit")->text(), "zip");
  // Switching panels shows every file of the catalogue again, still filtered.
  QTest::mouseClick(find<QWidget>("AdvNavBarPanelDrivesHeader"), Qt::LeftButton);
  EXPECT_EQ(view().folder, 0);
  for (int r = 0; r < rows(); ++r)
    EXPECT_NE(upper(cell(r, 0).toStdString()).find("DOC"), std::string::npos);
}

TEST_F(FilterTest, ConfirmStoresDayBoundsAndKilobytes) {
  ASSERT_TRUE(open({"fat12.img"}));
  run_dialog([&] {
    check("DateHTMLCheckBox", true);
    check("SizeHTMLCheckBox", true);
    in_dialog<QDateEdit>("FromDateDBAdvSpinEdit")->setDate(QDate(2006, 5, 10));
    in_dialog<QDateEdit>("ToDateDBAdvSpinEdit")->setDate(QDate(2006, 5, 12));
    in_dialog<QSpinBox>("SizeDBAdvSpinEdit")->setValue(5);
  });
  const auto& f = view().filter;
  EXPECT_TRUE(f.date_on);
  // Both exclusive: after 2006-05-10 00:00, before 2006-05-13 00:00 (all of the last day).
  EXPECT_EQ(f.date_from, catalogue::make_timestamp(2006, 5, 10));
  EXPECT_EQ(f.date_to, catalogue::make_timestamp(2006, 5, 13));
  EXPECT_EQ(f.size_limit, 5120);
  EXPECT_EQ(f.size_mode, 0);
  EXPECT_EQ(in_dialog<QSpinBox>("SizeDBAdvSpinEdit")->maximum(), 999999);
  EXPECT_EQ(in_dialog<QSpinBox>("SizeDBAdvSpinEdit")->singleStep(), 100);
}

}  // namespace
}  // namespace fennick::testing

// Applying a language through the flag buttons: the captions of the three windows, the
// stored choice and the next start, the reading direction, and what a language change must
// leave alone (the filter indicator, the list's order).
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <algorithm>

#include "catalogue/catalogue_view.h"
#include "messages/message_ids.h"
#include "settings_support.h"

namespace fennick::testing {
namespace {

class LanguageTest : public SettingsGuiTest {
 protected:
  void choose(std::size_t language) {
    const std::string name(messages::language_table().at(language).button);
    click(name.c_str());
  }
  QString header_text(int column) const { return header(column); }
  QString header(int column) const {
    return find<QTableView>("AdvListView")->model()->headerData(column, Qt::Horizontal).toString();
  }
};

TEST_F(LanguageTest, EveryLanguageReCaptionsTheThreeWindowsAndStoresTheChoice) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  // Only "hide temporary files" in force: every language keeps the indicator at "Filter ON".
  view().filter.hide_temporary = true;
  form_->set_filter_indicator();

  const auto& languages = messages::language_table();
  // Twice round, so that each language is also applied over a language other than English.
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < languages.size(); ++i) {
      const messages::Language& l = languages[i];
      const int b = l.base;
      SCOPED_TRACE(std::string(l.english_name));
      choose(i);
      EXPECT_EQ(form_->language(), b);
      struct Caption {
        QString shown;
        QString expected;
      };
      const Caption captions[] = {
          {form_->windowTitle(), "Fennick" + msg(b, messages::main_title_suffix)},
          {find<QToolButton>("StartAdvToolButton")->text(), msg(b, messages::start_scan)},
          {find<QToolButton>("UndeleteAdvToolButton")->text(), msg(b, messages::start_undelete)},
          {find<QToolButton>("HelpAdvToolButton")->text(), msg(b, messages::help_button)},
          {find<QToolButton>("CleanAdvToolButton")->text(), msg(b, messages::clean_drive)},
          {find<QLabel>("FastSearchSection")->text(), msg(b, messages::fast_search) + " (1)"},
          {find<QLabel>("StatusPanel1")->text(), msg(b, messages::filter_on)},
          {find<QLabel>("StatusPanel2")->text(), msg(b, messages::files_label) + "0"},
          {find<QComboBox>("SortByALComboBox")->itemText(0), msg(b, messages::field_none)},
          {find<QComboBox>("SortByALComboBox")->itemText(6), msg(b, messages::field_date_modified)},
          {header(0), msg(b, messages::field_filename)},
          {header(5), msg(b, messages::field_date_modified)},
          {find<QCheckBox>("KeepFolderHTMLCheckBox")->text(),
           msg(b, messages::keep_folder_structure)},
          {find<QTreeWidget>("DriveHTMLTreeview")->topLevelItem(0)->text(0),
           msg(b, messages::my_computer)},
          {filter_->windowTitle(), "Fennick" + msg(b, messages::filter_title_suffix)},
          {filter_->findChild<QCheckBox*>("NameHTMLCheckBox")->text(),
           msg(b, messages::filter_by_name)},
          {filter_->findChild<QCheckBox*>("TemporaryHTMLCheckBox")->text(),
           msg(b, messages::hide_temporary)},
          {clean_->windowTitle(), "Fennick" + msg(b, messages::clean_title_suffix)},
          {clean_child<QCheckBox>("FreeSpaceHTMLCheckBox")->text(),
           msg(b, messages::clean_free_space)},
          {clean_child<QToolButton>("CleanAdvToolButton")->text(), msg(b, messages::start_clean)},
          // The hints stay each language's own name.
          {find<QToolButton>("GermanAdvToolButton")->toolTip(), "Deutsch"},
          {find<QToolButton>("IsraelAdvToolButton")->toolTip(),
           QString::fromUtf8("\u05e2\u05d1\u05e8\u05d9\u05ea")},
      };
      for (std::size_t c = 0; c < std::size(captions); ++c) {
        EXPECT_EQ(captions[c].shown, captions[c].expected) << "caption " << c;
        EXPECT_FALSE(captions[c].shown.isEmpty()) << "caption " << c;
      }
      EXPECT_EQ(find<QComboBox>("SortByALComboBox")->currentIndex(), 0);
      EXPECT_EQ(stored("language"), b == messages::english_base ? "(absent)" : QString::number(b));
      const bool rtl = l.english_name == "Hebrew" || l.english_name == "Arabic";
      EXPECT_EQ(QGuiApplication::layoutDirection(), rtl ? Qt::RightToLeft : Qt::LeftToRight);
    }
  }
}

// In every language, the list's headers, every status word, the dates with their time and
// the sizes fit their columns as the view draws them (the item delegate's and the header's
// margins, the sort arrow), so none is cut to "...".
TEST_F(LanguageTest, NoListHeaderStatusDateOrSizeIsElidedInAnyLanguage) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  auto* view = find<QTableView>("AdvListView");
  QHeaderView* header = view->horizontalHeader();
  const int cell_margin =
      view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  const int header_room =
      2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
      header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    SCOPED_TRACE(std::string(languages[i].english_name));
    choose(i);
    const int b = languages[i].base;
    const QFontMetrics cells(view->font());
    const QFontMetrics captions(header->font());
    const auto fits = [&](const QString& text, int column, bool is_header) {
      const int room = is_header ? header->sectionSize(column) - header_room
                                 : view->columnWidth(column) - 2 * cell_margin;
      const QFontMetrics& fm = is_header ? captions : cells;
      return fm.elidedText(text, Qt::ElideRight, room) == text;
    };
    for (int column = 2; column <= 5; ++column) {
      const QString caption = header_text(column);
      EXPECT_TRUE(fits(caption, column, true)) << caption.toStdString();
    }
    for (int k = messages::quality_error; k <= messages::quality_very_good; ++k) {
      const QString word = msg(b, k);
      EXPECT_TRUE(fits(word, 2, false)) << word.toStdString();
    }
    for (const char* size : {"999999.99 Mb", "1023 Kb"}) EXPECT_TRUE(fits(size, 3, false));
    for (int row = 0; row < rows(); ++row) {
      EXPECT_TRUE(fits(cell(row, 4), 4, false)) << cell(row, 4).toStdString();
      EXPECT_TRUE(fits(cell(row, 5), 5, false)) << cell(row, 5).toStdString();
    }
  }
}

TEST_F(LanguageTest, NamesPathsAndSizesReadLeftToRightInARightToLeftLayout) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  start_scan();
  QAbstractItemModel* model = find<QTableView>("AdvListView")->model();
  ASSERT_GT(model->rowCount(), 0);
  const QString path = model->data(model->index(0, 1), Qt::DisplayRole).toString();
  EXPECT_TRUE(path.startsWith("C:\\")) << path.toStdString();
  click("ArabicAdvToolButton");
  // Embedded left to right, so "C:\DOCS\" is not shown reordered as "\DOCS\:C".
  for (int column : {0, 1, 3}) {
    const QString text = model->data(model->index(0, column), Qt::DisplayRole).toString();
    EXPECT_TRUE(text.startsWith(QChar(0x202A)) && text.endsWith(QChar(0x202C))) << column;
  }
  EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(),
            QChar(0x202A) + path + QChar(0x202C));
  click("EnglishAdvToolButton");
  EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(), path);
}

TEST_F(LanguageTest, DanishTitleAndHebrewFallbackAboveItsRun) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  click("DanishAdvToolButton");
  EXPECT_EQ(form_->windowTitle(), "Fennick ");  // Danish message 5 is a single blank

  click("IsraelAdvToolButton");
  // Hebrew's run ends at 87: the hide boxes and the Clean Disk texts stay English.
  EXPECT_EQ(filter_->findChild<QCheckBox*>("OverwrittenHTMLCheckBox")->text(),
            msg(10000, messages::hide_overwritten));
  EXPECT_EQ(filter_->findChild<QCheckBox*>("TemporaryHTMLCheckBox")->text(),
            msg(10000, messages::hide_temporary));
  EXPECT_EQ(clean_->windowTitle(), "Fennick" + msg(10000, messages::clean_title_suffix));
  EXPECT_EQ(clean_child<QToolButton>("CleanAdvToolButton")->text(), "Start Clean");
  EXPECT_EQ(find<QToolButton>("CleanAdvToolButton")->text(), "Clean Drive");
  EXPECT_EQ(find<QCheckBox>("KeepFolderHTMLCheckBox")->text(),
            msg(10000, messages::keep_folder_structure));
  // ... while the texts of its run are Hebrew.
  EXPECT_NE(find<QToolButton>("StartAdvToolButton")->text(), "Start Scan");
  EXPECT_EQ(find<QToolButton>("StartAdvToolButton")->text(), msg(5000, messages::start_scan));
}

TEST_F(LanguageTest, TheNextStartComesUpInTheStoredLanguage) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  struct Case {
    const char* button;
    int base;
    QString stored_value;
  };
  for (const Case& c :
       {Case{"GermanAdvToolButton", 30000, "30000"}, Case{"ArabicAdvToolButton", 53000, "53000"},
        Case{"EnglishAdvToolButton", 10000, "(absent)"}}) {
    SCOPED_TRACE(c.button);
    click(c.button);
    EXPECT_EQ(stored("language"), c.stored_value);
    restart();
    EXPECT_EQ(form_->language(), c.base);
    EXPECT_EQ(form_->windowTitle(), "Fennick" + msg(c.base, messages::main_title_suffix));
    EXPECT_EQ(find<QToolButton>("StartAdvToolButton")->text(), msg(c.base, messages::start_scan));
    EXPECT_EQ(filter_->windowTitle(), "Fennick" + msg(c.base, messages::filter_title_suffix));
    // The language was applied before the start line, which is in it too.
    EXPECT_TRUE(log().front().startsWith(msg(c.base, messages::started_at)))
        << log().front().toStdString();
  }
}

TEST_F(LanguageTest, SortBoxGoesBackToNoneWithoutReSortingAndRunButtonsShowIdleTexts) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  start_scan();
  ASSERT_GT(rows(), 3);
  auto* box = find<QComboBox>("SortByALComboBox");
  ASSERT_TRUE(box->isEnabled());
  QStringList scanned;
  for (int r = 0; r < rows(); ++r) scanned << cell(r, 0);
  // The user picks "Name" (entry 1).
  box->setCurrentIndex(1);
  emit box->activated(1);
  QStringList sorted;
  for (int r = 0; r < rows(); ++r) sorted << cell(r, 0);
  ASSERT_NE(sorted, scanned) << "sorting by name must change this fixture's order";

  click("RussianAdvToolButton");
  EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_EQ(box->currentText(), msg(20000, messages::field_none));
  QStringList after;
  for (int r = 0; r < rows(); ++r) after << cell(r, 0);
  EXPECT_EQ(after, sorted) << "the list keeps its order";
}

// The Status and Preview words of the header under the list are clicked where the label
// draws them, in every language and in both reading directions. Where they are is read from
// the drawn label: its white text columns fall into two groups, split by the widest gap.
TEST_F(LanguageTest, TheStatusAndPreviewWordsAreClickedWhereTheyAreDrawn) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  start_scan();
  ASSERT_GT(rows(), 0);
  auto* header = find<QLabel>("HTMLabelStatus");
  auto* memo = find<QWidget>("AdvMemo");
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    SCOPED_TRACE(std::string(languages[i].english_name));
    choose(i);
    find<QTableView>("AdvListView")->clearSelection();
    click_cell(0, 1);  // a row selected: the Preview word shows it
    ASSERT_TRUE(memo->isHidden());
    const QImage drawn = header->grab().toImage();
    std::vector<int> text_columns;
    for (int x = 0; x < drawn.width(); ++x) {
      for (int y = 0; y < drawn.height(); ++y) {
        const QColor c = drawn.pixelColor(x, y);
        if (c.red() > 200 && c.green() > 200 && c.blue() > 200) {
          text_columns.push_back(x);
          break;
        }
      }
    }
    ASSERT_GE(text_columns.size(), 4u);
    std::size_t split = 1;
    for (std::size_t k = 1; k < text_columns.size(); ++k) {
      if (text_columns[k] - text_columns[k - 1] > text_columns[split] - text_columns[split - 1])
        split = k;
    }
    const int first = (text_columns.front() + text_columns[split - 1]) / 2;
    const int second = (text_columns[split] + text_columns.back()) / 2;
    const bool rtl = header->isRightToLeft();
    const int status_x = rtl ? second : first;
    const int preview_x = rtl ? first : second;
    // The word read first is Status.
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(status_x, header->height() / 2));
    EXPECT_FALSE(memo->isHidden()) << "Status at " << status_x;
    click_cell(0, 1);
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(status_x, header->height() / 2));
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(preview_x, header->height() / 2));
    EXPECT_TRUE(memo->isHidden()) << "Preview at " << preview_x;
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(status_x, header->height() / 2));
  }
}

// The toolbar, the destination row and the log header keep their captions whole at the
// window's first size in every language.
TEST_F(LanguageTest, NoToolbarOrRowCaptionIsCutInAnyLanguage) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  ASSERT_TRUE(form_->isVisible());
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    SCOPED_TRACE(std::string(languages[i].english_name));
    choose(i);
    QCoreApplication::processEvents();
    for (const char* name :
         {"AddImageAdvToolButton", "StartAdvToolButton", "DeepScanCheckBox",
          "UndeleteAdvToolButton", "FilterAdvToolButton", "UpdateAdvToolButton",
          "HelpAdvToolButton", "CleanAdvToolButton", "KeepFolderHTMLCheckBox",
          "UndelHTMLStaticText", "OpenLabel", "SortByHTMLabel", "RefreshAdvRepeatButton"}) {
      auto* w = find<QWidget>(name);
      EXPECT_GE(w->width(), w->sizeHint().width()) << name;
    }
    // Neighbours in the toolbar do not overlap, and the last one ends inside the bar.
    auto* bar = find<QWidget>("PanelTop");
    int end = 0;
    QList<QWidget*> row;
    for (QObject* child : bar->children()) {
      auto* w = qobject_cast<QWidget*>(child);
      if (w != nullptr && !w->isHidden()) row.push_back(w);
    }
    std::sort(row.begin(), row.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    for (QWidget* w : row) {
      EXPECT_GE(w->x(), end) << w->objectName().toStdString();
      end = w->x() + w->width();
    }
    EXPECT_LE(end, bar->width());
  }
}

}  // namespace
}  // namespace fennick::testing

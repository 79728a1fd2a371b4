// The main window's layout: named controls in their places and sizes, the language column,
// the resize rules of the status bar, the status channel's dialog-then-line order, and the
// start line written once.
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>

#include "gui_support.h"
#include "messages/message_catalogue.h"

namespace fennick::testing {
namespace {

class LayoutTest : public GuiTest {};

TEST_F(LayoutTest, ControlsHaveTheirPlacesAndSizes) {
  ASSERT_TRUE(open({"fat12.img"}));
  EXPECT_EQ(form_->centralWidget()->size(), QSize(926, 587));
  EXPECT_EQ(form_->windowTitle(), "Fennick -  Main");
  struct Size {
    const char* name;
    int width;   // -1: not fixed
    int height;  // -1: not fixed
  };
  const Size sizes[] = {
      {"PanelTop", -1, 26},         {"PanelLeft", 244, -1},        {"PanelCenterLang", 35, -1},
      {"PanelFilesHeader", -1, 28}, {"SelectFolderPanel", -1, 37}, {"HTMLabelStatus", -1, 25},
      {"PanelBottom", -1, 80},      {"MainStatusBar", 926, 19},
  };
  for (const Size& s : sizes) {
    auto* w = find<QWidget>(s.name);
    ASSERT_NE(w, nullptr);
    if (s.width >= 0) {
      EXPECT_EQ(w->width(), s.width) << s.name;
    }
    if (s.height >= 0) {
      EXPECT_EQ(w->height(), s.height) << s.name;
    }
  }
  // Present and in their start states.
  for (const char* name : {"StartAdvToolButton", "FilterAdvToolButton", "UpdateAdvToolButton",
                           "HelpAdvToolButton", "CleanAdvToolButton", "RefreshAdvRepeatButton"}) {
    EXPECT_TRUE(find<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(find<QWidget>("UndeleteAdvToolButton")->isEnabled());
  EXPECT_FALSE(find<QWidget>("SortByALComboBox")->isEnabled());
  EXPECT_FALSE(find<QWidget>("StopButton")->isEnabled());
  EXPECT_TRUE(find<QWidget>("WipeAdvToolButton")->isHidden());
  EXPECT_TRUE(find<QWidget>("TotalFilesizeHTMLStaticText")->isHidden());
  EXPECT_TRUE(find<QWidget>("AdvNavBarPanelFilesExtHeader")->isHidden());
  EXPECT_TRUE(find<QWidget>("AdvNavBarPanelFilesTreeHeader")->isHidden());
  EXPECT_FALSE(find<QWidget>("AdvNavBarPanelDrivesHeader")->isHidden());
  EXPECT_EQ(find<QLabel>("StatusPanel0")->text(), "Version: " + QString(FENNICK_TEST_VERSION));
  EXPECT_EQ(find<QLabel>("StatusPanel1")->text(), "Filter OFF");
  EXPECT_EQ(find<QLabel>("StatusPanel2")->text(), "Files: 0");
  EXPECT_EQ(find<QLabel>("FastSearchSection")->text(), "Fast Search (1)");

  // The language column: one button per language, in table order, 19 px apart, each with
  // its language's own name as hint.
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    const std::string name(languages[i].button);
    auto* button = find<QToolButton>(name.c_str());
    ASSERT_NE(button, nullptr);
    // Where it lies in the column, the flag list scrolled to its top.
    EXPECT_EQ(QRect(button->mapTo(find<QWidget>("PanelCenterLang"), QPoint(0, 0)), button->size()),
              QRect(4, 31 + 19 * static_cast<int>(i), 26, 18))
        << name;
    EXPECT_EQ(button->toolTip().toStdString(), std::string(languages[i].own_name)) << name;
  }
}

// The log grows with the window, by half of what the window grows, and shrinks back.
TEST_F(LayoutTest, TheLogGrowsWithATallerWindow) {
  ASSERT_TRUE(open({"fat12.img"}));
  auto* bottom = find<QWidget>("PanelBottom");
  auto* list = find<QWidget>("AdvListView");
  const int list_height = list->height();
  form_->resize(926, 887);
  QCoreApplication::processEvents();
  EXPECT_EQ(bottom->height(), 80 + 150);
  EXPECT_EQ(list->height(), list_height + 150);
  form_->resize(926, 587);
  QCoreApplication::processEvents();
  EXPECT_EQ(bottom->height(), 80);
  EXPECT_EQ(list->height(), list_height);
}

TEST_F(LayoutTest, ResizeGivesTheProgressPanelTheRestAndPlacesStop) {
  ASSERT_TRUE(open({"fat12.img"}));
  struct Case {
    int window_width;
    int progress_width;
    int stop_left;
  };
  for (const Case c : {Case{900, 535, 837}, Case{1200, 835, 1137}, Case{926, 561, 863}}) {
    form_->resize(c.window_width, 587);
    QCoreApplication::processEvents();
    ASSERT_EQ(find<QWidget>("MainStatusBar")->width(), c.window_width);
    EXPECT_EQ(find<QProgressBar>("ProgressBar")->width(), c.progress_width);
    EXPECT_EQ(find<QWidget>("StopButton")->x(), c.stop_left);
    // The Sort By box ends 5 px before the header's right end, its label 5 px before it.
    auto* header = find<QWidget>("HTMLabelFiles");
    auto* box = find<QWidget>("SortByALComboBox");
    auto* label = find<QWidget>("SortByHTMLabel");
    EXPECT_EQ(box->x() + box->width(), header->width() - 5);
    EXPECT_EQ(label->x() + label->width(), box->x() - 5);
    auto* panel = find<QWidget>("SelectFolderPanel");
    auto* open_label = find<QWidget>("OpenLabel");
    auto* edit = find<QWidget>("SaveAdvDirectoryEdit");
    EXPECT_EQ(open_label->x(), panel->width() - open_label->width() - 15);
    EXPECT_EQ(edit->width(), panel->width() - edit->x() - open_label->width() - 20);
  }
}

TEST_F(LayoutTest, OutTextShowsTheDialogBeforeTheLogLine) {
  ASSERT_TRUE(open({"fat12.img"}));
  // The start line is written once, at the first activation; closing a dialog activates the
  // window again without a second one.
  ASSERT_EQ(log().size(), 1);
  EXPECT_TRUE(log().front().startsWith(" Application was started at "));
  struct Case {
    messages::DialogKind kind;
    QMessageBox::Icon icon;
  };
  for (const Case c : {Case{messages::DialogKind::error, QMessageBox::Critical},
                       Case{messages::DialogKind::information, QMessageBox::Information},
                       Case{messages::DialogKind::plain, QMessageBox::NoIcon}}) {
    const int before = static_cast<int>(log().size());
    bool seen = false;
    on_next_dialog([&](QWidget* dialog) {
      auto* box = qobject_cast<QMessageBox*>(dialog);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), " Disk says hello");
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(static_cast<int>(log().size()), before);  // not logged yet
      seen = true;
      box->accept();
    });
    form_->out_text(" Disk says hello", c.kind, true);
    EXPECT_TRUE(seen);
    ASSERT_EQ(static_cast<int>(log().size()), before + 1);
    EXPECT_EQ(log().back(), " Disk says hello");
  }
  // Without the flag no dialog; an empty line is a line of its own.
  form_->out_text("", messages::DialogKind::error, false);
  form_->out_text(" next", messages::DialogKind::plain, false);
  const QStringList lines = log();
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[lines.size() - 2], "");
  EXPECT_EQ(lines.back(), " next");
  EXPECT_EQ(lines.filter(" Application was started at ").size(), 1);
}

}  // namespace
}  // namespace fennick::testing

// The drive tree: ticking by click and by the menu, the section caption, Refresh (which
// keeps the last scan's results only while their drives are unchanged) and adding an image
// through the file dialog.
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "catalogue/catalogue_view.h"
#include "gui_support.h"

namespace fennick::testing {
namespace {

class DriveTreeTest : public GuiTest {
 protected:
  // Tick state of every drive: the list's and the tree's, which must agree.
  std::vector<bool> ticks() const {
    std::vector<bool> t;
    QTreeWidgetItem* root = find<QTreeWidget>("DriveHTMLTreeview")->topLevelItem(0);
    EXPECT_EQ(root->childCount(), static_cast<int>(drives().size()));
    for (std::size_t i = 0; i < drives().size(); ++i) {
      const bool node_ticked =
          root->child(static_cast<int>(i))->data(0, Qt::CheckStateRole).toInt() == Qt::Checked;
      EXPECT_EQ(node_ticked, drives()[i].ticked) << "drive " << i;
      t.push_back(drives()[i].ticked);
    }
    return t;
  }
};

TEST_F(DriveTreeTest, TickingByClickAndMenu) {
  ASSERT_TRUE(open({"fat12.img", "fat16.img", "fat32.img"}));
  QTreeWidgetItem* root = find<QTreeWidget>("DriveHTMLTreeview")->topLevelItem(0);
  EXPECT_EQ(root->text(0), "My Computer");
  EXPECT_EQ(root->child(0)->text(0), "C:\\  fat12.img (1.00 MB)");
  EXPECT_EQ(root->child(1)->text(0), "D:\\  fat16.img (32.00 MB)");
  EXPECT_EQ(find<QLabel>("FastSearchSection")->text(), "Fast Search (3)");
  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<bool> ticks;
  };
  const Step steps[] = {
      {"start-up", [] {}, {true, false, false}},
      {"reverse", [&] { find<QAction>("MenuItem5")->trigger(); }, {false, true, true}},
      {"click the root", [&] { click_drive(-1); }, {false, true, true}},
      {"click D:", [&] { click_drive(1); }, {false, false, true}},
      {"click D: again", [&] { click_drive(1); }, {false, true, true}},
      {"click C:", [&] { click_drive(0); }, {true, true, true}},
      {"unselect all", [&] { find<QAction>("MenuItem4")->trigger(); }, {false, false, false}},
      {"select all", [&] { find<QAction>("MenuItem3")->trigger(); }, {true, true, true}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(ticks(), step.ticks);
  }
}

TEST_F(DriveTreeTest, RefreshKeepsResultsOfUnchangedDrivesAndClearsOthers) {
  temp_ = std::make_unique<TempDir>();
  const std::string copy = temp_->path() + "/copy16.img";
  std::filesystem::copy_file(fixture_image("fat16.img"), copy);
  ASSERT_TRUE(open({"fat12.img", copy}));
  find<QAction>("MenuItem3")->trigger();
  click_drive(0);  // only D:, the copy
  start_scan();
  ASSERT_EQ(rows(), 20);
  const std::size_t folders = found().folders(drives()[1].drive_index).size();
  ASSERT_GT(folders, 0u);

  // Nothing changed: the results, the folder lists and the ticks stay.
  click("RefreshAdvRepeatButton");
  EXPECT_EQ(ticks(), (std::vector<bool>{false, true}));
  EXPECT_EQ(rows(), 20);
  EXPECT_EQ(found().deleted_count(), 20);
  EXPECT_EQ(found().folders(drives()[1].drive_index).size(), folders);
  EXPECT_EQ(find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0)->childCount(), 1);

  // The scanned image is gone: its entry no longer exists, so nothing may point at it.
  std::filesystem::remove(copy);
  click("RefreshAdvRepeatButton");
  EXPECT_EQ(drives().size(), 1u);
  EXPECT_EQ(found().deleted_count(), 0);
  EXPECT_EQ(rows(), 0);
  EXPECT_EQ(find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0)->childCount(), 0);
  EXPECT_FALSE(find<QWidget>("UndeleteAdvToolButton")->isEnabled());
  EXPECT_FALSE(find<QWidget>("SortByALComboBox")->isEnabled());
  EXPECT_TRUE(find<QWidget>("AdvNavBarPanelFilesTreeHeader")->isHidden());
  EXPECT_EQ(find<QLabel>("StatusPanel2")->text(), "Files: 0");
  EXPECT_EQ(find<QLabel>("FastSearchSection")->text(), "Fast Search (1)");
  EXPECT_TRUE(log().last().startsWith(" Cannot list " + QString::fromStdString(copy)));
}

// Image files dropped on the drive tree are added as drives, each captioned with its name;
// a drop of no local file is not taken.
TEST_F(DriveTreeTest, DroppedImageFilesBecomeDrives) {
  ASSERT_TRUE(open({"fat12.img"}));
  QWidget* viewport = find<QTreeWidget>("DriveHTMLTreeview")->viewport();
  const QPoint at(10, 10);
  QMimeData nothing;
  nothing.setText("not a file");
  QDragEnterEvent refused(at, Qt::CopyAction, &nothing, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &refused);
  EXPECT_FALSE(refused.isAccepted());

  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString(fixture_image("fat16.img"))),
                 QUrl::fromLocalFile(QString::fromStdString(fixture_image("fat32.img")))});
  QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(viewport, &drop);
  ASSERT_EQ(drives().size(), 3u);
  const QTreeWidgetItem* top = find<QTreeWidget>("DriveHTMLTreeview")->topLevelItem(0);
  EXPECT_EQ(top->child(0)->text(0).toStdString(), "C:\\  fat12.img (1.00 MB)");
  EXPECT_EQ(top->child(1)->text(0).toStdString(), "D:\\  fat16.img (32.00 MB)");
  EXPECT_EQ(top->child(2)->text(0).toStdString(), "E:\\  fat32.img (40.00 MB)");
}

TEST_F(DriveTreeTest, AddImageAppendsTheNextDriveThroughTheFileDialog) {
  ASSERT_TRUE(open({"fat12.img"}));
  find<QAction>("MenuItem4")->trigger();  // C: unticked, which the new drive must not undo
  start_scan();                           // nothing ticked: no results to keep or lose
  const std::string image = fixture_image("fat32.img");
  bool dialog_seen = false;
  on_next_dialog([&](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    ASSERT_NE(files, nullptr);
    dialog_seen = true;
    files->selectFile(QString::fromStdString(image));
    static_cast<QDialog*>(files)->accept();
  });
  find<QAction>("AddImageMenuItem")->trigger();
  ASSERT_TRUE(dialog_seen);
  ASSERT_EQ(drives().size(), 2u);
  EXPECT_EQ(drives()[1].drive_letter, 'd');
  EXPECT_EQ(drives()[1].source_path, image);
  EXPECT_EQ(ticks(), (std::vector<bool>{false, false}));
  EXPECT_EQ(find<QLabel>("FastSearchSection")->text(), "Fast Search (2)");
  EXPECT_EQ(find<QTreeWidget>("DriveHTMLTreeview")->topLevelItem(0)->child(1)->text(0),
            "D:\\  fat32.img (40.00 MB)");

  // The new drive scans like any other.
  click_drive(1);
  start_scan();
  EXPECT_EQ(run_log().filter(" Scan D:\\ ...").size(), 1);
  EXPECT_EQ(rows(), 20);

  // The same image again, or a file that is no volume, is refused with a dialog; the scan
  // results of D: stay, since D: is unchanged.
  temp_ = std::make_unique<TempDir>();
  const std::string folder = temp_->path() + "/not-an-image";
  std::filesystem::create_directory(folder);
  const std::string blank = temp_->path() + "/blank.img";
  std::filesystem::resize_file((std::ofstream(blank), blank), 1 << 20);
  for (const std::string& path : {image, folder, blank}) {
    bool refused = false;
    on_next_dialog([&](QWidget* dialog) {
      refused = true;
      dialog->close();
    });
    EXPECT_FALSE(form_->add_image(path)) << path;
    EXPECT_TRUE(refused) << path;
    EXPECT_EQ(drives().size(), 2u);
    EXPECT_EQ(rows(), 20);
  }
  EXPECT_EQ(
      run_log()
          .filter(QString::fromStdString(" Not a volume or disk image that can be read: " + blank))
          .size(),
      1);

  // The toolbar button opens the same dialog, titled and filtered in the window's language;
  // it is off while a run reads the drives.
  auto* button = find<QToolButton>("AddImageAdvToolButton");
  EXPECT_EQ(button->text(), "Add image...");
  QString title;
  QStringList filters;
  on_next_dialog([&](QWidget* dialog) {
    title = dialog->windowTitle();
    filters = qobject_cast<QFileDialog*>(dialog)->nameFilters();
    static_cast<QDialog*>(dialog)->reject();
  });
  click("AddImageAdvToolButton");
  EXPECT_EQ(title, "Add image...");
  ASSERT_EQ(filters.size(), 2);
  EXPECT_TRUE(filters[0].startsWith("Volume and disk images (*.img ")) << filters[0].toStdString();
  EXPECT_EQ(filters[1], "All files (*)");
  EXPECT_EQ(drives().size(), 2u);
  form_->disable_all();
  EXPECT_FALSE(button->isEnabled());
  form_->enable_all();
  EXPECT_TRUE(button->isEnabled());
}

}  // namespace
}  // namespace fennick::testing

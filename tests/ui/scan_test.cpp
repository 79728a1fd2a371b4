// The scan workflow through the real window: ticked drives scanned in order with their log
// lines, the list and folder tree it builds (checked against the fixtures' truth files),
// the disable set while it runs, the idle states after it, and stopping it midway.
#include <QCheckBox>
#include <QComboBox>
#include <QPixmap>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cctype>

#include "catalogue/catalogue_view.h"
#include "gui_support.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "ui/file_list.h"

namespace fennick::testing {
namespace {

class ScanTest : public GuiTest {};

// A path component as the scan shows it: deleted 8.3 names lose their first character, so
// components are compared from the second character on, without case.
bool same_component(const std::string& shown, const std::string& written) {
  if (shown.empty() || written.empty()) return shown == written;
  if (shown.size() != written.size()) return false;
  std::string a = shown.substr(1), b = written.substr(1);
  auto fold = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return fold(a) == fold(b);
}

std::vector<std::string> components(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == separator) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// Does the list row (shown name, "C:\A\B\" path, size) stand for the truth entry.
bool row_matches(const QString& name, const QString& path, std::int64_t size, char letter,
                 const TruthEntry& truth) {
  if (size != truth.size) return false;
  std::vector<std::string> want = components(truth.path, '/');
  const std::string path_text = path.toStdString();
  if (path_text.size() < 3 || std::toupper(static_cast<unsigned char>(path_text[0])) != letter)
    return false;
  std::vector<std::string> have = components(path_text.substr(3), '\\');
  have.push_back(name.toStdString());
  if (have.size() != want.size()) return false;
  for (std::size_t i = 0; i < have.size(); ++i) {
    if (!same_component(have[i], want[i])) return false;
  }
  return true;
}

// Every row of the drive stands for a deleted file of its truth file, and every deleted file
// with content has its row.
void expect_rows_match_truth(const catalogue::Catalogue& catalogue,
                             const catalogue::CatalogueView& view,
                             const std::function<QString(int, int)>& cell, int rows, char letter,
                             const std::string& image) {
  const std::vector<TruthEntry> truth = read_truth(image);
  std::vector<bool> found(truth.size(), false);
  for (int r = 0; r < rows; ++r) {
    if (cell(r, 1).toStdString()[0] != letter) continue;
    const std::int64_t size =
        catalogue.files()[static_cast<std::size_t>(view.row_map[static_cast<std::size_t>(r)])].size;
    bool any = false;
    for (std::size_t t = 0; t < truth.size(); ++t) {
      if (truth[t].state == "live") continue;
      if (row_matches(cell(r, 0), cell(r, 1), size, letter, truth[t])) {
        found[t] = true;
        any = true;
      }
    }
    EXPECT_TRUE(any) << image << ": row " << cell(r, 1).toStdString() << cell(r, 0).toStdString();
  }
  for (std::size_t t = 0; t < truth.size(); ++t) {
    if (truth[t].state != "live" && truth[t].size > 0) {
      EXPECT_TRUE(found[t]) << image << ": no row for " << truth[t].path;
    }
  }
}

TEST_F(ScanTest, TickedDrivesAreScannedInOrderWithTheirLogLines) {
  temp_ = std::make_unique<TempDir>();
  const std::string blank = make_blank_image(temp_->path(), "blank.img");
  const bool have_ntfs = !fixture_image("ntfs.img").empty();
  struct Case {
    std::vector<std::string> images;
    std::vector<int> ticked;
    QStringList lines;  // "%n" is the number of files found
  };
  std::vector<Case> cases = {
      {{"fat16.img"},
       {0},
       {" Scan C:\\ ...", " End scan C:\\", " Building list. Please wait ... ",
        " Files with potentially recoverable content: %n"}},
      {{blank, "fat12.img"},
       {0, 1},
       {" Scan C:\\ ...", " ERROR: Drive Error", " Scan D:\\ ...", " End scan D:\\",
        " Building list. Please wait ... ", " Files with potentially recoverable content: %n"}},
      {{"fat12.img", "fat32.img"},
       {},
       {" Files with potentially recoverable content: 0", " No drives to scan"}},
      {{blank},
       {0},
       {" Scan C:\\ ...", " ERROR: Drive Error", " Files with potentially recoverable content: 0",
        " No drives to scan"}},
  };
  if (have_ntfs) {
    cases.push_back(
        {{"fat32.img", "ntfs.img", "fat12.img"},
         {2, 1},
         {" Scan D:\\ ...", " End scan D:\\", " Scan E:\\ ...", " End scan E:\\",
          " Building list. Please wait ... ", " Files with potentially recoverable content: %n"}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.images.back());
    ASSERT_TRUE(open(c.images));
    tick_only(c.ticked);
    start_scan();
    QStringList expected = c.lines;
    expected.replaceInStrings("%n", QString::number(found().deleted_count()));
    EXPECT_EQ(run_log(), expected);
    // The list shows every record; panel 2 counts them.
    EXPECT_EQ(rows(), found().deleted_count());
    EXPECT_EQ(find<QLabel>("StatusPanel2")->text(),
              "Files: " + QString::number(found().deleted_count()));
    // One folder-tree node per ticked drive, failed ones included, sorted by caption.
    auto* folders = find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0);
    ASSERT_EQ(folders->childCount(), static_cast<int>(c.ticked.size()));
    std::vector<int> ticked = c.ticked;
    std::sort(ticked.begin(), ticked.end());
    for (std::size_t i = 0; i < ticked.size(); ++i) {
      EXPECT_EQ(folders->child(static_cast<int>(i))->text(0),
                QString(QChar('C' + ticked[i])) + ":\\");
    }
    // What the rows say, against the fixture's own record of what was deleted.
    for (int d : c.ticked) {
      const std::string& image = c.images[static_cast<std::size_t>(d)];
      if (image.find('/') != std::string::npos) {
        EXPECT_EQ(folders
                      ->child(static_cast<int>(std::find(ticked.begin(), ticked.end(), d) -
                                               ticked.begin()))
                      ->childCount(),
                  0);
        continue;
      }
      expect_rows_match_truth(
          found(), view(), [this](int r, int col) { return cell(r, col); }, rows(),
          static_cast<char>('C' + d), image);
    }
    TearDown();
  }
}

TEST_F(ScanTest, FolderTreeHoldsTheScannedFoldersNestedAndSorted) {
  ASSERT_TRUE(open({"fat16.img"}));
  start_scan();
  auto* drive = find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0)->child(0);
  ASSERT_NE(drive, nullptr);
  QStringList top;
  for (int i = 0; i < drive->childCount(); ++i) top << drive->child(i)->text(0);
  QStringList sorted = top;
  std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
    return QString::localeAwareCompare(a, b) < 0;
  });
  EXPECT_EQ(top, sorted);
  EXPECT_TRUE(top.contains("DOCS"));
  EXPECT_TRUE(top.contains("Old Projects"));
  // Old Projects > 2019 Budget > Drafts, three deleted levels.
  QTreeWidgetItem* node = drive;
  for (const char* caption : {"Old Projects", "2019 Budget", "Drafts"}) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount(); ++i) {
      if (node->child(i)->text(0) == caption) next = node->child(i);
    }
    ASSERT_NE(next, nullptr) << caption;
    node = next;
  }
  // Selecting it lists the files that lay directly in it.
  select_folder({"C:\\", "Old Projects", "2019 Budget", "Drafts"});
  QStringList names;
  for (int r = 0; r < rows(); ++r) names << cell(r, 0);
  names.sort();
  EXPECT_EQ(names, QStringList({"draft v1.txt", "draft v2.txt"}));
}

// The Deep scan box beside Start Scan: a volume formatted again over its folders shows
// nothing deleted to the ordinary scan, and the old folders' files under "Lost folders" when
// the box is ticked.
TEST_F(ScanTest, TheDeepScanBoxFindsTheFoldersOfAFormattedVolume) {
  if (!have_program("mkfs.fat") || !have_program("mcopy")) GTEST_SKIP() << "needs mtools";
  temp_ = std::make_unique<TempDir>();
  const std::string image = temp_->path() + "/formatted.img";
  const std::string q = shell_quote(image);
  const std::string mkfs = "mkfs.fat -F 32 -s 8 --invariant " + q + " >/dev/null";
  ASSERT_EQ(run_command("truncate -s 300M " + q + " && " + mkfs +
                        " && export MTOOLS_SKIP_CHECK=1 && head -c 20000 /dev/urandom > " +
                        shell_quote(temp_->path() + "/data") + " && mmd -i " + q +
                        " ::/Trip ::/Trip/Day1 && mcopy -i " + q + " " +
                        shell_quote(temp_->path() + "/data") + " ::/Trip/Day1/photo.jpg && " + mkfs)
                .exit_code,
            0);
  ASSERT_TRUE(open({image}));
  auto* box = find<QCheckBox>("DeepScanCheckBox");
  EXPECT_EQ(box->text().toStdString(), message(messages::deep_scan));
  EXPECT_FALSE(box->isChecked());
  start_scan();
  EXPECT_EQ(rows(), 0);
  box->setChecked(true);
  start_scan();
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(cell(0, 0), "photo.jpg");
  EXPECT_EQ(record(0).found_by_deep_scan, 1);
  const std::string path = record(0).path.str();
  EXPECT_TRUE(path.starts_with("C:\\" + message(messages::lost_folders) + "\\")) << path;
  EXPECT_TRUE(path.ends_with("\\Day1\\")) << path;
  // The list's narrow last column marks the deep find with an icon named "Deep scan".
  const QAbstractItemModel* model = find<QTableView>("AdvListView")->model();
  const QModelIndex mark = model->index(0, model->columnCount() - 1);
  EXPECT_FALSE(model->data(mark, Qt::DecorationRole).value<QPixmap>().isNull());
  EXPECT_EQ(model->data(mark, Qt::ToolTipRole).toString().toStdString(),
            message(messages::deep_scan));
  box->setChecked(false);
  ASSERT_TRUE(open({"fat16.img"}));
  start_scan();
  ASSERT_GT(rows(), 0);
  const QAbstractItemModel* again = find<QTableView>("AdvListView")->model();
  EXPECT_TRUE(again->data(again->index(0, again->columnCount() - 1), Qt::DecorationRole).isNull())
      << "files of the ordinary scan carry no mark";
}

// The controls that a run leaves usable, read from inside the run's event pump.
struct ControlStates {
  bool language, drives, list, stop, start, undelete, clean, sort, destination, header;
  bool undelete_menu, types_shown, folders_shown;
  QString start_caption;
  bool operator==(const ControlStates&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ControlStates& s) {
  return out << "lang " << s.language << " drives " << s.drives << " list " << s.list << " stop "
             << s.stop << " start " << s.start << " undelete " << s.undelete << " clean " << s.clean
             << " sort " << s.sort << " dest " << s.destination << " header " << s.header
             << " menu " << s.undelete_menu << " types " << s.types_shown << " folders "
             << s.folders_shown << " '" << s.start_caption.toStdString() << "'";
}

TEST_F(ScanTest, RunStatesDuringAndAfterScans) {
  temp_ = std::make_unique<TempDir>();
  const std::string blank = make_blank_image(temp_->path(), "blank.img");
  ASSERT_TRUE(open({"fat16.img", blank}));
  auto states = [this] {
    ControlStates s;
    s.language = find<QWidget>("PanelCenterLang")->isEnabled();
    s.drives = find<QWidget>("DriveHTMLTreeview")->isEnabled() &&
               find<QWidget>("RefreshAdvRepeatButton")->isEnabled();
    s.list = find<QWidget>("AdvListView")->isEnabled();
    s.stop = find<QWidget>("StopButton")->isEnabled();
    s.start = find<QWidget>("StartAdvToolButton")->isEnabled();
    s.undelete = find<QWidget>("UndeleteAdvToolButton")->isEnabled();
    s.clean = find<QWidget>("CleanAdvToolButton")->isEnabled();
    s.sort = find<QWidget>("SortByALComboBox")->isEnabled();
    s.destination = find<QWidget>("SaveAdvDirectoryEdit")->isEnabled();
    s.header = find<QWidget>("HTMLabelStatus")->isEnabled();
    s.undelete_menu = find<QAction>("UndeleteSelected1")->isEnabled();
    s.types_shown = !find<QWidget>("AdvNavBarPanelFilesExtHeader")->isHidden();
    s.folders_shown = !find<QWidget>("AdvNavBarPanelFilesTreeHeader")->isHidden();
    s.start_caption = find<QToolButton>("StartAdvToolButton")->text();
    return s;
  };
  // (The wipe menu entry is hidden outside admin mode, and a hidden action reads as disabled.)
  const ControlStates start_up{true,  true, true, false, true,  false, true,
                               false, true, true, false, false, false, "Start Scan"};
  const ControlStates scanning{false, false, false, true,  true,  false, false,
                               false, false, false, false, false, false, "Stop Scan"};
  const ControlStates found{true, true, true, false, true, true, true,
                            true, true, true, true,  true, true, "Start Scan"};
  EXPECT_EQ(states(), start_up);

  struct Run {
    int drive;
    ControlStates after;
  };
  // A scan with results, then one without: the second takes back what the first enabled.
  for (const Run& run : {Run{0, found}, Run{1, start_up}, Run{0, found}}) {
    tick_only({run.drive});
    std::vector<ControlStates> seen;
    int list_rows_during = -1;
    bool scanning_state = true;
    form_->pending_events_hook = [&] {
      if (seen.empty()) list_rows_during = rows();
      seen.push_back(states());
      scanning_state = scanning_state && form_->run_state() == ui::RunState::scanning;
    };
    const bool engine_pumps = run.drive == 0;
    start_scan();
    form_->pending_events_hook = nullptr;
    if (engine_pumps) {
      ASSERT_FALSE(seen.empty());
      EXPECT_EQ(seen.front(), scanning);
      EXPECT_EQ(seen.back(), scanning);
      EXPECT_EQ(list_rows_during, 0);
      EXPECT_TRUE(scanning_state);
    }
    EXPECT_EQ(states(), run.after) << "after scanning drive " << run.drive;
    EXPECT_EQ(form_->run_state(), ui::RunState::idle);
    EXPECT_EQ(find<QComboBox>("SortByALComboBox")->currentIndex(), 0);
  }
}

TEST_F(ScanTest, StopMidwayKeepsWhatWasFoundAndSkipsTheOtherDrives) {
  // Stop by the Stop Scan caption of the start button, and by the status bar's Stop button.
  for (const char* stop_button : {"StartAdvToolButton", "StopButton"}) {
    SCOPED_TRACE(stop_button);
    ASSERT_TRUE(open({"fat12.img", "fat16.img", "fat32.img"}));
    find<QAction>("MenuItem3")->trigger();  // all three
    bool pressed = false;
    form_->pending_events_hook = [&] {
      if (!pressed && found().deleted_count() >= 3) {
        pressed = true;
        click(stop_button);
      }
    };
    start_scan();
    form_->pending_events_hook = nullptr;
    ASSERT_TRUE(pressed);
    const std::int32_t kept = found().deleted_count();
    EXPECT_GE(kept, 3);
    EXPECT_LT(kept, 20);  // fat12.img holds 20 deleted files with content
    const QStringList lines = run_log();
    EXPECT_EQ(
        lines,
        QStringList({" Scan C:\\ ...", " Process interrupted", " Building list. Please wait ... ",
                     " Files with potentially recoverable content: " + QString::number(kept)}));
    EXPECT_EQ(rows(), kept);
    for (int r = 0; r < rows(); ++r) EXPECT_TRUE(cell(r, 1).startsWith("C:\\"));
    EXPECT_EQ(find<QToolButton>("StartAdvToolButton")->text(), "Start Scan");
    EXPECT_FALSE(find<QWidget>("StopButton")->isEnabled());

    // The next run starts afresh (the stop request is cleared) and scans everything.
    start_scan();
    EXPECT_EQ(found().deleted_count(), 60);
    EXPECT_EQ(find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0)->childCount(), 3);
    TearDown();
  }
}

}  // namespace
}  // namespace fennick::testing

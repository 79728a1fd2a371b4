// The type and folder trees after a scan: the groups found with their counts in caption
// order, what selecting a group, a folder, a drive and the root lists, the type tree's
// selection following the list, deleted folders' own icon, and how folder lists nest, also
// in MFT-number order and when corrupt.
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "catalogue/catalogue_view.h"
#include "gui_support.h"
#include "messages/program_texts.h"
#include "ui/tree_roles.h"

namespace fennick::testing {
namespace {

class TypeTreeTest : public GuiTest {};

QStringList child_captions(QTreeWidgetItem* node) {
  QStringList captions;
  for (int i = 0; i < node->childCount(); ++i) captions << node->child(i)->text(0);
  return captions;
}

// The deleted files of a fixture that have content, keyed by folder ("/" for the root).
std::multimap<std::string, TruthEntry> files_by_folder(const std::string& image) {
  std::multimap<std::string, TruthEntry> by_folder;
  for (const TruthEntry& e : read_truth(image)) {
    if (e.state == "live" || e.size == 0) continue;
    const std::size_t slash = e.path.rfind('/');
    by_folder.emplace(slash == 0 ? "/" : e.path.substr(0, slash), e);
  }
  return by_folder;
}

TEST_F(TypeTreeTest, ShowsTheGroupsFoundWithCountsInCaptionOrder) {
  if (!open({"fat16.img"})) GTEST_SKIP() << "fixture missing";
  start_scan();
  auto* tree = find<QTreeWidget>("TypesTreeView");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* root = tree->topLevelItem(0);
  EXPECT_EQ(root->text(0), "My Computer");
  EXPECT_TRUE(root->isExpanded());
  // From the fixture's 20 deleted files with content: .docx, .csv, .BIN and .DAT are in no
  // group of their own.
  EXPECT_EQ(child_captions(root),
            QStringList({"JPEG Standard Graphics (1)", "MS Excel WorkSheet (1)",
                         "MS Word Documents (1)", "Other Files (7)", "PDF Document (1)",
                         "PNG Graphics (1)", "Text Documents (7)", "ZIP compression (1)"}));
  for (int i = 0; i < root->childCount(); ++i) EXPECT_FALSE(root->child(i)->icon(0).isNull());
}

TEST_F(TypeTreeTest, SelectingANodeListsItsFiles) {
  if (!open({"fat16.img"})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const auto by_folder = files_by_folder("fat16.img");
  const int all = static_cast<int>(by_folder.size());
  ASSERT_EQ(rows(), all);

  // Type groups: every listed row has the group's extension, and the counts add up.
  auto* types = find<QTreeWidget>("TypesTreeView");
  QTreeWidgetItem* type_root = types->topLevelItem(0);
  const struct {
    const char* caption;
    int rows;
    const char* extension;
  } groups[] = {{"Text Documents (7)", 7, ".TXT"},
                {"JPEG Standard Graphics (1)", 1, ".JPG"},
                {"MS Word Documents (1)", 1, ".DOC"}};
  for (const auto& g : groups) {
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < type_root->childCount(); ++i) {
      if (type_root->child(i)->text(0) == g.caption) node = type_root->child(i);
    }
    ASSERT_NE(node, nullptr) << g.caption;
    types->setCurrentItem(node);
    EXPECT_EQ(rows(), g.rows) << g.caption;
    for (int r = 0; r < rows(); ++r)
      EXPECT_TRUE(cell(r, 0).toUpper().endsWith(g.extension)) << g.caption;
  }
  types->setCurrentItem(type_root);
  EXPECT_EQ(rows(), all);

  // Folders: a drive lists its root directory, a folder only what lay directly in it.
  const struct {
    QStringList captions;
    std::string folder;
  } folders[] = {
      {{"C:\\"}, "/"},
      {{"C:\\", "DOCS"}, "/DOCS"},
      {{"C:\\", "DOCS", "Reports", "2024", "Quarterly"}, "/DOCS/Reports/2024/Quarterly"},
      {{"C:\\", "Old Projects", "2019 Budget"}, "/Old Projects/2019 Budget"},
  };
  for (const auto& f : folders) {
    select_folder(f.captions);
    const int want = static_cast<int>(by_folder.count(f.folder));
    ASSERT_GT(want, 0) << f.folder;
    EXPECT_EQ(rows(), want) << f.folder;
    const QString path =
        "C:" + QString::fromStdString(f.folder == "/" ? "/" : f.folder + "/").replace('/', '\\');
    for (int r = 0; r < rows(); ++r) EXPECT_EQ(cell(r, 1), path) << f.folder;
  }
  select_folder({});
  EXPECT_EQ(rows(), all);

  // Switching panels shows every file again, whatever was selected.
  select_folder({"C:\\", "DOCS"});
  ASSERT_LT(rows(), all);
  form_->AdvNavBarLeftPanelActivate(1);
  EXPECT_EQ(rows(), all);
}

// The type tree never keeps a node selected that no longer says what the list shows: after
// switching panels the root (every file), after choosing a folder nothing, under a filter
// the group still shown. So a group chosen before can be chosen again and lists its files.
TEST_F(TypeTreeTest, SelectionFollowsWhatTheListShows) {
  if (!open({"fat16.img"})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const int all = rows();
  const int in_docs = static_cast<int>(files_by_folder("fat16.img").count("/DOCS"));
  auto* types = find<QTreeWidget>("TypesTreeView");
  QTreeWidgetItem* root = types->topLevelItem(0);
  QTreeWidgetItem* text = nullptr;
  for (int i = 0; i < root->childCount(); ++i) {
    if (root->child(i)->text(0) == "Text Documents (7)") text = root->child(i);
  }
  ASSERT_NE(text, nullptr);
  const auto name_filter = [&](const QString& part) {
    on_next_dialog([&](QWidget*) {
      filter_->findChild<QCheckBox*>("NameHTMLCheckBox")->setChecked(true);
      filter_->findChild<QLineEdit*>("NameAdvEdit")->setText(part);
      QTest::mouseClick(filter_->findChild<QWidget*>("SetAdvToolButton"), Qt::LeftButton);
    });
    click("FilterAdvToolButton");
  };
  // Files of the scan with an "r" in their name, of the text group or of any.
  const std::uint16_t text_group =
      static_cast<std::uint16_t>(text->data(0, ui::role_group).toUInt());
  int r_in_group = 0, r_anywhere = 0;
  for (const catalogue::FoundFile& f : found().files()) {
    if (catalogue::fold_ascii_upper(f.name.view()).find('R') == std::string::npos) continue;
    ++r_anywhere;
    if (f.type_group == text_group) ++r_in_group;
  }
  ASSERT_GT(r_in_group, 0);
  ASSERT_LT(r_in_group, r_anywhere) << "the filter must show more than the group's files";
  struct Step {
    const char* what;
    std::function<void()> act;
    QTreeWidgetItem* current;  // null: no node
    int rows;
  };
  const Step steps[] = {
      {"after the scan", [] {}, root, all},
      {"a group", [&] { types->setCurrentItem(text); }, text, 7},
      {"switching panels", [&] { form_->AdvNavBarLeftPanelActivate(2); }, root, all},
      {"the same group again", [&] { types->setCurrentItem(text); }, text, 7},
      {"a folder",
       [&] {
         select_folder({"C:\\", "DOCS"});
       },
       nullptr, in_docs},
      {"back to the type panel", [&] { form_->AdvNavBarLeftPanelActivate(1); }, root, all},
      {"the group once more", [&] { types->setCurrentItem(text); }, text, 7},
      {"a name filter over the group", [&] { name_filter("r"); }, text, r_in_group},
      {"the root under the filter", [&] { types->setCurrentItem(root); }, root, r_anywhere},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(rows(), step.rows);
    EXPECT_EQ(types->currentItem(), step.current);
    const QList<QTreeWidgetItem*> selected = types->selectedItems();
    if (step.current) {
      EXPECT_EQ(selected, QList<QTreeWidgetItem*>({step.current}));
    } else {
      EXPECT_TRUE(selected.isEmpty());
    }
  }
}

// Deleted folders, the deep scan's "Lost folders" and the folders under it among them, have
// an icon of their own; every live folder has the other one.
TEST_F(TypeTreeTest, DeletedFoldersHaveTheirOwnIcon) {
  struct Case {
    const char* image;
    bool deep;
    const char* must_be_deleted;  // null: "Lost folders" in the window's language
  };
  const Case cases[] = {
      {"fat16.img", false, "Old Projects"},
      {"fat32-formatted.img", true, nullptr},
  };
  // Over both scans: the formatted volume's tree holds only what the deep scan found.
  std::vector<QImage> live, deleted;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    if (!open({c.image})) GTEST_SKIP() << "fixture missing";
    const QString must_be_deleted = c.must_be_deleted
                                        ? QString(c.must_be_deleted)
                                        : QString::fromStdString(message(messages::lost_folders));
    find<QCheckBox>("DeepScanCheckBox")->setChecked(c.deep);
    start_scan();
    bool named_one_seen = false;
    std::vector<QTreeWidgetItem*> pending{find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0)};
    while (!pending.empty()) {
      QTreeWidgetItem* node = pending.back();
      pending.pop_back();
      for (int i = 0; i < node->childCount(); ++i) pending.push_back(node->child(i));
      if (node->data(0, ui::role_kind).toInt() != ui::node_folder) continue;
      const auto drive = node->data(0, ui::role_drive_index).toULongLong();
      const std::int32_t id = node->data(0, ui::role_folder_id).toInt();
      const auto& folders = found().folders(drives().at(drive).drive_index);
      const auto entry = std::find_if(folders.begin(), folders.end(),
                                      [id](const auto& f) { return f.dir_id == id; });
      ASSERT_NE(entry, folders.end()) << node->text(0).toStdString();
      const QImage icon = node->icon(0).pixmap(16, 16).toImage();
      (entry->deleted == 1 ? deleted : live).push_back(icon);
      if (node->text(0) == must_be_deleted) {
        named_one_seen = true;
        EXPECT_EQ(entry->deleted, 1);
      }
    }
    EXPECT_TRUE(named_one_seen);
  }
  ASSERT_FALSE(live.empty());
  ASSERT_FALSE(deleted.empty());
  for (const QImage& image : live) EXPECT_EQ(image, live.front());
  for (const QImage& image : deleted) EXPECT_EQ(image, deleted.front());
  EXPECT_NE(live.front(), deleted.front());
}

// Folder lists handed to the tree builder, and the nesting they must give below the drive
// node ("A(B(C))" = A holding B holding C; siblings separated by ",").
QString nesting(QTreeWidgetItem* node) {
  QStringList parts;
  for (int i = 0; i < node->childCount(); ++i) {
    QTreeWidgetItem* child = node->child(i);
    parts << (child->childCount() > 0 ? child->text(0) + "(" + nesting(child) + ")"
                                      : child->text(0));
  }
  return parts.join(",");
}

TEST_F(TypeTreeTest, FolderListsNestAsOnTheVolumeAndCorruptOnesEnd) {
  TempDir temp;
  const std::string image = temp.path() + "/empty.img";
  ASSERT_EQ(std::system(("mkfs.fat -C -F 12 " + image + " 360 >/dev/null 2>&1").c_str()), 0);
  struct Folder {
    std::int32_t id, parent;
    const char* name;
    std::uint8_t deleted;
  };
  const struct {
    const char* what;
    std::vector<Folder> list;
    const char* tree;
  } cases[] = {
      {"FAT ids", {{6, 5, "A", 0}, {9, 6, "B", 0}, {7, 5, "C", 0}}, "A(B),C"},
      // MFT numbers: B's children lie before B's own entry once sorted by parent.
      {"NTFS id order", {{900, 5, "A", 0}, {40, 900, "B", 1}, {60, 40, "C", 0}}, "A(B(C))"},
      {"cycle", {{6, 5, "X", 0}, {8, 6, "Y", 0}, {6, 8, "X2", 0}}, "X(Y)"},
      {"self parent and root id", {{5, 5, "R", 0}, {12, 12, "S", 0}, {13, 5, "T", 0}}, "T"},
      // One id reached from two parents is entered once, under either of them.
      {"two ways into one id",
       {{6, 5, "A", 0}, {7, 5, "B", 0}, {8, 6, "C", 0}, {8, 7, "C2", 0}},
       "A(C),B|A,B(C2)"},
  };
  for (const auto& c : cases) {
    open_paths({image});
    // The empty volume adds no folders of its own; the list stands in for what a scan found.
    std::vector<catalogue::FolderEntry> list;
    for (const Folder& f : c.list) {
      catalogue::FolderEntry e;
      e.dir_id = f.id;
      e.parent_id = f.parent;
      e.name = f.name;
      e.deleted = f.deleted;
      e.drive_letter = 'c';
      list.push_back(e);
    }
    bool replaced = false;
    form_->pending_events_hook = [&] {
      if (!replaced) {
        for (const catalogue::FolderEntry& e : list)
          found().add_folder(drives().at(0).drive_index, e);
      }
      replaced = true;
    };
    start_scan();
    form_->pending_events_hook = nullptr;
    ASSERT_TRUE(replaced) << c.what;
    QTreeWidgetItem* root = find<QTreeWidget>("FolderHTMLTreeView")->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 1) << c.what;
    EXPECT_EQ(root->child(0)->text(0), "C:\\");
    const QString built = nesting(root->child(0));
    EXPECT_TRUE(QString(c.tree).split('|').contains(built))
        << c.what << ": " << built.toStdString() << " instead of " << c.tree;
    filter_.reset();
    form_.reset();
  }
}

}  // namespace
}  // namespace fennick::testing

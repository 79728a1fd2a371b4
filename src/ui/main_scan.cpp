// The scan workflow over the ticked drives, the folder tree it builds, the selections in the
// folder and type trees and the navigation bar, and clearing the last scan's results.
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cctype>
#include <unordered_set>
#include <utility>

#include "catalogue/catalogue_view.h"
#include "catalogue/file_types.h"
#include "dispatch/scan_run.h"
#include "ui/file_list.h"
#include "ui/main_unit.h"
#include "ui/tree_roles.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "volume/drive_table.h"

namespace fennick::ui {

namespace {

QTreeWidgetItem* new_root(QTreeWidget* tree, QIcon icon) {
  auto* root = new QTreeWidgetItem(tree);
  root->setText(0, qmsg(10));
  root->setIcon(0, icon);
  root->setData(0, role_kind, node_root);
  return root;
}

}  // namespace

void T_mainForm::StartAdvToolButtonClick() {
  // The button is Stop while its caption is not "Start Scan".
  if (StartAdvToolButton->text() != qmsg(12)) {
    messages::stop_flag = 1;
    return;
  }
  disable_all();
  catalogue::clear_catalogue();
  selected_total = 0;
  TotalFilesizeHTMLStaticText->setVisible(false);
  bool any_drive_scanned = false;
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::current_drive = static_cast<std::int32_t>(i);
    if (!volume::drive_table[i].ticked || messages::stop_flag != 0) continue;
    QTreeWidgetItem* node = add_drive_node(i);
    if (!dispatch::scan_drive()) continue;
    any_drive_scanned = true;
    if (volume::drive_table[i].folder_count() > 0) {
      sort_folders(i);
      add_folder_nodes(node, i);
    }
  }
  enable_all();
  if (any_drive_scanned) {
    if (catalogue::deleted_count > 0) {
      catalogue::classify_files();
      draw_types();
    }
    const QSignalBlocker block(FolderHTMLTreeView);
    QTreeWidgetItem* root = FolderHTMLTreeView->topLevelItem(0);
    root->setExpanded(true);
    sort_tree_by_caption(root);
  } else {
    out_text(messages::get_message(51), messages::DialogKind::error, false);
  }
}

void T_mainForm::StopButtonClick() { messages::stop_flag = 1; }

QTreeWidgetItem* T_mainForm::add_drive_node(std::size_t drive_index) {
  const QSignalBlocker block(FolderHTMLTreeView);
  const volume::DriveInfo& drive = volume::drive_table[drive_index];
  const char letter =
      static_cast<char>(std::toupper(static_cast<unsigned char>(drive.drive_letter)));
  auto* node = new QTreeWidgetItem(FolderHTMLTreeView->topLevelItem(0));
  node->setText(0, QString(QChar(letter)) + ":\\");
  node->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
  node->setData(0, role_kind, node_drive);
  node->setData(0, role_drive_index, static_cast<qulonglong>(drive_index));
  node->setData(0, role_drive_letter,
                static_cast<int>(static_cast<unsigned char>(drive.drive_letter)));
  return node;
}

void T_mainForm::sort_folders(std::size_t drive_index) {
  auto& folders = volume::drive_table[drive_index].folders;
  std::stable_sort(folders.begin(), folders.end(),
                   [](const catalogue::TFolderEntry& a, const catalogue::TFolderEntry& b) {
                     return a.parent_id < b.parent_id;
                   });
}

void T_mainForm::add_folder_nodes(QTreeWidgetItem* drive_node, std::size_t drive_index) {
  // The children of a folder are one run of the list sorted by parent id. The descent uses
  // its own stack (a crafted volume can nest folders very deep) and enters every id once, so
  // a folder that is its own ancestor cannot make it endless.
  const QSignalBlocker block(FolderHTMLTreeView);
  const auto& folders = volume::drive_table[drive_index].folders;
  const QIcon live_icon = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon deleted_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  std::unordered_set<std::int32_t> entered{catalogue::ROOT_FOLDER_ID};
  std::vector<std::pair<QTreeWidgetItem*, std::int32_t>> pending{
      {drive_node, catalogue::ROOT_FOLDER_ID}};
  while (!pending.empty()) {
    const auto [node, parent_id] = pending.back();
    pending.pop_back();
    const auto run = std::equal_range(
        folders.begin(), folders.end(), parent_id, [](const auto& a, const auto& b) {
          if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::int32_t>) {
            return a < b.parent_id;
          } else {
            return a.parent_id < b;
          }
        });
    for (auto it = run.first; it != run.second; ++it) {
      if (!entered.insert(it->dir_id).second) continue;
      auto* child = new QTreeWidgetItem(node);
      child->setText(0, qs(it->name.str()));
      child->setIcon(0, it->deleted == 1 ? deleted_icon : live_icon);
      child->setData(0, role_kind, node_folder);
      child->setData(0, role_folder_id, it->dir_id);
      child->setData(0, role_drive_letter,
                     static_cast<int>(static_cast<unsigned char>(it->drive_letter)));
      child->setData(0, role_drive_index, static_cast<qulonglong>(drive_index));
      pending.emplace_back(child, it->dir_id);
    }
  }
}

void T_mainForm::sort_tree_by_caption(QTreeWidgetItem* root) {
  std::vector<QTreeWidgetItem*> pending{root};
  while (!pending.empty()) {
    QTreeWidgetItem* node = pending.back();
    pending.pop_back();
    QList<QTreeWidgetItem*> children = node->takeChildren();
    std::stable_sort(children.begin(), children.end(),
                     [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
                       return QString::localeAwareCompare(a->text(0), b->text(0)) < 0;
                     });
    node->addChildren(children);
    for (QTreeWidgetItem* child : children) pending.push_back(child);
  }
}

void T_mainForm::reset_folder_tree() {
  const QSignalBlocker block(FolderHTMLTreeView);
  FolderHTMLTreeView->clear();
  new_root(FolderHTMLTreeView, style()->standardIcon(QStyle::SP_ComputerIcon));
}

void T_mainForm::reset_type_tree() {
  const QSignalBlocker block(TypesTreeView);
  TypesTreeView->clear();
  new_root(TypesTreeView, style()->standardIcon(QStyle::SP_ComputerIcon));
}

void T_mainForm::clear_results() {
  catalogue::clear_catalogue();
  selected_total = 0;
  update_total_label();
  list_model_->set_row_count(0);
  reset_folder_tree();
  reset_type_tree();
  FilesPanel->setText(qmsg(9) + "0");
  UndeleteAdvToolButton->setEnabled(false);
  UndeleteSelected1->setEnabled(false);
  WipeSelected1->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SortByALComboBox->setCurrentIndex(0);
  AdvNavBarLeft->set_panel_visible(types_panel_, false);
  AdvNavBarLeft->set_panel_visible(folders_panel_, false);
  set_status_tab(false);
}

void T_mainForm::FolderHTMLTreeviewChange(QTreeWidgetItem* node) {
  if (!node || node->data(0, role_kind).toInt() == node_root) {
    set_folder_filter(0, 20, 0);
    return;
  }
  const auto letter = static_cast<std::uint8_t>(node->data(0, role_drive_letter).toInt());
  if (node->data(0, role_kind).toInt() == node_drive) {
    set_folder_filter(catalogue::ROOT_FOLDER_ID, letter, 0);
  } else {
    set_folder_filter(node->data(0, role_folder_id).toInt(), letter, 0);
  }
}

void T_mainForm::TypesTreeViewChange(QTreeWidgetItem* node) {
  if (node && node->data(0, role_kind).toInt() == node_group) {
    set_folder_filter(0, 20, static_cast<std::uint16_t>(node->data(0, role_group).toUInt()));
  } else {
    set_folder_filter(0, 20, 0);
  }
}

void T_mainForm::AdvNavBarLeftPanelActivate(int) {
  set_folder_filter(0, 20, 0);
  if (QTreeWidgetItem* root = FolderHTMLTreeView->topLevelItem(0)) {
    FolderHTMLTreeView->setCurrentItem(root);
  }
}

}  // namespace fennick::ui

// The scan run over the ticked drives, the folder tree it builds (deleted folders drawn grey
// and crossed out), the selections in the folder and type trees and the navigation bar, and
// clearing the last scan's results.
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cctype>
#include <unordered_set>
#include <utility>

#include "catalogue/catalogue_view.h"
#include "catalogue/file_types.h"
#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/tree_roles.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "workflow/scan_run.h"

namespace fennick::ui {

namespace {

QTreeWidgetItem* new_root(QTreeWidget* tree, QIcon icon, const QString& caption) {
  auto* root = new QTreeWidgetItem(tree);
  root->setText(0, caption);
  root->setIcon(0, icon);
  root->setData(0, role_kind, node_root);
  return root;
}

// A folder drawn at size x size: a tab on the back, the front a little lower. A live folder
// is yellow; a deleted one (a lost folder of the deep scan too) is grey with a red cross at
// its lower right, so the two tell apart in any style and without an icon theme.
QPixmap folder_pixmap(int size, bool deleted) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  const QColor outline = deleted ? QColor("#7A7A7A") : QColor("#A07818");
  const QColor back = deleted ? QColor("#B4B4B4") : QColor("#E8B830");
  const QColor front = deleted ? QColor("#D2D2D2") : QColor("#F8D868");
  p.setPen(QPen(outline, 1));
  p.setBrush(back);
  p.drawPolygon(QPolygonF({QPointF(1.5, 3.5), QPointF(6, 3.5), QPointF(7.5, 5), QPointF(14.5, 5),
                           QPointF(14.5, 13.5), QPointF(1.5, 13.5)}));
  p.setBrush(front);
  p.drawRect(QRectF(1.5, 6.5, 13, 7));
  if (deleted) {
    p.setPen(QPen(QColor("#D32F2F"), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
    p.drawLine(QPointF(14.5, 9.5), QPointF(9.5, 14.5));
  }
  p.end();
  return pixmap;
}

QIcon folder_icon(bool deleted) {
  QIcon icon;
  for (const int size : {16, 32}) icon.addPixmap(folder_pixmap(size, deleted));
  return icon;
}

}  // namespace

void MainWindow::StartAdvToolButtonClick() {
  // While a scan runs the button is Stop Scan.
  if (run_state_ == RunState::scanning) {
    run_.request_stop();
    return;
  }
  disable_all();
  catalogue_.clear();
  selected_total_ = 0;
  // The new catalogue is in the order the scan found its files.
  sort_key_ = catalogue::sort_none;
  sort_reversed_ = false;
  show_sort_order();
  TotalFilesizeHTMLStaticText->setVisible(false);
  // Each ticked drive gets its node before it is scanned; the folders the scan found (the
  // workflow has sorted them by parent id) hang below it once it is done.
  QTreeWidgetItem* drive_node = nullptr;
  workflow::ScanSettings settings;
  settings.deep = DeepScanCheckBox->isChecked();
  settings.before_drive = [&](std::size_t i) { drive_node = add_drive_node(i); };
  settings.after_drive = [&](std::size_t i, bool scanned) {
    if (!scanned || drive_node == nullptr) return;
    if (!catalogue_.folders(drives_[i].drive_index).empty()) add_folder_nodes(drive_node, i);
  };
  const workflow::ScanSummary summary =
      workflow::scan_ticked_drives(drives_, catalogue_, run_, *this, settings);
  enable_all();
  if (summary.any_scanned) {
    if (catalogue_.deleted_count() > 0) {
      catalogue::classify_files(catalogue_);
      draw_types();
    }
    const QSignalBlocker block(FolderHTMLTreeView);
    QTreeWidgetItem* root = FolderHTMLTreeView->topLevelItem(0);
    root->setExpanded(true);
    sort_tree_by_caption(root);
  } else {
    out_text(text(messages::no_drives_to_scan), messages::DialogKind::error, false);
  }
}

void MainWindow::StopButtonClick() { run_.request_stop(); }

QTreeWidgetItem* MainWindow::add_drive_node(std::size_t drive_index) {
  const QSignalBlocker block(FolderHTMLTreeView);
  const workflow::Drive& drive = drives_[drive_index];
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

void MainWindow::add_folder_nodes(QTreeWidgetItem* drive_node, std::size_t drive_index) {
  // The children of a folder are one run of the list sorted by parent id. The descent uses
  // its own stack (a crafted volume can nest folders very deep) and enters every id once, so
  // a folder that is its own ancestor cannot make it endless.
  const QSignalBlocker block(FolderHTMLTreeView);
  const auto& folders = catalogue_.folders(drives_[drive_index].drive_index);
  const QIcon live_icon = folder_icon(false);
  const QIcon deleted_icon = folder_icon(true);
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

void MainWindow::sort_tree_by_caption(QTreeWidgetItem* root) {
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

void MainWindow::reset_folder_tree() {
  const QSignalBlocker block(FolderHTMLTreeView);
  FolderHTMLTreeView->clear();
  new_root(FolderHTMLTreeView, style()->standardIcon(QStyle::SP_ComputerIcon),
           qmsg(messages::my_computer));
}

void MainWindow::reset_type_tree() {
  const QSignalBlocker block(TypesTreeView);
  TypesTreeView->clear();
  new_root(TypesTreeView, style()->standardIcon(QStyle::SP_ComputerIcon),
           qmsg(messages::my_computer));
}

void MainWindow::clear_results() {
  catalogue_.clear();
  selected_total_ = 0;
  sort_key_ = catalogue::sort_none;
  sort_reversed_ = false;
  show_sort_order();
  update_total_label();
  list_model_->set_row_count(0);
  reset_folder_tree();
  reset_type_tree();
  FilesPanel->setText(qmsg(messages::files_label) + "0");
  UndeleteAdvToolButton->setEnabled(false);
  UndeleteSelected1->setEnabled(false);
  WipeSelected1->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SortByALComboBox->setCurrentIndex(0);
  AdvNavBarLeft->set_panel_visible(types_panel_, false);
  AdvNavBarLeft->set_panel_visible(folders_panel_, false);
  set_status_tab(false);
}

void MainWindow::FolderHTMLTreeviewChange(QTreeWidgetItem* node) {
  if (!node || node->data(0, role_kind).toInt() == node_root) {
    set_folder_filter(0, catalogue::any_drive, 0);
    return;
  }
  const auto letter = static_cast<std::uint8_t>(node->data(0, role_drive_letter).toInt());
  if (node->data(0, role_kind).toInt() == node_drive) {
    set_folder_filter(catalogue::ROOT_FOLDER_ID, letter, 0);
  } else {
    set_folder_filter(node->data(0, role_folder_id).toInt(), letter, 0);
  }
}

void MainWindow::TypesTreeViewChange(QTreeWidgetItem* node) {
  if (node && node->data(0, role_kind).toInt() == node_group) {
    set_folder_filter(0, catalogue::any_drive,
                      static_cast<std::uint16_t>(node->data(0, role_group).toUInt()));
  } else {
    set_folder_filter(0, catalogue::any_drive, 0);
  }
}

void MainWindow::AdvNavBarLeftPanelActivate(int) {
  set_folder_filter(0, catalogue::any_drive, 0);
  if (QTreeWidgetItem* root = FolderHTMLTreeView->topLevelItem(0)) {
    FolderHTMLTreeView->setCurrentItem(root);
  }
}

}  // namespace fennick::ui

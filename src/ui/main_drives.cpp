// The drive tree: drawing it from the drive list, ticking drives by click and by the menu,
// Refresh, and adding a volume image as the next drive.
//
// Rebuilding the drive list gives every entry a fresh index, letter and source. The last
// scan's results (records, folder-tree nodes, the catalogue's folder lists) name drives by
// index and letter, so after a rebuild they are kept only when every drive they came from is
// back unchanged (same index, letter, source and file system); otherwise they are cleared,
// so that nothing ever points at a drive entry that no longer exists or now means another
// volume.
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStyle>
#include <filesystem>
#include <set>

#include "catalogue/catalogue_view.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "workflow/drive_list.h"

namespace fennick::ui {

namespace {

struct OldDrive {
  std::string source_path;
  char drive_letter;
  std::string fs_name;
  bool ticked;
};

std::string same_file_key(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

void MainWindow::set_drive_state(QTreeWidgetItem* node, bool ticked) {
  node->setData(0, Qt::CheckStateRole, ticked ? Qt::Checked : Qt::Unchecked);
}

void MainWindow::draw_drives() {
  // What the last scan's results refer to, and the ticks, before the table is rebuilt.
  std::vector<OldDrive> old;
  for (const workflow::Drive& d : drives_) {
    old.push_back({d.source_path, d.drive_letter, d.fs_name(), d.ticked});
  }
  std::set<std::size_t> used;
  for (int i = 0; FolderHTMLTreeView->topLevelItemCount() > 0 &&
                  i < FolderHTMLTreeView->topLevelItem(0)->childCount();
       ++i) {
    used.insert(
        FolderHTMLTreeView->topLevelItem(0)->child(i)->data(0, Qt::UserRole + 1).toULongLong());
  }
  for (const catalogue::FoundFile& record : catalogue_.files()) {
    used.insert(static_cast<std::size_t>(record.drive_index));
  }

  finish_preview_reads();
  workflow::DriveListing listing =
      workflow::list_drives(options_.named_volumes, options_.list_block_devices);
  drives_ = std::move(listing.drives);
  for (const workflow::DriveProblem& problem : listing.problems) {
    out_text(text(messages::cannot_list) + problem.path + ": " + problem.reason,
             messages::DialogKind::plain, false);
  }

  // Ticks follow the volume, not the position, across a rebuild.
  if (drives_drawn_) {
    for (workflow::Drive& d : drives_) {
      for (const OldDrive& o : old) {
        if (o.source_path == d.source_path) d.ticked = o.ticked;
      }
    }
  }
  bool results_intact = true;
  for (const std::size_t i : used) {
    if (i >= old.size() || i >= drives_.size()) {
      results_intact = false;
      break;
    }
    const workflow::Drive& d = drives_[i];
    if (d.source_path != old[i].source_path || d.drive_letter != old[i].drive_letter ||
        d.fs_name() != old[i].fs_name) {
      results_intact = false;
      break;
    }
  }
  // Intact results keep their folder lists in the catalogue; others go with it.
  if (!results_intact) clear_results();
  drives_drawn_ = true;

  const QSignalBlocker block(DriveHTMLTreeview);
  DriveHTMLTreeview->clear();
  auto* root = new QTreeWidgetItem(DriveHTMLTreeview);
  root->setText(0, qmsg(messages::my_computer));
  root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  for (const workflow::Drive& d : drives_) {
    auto* node = new QTreeWidgetItem(root);
    node->setText(0, qs(workflow::drive_caption(d)));
    node->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    const std::string fs_name = d.fs_name();
    node->setToolTip(0, qs(d.source_path + (fs_name.empty() ? "" : "  (" + fs_name + ")")));
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    set_drive_state(node, d.ticked);
  }
  DriveHTMLTreeview->expandAll();
  FastSearchSection->setText(qmsg(messages::fast_search) + " (" + QString::number(drives_.size()) +
                             ")");
}

void MainWindow::DriveHTMLTreeviewClick() {
  QTreeWidgetItem* node = DriveHTMLTreeview->currentItem();
  if (!node || !node->parent()) return;
  const int index = node->parent()->indexOfChild(node);
  if (index < 0 || static_cast<std::size_t>(index) >= drives_.size()) return;
  workflow::Drive& drive = drives_[static_cast<std::size_t>(index)];
  const bool was_ticked = node->data(0, Qt::CheckStateRole).toInt() == Qt::Checked;
  drive.ticked = !was_ticked;
  set_drive_state(node, drive.ticked);
}

void MainWindow::MenuItem3Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    drives_[i].ticked = true;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), true);
  }
}

void MainWindow::MenuItem4Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    drives_[i].ticked = false;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), false);
  }
}

void MainWindow::MenuItem5Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    workflow::Drive& d = drives_[i];
    d.ticked = !d.ticked;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), d.ticked);
  }
}

void MainWindow::RefreshAdvRepeatButtonClick() { draw_drives(); }

void MainWindow::AddImageClick() {
  QFileDialog dialog(this, qmsg(messages::add_image));
  dialog.setObjectName("AddImageDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({qmsg(messages::image_files_filter) +
                             " (*.img *.ima *.bin *.raw *.dd *.iso *.001 *.E01 *.Ex01 *.vhd "
                             "*.vhdx *.vmdk *.qcow2 *.qcow)",
                         qmsg(messages::all_files_filter) + " (*)"});
  if (!options_.named_volumes.empty()) {
    dialog.setDirectory(QFileInfo(qs(options_.named_volumes.back())).absolutePath());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  add_image(dialog.selectedFiles().front().toStdString());
}

bool MainWindow::drive_tree_drop(QDropEvent* event) {
  // Local files only, and not while a run reads the drives.
  QStringList files;
  if (event->mimeData() != nullptr) {
    for (const QUrl& url : event->mimeData()->urls()) {
      if (url.isLocalFile()) files.push_back(url.toLocalFile());
    }
  }
  if (files.isEmpty() || run_active()) {
    event->ignore();
    return true;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  if (event->type() == QEvent::Drop) {
    for (const QString& file : files) add_image(file.toStdString());
  }
  return true;
}

bool MainWindow::add_image(const std::string& path) {
  finish_preview_reads();
  const std::string key = same_file_key(path);
  for (const std::string& named : options_.named_volumes) {
    if (same_file_key(named) == key) {
      out_text(text(messages::already_listed) + path, messages::DialogKind::information, true);
      return false;
    }
  }
  options_.named_volumes.push_back(path);
  draw_drives();
  // Kept when it gives at least one volume of a file system that can be scanned.
  for (const workflow::Drive& d : drives_) {
    if (d.source_path == path && d.kind != volume::FileSystemKind::unknown) return true;
  }
  // Not a volume, nor a disk or image format holding one: forget it again.
  options_.named_volumes.pop_back();
  out_text(text(messages::not_a_readable_image) + path, messages::DialogKind::error, true);
  draw_drives();
  return false;
}

}  // namespace fennick::ui

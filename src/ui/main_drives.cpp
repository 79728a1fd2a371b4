// The drive tree: drawing it from the drive table, ticking drives by click and by the menu,
// Refresh, and adding a volume image as the next drive.
//
// Rebuilding the drive table gives every entry a fresh index, letter and source binding.
// The last scan's results (records, folder-tree nodes, folder lists) name drives by index
// and letter, so after a rebuild they are kept only when every drive they came from is
// back unchanged (same index, letter, source and file system); otherwise they are cleared,
// so that nothing ever points at a drive entry that no longer exists or now means another
// volume.
#include <QFileDialog>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStyle>
#include <filesystem>
#include <set>

#include "catalogue/catalogue_view.h"
#include "ui/file_list.h"
#include "ui/main_unit.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "volume/drive_table.h"

namespace fennick::ui {

namespace {

struct OldDrive {
  std::string source_path;
  char drive_letter;
  std::string fs_name;
  bool ticked;
  std::vector<catalogue::TFolderEntry> folders;
};

std::string same_file_key(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

void T_mainForm::set_drive_state(QTreeWidgetItem* node, bool ticked) {
  node->setData(0, Qt::CheckStateRole, ticked ? Qt::Checked : Qt::Unchecked);
}

void T_mainForm::draw_drives() {
  // What the last scan's results refer to, and the ticks, before the table is rebuilt.
  std::vector<OldDrive> old;
  for (volume::DriveInfo& d : volume::drive_table) {
    old.push_back({d.source_path, d.drive_letter, d.fs_name, d.ticked, std::move(d.folders)});
  }
  std::set<std::size_t> used;
  for (int i = 0; FolderHTMLTreeView->topLevelItemCount() > 0 &&
                  i < FolderHTMLTreeView->topLevelItem(0)->childCount();
       ++i) {
    used.insert(
        FolderHTMLTreeView->topLevelItem(0)->child(i)->data(0, Qt::UserRole + 1).toULongLong());
  }
  for (std::int32_t i = 0; i < catalogue::deleted_count; ++i) {
    used.insert(static_cast<std::size_t>(
        catalogue::deleted_files[static_cast<std::size_t>(i)].drive_index));
  }

  const std::vector<volume::DriveProblem> problems =
      volume::get_drives(options_.list_block_devices);
  for (const volume::DriveProblem& problem : problems) {
    out_text(" Cannot list " + problem.path + ": " + problem.reason, messages::DialogKind::plain,
             false);
  }

  // Ticks follow the volume, not the position, across a rebuild.
  if (drives_drawn_) {
    for (volume::DriveInfo& d : volume::drive_table) {
      for (const OldDrive& o : old) {
        if (o.source_path == d.source_path) d.ticked = o.ticked;
      }
    }
  }
  bool results_intact = true;
  for (const std::size_t i : used) {
    if (i >= old.size() || i >= volume::drive_table.size()) {
      results_intact = false;
      break;
    }
    const volume::DriveInfo& d = volume::drive_table[i];
    if (d.source_path != old[i].source_path || d.drive_letter != old[i].drive_letter ||
        d.fs_name != old[i].fs_name) {
      results_intact = false;
      break;
    }
  }
  if (results_intact) {
    for (const std::size_t i : used) volume::drive_table[i].folders = std::move(old[i].folders);
  } else {
    clear_results();
  }
  drives_drawn_ = true;

  const QSignalBlocker block(DriveHTMLTreeview);
  DriveHTMLTreeview->clear();
  auto* root = new QTreeWidgetItem(DriveHTMLTreeview);
  root->setText(0, qmsg(10));
  root->setIcon(0, style()->standardIcon(QStyle::SP_ComputerIcon));
  for (const volume::DriveInfo& d : volume::drive_table) {
    auto* node = new QTreeWidgetItem(root);
    node->setText(0, qs(volume::drive_caption(d)));
    node->setIcon(0, style()->standardIcon(QStyle::SP_DriveHDIcon));
    node->setToolTip(0, qs(d.source_path + (d.fs_name.empty() ? "" : "  (" + d.fs_name + ")")));
    node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    set_drive_state(node, d.ticked);
  }
  DriveHTMLTreeview->expandAll();
  FastSearchSection->setText(qmsg(4) + " (" + QString::number(volume::drive_table.size()) + ")");
}

void T_mainForm::DriveHTMLTreeviewClick() {
  QTreeWidgetItem* node = DriveHTMLTreeview->currentItem();
  if (!node || !node->parent()) return;
  const int index = node->parent()->indexOfChild(node);
  if (index < 0 || static_cast<std::size_t>(index) >= volume::drive_table.size()) return;
  volume::DriveInfo& drive = volume::drive_table[static_cast<std::size_t>(index)];
  const bool was_ticked = node->data(0, Qt::CheckStateRole).toInt() == Qt::Checked;
  drive.ticked = !was_ticked;
  set_drive_state(node, drive.ticked);
}

void T_mainForm::MenuItem3Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::drive_table[i].ticked = true;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), true);
  }
}

void T_mainForm::MenuItem4Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::drive_table[i].ticked = false;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), false);
  }
}

void T_mainForm::MenuItem5Click() {
  QTreeWidgetItem* root = DriveHTMLTreeview->topLevelItem(0);
  for (std::size_t i = 0; i < volume::drive_table.size(); ++i) {
    volume::DriveInfo& d = volume::drive_table[i];
    d.ticked = !d.ticked;
    if (root && static_cast<int>(i) < root->childCount())
      set_drive_state(root->child(static_cast<int>(i)), d.ticked);
  }
}

void T_mainForm::RefreshAdvRepeatButtonClick() { draw_drives(); }

void T_mainForm::AddImageClick() {
  QFileDialog dialog(this, "Add image...");
  dialog.setObjectName("AddImageDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(
      {"Volume images (*.img *.ima *.bin *.raw *.dd *.vhd *.iso)", "All files (*)"});
  if (!volume::named_volumes.empty()) {
    dialog.setDirectory(QFileInfo(qs(volume::named_volumes.back())).absolutePath());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  add_image(dialog.selectedFiles().front().toStdString());
}

bool T_mainForm::add_image(const std::string& path) {
  const std::string key = same_file_key(path);
  for (const std::string& named : volume::named_volumes) {
    if (same_file_key(named) == key) {
      out_text(" Already listed: " + path, messages::DialogKind::information, true);
      return false;
    }
  }
  volume::named_volumes.push_back(path);
  draw_drives();
  for (const volume::DriveInfo& d : volume::drive_table) {
    if (d.source_path == path) return true;
  }
  // It could not be listed (draw_drives logged why): forget it again.
  volume::named_volumes.pop_back();
  out_text(" Cannot add " + path, messages::DialogKind::error, true);
  draw_drives();
  return false;
}

}  // namespace fennick::ui

// The undelete and wipe runs over the marked files, the same-volume warning before an
// undelete, and the destination row: folder field with its browse button, "Open ..." and
// the "Keep folder structure" box.
#include <sys/stat.h>

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>
#include <filesystem>
#include <set>

#include "catalogue/catalogue_view.h"
#include "catalogue/file_types.h"
#include "dispatch/undelete_unit.h"
#include "ui/file_list.h"
#include "ui/main_unit.h"
#include "ui/ui_text.h"
#include "volume/drive_table.h"

namespace fennick::ui {

namespace {

// Runs an action when the watched label is clicked with the left button.
class ClickFilter : public QObject {
 public:
  ClickFilter(QObject* parent, std::function<void()> action)
      : QObject(parent), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      action_();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> action_;
};

// Catalogue indexes of the marked records, in catalogue order, whatever the list shows.
std::vector<std::int32_t> marked_records() {
  std::vector<std::int32_t> work;
  const auto n =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(catalogue::deleted_count, 0)),
                            catalogue::deleted_files.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (catalogue::deleted_files[i].selected == 1) work.push_back(static_cast<std::int32_t>(i));
  }
  return work;
}

// The device of the destination, taken from its nearest existing folder (the engines create
// missing ones below it).
bool destination_device(const std::string& destination, dev_t& device) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(destination, ec);
  if (ec) return false;
  while (!std::filesystem::exists(p, ec)) {
    if (!p.has_parent_path() || p.parent_path() == p) return false;
    p = p.parent_path();
  }
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return false;
  device = st.st_dev;
  return true;
}

// Does a file written below the destination land on the volume of this drive: the file
// system mounted from it (looked up afresh, the mount may have changed since the drive list
// was made), or, for a block device, the device itself. An image that is not mounted cannot
// be written through a folder.
bool lands_on_drive(dev_t destination, const volume::DriveInfo& drive) {
  std::string mount = volume::find_mount_point(drive.source_path);
  if (mount.empty()) mount = drive.mount_point;
  struct stat st {};
  if (!mount.empty() && ::stat(mount.c_str(), &st) == 0 && st.st_dev == destination) return true;
  if (!drive.is_image && ::stat(drive.source_path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
      st.st_rdev == destination) {
    return true;
  }
  return false;
}

}  // namespace

void T_mainForm::connect_undelete_controls() {
  // The field is only filled through the folder dialog, from the settings or at start.
  SaveAdvDirectoryEdit->setReadOnly(true);
  SaveAdvDirectoryBrowse = SaveAdvDirectoryEdit->addAction(
      style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  SaveAdvDirectoryBrowse->setObjectName("SaveAdvDirectoryBrowse");
  SaveAdvDirectoryBrowse->setToolTip("...");
  connections_.push_back(QObject::connect(SaveAdvDirectoryBrowse, &QAction::triggered, this,
                                          [this] { SaveAdvDirectoryBrowseClick(); }));
  connections_.push_back(QObject::connect(UndeleteAdvToolButton, &QToolButton::clicked, this,
                                          [this] { UndeleteAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(UndeleteSelected1, &QAction::triggered, this,
                                          [this] { UndeleteAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(WipeAdvToolButton, &QToolButton::clicked, this,
                                          [this] { WipeAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(WipeSelected1, &QAction::triggered, this,
                                          [this] { WipeAdvToolButtonClick(); }));
  OpenLabel->setCursor(Qt::PointingHandCursor);
  OpenLabel->installEventFilter(new ClickFilter(OpenLabel, [this] { OpenLabelClick(); }));
}

void T_mainForm::SaveAdvDirectoryBrowseClick() {
  const QString chosen =
      QFileDialog::getExistingDirectory(this, "Select Directory", SaveAdvDirectoryEdit->text());
  if (!chosen.isEmpty()) SaveAdvDirectoryEdit->setText(QDir::toNativeSeparators(chosen));
}

void T_mainForm::OpenLabelClick() {
  // The shell's answer is not reported: with no desktop there is simply nothing to open.
  open_address(QUrl::fromLocalFile(SaveAdvDirectoryEdit->text()), false);
}

void T_mainForm::warn_if_destination_on_source(const std::vector<std::int32_t>& work) {
  dev_t destination = 0;
  if (!destination_device(dispatch::destination_folder, destination)) return;
  std::set<std::int32_t> drives;
  for (const std::int32_t i : work)
    drives.insert(catalogue::deleted_files[static_cast<std::size_t>(i)].drive_index);
  for (const std::int32_t d : drives) {
    if (d < 0 || static_cast<std::size_t>(d) >= volume::drive_table.size()) continue;
    const volume::DriveInfo& drive = volume::drive_table[static_cast<std::size_t>(d)];
    if (!lands_on_drive(destination, drive)) continue;
    const char letter =
        static_cast<char>(std::toupper(static_cast<unsigned char>(drive.drive_letter)));
    out_text(std::string(" Warning: the destination folder is on drive ") + letter +
                 ":\\, which files are recovered from; writing there can overwrite the deleted "
                 "files still to be recovered",
             messages::DialogKind::plain, false);
  }
}

void T_mainForm::UndeleteAdvToolButtonClick() {
  if (UndeleteAdvToolButton->text() == qmsg(15)) {
    messages::stop_flag = 1;
    return;
  }
  disable_all_u();
  const std::vector<std::int32_t> work = marked_records();
  messages::work_total = 0;
  for (const std::int32_t i : work)
    messages::work_total += catalogue::deleted_files[static_cast<std::size_t>(i)].size;
  messages::work_done = 0;
  if (messages::work_total <= 0) {
    out_text(messages::get_message(55), messages::DialogKind::error, true);
  } else {
    dispatch::destination_folder = SaveAdvDirectoryEdit->text().toStdString();
    dispatch::begin_recovery_run();
    set_progress_range(100);
    set_progress(0);
    warn_if_destination_on_source(work);
    out_text(messages::get_message(52), messages::DialogKind::plain, false);
    bool destination_full = false;
    for (const std::int32_t i : work) {
      if (messages::stop_flag != 0) break;
      catalogue::TDeletedFile& record = catalogue::deleted_files[static_cast<std::size_t>(i)];
      volume::current_drive = record.drive_index;
      // Read for every file: a change of the box during the run applies to the files after.
      dispatch::RecoveryOutcome outcome;
      dispatch::recover_file(record, KeepFolderHTMLCheckBox->isChecked(), &outcome);
      set_mark(record, 0);
      // A destination without room ends the run; the log has said so.
      if (outcome.result.destination_full) {
        destination_full = true;
        break;
      }
      // Between files too, so that a stop lands cleanly after the file just finished.
      process_pending_events();
    }
    dispatch::end_recovery_run();
    out_text(messages::get_message(messages::stop_flag != 0 || destination_full ? 53 : 54),
             messages::DialogKind::plain, false);
    set_progress(100);
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
  AdvListView->viewport()->update();
  enable_all_u();
}

void T_mainForm::WipeAdvToolButtonClick() {
  if (WipeAdvToolButton->text() == qmsg(17)) {
    messages::stop_flag = 1;
    return;
  }
  if (QMessageBox::question(this, windowTitle(), qmsg(57), QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  disable_all_w();
  const std::vector<std::int32_t> work = marked_records();
  messages::work_total = static_cast<std::int64_t>(work.size());
  messages::work_done = 0;
  if (messages::work_total == 0) {
    out_text(messages::get_message(60), messages::DialogKind::error, true);
  } else {
    set_progress_range(static_cast<std::int32_t>(messages::work_total));
    set_progress(0);
    out_text(" Start wipe", messages::DialogKind::plain, false);
    for (const std::int32_t i : work) {
      if (messages::stop_flag != 0) break;
      process_pending_events();
      // A stop that arrived just now wipes nothing more.
      if (messages::stop_flag != 0) break;
      catalogue::TDeletedFile& record = catalogue::deleted_files[static_cast<std::size_t>(i)];
      bool wiped = false;
      dispatch::wipe_file(record, &wiped);
      ++messages::work_done;
      set_progress(static_cast<std::int32_t>(messages::work_done));
      set_mark(record, 0);
      // Only a file whose remains were overwritten leaves the catalogue; one the engine could
      // not wipe stays listed and counted, so the list never claims a wipe that did not happen.
      if (wiped) {
        if (record.type_group < catalogue::file_groups.size() &&
            catalogue::file_groups[record.type_group].count > 0) {
          --catalogue::file_groups[record.type_group].count;
        }
        catalogue::mark_wiped(record);
      }
    }
    set_progress(static_cast<std::int32_t>(messages::work_total));
    out_text(messages::get_message(messages::stop_flag != 0 ? 58 : 59), messages::DialogKind::plain,
             false);
  }
  set_folder_filter(catalogue::view_folder, catalogue::view_drive, catalogue::view_type);
  draw_types();
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
  AdvListView->viewport()->update();
  enable_all_w();
}

}  // namespace fennick::ui

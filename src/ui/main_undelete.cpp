// The undelete and wipe runs over the marked files (the workflow's recovery and wipe runs),
// and the destination row: folder field with its browse button, "Open ..." and the "Keep
// folder structure" box.
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "catalogue/catalogue_view.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "workflow/recovery_run.h"
#include "workflow/wipe_run.h"

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

}  // namespace

void MainWindow::connect_undelete_controls() {
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

void MainWindow::SaveAdvDirectoryBrowseClick() {
  const QString chosen = QFileDialog::getExistingDirectory(this, qmsg(messages::choose_destination),
                                                           SaveAdvDirectoryEdit->text());
  if (!chosen.isEmpty()) SaveAdvDirectoryEdit->setText(QDir::toNativeSeparators(chosen));
}

void MainWindow::OpenLabelClick() {
  // The shell's answer is not reported: with no desktop there is simply nothing to open.
  open_address(QUrl::fromLocalFile(SaveAdvDirectoryEdit->text()), false);
}

void MainWindow::UndeleteAdvToolButtonClick() {
  // While an undelete runs the button is Stop Undelete.
  if (run_state_ == RunState::recovering) {
    run_.request_stop();
    return;
  }
  disable_all_u();
  workflow::RecoverySettings settings;
  settings.destination = SaveAdvDirectoryEdit->text().toStdString();
  // Read for every file: a change of the box during the run applies to the files after.
  settings.keep_folders = [this] { return KeepFolderHTMLCheckBox->isChecked(); };
  settings.manifest_in_destination = ManifestCheckBox->isChecked();
  // A file the run has done with loses its mark; one a stop cut short keeps it, so that the
  // next Start Undelete takes it again (beside the part already written).
  settings.after_file = [this](std::int32_t index, const workflow::RecoveryOutcome& outcome) {
    if (outcome.engine_ran && outcome.result.outcome() == engine::RecoveryOutcome::interrupted) {
      return;
    }
    set_mark(catalogue_.files()[static_cast<std::size_t>(index)], 0);
  };
  const workflow::RecoverySummary summary =
      workflow::recover_files(drives_, catalogue_, marked_records(), settings, run_, *this);
  run_files_total_ = 0;
  show_run_files();
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
  AdvListView->viewport()->update();
  enable_all_u();
  if (!summary.nothing_to_do) show_recovery_summary(summary, SaveAdvDirectoryEdit->text());
}

void MainWindow::show_recovery_summary(const workflow::RecoverySummary& summary,
                                       const QString& destination) {
  // One summary at a time: the last run's.
  if (recovery_summary_) recovery_summary_->close();
  const int end = summary.stopped || summary.destination_full ? messages::undelete_interrupted
                                                              : messages::undelete_ended;
  QString counts = qs(workflow::recovery_counts_text(summary, *this)).trimmed();
  // The files a stop cut short are named: they hold only a part of the file.
  for (const std::string& path : summary.interrupted_paths) {
    counts += "\n" + qmsg(messages::interrupted_prefix).trimmed() + " " + qs(path);
  }
  const QMessageBox::Icon icon = summary.any_failed || summary.destination_full
                                     ? QMessageBox::Warning
                                     : QMessageBox::Information;
  auto* box = new QMessageBox(icon, windowTitle(), qmsg(end).trimmed() + "\n\n" + counts,
                              QMessageBox::Ok, this);
  box->setObjectName("RecoverySummaryDialog");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  QPushButton* open = box->addButton(qmsg(messages::open_destination), QMessageBox::ActionRole);
  open->setObjectName("OpenDestinationButton");
  QObject::connect(open, &QPushButton::clicked, this,
                   [this, destination] { open_address(QUrl::fromLocalFile(destination), true); });
  recovery_summary_ = box;
  box->show();
}

void MainWindow::WipeAdvToolButtonClick() {
  // While a wipe runs the button is Stop Wipe.
  if (run_state_ == RunState::wiping) {
    run_.request_stop();
    return;
  }
  if (QMessageBox::question(this, windowTitle(), qmsg(messages::confirm_wipe),
                            QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  disable_all_w();
  // A wiped file leaves the catalogue (the workflow marks it and lowers its type's count);
  // one the engine could not wipe stays listed and counted. Either way its mark goes.
  workflow::wipe_files(drives_, catalogue_, marked_records(), run_, *this,
                       [this](std::int32_t index, engine::WipeOutcome) {
                         set_mark(catalogue_.files()[static_cast<std::size_t>(index)], 0);
                       });
  set_folder_filter(view_.folder, view_.drive, view_.type);
  draw_types();
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
  AdvListView->viewport()->update();
  enable_all_w();
}

}  // namespace fennick::ui

// The six run-state sets of the main window: what a scan, an undelete and a wipe disable
// when they start and enable when they end. The button that started a run stays enabled
// under its Stop caption; everything that could start another run is disabled. The run state
// follows: it is what tells a click on that button to mean Stop.
#include "catalogue/catalogue_view.h"
#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"

namespace fennick::ui {

void MainWindow::disable_all() {
  finish_preview_reads();
  run_state_ = RunState::scanning;
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AddImageAdvToolButton->setEnabled(false);
  AdvListView->setEnabled(false);
  run_.clear_stop();
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setText(qmsg(messages::stop_scan));
  DeepScanCheckBox->setEnabled(false);
  UndeleteAdvToolButton->setEnabled(false);
  CleanAdvToolButton->setEnabled(false);
  UndeleteSelected1->setEnabled(false);
  WipeSelected1->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SaveAdvDirectoryEdit->setEnabled(false);
  // The log shows during the run; the trees built from the last run go away.
  set_status_tab(false);
  HTMLabelStatus->setEnabled(false);
  AdvNavBarLeft->set_panel_visible(types_panel_, false);
  AdvNavBarLeft->set_panel_visible(folders_panel_, false);
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(messages::files_label) + "0");
  AdvListView->setUpdatesEnabled(false);
  list_model_->set_row_count(0);
  reset_folder_tree();
  pump_clock_.invalidate();
}

void MainWindow::enable_all() {
  run_state_ = RunState::idle;
  PanelCenterLang->setEnabled(true);
  StopButton->setEnabled(false);
  AdvListView->setEnabled(true);
  HTMLabelStatus->setEnabled(true);
  if (catalogue_.deleted_count() > 0) {
    out_text(text(messages::building_list), messages::DialogKind::plain, false);
    set_folder_filter(0, catalogue::any_drive, 0);
  }
  AdvListView->setUpdatesEnabled(true);
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(messages::files_label) + QString::number(catalogue_.deleted_count()));
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  AddImageAdvToolButton->setEnabled(true);
  if (!drives_.empty()) {
    out_text(text(messages::recoverable_files) + std::to_string(catalogue_.deleted_count()),
             messages::DialogKind::plain, false);
  }
  StartAdvToolButton->setText(qmsg(messages::start_scan));
  DeepScanCheckBox->setEnabled(true);
  CleanAdvToolButton->setEnabled(true);
  if (catalogue_.deleted_count() > 0) {
    UndeleteAdvToolButton->setEnabled(true);
    UndeleteSelected1->setEnabled(true);
    WipeSelected1->setEnabled(true);
    SortByALComboBox->setEnabled(true);
    AdvNavBarLeft->set_panel_visible(drives_panel_, false);
    AdvNavBarLeft->set_panel_visible(drives_panel_, true);
    AdvNavBarLeft->set_panel_visible(folders_panel_, true);
    AdvNavBarLeft->set_panel_visible(types_panel_, true);
  }
  SaveAdvDirectoryEdit->setEnabled(true);
  SortByALComboBox->setCurrentIndex(0);
}

void MainWindow::disable_all_u() {
  ManifestCheckBox->setEnabled(false);  // read when the run starts
  finish_preview_reads();
  run_state_ = RunState::recovering;
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AddImageAdvToolButton->setEnabled(false);
  AdvListView->setEnabled(false);
  run_.clear_stop();
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setEnabled(false);
  DeepScanCheckBox->setEnabled(false);
  UndeleteAdvToolButton->setText(qmsg(messages::stop_undelete));
  CleanAdvToolButton->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SaveAdvDirectoryEdit->setEnabled(false);
  pump_clock_.invalidate();
}

void MainWindow::enable_all_u() {
  ManifestCheckBox->setEnabled(true);  // read when the run starts
  run_state_ = RunState::idle;
  PanelCenterLang->setEnabled(true);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  AddImageAdvToolButton->setEnabled(true);
  AdvListView->setEnabled(true);
  StopButton->setEnabled(false);
  StartAdvToolButton->setEnabled(true);
  DeepScanCheckBox->setEnabled(true);
  UndeleteAdvToolButton->setText(qmsg(messages::start_undelete));
  CleanAdvToolButton->setEnabled(true);
  UndeleteSelected1->setText(qmsg(messages::undelete_selected));
  SortByALComboBox->setEnabled(true);
  SaveAdvDirectoryEdit->setEnabled(true);
}

void MainWindow::disable_all_w() {
  finish_preview_reads();
  run_state_ = RunState::wiping;
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AddImageAdvToolButton->setEnabled(false);
  AdvListView->setEnabled(false);
  run_.clear_stop();
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setEnabled(false);
  DeepScanCheckBox->setEnabled(false);
  UndeleteAdvToolButton->setEnabled(false);
  WipeAdvToolButton->setText(qmsg(messages::stop_wipe));
  CleanAdvToolButton->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SaveAdvDirectoryEdit->setEnabled(false);
  pump_clock_.invalidate();
}

void MainWindow::enable_all_w() {
  run_state_ = RunState::idle;
  PanelCenterLang->setEnabled(true);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  AddImageAdvToolButton->setEnabled(true);
  AdvListView->setEnabled(true);
  StopButton->setEnabled(false);
  StartAdvToolButton->setEnabled(true);
  DeepScanCheckBox->setEnabled(true);
  UndeleteAdvToolButton->setEnabled(true);
  WipeAdvToolButton->setText(qmsg(messages::start_wipe));
  CleanAdvToolButton->setEnabled(true);
  WipeSelected1->setText(qmsg(messages::wipe_selected));
  SortByALComboBox->setEnabled(true);
  SaveAdvDirectoryEdit->setEnabled(true);
}

}  // namespace fennick::ui

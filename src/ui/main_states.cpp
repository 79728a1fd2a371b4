// The six run-state sets of the main window: what a scan, an undelete and a wipe disable
// when they start and enable when they end. The button that started a run stays enabled
// under its Stop caption; everything that could start another run is disabled.
#include "catalogue/catalogue_view.h"
#include "ui/file_list.h"
#include "ui/main_unit.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "volume/drive_table.h"

namespace fennick::ui {

void T_mainForm::disable_all() {
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AdvListView->setEnabled(false);
  messages::stop_flag = 0;
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setText(qmsg(13));
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
  FilesPanel->setText(qmsg(9) + "0");
  AdvListView->setUpdatesEnabled(false);
  list_model_->set_row_count(0);
  reset_folder_tree();
  pump_clock_.invalidate();
}

void T_mainForm::enable_all() {
  PanelCenterLang->setEnabled(true);
  StopButton->setEnabled(false);
  AdvListView->setEnabled(true);
  HTMLabelStatus->setEnabled(true);
  if (catalogue::deleted_count > 0) {
    out_text(messages::get_message(34), messages::DialogKind::plain, false);
    set_folder_filter(0, 20, 0);
  }
  AdvListView->setUpdatesEnabled(true);
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(9) + QString::number(catalogue::deleted_count));
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  if (!volume::drive_table.empty()) {
    out_text(messages::get_message(35) + std::to_string(catalogue::deleted_count),
             messages::DialogKind::plain, false);
  }
  StartAdvToolButton->setText(qmsg(12));
  CleanAdvToolButton->setEnabled(true);
  if (catalogue::deleted_count > 0) {
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

void T_mainForm::disable_all_u() {
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AdvListView->setEnabled(false);
  messages::stop_flag = 0;
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setEnabled(false);
  UndeleteAdvToolButton->setText(qmsg(15));
  CleanAdvToolButton->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SaveAdvDirectoryEdit->setEnabled(false);
  pump_clock_.invalidate();
}

void T_mainForm::enable_all_u() {
  PanelCenterLang->setEnabled(true);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  AdvListView->setEnabled(true);
  StopButton->setEnabled(false);
  StartAdvToolButton->setEnabled(true);
  UndeleteAdvToolButton->setText(qmsg(14));
  CleanAdvToolButton->setEnabled(true);
  UndeleteSelected1->setText(qmsg(36));
  SortByALComboBox->setEnabled(true);
  SaveAdvDirectoryEdit->setEnabled(true);
}

void T_mainForm::disable_all_w() {
  PanelCenterLang->setEnabled(false);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(false);
  AdvListView->setEnabled(false);
  messages::stop_flag = 0;
  ProgressBar->setValue(0);
  StopButton->setEnabled(true);
  StartAdvToolButton->setEnabled(false);
  UndeleteAdvToolButton->setEnabled(false);
  WipeAdvToolButton->setText(qmsg(17));
  CleanAdvToolButton->setEnabled(false);
  SortByALComboBox->setEnabled(false);
  SaveAdvDirectoryEdit->setEnabled(false);
  pump_clock_.invalidate();
}

void T_mainForm::enable_all_w() {
  PanelCenterLang->setEnabled(true);
  AdvNavBarLeft->panel(drives_panel_)->setEnabled(true);
  AdvListView->setEnabled(true);
  StopButton->setEnabled(false);
  StartAdvToolButton->setEnabled(true);
  UndeleteAdvToolButton->setEnabled(true);
  WipeAdvToolButton->setText(qmsg(16));
  CleanAdvToolButton->setEnabled(true);
  WipeSelected1->setText(qmsg(37));
  SortByALComboBox->setEnabled(true);
  SaveAdvDirectoryEdit->setEnabled(true);
}

}  // namespace fennick::ui

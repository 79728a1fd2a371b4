// The found-file list's handlers: rebuilding the rows, marking by click, Shift-click, Space
// and the menu, the total of the marked files, sorting by column header and by the Sort By
// box, the Status/Preview tabs, and the filter indicator and dialog.
#include <QApplication>
#include <QHeaderView>

#include "catalogue/catalogue_view.h"
#include "dispatch/undelete_unit.h"
#include "ui/file_list.h"
#include "ui/filter_unit.h"
#include "ui/main_unit.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"

namespace fennick::ui {

void T_mainForm::set_folder_filter(std::int32_t folder, std::uint8_t drive, std::uint16_t type) {
  catalogue::build_row_map(folder, drive, type);
  list_model_->set_row_count(static_cast<int>(catalogue::row_map.size()));
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(9) + QString::number(catalogue::deleted_count - catalogue::wiped_count));
  AdvListView->viewport()->update();
}

void T_mainForm::update_total_label() {
  if (selected_total > 0) {
    TotalFilesizeHTMLStaticText->setText(qmsg(91) + " <b>" +
                                         qs(dispatch::size_text(selected_total)) + "</b>");
    TotalFilesizeHTMLStaticText->adjustSize();
    TotalFilesizeHTMLStaticText->setVisible(true);
  } else {
    selected_total = 0;
    TotalFilesizeHTMLStaticText->setVisible(false);
  }
}

void T_mainForm::set_mark(catalogue::TDeletedFile& record, std::uint8_t value) {
  if (record.selected == value) return;
  record.selected = value;
  selected_total += value == 1 ? record.size : -record.size;
}

void T_mainForm::AdvListViewLeftClickCell(int row, int column, bool shift) {
  const int rows = list_model_->rowCount();
  if (row >= 0 && row < rows) {
    if (!shift) {
      catalogue::TDeletedFile* record = record_at_row(row);
      if (column == 0 && record) {
        set_mark(*record, record->selected == 1 ? 0 : 1);
        last_clicked_row = row;
        list_model_->rows_changed(row, row);
      }
    } else {
      // Rows from the clicked one towards the last clicked one (towards row 0 when there
      // was none); the clicked row toggles and the others take its new value. A last
      // clicked row beyond the current rows (the list got shorter) only bounds the range.
      if (column == 0) {
        const int anchor = last_clicked_row;
        const int step = (anchor >= 0 && anchor >= row) ? 1 : -1;
        const int end = anchor >= 0 ? anchor : 0;
        std::uint8_t value = 0;
        bool first = true;
        for (int r = row;; r += step) {
          if (r >= 0 && r < rows) {
            if (catalogue::TDeletedFile* record = record_at_row(r)) {
              if (first) value = record->selected == 1 ? 0 : 1;
              set_mark(*record, value);
            }
          }
          first = false;
          if (r == end) break;
        }
        list_model_->rows_changed(std::min(row, end), std::max(row, end));
      }
      last_clicked_row = row;
    }
  }
  update_total_label();
  AdvListView->viewport()->update();
}

int T_mainForm::selected_row() const {
  const QModelIndexList rows = AdvListView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void T_mainForm::AdvListViewSpace() {
  const int row = selected_row();
  if (catalogue::TDeletedFile* record = record_at_row(row)) {
    set_mark(*record, record->selected == 1 ? 0 : 1);
    list_model_->rows_changed(row, row);
    update_total_label();
  }
}

void T_mainForm::SelectAll1Click() {
  for (std::size_t r = 0; r < catalogue::row_map.size(); ++r) {
    if (catalogue::TDeletedFile* record = record_at_row(static_cast<int>(r))) set_mark(*record, 1);
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void T_mainForm::UnselectAll1Click() {
  for (std::size_t r = 0; r < catalogue::row_map.size(); ++r) {
    if (catalogue::TDeletedFile* record = record_at_row(static_cast<int>(r))) set_mark(*record, 0);
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void T_mainForm::ReverseSelection1Click() {
  for (std::size_t r = 0; r < catalogue::row_map.size(); ++r) {
    if (catalogue::TDeletedFile* record = record_at_row(static_cast<int>(r))) {
      set_mark(*record, record->selected == 1 ? 0 : 1);
    }
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void T_mainForm::sort_list(int key) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  AdvListView->setUpdatesEnabled(false);
  catalogue::sort_catalogue(key);
  set_folder_filter(catalogue::view_folder, catalogue::view_drive, catalogue::view_type);
  AdvListView->setUpdatesEnabled(true);
  QApplication::restoreOverrideCursor();
}

void T_mainForm::AdvListViewColumnClick(int column) {
  if (list_model_->rowCount() == 0) return;
  const int key = column + 1;
  // The box shows the key; the untitled last column has none, so the box's choice clears.
  SortByALComboBox->setCurrentIndex(key < SortByALComboBox->count() ? key : -1);
  sort_list(key);
}

void T_mainForm::SortByALComboBoxChange(int key) {
  if (list_model_->rowCount() == 0) return;
  sort_list(key);
}

void T_mainForm::set_status_tab(bool preview) {
  preview_active_ = preview;
  HTMLabelStatus->setText(
      QString("&nbsp;").repeated(4) + "<font color=\"#FFFFFF\" face=\"Tahoma\">" +
      (preview ? qmsg(21) : "<b>" + qmsg(21) + "</b>") + "</font>" +
      QString("&nbsp;").repeated(19) + "<font color=\"#FFFFFF\" face=\"Tahoma\">" +
      (preview ? "<b>" + qmsg(22) + "</b>" : qmsg(22)) + "</font>");
  AdvMemo->setVisible(!preview);
}

void T_mainForm::show_preview_status(const catalogue::TDeletedFile& record) {
  PreviewStatusHTMLabel->clear();
  const std::string text = dispatch::preview_status_text(record);
  if (text.empty()) return;
  PreviewStatusHTMLabel->setText(qs(text));
  PreviewStatusHTMLabel->setVisible(true);
}

void T_mainForm::AdvListViewSelectItem() {
  const catalogue::TDeletedFile* record = record_at_row(selected_row());
  if (!record) return;
  set_status_tab(true);
  show_preview_status(*record);
}

void T_mainForm::AdvListViewExit() {
  set_status_tab(false);
  PreviewStatusHTMLabel->clear();
  PreviewStatusHTMLabel->setVisible(false);
  AdvListView->clearSelection();
}

void T_mainForm::HTMLabelStatusMouseDown(int x) {
  if (x >= 80) {
    if (selected_row() >= 0) {
      AdvListViewSelectItem();
    } else {
      out_text(messages::get_message(56), messages::DialogKind::information, true);
    }
  } else {
    set_status_tab(false);
    PreviewStatusHTMLabel->setVisible(false);
  }
}

void T_mainForm::set_filter_indicator() {
  FilterPanel->setText(catalogue::current_filter.any_on() ? qmsg(7) : qmsg(8));
}

void T_mainForm::FilterAdvToolButtonClick() {
  if (filter_form_) filter_form_->exec();
}

}  // namespace fennick::ui

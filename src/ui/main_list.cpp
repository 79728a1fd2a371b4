// The found-file list's handlers: rebuilding the rows, marking by click, Shift-click, Space
// and the menu, the total of the marked files, sorting by column header and by the Sort By
// box, the Status/Preview tabs, and the filter indicator and dialog.
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>

#include "catalogue/catalogue_view.h"
#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "ui/filter_dialog.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "workflow/record_text.h"

namespace fennick::ui {

void MainWindow::set_folder_filter(std::int32_t folder, std::uint8_t drive, std::uint16_t type) {
  view_.build_row_map(catalogue_, folder, drive, type);
  list_model_->set_row_count(static_cast<int>(view_.row_map.size()));
  select_shown_type();
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(messages::files_label) +
                      QString::number(catalogue_.deleted_count() - catalogue_.wiped_count()));
  AdvListView->viewport()->update();
}

void MainWindow::update_total_label() {
  if (selected_total_ > 0) {
    TotalFilesizeHTMLStaticText->setText(qmsg(messages::total_file_size) + " <b>" +
                                         qs(workflow::size_text(selected_total_)) + "</b>");
    TotalFilesizeHTMLStaticText->adjustSize();
    TotalFilesizeHTMLStaticText->setVisible(true);
  } else {
    selected_total_ = 0;
    TotalFilesizeHTMLStaticText->setVisible(false);
  }
}

void MainWindow::set_mark(catalogue::FoundFile& record, std::uint8_t value) {
  if (record.selected == value) return;
  record.selected = value;
  selected_total_ += value == 1 ? record.size : -record.size;
}

std::vector<std::int32_t> MainWindow::marked_records() const {
  std::vector<std::int32_t> work;
  const std::vector<catalogue::FoundFile>& files = catalogue_.files();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].selected == 1) work.push_back(static_cast<std::int32_t>(i));
  }
  return work;
}

void MainWindow::AdvListViewLeftClickCell(int row, int column, bool shift) {
  const int rows = list_model_->rowCount();
  if (row >= 0 && row < rows) {
    if (!shift) {
      catalogue::FoundFile* record = list_model_->record_at(row);
      if (column == 0 && record) {
        set_mark(*record, record->selected == 1 ? 0 : 1);
        last_clicked_row_ = row;
        list_model_->rows_changed(row, row);
      }
    } else {
      // Rows from the clicked one towards the last clicked one (towards row 0 when there
      // was none); the clicked row toggles and the others take its new value. A last
      // clicked row beyond the current rows (the list got shorter) only bounds the range.
      if (column == 0) {
        const int anchor = last_clicked_row_;
        const int step = (anchor >= 0 && anchor >= row) ? 1 : -1;
        const int end = anchor >= 0 ? anchor : 0;
        std::uint8_t value = 0;
        bool first = true;
        for (int r = row;; r += step) {
          if (r >= 0 && r < rows) {
            if (catalogue::FoundFile* record = list_model_->record_at(r)) {
              if (first) value = record->selected == 1 ? 0 : 1;
              set_mark(*record, value);
            }
          }
          first = false;
          if (r == end) break;
        }
        list_model_->rows_changed(std::min(row, end), std::max(row, end));
      }
      last_clicked_row_ = row;
    }
  }
  update_total_label();
  AdvListView->viewport()->update();
}

int MainWindow::selected_row() const {
  const QModelIndexList rows = AdvListView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void MainWindow::AdvListViewSpace() {
  const int row = selected_row();
  if (catalogue::FoundFile* record = list_model_->record_at(row)) {
    set_mark(*record, record->selected == 1 ? 0 : 1);
    list_model_->rows_changed(row, row);
    update_total_label();
  }
}

void MainWindow::SelectAll1Click() {
  for (std::size_t r = 0; r < view_.row_map.size(); ++r) {
    if (catalogue::FoundFile* record = list_model_->record_at(static_cast<int>(r)))
      set_mark(*record, 1);
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void MainWindow::UnselectAll1Click() {
  for (std::size_t r = 0; r < view_.row_map.size(); ++r) {
    if (catalogue::FoundFile* record = list_model_->record_at(static_cast<int>(r)))
      set_mark(*record, 0);
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void MainWindow::ReverseSelection1Click() {
  for (std::size_t r = 0; r < view_.row_map.size(); ++r) {
    if (catalogue::FoundFile* record = list_model_->record_at(static_cast<int>(r))) {
      set_mark(*record, record->selected == 1 ? 0 : 1);
    }
  }
  update_total_label();
  list_model_->rows_changed(0, list_model_->rowCount() - 1);
}

void MainWindow::sort_list(int key, bool reversed) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  AdvListView->setUpdatesEnabled(false);
  catalogue::sort_catalogue(catalogue_, key, reversed);
  // A key the catalogue does not sort by leaves the order, and so what the header shows.
  if (key >= catalogue::sort_none && key <= catalogue::sort_modified) {
    sort_key_ = key;
    sort_reversed_ = reversed;
  }
  set_folder_filter(view_.folder, view_.drive, view_.type);
  show_sort_order();
  AdvListView->setUpdatesEnabled(true);
  QApplication::restoreOverrideCursor();
}

void MainWindow::show_sort_order() {
  QHeaderView* header = AdvListView->horizontalHeader();
  if (sort_key_ < catalogue::sort_name || sort_key_ > catalogue::sort_modified) {
    header->setSortIndicator(-1, Qt::AscendingOrder);
    return;
  }
  // The arrow gives the direction of the values: names and paths go up from A, the other
  // keys' own order goes down (best status, largest, newest first).
  const bool rising = sort_key_ == catalogue::sort_name || sort_key_ == catalogue::sort_path;
  header->setSortIndicator(sort_key_ - 1,
                           rising != sort_reversed_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void MainWindow::AdvListViewColumnClick(int column) {
  if (list_model_->rowCount() == 0) {
    show_sort_order();  // the header's own click handling may have moved the arrow
    return;
  }
  const int key = column + 1;
  // A second click on the column the list is sorted by turns the order around.
  const bool reversed = key == sort_key_ && !sort_reversed_;
  // The box shows the key; the untitled last column has none, so the box's choice clears.
  SortByALComboBox->setCurrentIndex(key < SortByALComboBox->count() ? key : -1);
  sort_list(key, reversed);
}

void MainWindow::SortByALComboBoxChange(int key) {
  if (list_model_->rowCount() == 0) return;
  sort_list(key, false);
}

void MainWindow::set_status_tab(bool preview) {
  preview_active_ = preview;
  HTMLabelStatus->setText(
      QString("&nbsp;").repeated(4) + "<font color=\"#FFFFFF\" face=\"Tahoma\">" +
      (preview ? qmsg(messages::status_tab) : "<b>" + qmsg(messages::status_tab) + "</b>") +
      "</font>" + QString("&nbsp;").repeated(19) + "<font color=\"#FFFFFF\" face=\"Tahoma\">" +
      (preview ? "<b>" + qmsg(messages::preview_tab) + "</b>" : qmsg(messages::preview_tab)) +
      "</font>");
  AdvMemo->setVisible(!preview);
  PreviewPanel->setVisible(preview);
  fit_bottom_panel();
}

void MainWindow::fit_bottom_panel() {
  // A picture or a page of text needs more room than the log's few lines.
  if (preview_active_) {
    PanelBottom->setMinimumHeight(220);
    PanelBottom->setMaximumHeight(QWIDGETSIZE_MAX);
    return;
  }
  // The log has 80 pixels at the window's first size and half of every pixel the window
  // grows taller, so that a tall window shows more of it.
  constexpr int first_right_height = 587 - 26 - 19;
  const QWidget* right = PanelBottom->parentWidget();
  const int grown = right ? std::max(0, right->height() - first_right_height) : 0;
  PanelBottom->setFixedHeight(80 + grown / 2);
}

void MainWindow::AdvListViewSelectItem() {
  const catalogue::FoundFile* record = list_model_->record_at(selected_row());
  if (!record) return;
  set_status_tab(true);
  show_preview(*record);
}

void MainWindow::AdvListViewExit() {
  set_status_tab(false);
  clear_preview();
  AdvListView->clearSelection();
}

int MainWindow::status_tab_boundary() const {
  // The header reads four blanks, the Status word, nineteen blanks and the Preview word; a
  // click right of the middle of the gap is on Preview. The word is measured in bold (its
  // widest form), since a long translation reaches past the 80 pixels that fit English.
  QFont bold = HTMLabelStatus->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  const int blank = metrics.horizontalAdvance(QChar(0x00A0));
  const int boundary =
      4 * blank + metrics.horizontalAdvance(qmsg(messages::status_tab)) + 19 * blank / 2;
  return std::max(80, boundary);
}

void MainWindow::HTMLabelStatusMouseDown(int x) {
  // Right to left, the header reads from the right edge: the click is measured from there.
  if (HTMLabelStatus->isRightToLeft()) x = HTMLabelStatus->width() - x;
  if (x >= status_tab_boundary()) {
    if (selected_row() >= 0) {
      AdvListViewSelectItem();
    } else {
      out_text(text(messages::no_files_to_preview), messages::DialogKind::information, true);
    }
  } else {
    set_status_tab(false);
    clear_preview();
  }
}

void MainWindow::set_filter_indicator() {
  FilterPanel->setText(view_.filter.any_on() ? qmsg(messages::filter_on)
                                             : qmsg(messages::filter_off));
}

void MainWindow::FilterAdvToolButtonClick() {
  if (filter_form_) filter_form_->exec();
}

}  // namespace fennick::ui

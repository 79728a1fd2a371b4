// The found-file list: a virtual table model over catalogue::row_map (rows are produced from
// the records when the view asks; nothing is copied) and the view that passes clicks, Shift-
// clicks, the Space key and focus loss to the main window's handlers.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <cstdint>
#include <functional>

#include "catalogue/catalogue.h"

namespace fennick::ui {

// Total size of the marked records (hidden ones included), and the row of the last plain
// click that changed a mark or of the last Shift-click; -1 after the catalogue is cleared.
extern std::int64_t selected_total;
extern std::int32_t last_clicked_row;

// The record shown in list row r, or nullptr when there is no such row.
catalogue::TDeletedFile* record_at_row(int row);

// Text of a list date: "yyyy-mm-dd hh:nn".
QString list_date_text(catalogue::DateTime value);

class FileListModel : public QAbstractTableModel {
 public:
  static constexpr int column_count = 7;
  explicit FileListModel(QObject* parent = nullptr);
  ~FileListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The list's row count, set after row_map has been rebuilt (or to 0 to empty the list).
  void set_row_count(int rows);
  // Redraws the rows (their check marks and texts).
  void rows_changed(int first, int last);
  // Column captions in the current language.
  void captions_changed();

 private:
  int rows_ = 0;
};

class FileListView : public QTableView {
 public:
  explicit FileListView(QWidget* parent = nullptr);
  std::function<void(int row, int column, bool shift)> on_cell_click;
  std::function<void()> on_space;
  std::function<void()> on_exit;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};

}  // namespace fennick::ui

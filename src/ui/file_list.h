// The found-file list: a virtual table model over a catalogue view's row map (rows are
// produced from the catalogue's records when the view asks; nothing is copied) and the view
// that passes clicks, Shift-clicks, the Space key and focus loss to the main window's
// handlers.
#pragma once

#include <QAbstractTableModel>
#include <QPixmap>
#include <QTableView>
#include <cstdint>
#include <functional>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_view.h"
#include "messages/status_channel.h"

namespace fennick::ui {

// Text of a list date: "yyyy-mm-dd hh:nn".
QString list_date_text(catalogue::Timestamp value);

class FileListModel : public QAbstractTableModel {
 public:
  static constexpr int column_count = 7;
  // The narrow last column: the mark of a file found by the deep scan.
  static constexpr int deep_column = 6;
  // Shows the rows of the view over the catalogue, its texts in the language of `texts`.
  FileListModel(catalogue::Catalogue& catalogue, const catalogue::CatalogueView& view,
                const messages::StatusChannel& texts, QObject* parent = nullptr);

  // The record shown in list row r, or nullptr when there is no such row.
  catalogue::FoundFile* record_at(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The list's row count, set after the row map has been rebuilt (or to 0 to empty the list).
  void set_row_count(int rows);
  // Redraws the rows (their check marks and texts).
  void rows_changed(int first, int last);
  // Column captions in the current language.
  void captions_changed();

 private:
  catalogue::Catalogue& catalogue_;
  const catalogue::CatalogueView& view_;
  const messages::StatusChannel& texts_;
  int rows_ = 0;
  const QPixmap& deep_scan_mark() const;
  mutable QPixmap deep_mark_;  // drawn on first use
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
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace fennick::ui

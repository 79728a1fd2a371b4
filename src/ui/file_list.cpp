// The found-file list's model and view.
#include "ui/file_list.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>

#include "catalogue/date_time.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/ui_text.h"
#include "workflow/record_text.h"

namespace fennick::ui {

catalogue::FoundFile* FileListModel::record_at(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= view_.row_map.size()) return nullptr;
  const std::int32_t index = view_.row_map[static_cast<std::size_t>(row)];
  if (index < 0 || static_cast<std::size_t>(index) >= catalogue_.files().size()) return nullptr;
  return &catalogue_.files()[static_cast<std::size_t>(index)];
}

QString list_date_text(catalogue::Timestamp value) {
  // "YYYY-MM-DD HH:MM:SS" cut after the minutes; the time separator is ":" on this system.
  return qs(catalogue::format_timestamp(value).substr(0, 16));
}

FileListModel::FileListModel(catalogue::Catalogue& catalogue, const catalogue::CatalogueView& view,
                             const messages::StatusChannel& texts, QObject* parent)
    : QAbstractTableModel(parent), catalogue_(catalogue), view_(view), texts_(texts) {}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : column_count;
}

namespace {

// Names, paths and sizes read left to right whatever the language: in a right-to-left layout
// "C:\DOCS\" would otherwise be reordered into "\DOCS\:C".
QString left_to_right(const QString& text) {
  if (QGuiApplication::layoutDirection() != Qt::RightToLeft) return text;
  return QChar(0x202A) + text + QChar(0x202C);  // left-to-right embedding ... pop
}

}  // namespace

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const catalogue::FoundFile* record = record_at(index.row());
  if (!record) return {};
  if (role == Qt::CheckStateRole) {
    if (index.column() != 0) return {};
    return record->selected == 1 ? Qt::Checked : Qt::Unchecked;
  }
  // The last column marks the files only the deep scan found: an icon, its name as tip.
  if (index.column() == deep_column && record->found_by_deep_scan) {
    if (role == Qt::DecorationRole) return deep_scan_mark();
    if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) {
      return qs(texts_.text(messages::deep_scan));
    }
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case 0:
      return left_to_right(qs(record->name.str()));
    case 1:
      return left_to_right(qs(record->path.str()));
    case 2: {
      const int message = workflow::status_message(record->quality);
      return message < 0 ? QString() : qs(texts_.text(message));
    }
    case 3:
      return left_to_right(qs(workflow::size_text(record->size)));
    case 4:
      return list_date_text(record->created);
    case 5:
      return list_date_text(record->modified);
    default:
      return QString();
  }
}

// Layers with an arrow down through them: found below what the ordinary scan sees.
const QPixmap& FileListModel::deep_scan_mark() const {
  if (deep_mark_.isNull()) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor("#7A7A99"), 1.2));
    for (const qreal y : {3.5, 6.5, 9.5}) p.drawLine(QPointF(1, y), QPointF(11, y));
    p.setPen(QPen(QColor("#1565C0"), 1.6));
    p.drawLine(QPointF(6, 0.5), QPointF(6, 10.5));
    p.drawLine(QPointF(3.5, 8), QPointF(6, 10.8));
    p.drawLine(QPointF(8.5, 8), QPointF(6, 10.8));
    p.end();
    deep_mark_ = pixmap;
  }
  return deep_mark_;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == deep_column && role == Qt::ToolTipRole) {
    return qs(texts_.text(messages::deep_scan));
  }
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section >= 0 && section <= 5) return qs(texts_.text(messages::field_filename + section));
  return QString();
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  // No ItemIsUserCheckable: marks change only through the list's own click rules.
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void FileListModel::set_row_count(int rows) {
  beginResetModel();
  rows_ = rows < 0 ? 0 : rows;
  endResetModel();
}

void FileListModel::rows_changed(int first, int last) {
  if (rows_ == 0) return;
  first = std::max(first, 0);
  last = std::min(last, rows_ - 1);
  if (first > last) return;
  emit dataChanged(index(first, 0), index(last, column_count - 1));
}

void FileListModel::captions_changed() {
  emit headerDataChanged(Qt::Horizontal, 0, column_count - 1);
}

FileListView::FileListView(QWidget* parent) : QTableView(parent) {}

void FileListView::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !on_cell_click) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (!index.isValid()) return;
  on_cell_click(index.row(), index.column(), (event->modifiers() & Qt::ShiftModifier) != 0);
}

void FileListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (on_space) on_space();
  } else {
    QTableView::keyPressEvent(event);
  }
  viewport()->update();
}

void FileListView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  // The preview pane takes height from the list when a row is selected: the row stays in
  // sight.
  if (event->size().height() < event->oldSize().height() && selectionModel() != nullptr) {
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (!rows.isEmpty()) scrollTo(rows.front());
  }
}

void FileListView::focusOutEvent(QFocusEvent* event) {
  QTableView::focusOutEvent(event);
  // A pop-up menu over the list is not leaving it.
  if (event->reason() != Qt::PopupFocusReason && on_exit) on_exit();
}

}  // namespace fennick::ui

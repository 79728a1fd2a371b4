// Widths of the found-file list's columns, from the font's metrics and the texts the list
// shows in the current language: the header, the longest status word, a date with its time,
// the widest size text. The name and path columns keep their widths (the user sizes them).
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>

#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

// Room around a cell's text: the item delegate's margin on both sides, and a little air.
int cell_padding(const QWidget* view) {
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  return 2 * margin + 6;
}

// Room around a header's text: its margins and the sort arrow.
int header_padding(const QHeaderView* header) {
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const int arrow = header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
  return 2 * margin + arrow + 8;
}

}  // namespace

void MainWindow::fit_list_columns() {
  const QFontMetrics cells(AdvListView->font());
  const QHeaderView* header = AdvListView->horizontalHeader();
  const QFontMetrics captions(header->font());
  const int cell_room = cell_padding(AdvListView);
  const int header_room = header_padding(header);
  const auto widest = [&](std::initializer_list<QString> texts) {
    int w = 0;
    for (const QString& t : texts) w = std::max(w, cells.horizontalAdvance(t));
    return w + cell_room;
  };
  const auto caption = [&](int column) {
    return captions.horizontalAdvance(qmsg(messages::field_filename + column)) + header_room;
  };
  QStringList statuses;
  for (int k = messages::quality_error; k <= messages::quality_very_good; ++k) {
    statuses.push_back(qmsg(k));
  }
  int status_width = 0;
  for (const QString& s : statuses)
    status_width = std::max(status_width, cells.horizontalAdvance(s));
  // Digits may differ in width; the widest date and size texts are made of 8s and 0s.
  const int widths[] = {
      std::max(status_width + cell_room, caption(2)),
      std::max(widest({"999999.99 Mb", "1023 Kb", "1023 b"}), caption(3)),
      std::max(widest({"8888-88-88 88:88", "0000-00-00 00:00"}), caption(4)),
      std::max(widest({"8888-88-88 88:88", "0000-00-00 00:00"}), caption(5)),
  };
  for (int column = 2; column <= 5; ++column) {
    AdvListView->setColumnWidth(column, widths[column - 2]);
  }
}

}  // namespace fennick::ui

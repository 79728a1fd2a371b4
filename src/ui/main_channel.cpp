// The main window as status channel: log lines in AdvMemo (after a modal dialog when asked),
// the file counter in status-bar panel 2, the progress bar in panel 3, and the event pump
// the runs call between pieces of work (the run control's event_pump).
#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

// Events are handled at most this often during a run: a scan calls the pump once per entry
// or record, and handling events (and repainting) 100,000 times would slow it down badly,
// while 50 pumps a second keep the window responsive and Stop prompt.
constexpr qint64 pump_interval_ms = 20;

}  // namespace

void MainWindow::out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) {
  const QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (show_dialog) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (kind == messages::DialogKind::error) icon = QMessageBox::Critical;
    if (kind == messages::DialogKind::information) icon = QMessageBox::Information;
    QMessageBox box(icon, windowTitle(), line, QMessageBox::Ok, this);
    box.setObjectName("OutTextDialog");
    box.exec();
  }
  // One block per line; the first line goes into the empty document's first block, so an
  // empty first line is kept as a line too.
  QTextCursor cursor(AdvMemo->document());
  cursor.movePosition(QTextCursor::End);
  if (log_lines_ > 0) cursor.insertBlock();
  cursor.insertText(line);
  ++log_lines_;
  AdvMemo->verticalScrollBar()->setValue(AdvMemo->verticalScrollBar()->maximum());
}

QString MainWindow::qmsg(int k) const { return message_text(language(), k); }

void MainWindow::process_pending_events() {
  if (pending_events_hook) pending_events_hook();
  if (pump_clock_.isValid() && pump_clock_.elapsed() < pump_interval_ms) return;
  flush_file_counter();
  QCoreApplication::processEvents();
  pump_clock_.start();
}

void MainWindow::set_file_counter(std::int64_t files) {
  // Shown at the next pump: the scanners set it once per record.
  pending_files_ = files;
  file_counter_dirty_ = true;
}

void MainWindow::flush_file_counter() {
  if (!file_counter_dirty_) return;
  file_counter_dirty_ = false;
  FilesPanel->setText(qmsg(messages::files_label) + QString::number(pending_files_));
}

void MainWindow::set_progress(std::int32_t position) {
  ProgressBar->setValue(position);
  if (run_files_total_ > 0) show_run_files();
}

void MainWindow::set_run_files(std::int64_t done, std::int64_t total) {
  if (done == 0) run_clock_.restart();
  run_files_done_ = done;
  run_files_total_ = total;
  show_run_files();
}

void MainWindow::show_run_files() {
  if (run_files_total_ <= 0) {
    ProgressBar->setFormat("%p%");
    return;
  }
  QString format = "%p%    " + QLocale().toString(static_cast<qlonglong>(run_files_done_)) + " / " +
                   QLocale().toString(static_cast<qlonglong>(run_files_total_));
  const int maximum = ProgressBar->maximum();
  if (maximum > 0) {
    const double share = static_cast<double>(ProgressBar->value()) / maximum;
    if (const auto left = run_clock_.seconds_left(share)) {
      format += "    " + qmsg(messages::time_left) + qs(run::clock_text(*left));
    }
  }
  ProgressBar->setFormat(format);
}

void MainWindow::set_progress_range(std::int32_t maximum) {
  ProgressBar->setRange(0, std::max(0, maximum));
}

}  // namespace fennick::ui

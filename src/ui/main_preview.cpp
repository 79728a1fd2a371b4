// The preview pane: the selected found file's first bytes (workflow/preview.h), read on a
// thread of its own so the list stays responsive, shown as a picture scaled to the pane, as text,
// or as message 76 with a hex and character view; message 77 for a file that cannot be
// shown (overwritten, unreadable, or a picture that does not decode).
#include <QCoreApplication>
#include <QFontDatabase>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QThreadPool>

#include "messages/message_ids.h"
#include "ui/file_list.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

// Text beyond this many bytes is not put into the pane: a page is what a preview is for.
constexpr std::size_t text_preview_bytes = 256 * 1024;

}  // namespace

void MainWindow::clear_preview() {
  ++preview_generation_;
  preview_latest_->store(preview_generation_);
  preview_record_ = -1;
  preview_image_ = QImage();
  PreviewStatusHTMLabel->clear();
  PreviewStatusHTMLabel->setVisible(false);
  PreviewImageLabel->clear();
  PreviewImageLabel->setVisible(false);
  PreviewTextEdit->clear();
  PreviewTextEdit->setVisible(false);
}

void MainWindow::show_preview_message(int message) {
  PreviewStatusHTMLabel->setText("<p align=\"center\">" + qmsg(message) + "</p>");
  PreviewStatusHTMLabel->setVisible(true);
}

void MainWindow::show_preview(const catalogue::FoundFile& record) {
  clear_preview();
  const auto index = static_cast<std::int32_t>(&record - catalogue_.files().data());
  preview_record_ = index;
  // The first cluster holds another file now: there is nothing of this one to show.
  if (record.quality == 0) {
    show_preview_message(messages::no_preview_corrupted);
    return;
  }
  if (record.drive_index < 0 || static_cast<std::size_t>(record.drive_index) >= drives_.size()) {
    show_preview_message(messages::no_preview_corrupted);
    return;
  }
  // While a run reads the volumes, they are its alone.
  if (run_active()) return;
  const volume::Volume volume = drives_[static_cast<std::size_t>(record.drive_index)];
  const catalogue::FoundFile copy = record;
  const std::uint64_t generation = preview_generation_;
  preview_latest_->store(generation);
  QPointer<MainWindow> self(this);
  preview_pool_.start([self, volume, copy, generation, latest = preview_latest_] {
    // Another file was selected while this read waited for the one before it.
    if (latest->load() != generation) return;
    workflow::PreviewBytes read = workflow::read_preview_bytes(volume, copy);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, generation, read = std::move(read)] {
          if (self) self->present_preview(generation, read);
        },
        Qt::QueuedConnection);
  });
}

void MainWindow::present_preview(std::uint64_t generation, const workflow::PreviewBytes& read) {
  // A later selection, or the pane was left, since this read began.
  if (generation != preview_generation_ || !preview_active_) return;
  if (!read.readable) {
    show_preview_message(messages::no_preview_corrupted);
    return;
  }
  switch (workflow::preview_kind(read.bytes)) {
    case workflow::PreviewKind::picture: {
      QImage image;
      if (!image.loadFromData(read.bytes.data(), static_cast<int>(read.bytes.size()))) {
        show_preview_message(messages::no_preview_corrupted);
        return;
      }
      preview_image_ = image;
      PreviewImageLabel->setVisible(true);
      fit_preview_picture();
      return;
    }
    case workflow::PreviewKind::text: {
      std::vector<std::uint8_t> head(
          read.bytes.begin(), read.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                       read.bytes.size(), text_preview_bytes)));
      const std::optional<std::string> text = workflow::preview_text(head);
      PreviewTextEdit->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
      PreviewTextEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      PreviewTextEdit->setPlainText(qs(text.value_or(std::string())));
      PreviewTextEdit->setVisible(true);
      return;
    }
    case workflow::PreviewKind::other:
      show_preview_message(messages::no_preview_for_type);
      PreviewTextEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      PreviewTextEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
      PreviewTextEdit->setPlainText(qs(workflow::hex_view(read.bytes)));
      PreviewTextEdit->setVisible(true);
      return;
  }
}

void MainWindow::fit_preview_picture() {
  if (preview_image_.isNull() || !PreviewImageLabel->isVisible()) return;
  const QSize area = PreviewImageLabel->size().boundedTo(preview_image_.size());
  PreviewImageLabel->setPixmap(QPixmap::fromImage(preview_image_.scaled(
      area.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool MainWindow::select_file_named(const QString& name) {
  for (int row = 0; row < list_model_->rowCount(); ++row) {
    const catalogue::FoundFile* record = list_model_->record_at(row);
    if (record == nullptr || qs(record->name.str()) != name) continue;
    // Not selectRow: right to left it looks for the column at the viewport's far edge and
    // finds none.
    const QModelIndex index = list_model_->index(row, 0);
    AdvListView->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    AdvListView->scrollTo(index);
    return true;
  }
  return false;
}

bool MainWindow::preview_shown() const {
  return preview_active_ && (!PreviewImageLabel->isHidden() || !PreviewTextEdit->isHidden() ||
                             !PreviewStatusHTMLabel->isHidden());
}

void MainWindow::finish_preview_reads() {
  // What a read still queued or running finds is for a list that is about to change: it is
  // not shown, and a queued one does not start.
  ++preview_generation_;
  preview_latest_->store(preview_generation_);
  preview_pool_.waitForDone();
}

}  // namespace fennick::ui

// The Clean Disk window and the main window's command that opens it. A run executes inside
// the Start click in the fixed order directory entries, cluster tips, free space, with this
// window as the status channel, and closes each job with " Ok", " Process interrupted" or
// " Operation have been finished with errors". Drives that are not mounted are marked in the
// list, and no job starts on one.
#include "ui/clean_disk_window.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "cleaning/clean_jobs.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "volume/mount_lookup.h"

namespace fennick::ui {

namespace {

template <typename W>
W* make(QWidget* parent, const char* name) {
  auto* widget = new W(parent);
  widget->setObjectName(name);
  return widget;
}

// The picture above the Start button: a drive with a broom's sweep across it.
QPixmap clean_picture(const QStyle* style) {
  QPixmap picture(120, 65);
  picture.fill(Qt::white);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.drawPixmap(36, 8, style->standardIcon(QStyle::SP_DriveHDIcon).pixmap(48, 48));
  p.setPen(QPen(QColor("#033893"), 3, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i)
    p.drawArc(QRectF(18 + i * 6, 12 + i * 4, 84 - i * 12, 46 - i * 8), 200 * 16, 140 * 16);
  return picture;
}

// The jobs work through the mounted file system: a drive is mounted when its volume is, as
// the mount table says now (it may have changed since the drive list was made).
bool drive_mounted(const workflow::Drive& drive) {
  return !drive.source_path.empty() &&
         !volume::find_mount_point(drive.source_path, drive.offset).empty();
}

// What the user has to mount: the image or device, and which partition of it.
std::string mount_source(const workflow::Drive& drive) {
  return drive.partition_number > 0
             ? drive.source_path + " #" + std::to_string(drive.partition_number)
             : drive.source_path;
}

// The mark of a drive that is not mounted: a grey drive with a red bar across a ring.
QIcon not_mounted_icon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(QColor("#707070"), 1));
  p.setBrush(QColor("#C8C8C8"));
  p.drawRoundedRect(QRectF(0.5, 3.5, 13, 7), 1.5, 1.5);
  p.setBrush(QColor("#707070"));
  p.drawEllipse(QRectF(2.5, 6, 2, 2));
  p.setPen(QPen(QColor("#D32F2F"), 1.6));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(8.5, 8.5, 6.5, 6.5));
  p.drawLine(QPointF(9.6, 14), QPointF(13.9, 9.6));
  p.end();
  return QIcon(pixmap);
}

}  // namespace

void MainWindow::CleanAdvToolButtonClick() {
  // The jobs work on the drives while a preview read may still hold one.
  finish_preview_reads();
  if (clean_form_ != nullptr) clean_form_->exec();
}

CleanDiskWindow::CleanDiskWindow(MainWindow& main_window)
    : QDialog(&main_window, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      main_window_(main_window),
      drives_(main_window.drive_list()) {
  setObjectName("T_cleanForm");
  set_language(main_window.language());
  run_.event_pump = [this] { process_pending_events(); };
  setModal(true);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  CleanDriveALComboBox = make<QComboBox>(this, "CleanDriveALComboBox");
  CleanDriveALComboBox->setMinimumWidth(249);
  CleanDriveALComboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  CleanDriveALComboBox->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  DirectoryEntriesHTMLCheckBox = make<QCheckBox>(this, "DirectoryEntriesHTMLCheckBox");
  ClusterTipsHTMLCheckBox = make<QCheckBox>(this, "ClusterTipsHTMLCheckBox");
  FreeSpaceHTMLCheckBox = make<QCheckBox>(this, "FreeSpaceHTMLCheckBox");
  for (QCheckBox* box :
       {DirectoryEntriesHTMLCheckBox, ClusterTipsHTMLCheckBox, FreeSpaceHTMLCheckBox}) {
    box->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  }
  Image1 = make<QLabel>(this, "Image1");
  Image1->setPixmap(clean_picture(style()));
  Image1->setFixedSize(120, 65);
  CleanAdvToolButton = make<QToolButton>(this, "CleanAdvToolButton");
  CleanAdvToolButton->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  CleanAdvToolButton->setMinimumSize(120, 22);
  QFont bold("Tahoma");
  bold.setPointSize(10);
  bold.setBold(true);
  CleanAdvToolButton->setFont(bold);
  AdvMemo = make<QPlainTextEdit>(this, "AdvMemo");
  AdvMemo->setReadOnly(true);
  AdvMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  AdvMemo->setMinimumSize(377, 84);
  QFont memo_font("Tahoma");
  memo_font.setPointSize(8);
  AdvMemo->setFont(memo_font);

  MainStatusBar = make<QWidget>(this, "MainStatusBar");
  MainStatusBar->setFixedHeight(19);
  ProgressBar = make<QProgressBar>(MainStatusBar, "ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setFormat("%p%");
  ProgressBar->setAlignment(Qt::AlignCenter);
  StopButton = make<QToolButton>(MainStatusBar, "StopButton");
  StopButton->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  StopButton->setAutoRaise(true);
  StopButton->setEnabled(false);

  // The drive box and the three jobs on the reading side, the picture over Start on the
  // other; the log below both; the progress bar with Stop along the bottom edge. Every row
  // follows the reading direction and the captions' widths in the current language.
  auto* jobs = new QVBoxLayout;
  jobs->setSpacing(2);
  jobs->addWidget(CleanDriveALComboBox);
  jobs->addSpacing(10);
  jobs->addWidget(DirectoryEntriesHTMLCheckBox);
  jobs->addWidget(ClusterTipsHTMLCheckBox);
  jobs->addWidget(FreeSpaceHTMLCheckBox);
  auto* start = new QVBoxLayout;
  start->setSpacing(2);
  start->addWidget(Image1, 0, Qt::AlignHCenter);
  start->addStretch(1);
  start->addWidget(CleanAdvToolButton);
  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  top->addLayout(jobs);
  top->addStretch(1);
  top->addLayout(start);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(16, 6, 12, 10);
  body->setSpacing(10);
  body->addLayout(top);
  body->addWidget(AdvMemo, 1);
  auto* bar = new QHBoxLayout(MainStatusBar);
  bar->setContentsMargins(0, 0, 12, 0);
  bar->setSpacing(8);
  bar->addWidget(ProgressBar, 1);
  bar->addWidget(StopButton);
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->setSpacing(0);
  window->setSizeConstraint(QLayout::SetMinimumSize);
  window->addLayout(body, 1);
  window->addWidget(MainStatusBar);

  connections_.push_back(
      QObject::connect(CleanDriveALComboBox, &QComboBox::activated, this,
                       [this](int entry) { CleanDriveALComboBoxChange(entry); }));
  connections_.push_back(QObject::connect(CleanAdvToolButton, &QToolButton::clicked, this,
                                          [this] { CleanAdvToolButtonClick(); }));
  connections_.push_back(
      QObject::connect(StopButton, &QToolButton::clicked, this, [this] { StopButtonClick(); }));
  apply_captions();
}

CleanDiskWindow::~CleanDiskWindow() {
  for (const QMetaObject::Connection& c : connections_) QObject::disconnect(c);
  run_.event_pump = nullptr;
}

QString CleanDiskWindow::qmsg(int k) const { return message_text(language(), k); }

void CleanDiskWindow::apply_captions() {
  setWindowTitle("Fennick" + qmsg(messages::clean_title_suffix));
  StopButton->setToolTip(qmsg(messages::stop_button));
  DirectoryEntriesHTMLCheckBox->setText(qmsg(messages::clean_directory_entries));
  ClusterTipsHTMLCheckBox->setText(qmsg(messages::clean_cluster_tips));
  FreeSpaceHTMLCheckBox->setText(qmsg(messages::clean_free_space));
  // Start turns into Stop Clean during a run: the button is wide enough for both.
  CleanAdvToolButton->setText(qmsg(messages::stop_clean));
  const int stop_width = CleanAdvToolButton->sizeHint().width();
  CleanAdvToolButton->setText(qmsg(messages::start_clean));
  CleanAdvToolButton->setMinimumWidth(
      std::max({120, stop_width, CleanAdvToolButton->sizeHint().width()}));
  // The new captions may need more room, or less: the window takes the least size its
  // layout allows, which fits every caption.
  layout()->activate();
  resize(minimumSize());
}

void CleanDiskWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void CleanDiskWindow::FormActivate() {
  // Runs at every opening. Re-activation while open (after switching to another program and
  // back) is left alone: it would empty the log and reset the choices, during a run too.
  AdvMemo->clear();
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  out_text(
      text(messages::clean_started_at) + (locale.toString(now.date(), QLocale::ShortFormat) + " " +
                                          locale.toString(now.time(), QLocale::LongFormat))
                                             .toStdString(),
      messages::DialogKind::plain, false);
  move(main_window_.pos() + QPoint(400, 120));
  CleanDriveALComboBox->clear();
  CleanDriveALComboBox->addItem(qmsg(messages::select_drive));
  // A drive that is not mounted is listed (a job on it is refused with the reason), drawn
  // grey with a mark, the reason as its tip.
  const QIcon mark = not_mounted_icon();
  for (const workflow::Drive& drive : drives_) {
    CleanDriveALComboBox->addItem(QString(QChar(drive.drive_letter).toUpper()) + ":\\  " +
                                  qs(drive.fs_name()));
    if (drive_mounted(drive)) continue;
    const int entry = CleanDriveALComboBox->count() - 1;
    CleanDriveALComboBox->setItemIcon(entry, mark);
    CleanDriveALComboBox->setItemData(entry, QColor(Qt::gray), Qt::ForegroundRole);
    CleanDriveALComboBox->setItemData(
        entry, qs(text(messages::drive_not_mounted) + mount_source(drive)).trimmed(),
        Qt::ToolTipRole);
  }
  CleanDriveALComboBox->setCurrentIndex(0);
  // As wide as its longest entry, so no drive's name is cut short.
  CleanDriveALComboBox->setMinimumWidth(std::max(249, CleanDriveALComboBox->sizeHint().width()));
  for (QCheckBox* box :
       {DirectoryEntriesHTMLCheckBox, ClusterTipsHTMLCheckBox, FreeSpaceHTMLCheckBox}) {
    box->setChecked(false);
  }
}

void CleanDiskWindow::CleanDriveALComboBoxChange(int entry) {
  // "[Select drive]" leaves the box as it is; Start refuses that entry anyway.
  if (entry < 1 || static_cast<std::size_t>(entry) > drives_.size()) return;
  const bool ntfs =
      drives_[static_cast<std::size_t>(entry - 1)].kind == volume::FileSystemKind::ntfs;
  DirectoryEntriesHTMLCheckBox->setEnabled(ntfs);
  if (!ntfs) DirectoryEntriesHTMLCheckBox->setChecked(false);
}

void CleanDiskWindow::disable_all() {
  CleanDriveALComboBox->setEnabled(false);
  for (QCheckBox* box :
       {DirectoryEntriesHTMLCheckBox, ClusterTipsHTMLCheckBox, FreeSpaceHTMLCheckBox}) {
    box->setEnabled(false);
  }
}

void CleanDiskWindow::enable_all() {
  CleanDriveALComboBox->setEnabled(true);
  for (QCheckBox* box :
       {DirectoryEntriesHTMLCheckBox, ClusterTipsHTMLCheckBox, FreeSpaceHTMLCheckBox}) {
    box->setEnabled(true);
  }
}

void CleanDiskWindow::StopButtonClick() { run_.request_stop(); }

void CleanDiskWindow::reject() {
  if (StopButton->isEnabled()) {
    run_.request_stop();
    return;
  }
  QDialog::reject();
}

void CleanDiskWindow::CleanAdvToolButtonClick() {
  // While a job runs the button is Stop Clean: this click is Stop.
  if (run_state_ == RunState::cleaning) {
    run_.request_stop();
    return;
  }
  run_.clear_stop();
  const int entry = CleanDriveALComboBox->currentIndex();
  if (entry < 1 || static_cast<std::size_t>(entry) > drives_.size()) {
    out_text(text(messages::no_drive_to_clean), messages::DialogKind::plain, false);
    return;
  }
  const bool entries = DirectoryEntriesHTMLCheckBox->isChecked();
  const bool tips = ClusterTipsHTMLCheckBox->isChecked();
  const bool free_space = FreeSpaceHTMLCheckBox->isChecked();
  if (!entries && !tips && !free_space) {
    out_text(text(messages::no_clean_action), messages::DialogKind::plain, false);
    return;
  }
  // Every job works through the mounted file system; without one none starts.
  const workflow::Drive& picked = drives_[static_cast<std::size_t>(entry - 1)];
  if (!drive_mounted(picked)) {
    out_text(text(messages::drive_not_mounted) + mount_source(picked), messages::DialogKind::plain,
             false);
    return;
  }

  run_state_ = RunState::cleaning;
  disable_all();
  StopButton->setEnabled(true);
  CleanAdvToolButton->setText(qmsg(messages::stop_clean));
  ProgressBar->setValue(0);
  // A copy: the drive list must not change under a running job, and this window being
  // modal keeps the main window's Refresh out of reach anyway.
  const workflow::Drive drive = drives_[static_cast<std::size_t>(entry - 1)];
  const cleaning::CleanJob job{drive, run_, *this};

  // The closing line of a job. Every worker's false result is a failure, cluster tips
  // included, so a job that could not run is never reported as " Ok".
  const auto close_job = [this](bool done) {
    const int message =
        !done ? messages::clean_finished_with_errors
              : (run_.stop_requested() ? messages::process_interrupted : messages::clean_ok);
    out_text(text(message), messages::DialogKind::plain, false);
  };
  if (entries) {
    out_text(text(messages::erasing_directory_entries), messages::DialogKind::plain, false);
    close_job(cleaning::erase_directory_entries(job));
  }
  if (tips && !run_.stop_requested()) {
    out_text(text(messages::erasing_cluster_tips), messages::DialogKind::plain, false);
    close_job(cleaning::erase_cluster_tips(job, drive.cluster_size,
                                           drive.total_bytes - drive.free_bytes));
  }
  if (free_space && !run_.stop_requested()) {
    out_text(text(messages::erasing_free_space), messages::DialogKind::plain, false);
    close_job(cleaning::erase_free_space(job));
  }

  enable_all();
  StopButton->setEnabled(false);
  CleanAdvToolButton->setText(qmsg(messages::start_clean));
  run_state_ = RunState::idle;
  run_.clear_stop();
}

void CleanDiskWindow::out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) {
  const QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (show_dialog) {
    const QMessageBox::Icon icon = kind == messages::DialogKind::error ? QMessageBox::Critical
                                   : kind == messages::DialogKind::information
                                       ? QMessageBox::Information
                                       : QMessageBox::NoIcon;
    QMessageBox box(icon, windowTitle(), line, QMessageBox::Ok, this);
    box.exec();
  }
  AdvMemo->appendPlainText(line);
}

void CleanDiskWindow::process_pending_events() {
  if (pending_events_hook) pending_events_hook();
  QCoreApplication::processEvents();
}

void CleanDiskWindow::set_file_counter(std::int64_t) {
  // The window has no file counter; the workers report through the log and the bar.
}

void CleanDiskWindow::set_progress(std::int32_t position) { ProgressBar->setValue(position); }

void CleanDiskWindow::set_progress_range(std::int32_t maximum) {
  ProgressBar->setMaximum(std::max(1, maximum));
}

}  // namespace fennick::ui

// What the main window keeps between runs and the small commands around the work: the
// settings store, the start-up reading, the "path" and "kfs" writes, admin mode (Ctrl+A) with
// its two raw-dump diagnostics, the Help and Update buttons and the two link labels. Run as
// root, the store is root's own file, written through no link, and no other program is
// started: the address is logged for the user to open.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "catalogue/catalogue.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "ui/main_window.h"
#include "ui/product_links.h"
#include "ui/run_identity.h"
#include "ui/settings_store.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"
#include "workflow/drive_list.h"
#include "workflow/raw_reads.h"

namespace fennick::ui {

// ---- the settings store -------------------------------------------------------------------

namespace settings {

namespace {
constexpr const char* organisation = "BrantleSoftware";
constexpr const char* application = "Fennick";

// The store as this process may use it: the per-user one, or as root root's own file once
// its path has passed the check (folders made when writing). Null when root's file cannot be
// used safely; a refused write says so in the log, naming only the path in the way.
std::unique_ptr<QSettings> open_store(bool for_writing, messages::StatusChannel* log) {
  const identity::Identity who = identity::current();
  if (who.euid != 0) return std::make_unique<QSettings>(organisation, application);
  const QString file = identity::settings_file(who);
  const identity::PathCheck check = identity::check_root_path(file.toStdString(), for_writing);
  using Outcome = identity::PathCheck::Outcome;
  if (check.outcome == Outcome::usable) {
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
  }
  if (log != nullptr && for_writing && check.outcome == Outcome::link) {
    log->log(log->text(messages::link_not_followed) + check.where);
  } else if (log != nullptr && for_writing) {
    log->log(log->text(messages::error_prefix) + log->text(messages::settings_not_saved) +
             check.where);
  }
  return nullptr;
}

}  // namespace

bool exists() {
  const auto store = open_store(false, nullptr);
  return store != nullptr && QFileInfo::exists(store->fileName());
}

int read_int(const QString& name, int def) {
  const auto store = open_store(false, nullptr);
  if (store == nullptr) return def;
  bool ok = false;
  const int value = store->value(name).toString().trimmed().toInt(&ok);
  return ok ? value : def;
}

QString read_text(const QString& name, const QString& def) {
  const auto store = open_store(false, nullptr);
  return store != nullptr && store->contains(name) ? store->value(name).toString() : def;
}

void write_int(const QString& name, int value, messages::StatusChannel& log) {
  if (const auto store = open_store(true, &log)) store->setValue(name, QString::number(value));
}

void write_text(const QString& name, const QString& value, messages::StatusChannel& log) {
  if (const auto store = open_store(true, &log)) store->setValue(name, value);
}

void remove(const QString& name, messages::StatusChannel& log) {
  // Removing from a store that does not exist must not create it.
  if (!exists()) return;
  const auto store = open_store(true, &log);
  if (store != nullptr && store->contains(name)) store->remove(name);
}

}  // namespace settings

namespace {

// Ctrl+A for the main window, seen before any of its controls (a line edit or the list would
// take it as "select all" otherwise); other modifiers may be held as well.
class AdminKeyFilter : public QObject {
 public:
  explicit AdminKeyFilter(MainWindow* form) : QObject(form), form_(form) {
    qApp->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_A || !(key->modifiers() & Qt::ControlModifier) ||
        key->isAutoRepeat()) {
      return false;
    }
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != form_) return false;
    form_->toggle_admin_mode();
    return true;
  }

 private:
  MainWindow* form_;
};

// Runs an action on a left click of a label (the link labels below the drive tree).
class ClickFilter : public QObject {
 public:
  ClickFilter(QWidget* target, std::function<void()> action)
      : QObject(target), action_(std::move(action)) {
    target->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      action_();
      return true;
    }
    return false;
  }

 private:
  std::function<void()> action_;
};

QString documents_folder() {
  return QDir::toNativeSeparators(
      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

bool same_folder(const QString& a, const QString& b) {
  return QDir::cleanPath(QDir::fromNativeSeparators(a)) ==
         QDir::cleanPath(QDir::fromNativeSeparators(b));
}

QLabel* link_label(const QString& text, const char* name) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setStyleSheet("color: #0000C0; text-decoration: underline;");
  label->setCursor(Qt::PointingHandCursor);
  return label;
}

}  // namespace

void MainWindow::build_settings_controls() {
  shell_open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  ask_save_file = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QString(), suggested);
  };

  // Admin items: the two diagnostics after their separators at the ends of the two menus.
  AdminSeparator = AdvPopupMenu->addSeparator();
  AdminSeparator->setObjectName("AdminSeparator");
  ReadMFT = AdvPopupMenu->addAction("Read selected MFT");
  ReadMFT->setObjectName("ReadMFT");
  AdminSeparator2 = DrivesAdvPopupMenu->addSeparator();
  AdminSeparator2->setObjectName("AdminSeparator2");
  Read1stSector = DrivesAdvPopupMenu->addAction("Read 1st Sector");
  Read1stSector->setObjectName("Read1stSector");
  for (QAction* item : {AdminSeparator, ReadMFT, AdminSeparator2, Read1stSector})
    item->setVisible(false);
  new AdminKeyFilter(this);

  // The web site and the support address below the drive tree.
  SiteLabel = link_label(links::web_site_caption, "SiteLabel");
  Label3 = link_label(links::support_mail, "Label3");
  if (auto* box = qobject_cast<QVBoxLayout*>(AdvNavBarLeft->panel(drives_panel_)->layout())) {
    const int after_tree = box->indexOf(DriveHTMLTreeview) + 1;
    box->insertWidget(after_tree, SiteLabel, 0, Qt::AlignLeft);
    box->insertWidget(after_tree + 1, Label3, 0, Qt::AlignLeft);
  }
  new ClickFilter(SiteLabel, [this] { open_address(QUrl(links::web_site), true); });
  new ClickFilter(Label3,
                  [this] { open_address(QUrl(QString("mailto:") + links::support_mail), true); });

  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size() && i < language_buttons_.size(); ++i) {
    const int base = languages[i].base;
    connections_.push_back(QObject::connect(language_buttons_[i], &QToolButton::clicked, this,
                                            [this, base] { apply_language(base); }));
  }
  connections_.push_back(QObject::connect(HelpAdvToolButton, &QToolButton::clicked, this,
                                          [this] { HelpAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(UpdateAdvToolButton, &QToolButton::clicked, this,
                                          [this] { UpdateAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(CleanAdvToolButton, &QToolButton::clicked, this,
                                          [this] { CleanAdvToolButtonClick(); }));
  connections_.push_back(
      QObject::connect(ReadMFT, &QAction::triggered, this, [this] { ReadMFTClick(); }));
  connections_.push_back(
      QObject::connect(Read1stSector, &QAction::triggered, this, [this] { Read1stSectorClick(); }));

  // "path" follows the destination field whenever it names a folder other than the documents
  // folder; naming the documents folder again removes it, so the next start shows what the
  // user last chose.
  connections_.push_back(QObject::connect(SaveAdvDirectoryEdit, &QLineEdit::textChanged, this,
                                          [this](const QString& folder) {
                                            if (folder.trimmed().isEmpty()) return;
                                            if (same_folder(folder, documents_folder())) {
                                              settings::remove("path", *this);
                                            } else {
                                              settings::write_text("path", folder, *this);
                                            }
                                          }));
  connections_.push_back(QObject::connect(
      KeepFolderHTMLCheckBox, &QCheckBox::clicked, this,
      [this](bool checked) { settings::write_int("kfs", checked ? 1 : 0, *this); }));
}

void MainWindow::read_settings() {
  const QString documents = documents_folder();
  if (settings::exists()) {
    int language = settings::read_int("language", messages::english_base);
    if (messages::find_language(std::to_string(language)) == nullptr)
      language = messages::english_base;
    set_language(language);
    SaveAdvDirectoryEdit->setText(settings::read_text("path", documents));
    if (settings::read_int("kfs", 0) == 1) KeepFolderHTMLCheckBox->setChecked(true);
    apply_language(language);
    if (settings::read_int("admin_mode", 0) == 1 && !admin_mode()) toggle_admin_mode();
  } else {
    apply_language(messages::english_base);
    SaveAdvDirectoryEdit->setText(documents);
  }
}

void MainWindow::toggle_admin_mode() {
  const bool on = !admin_mode();
  if (on) {
    admin_saved_title_ = windowTitle();
    setWindowTitle(windowTitle() + qmsg(messages::admin_mode));
  } else {
    setWindowTitle(admin_saved_title_);
    admin_saved_title_.clear();
  }
  for (QAction* item :
       {AdminSeparator, ReadMFT, AdminSeparator2, Read1stSector, WipeSelected1, WipeSeparator}) {
    item->setVisible(on);
  }
  WipeAdvToolButton->setVisible(on);
  settings::write_int("admin_mode", on ? 1 : 0, *this);
}

void MainWindow::open_address(const QUrl& url, bool report_failure) {
  // A browser or file manager started by root would run with root's rights in the user's
  // session; the user gets the address to open instead.
  if (identity::running_as_root()) {
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toString();
    out_text(text(messages::root_starts_no_program) + shown.toStdString(),
             messages::DialogKind::plain, false);
    return;
  }
  // Without a desktop (no browser registered, no session) there is nothing to open with;
  // the log says so instead of the click doing nothing silently.
  const bool opened = shell_open ? shell_open(url) : QDesktopServices::openUrl(url);
  if (!opened && report_failure) {
    out_text(text(messages::cannot_open) + url.toString().toStdString(),
             messages::DialogKind::plain, false);
  }
}

void MainWindow::HelpAdvToolButtonClick() {
  // The manual beside the executable first, then where the package installs it; the online
  // help when neither is there.
  const QDir program_dir(QCoreApplication::applicationDirPath());
  const QString beside = program_dir.filePath(links::manual_file);
  const QString installed =
      QDir::cleanPath(program_dir.filePath(QString(links::manual_dir) + '/' + links::manual_file));
  QUrl manual(links::online_help);
  if (QFileInfo::exists(beside)) {
    manual = QUrl::fromLocalFile(beside);
  } else if (QFileInfo::exists(installed)) {
    manual = QUrl::fromLocalFile(installed);
  }
  open_address(manual, true);
}

void MainWindow::UpdateAdvToolButtonClick() { open_address(QUrl(links::download_page), true); }

bool MainWindow::save_dump(const QString& suggested, const std::uint8_t* bytes, std::size_t size) {
  const QString path = ask_save_file(suggested);
  if (path.isEmpty()) return true;  // cancelled: go on with the next one
  const std::string shown = path.toStdString();
  const QByteArray name = QFile::encodeName(path);
  // Run as root, a link planted at the chosen name must not carry the dump elsewhere: the
  // last component is not followed, and a new file is root's alone. O_NONBLOCK keeps a FIFO
  // there from blocking the window; anything but a regular file is left alone unwritten.
  const int fd = ::open(name.constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if (error == ELOOP && ::lstat(name.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
      out_text(text(messages::error_prefix) + shown +
                   " is a symbolic link; it was not followed and nothing was written",
               messages::DialogKind::error, true);
    } else {
      out_text(" " + shown + ": " + std::strerror(error), messages::DialogKind::error, true);
    }
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out_text(text(messages::not_a_regular_file) + shown, messages::DialogKind::error, true);
    return false;
  }
  std::size_t done = 0;
  int error = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    out_text(" " + shown + ": " + std::strerror(error), messages::DialogKind::error, true);
    return false;
  }
  return true;
}

void MainWindow::ReadMFTClick() {
  finish_preview_reads();  // the volumes are read here, on this thread
  const QDir folder(SaveAdvDirectoryEdit->text());
  for (std::int32_t i = 0; i < catalogue_.deleted_count(); ++i) {
    const catalogue::FoundFile& record = catalogue_.files().at(static_cast<std::size_t>(i));
    if (record.selected != 1 || record.fs_kind != volume::FileSystemKind::ntfs ||
        record.entry_cluster <= 0)
      continue;
    std::array<std::uint8_t, 1024> bytes{};
    // The record's own volume: the drive under its letter.
    const workflow::Drive* drive = workflow::find_drive(drives_, record.drive_letter);
    if (drive == nullptr || !workflow::read_record_raw(*drive, record, bytes, *this)) {
      const char letter =
          static_cast<char>(std::toupper(static_cast<unsigned char>(record.drive_letter)));
      out_text(text(messages::error_prefix) + "MFT record " + std::to_string(record.record_no) +
                   " of drive " + letter + ": could not be read; nothing was saved",
               messages::DialogKind::error, false);
      continue;
    }
    const QString suggested = folder.filePath(QString("mft_%1.bin").arg(record.record_no));
    if (!save_dump(suggested, bytes.data(), bytes.size())) return;
  }
}

void MainWindow::Read1stSectorClick() {
  finish_preview_reads();  // the volumes are read here, on this thread
  const QDir folder(SaveAdvDirectoryEdit->text());
  // By index: events are let through before each read, and the list must not be walked by
  // a reference that a refresh could invalidate; the drive is looked up by its letter after.
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (!drives_[i].ticked) continue;
    const char letter = drives_[i].drive_letter;
    std::array<std::uint8_t, 512> bytes{};
    run_.pump_events();
    const workflow::Drive* drive = workflow::find_drive(drives_, letter);
    if (drive == nullptr || !workflow::read_boot_sector_raw(*drive, bytes, *this)) {
      out_text(text(messages::error_prefix) + "sector 0 of drive " +
                   static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) +
                   ": could not be read; nothing was saved",
               messages::DialogKind::error, false);
      continue;
    }
    const QString suggested =
        folder.filePath(QString("sector0_%1.bin").arg(QChar(letter).toUpper()));
    if (!save_dump(suggested, bytes.data(), bytes.size())) return;
  }
}

}  // namespace fennick::ui

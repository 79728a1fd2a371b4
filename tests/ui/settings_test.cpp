// Settings, admin mode and diagnostics: the first start with no store, the "path" and "kfs"
// writes, a start over stored values, Ctrl+A from any control, the raw dumps of sector 0 and
// MFT records compared with the images, and where Help (the manual beside the program or in
// ../share/doc/fennick), Update and the links lead.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#include "messages/message_ids.h"
#include "settings_support.h"
#include "ui/product_links.h"

namespace fennick::testing {
namespace {

QString documents() {
  return QDir::toNativeSeparators(
      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

void write_store(const std::vector<std::pair<const char*, QString>>& values) {
  QSettings store("BrantleSoftware", "Fennick");
  for (const auto& [name, value] : values) store.setValue(name, value);
}

QByteArray file_bytes(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The bytes dd reads from the image: the independent reader of the dumps.
QByteArray dd_bytes(const std::string& image, std::int64_t offset, int count) {
  TempDir dir;
  const std::string out = dir.path() + "/dd.bin";
  run_command("dd if=" + shell_quote(image) + " of=" + shell_quote(out) + " bs=1 skip=" +
              std::to_string(offset) + " count=" + std::to_string(count) + " status=none");
  return file_bytes(out);
}

class SettingsTest : public SettingsGuiTest {
 protected:
  void press_ctrl_a(const char* control, Qt::KeyboardModifiers extra = {}) {
    auto* w = find<QWidget>(control);
    ASSERT_NE(w, nullptr);
    w->setFocus();
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier | extra);
  }
  // Visibility of the seven admin items, in a fixed order.
  std::vector<bool> admin_items() const {
    std::vector<bool> v;
    for (const char* name :
         {"AdminSeparator", "ReadMFT", "AdminSeparator2", "Read1stSector", "WipeSelected1", "N2"}) {
      QAction* a = form_->findChild<QAction*>(name);
      EXPECT_NE(a, nullptr) << name;
      v.push_back(a != nullptr && a->isVisible());
    }
    v.push_back(!find<QWidget>("WipeAdvToolButton")->isHidden());
    return v;
  }
  // Answers the save dialogs in turn with these paths ("" cancels) and counts the questions.
  void answer_saves(std::vector<QString> answers) {
    asked_ = 0;
    form_->ask_save_file = [this, answers](const QString&) {
      const std::size_t n = static_cast<std::size_t>(asked_++);
      return n < answers.size() ? answers[n] : QString();
    };
  }
  int asked_ = 0;
};

TEST_F(SettingsTest, FirstStartUsesDefaultsAndCreatesNoStoreUntilTheUserChangesSomething) {
  ASSERT_TRUE(open_all({"fat12.img"}));
  EXPECT_EQ(form_->windowTitle(), "Fennick -  Main");
  EXPECT_EQ(find<QLineEdit>("SaveAdvDirectoryEdit")->text(), documents());
  EXPECT_FALSE(find<QCheckBox>("KeepFolderHTMLCheckBox")->isChecked());
  EXPECT_FALSE(form_->admin_mode());
  EXPECT_FALSE(QFile::exists(QSettings("BrantleSoftware", "Fennick").fileName()));
  EXPECT_TRUE(log().front().startsWith(" Application was started at "));

  // "path": another folder is stored, the documents folder again removes it.
  auto* edit = find<QLineEdit>("SaveAdvDirectoryEdit");
  edit->setText("/srv/rescued");
  EXPECT_EQ(stored("path"), "/srv/rescued");
  edit->setText(documents() + "/");
  EXPECT_EQ(stored("path"), "(absent)");
  // "kfs" follows every click.
  auto* keep = find<QCheckBox>("KeepFolderHTMLCheckBox");
  QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(5, keep->height() / 2));
  EXPECT_EQ(stored("kfs"), "1");
  QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(5, keep->height() / 2));
  EXPECT_EQ(stored("kfs"), "0");
}

TEST_F(SettingsTest, StartUpReadsTheStoredValues) {
  struct Case {
    const char* what;
    QString language, path, kfs, admin;
    int expected_language;
    bool expected_keep, expected_admin;
  };
  const Case cases[] = {
      {"all set", "30000", "/srv/rescued", "1", "1", 30000, true, true},
      {"not numbers", "German", "/srv/x", "yes", "on", 10000, false, false},
      {"no language's base", "12345", "/srv/x", "0", "0", 10000, false, false},
      {"Czech is base 0", "0", "/srv/x", "2", "1", 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_settings();
    write_store(
        {{"language", c.language}, {"path", c.path}, {"kfs", c.kfs}, {"admin_mode", c.admin}});
    clean_.reset();
    filter_.reset();
    form_.reset();
    ASSERT_TRUE(open_all({"fat12.img"}));
    EXPECT_EQ(form_->language(), c.expected_language);
    EXPECT_EQ(find<QLineEdit>("SaveAdvDirectoryEdit")->text(), c.path);
    EXPECT_EQ(find<QCheckBox>("KeepFolderHTMLCheckBox")->isChecked(), c.expected_keep);
    EXPECT_EQ(form_->admin_mode(), c.expected_admin);
    const QString title = "Fennick" + msg(c.expected_language, messages::main_title_suffix);
    EXPECT_EQ(form_->windowTitle(),
              c.expected_admin ? title + msg(c.expected_language, messages::admin_mode) : title);
    EXPECT_EQ(admin_items(), std::vector<bool>(7, c.expected_admin));
    EXPECT_EQ(log().filter(msg(c.expected_language, messages::started_at)).size(), 1);
    if (c.expected_admin) {
      // The first Ctrl+A of such a run switches admin mode off.
      press_ctrl_a("AdvListView");
      EXPECT_FALSE(form_->admin_mode());
      EXPECT_EQ(form_->windowTitle(), title);
      EXPECT_EQ(stored("admin_mode"), "0");
    }
    clean_.reset();
  }
}

TEST_F(SettingsTest, CtrlATogglesAdminModeFromAnyControl) {
  ASSERT_TRUE(open_all({"fat12.img"}));
  struct Step {
    const char* control;
    Qt::KeyboardModifiers extra;
    bool admin_after;
  };
  // The line edit and the list would take Ctrl+A as "select all" themselves.
  const Step steps[] = {{"SaveAdvDirectoryEdit", {}, true},
                        {"AdvListView", Qt::ShiftModifier, false},
                        {"DriveHTMLTreeview", Qt::AltModifier, true},
                        {"SortByALComboBox", {}, false}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.control);
    press_ctrl_a(s.control, s.extra);
    EXPECT_EQ(form_->admin_mode(), s.admin_after);
    EXPECT_EQ(form_->windowTitle(),
              s.admin_after ? "Fennick -  Main ADMIN MODE" : "Fennick -  Main");
    EXPECT_EQ(admin_items(), std::vector<bool>(7, s.admin_after));
    EXPECT_EQ(stored("admin_mode"), s.admin_after ? "1" : "0");
  }
  EXPECT_EQ(find<QLineEdit>("SaveAdvDirectoryEdit")->selectedText(), "")
      << "the edit never saw Ctrl+A";

  // A language applied in admin mode sets the title without the suffix; the next Ctrl+A puts
  // back the title saved when admin mode was switched on.
  press_ctrl_a("AdvListView");
  click("GermanAdvToolButton");
  EXPECT_EQ(form_->windowTitle(), "Fennick" + msg(30000, messages::main_title_suffix));
  press_ctrl_a("AdvListView");
  EXPECT_EQ(form_->windowTitle(), "Fennick -  Main");
}

TEST_F(SettingsTest, ReadFirstSectorSavesEachTickedDrivesSectorZero) {
  ASSERT_TRUE(open_all({"fat12.img", "fat16.img", "fat32.img"}));
  TempDir out;
  const QString a = QString::fromStdString(out.path() + "/c.bin");
  const QString b = QString::fromStdString(out.path() + "/e.bin");
  // Drives C and E ticked; the dialog for C is cancelled once, then both are saved.
  tick_only({0, 2});
  answer_saves({"", b});
  find<QAction>("Read1stSector")->trigger();
  EXPECT_EQ(asked_, 2);
  EXPECT_FALSE(QFile::exists(a));
  answer_saves({a, b});
  find<QAction>("Read1stSector")->trigger();
  EXPECT_EQ(asked_, 2);
  EXPECT_EQ(file_bytes(a.toStdString()), dd_bytes(fixture_image("fat12.img"), 0, 512));
  EXPECT_EQ(file_bytes(b.toStdString()), dd_bytes(fixture_image("fat32.img"), 0, 512));
  EXPECT_EQ(file_bytes(b.toStdString()).size(), 512);
  // No ticked drive: no question.
  tick_only({});
  answer_saves({a});
  find<QAction>("Read1stSector")->trigger();
  EXPECT_EQ(asked_, 0);
  // A file that cannot be created stops the command with the system's reason.
  tick_only({0, 1});
  answer_saves({QString::fromStdString(out.path() + "/no/such/folder/x.bin"), b});
  on_next_dialog([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
  find<QAction>("Read1stSector")->trigger();
  EXPECT_EQ(asked_, 1);
  EXPECT_TRUE(log().back().contains("x.bin")) << log().back().toStdString();
}

TEST_F(SettingsTest, ReadSelectedMftSavesTheRecordsOfSelectedNtfsFilesOnly) {
  ASSERT_TRUE(open_all({"fat16.img", "ntfs.img"}));
  tick_only({0, 1});
  start_scan();
  ASSERT_GT(rows(), 0);
  // Three selected records: one FAT, two NTFS.
  std::vector<int> ntfs_rows;
  int fat_row = -1;
  for (int r = 0; r < rows(); ++r) {
    const catalogue::FoundFile& rec = record(r);
    if (rec.fs_kind == volume::FileSystemKind::ntfs && rec.entry_cluster > 0 &&
        ntfs_rows.size() < 2)
      ntfs_rows.push_back(r);
    if (rec.fs_kind != volume::FileSystemKind::ntfs && fat_row < 0) fat_row = r;
  }
  if (ntfs_rows.size() < 2 || fat_row < 0) GTEST_SKIP() << "the NTFS fixture is missing";
  for (auto& rec : found().files()) rec.selected = 0;
  for (int r : {ntfs_rows[0], ntfs_rows[1], fat_row}) record(r).selected = 1;
  TempDir out;
  const QString first = QString::fromStdString(out.path() + "/1.bin");
  const QString second = QString::fromStdString(out.path() + "/2.bin");
  answer_saves({first, second});
  find<QAction>("ReadMFT")->trigger();
  EXPECT_EQ(asked_, 2);
  // Each dump is the record itself: "FILE", its own number in the header, and the bytes dd
  // reads at the record's place (MFT records of 1,024 bytes on 4 KiB clusters of the fixture).
  std::vector<const catalogue::FoundFile*> recs;
  for (const auto& rec : found().files()) {
    if (rec.selected == 1 && rec.fs_kind == volume::FileSystemKind::ntfs) recs.push_back(&rec);
  }
  ASSERT_EQ(recs.size(), 2u);
  const std::string image = fixture_image("ntfs.img");
  const QByteArray boot = dd_bytes(image, 0, 512);
  ASSERT_EQ(boot.size(), 512);
  const int bytes_per_sector =
      static_cast<unsigned char>(boot[11]) | static_cast<unsigned char>(boot[12]) << 8;
  const int sectors_per_cluster = static_cast<unsigned char>(boot[13]);
  int i = 0;
  for (const QString& path : {first, second}) {
    const QByteArray dump = file_bytes(path.toStdString());
    ASSERT_EQ(dump.size(), 1024);
    EXPECT_TRUE(dump.startsWith("FILE"));
    const auto* r = recs[static_cast<std::size_t>(i++)];
    const std::uint32_t number =
        static_cast<unsigned char>(dump[0x2C]) | static_cast<unsigned char>(dump[0x2D]) << 8 |
        static_cast<unsigned char>(dump[0x2E]) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(dump[0x2F])) << 24;
    EXPECT_EQ(static_cast<std::int64_t>(number), r->record_no);
    const std::int64_t offset =
        r->entry_cluster * sectors_per_cluster * bytes_per_sector + r->entry_offset;
    EXPECT_EQ(dump, dd_bytes(image, offset, 1024));
  }
}

TEST_F(SettingsTest, HelpUpdateAndLinksOpenTheirAddressesAndLogWhenNothingCanOpenThem) {
  ASSERT_TRUE(open_all({"fat12.img"}));
  std::vector<QUrl> opened;
  bool desktop = true;
  form_->shell_open = [&](const QUrl& url) {
    opened.push_back(url);
    return desktop;
  };
  // The manual beside the executable (a test's own, made here when the build has none).
  const QString manual =
      QDir(QCoreApplication::applicationDirPath()).filePath(ui::links::manual_file);
  const bool had_manual = QFile::exists(manual);
  if (had_manual) QFile::rename(manual, manual + ".kept");
  click("HelpAdvToolButton");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.back(), QUrl(ui::links::online_help));
  {
    QFile f(manual);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html></html>");
  }
  click("HelpAdvToolButton");
  EXPECT_EQ(opened.back(), QUrl::fromLocalFile(manual));
  QFile::remove(manual);
  if (had_manual) QFile::rename(manual + ".kept", manual);

  click("UpdateAdvToolButton");
  EXPECT_EQ(opened.back(), QUrl(ui::links::download_page));
  QTest::mouseClick(find<QLabel>("SiteLabel"), Qt::LeftButton);
  EXPECT_EQ(opened.back(), QUrl(ui::links::web_site));
  EXPECT_EQ(find<QLabel>("SiteLabel")->text(), ui::links::web_site_caption);
  QTest::mouseClick(find<QLabel>("Label3"), Qt::LeftButton);
  EXPECT_EQ(opened.back(), QUrl(QString("mailto:") + ui::links::support_mail));
  EXPECT_EQ(run_log(), QStringList());

  // With no desktop to open it, the log says so.
  desktop = false;
  click("HelpAdvToolButton");
  EXPECT_EQ(log().back(), QString(" Cannot open ") + ui::links::online_help);
}

// The package installs the manual in /usr/share/doc/fennick beside /usr/bin: Help finds it
// there, relative to the executable's folder, when there is none beside the executable.
TEST_F(SettingsTest, HelpOpensTheManualBesideTheExecutableOrWhereThePackageInstallsIt) {
  ASSERT_TRUE(open_all({"fat12.img"}));
  std::vector<QUrl> opened;
  form_->shell_open = [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  const QDir program_dir(QCoreApplication::applicationDirPath());
  const QString beside = program_dir.filePath(ui::links::manual_file);
  const QString doc_dir = QDir::cleanPath(program_dir.filePath(ui::links::manual_dir));
  const QString installed = doc_dir + '/' + ui::links::manual_file;
  ASSERT_EQ(installed, QDir::cleanPath(program_dir.filePath("../share/doc/fennick/") +
                                       ui::links::manual_file));
  // The test makes its own share/ folder beside the test program's folder and removes it.
  const QString share_root = QDir::cleanPath(program_dir.filePath("../share"));
  ASSERT_FALSE(QFileInfo::exists(share_root)) << share_root.toStdString();
  ASSERT_TRUE(QDir().mkpath(doc_dir));
  const bool had_beside = QFile::exists(beside);
  if (had_beside) QFile::rename(beside, beside + ".kept");
  auto place = [](const QString& path, bool present) {
    if (!present) {
      QFile::remove(path);
      return;
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html></html>");
  };
  struct Case {
    bool beside, installed;
    QUrl expected;
  };
  const Case cases[] = {
      {false, true, QUrl::fromLocalFile(installed)},
      {true, true, QUrl::fromLocalFile(beside)},
      {true, false, QUrl::fromLocalFile(beside)},
      {false, false, QUrl(ui::links::online_help)},
  };
  for (const Case& c : cases) {
    place(beside, c.beside);
    place(installed, c.installed);
    click("HelpAdvToolButton");
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back().toString(), c.expected.toString())
        << "beside " << c.beside << ", installed " << c.installed;
  }
  QFile::remove(beside);
  QDir(share_root).removeRecursively();
  if (had_beside) QFile::rename(beside + ".kept", beside);
  EXPECT_EQ(run_log(), QStringList());
}

}  // namespace
}  // namespace fennick::testing

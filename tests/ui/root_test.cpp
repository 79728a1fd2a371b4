// The window run as root: its settings in root's own home, whatever HOME and
// XDG_CONFIG_HOME say, never written through a planted link; Help, the links and "Open ..."
// log their address instead of starting a program; the raw dumps written without following
// a link and never saved from a failed read. The tests run as root and set the identity the
// window decides by, so the same checks also cover an ordinary user.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "settings_support.h"
#include "ui/product_links.h"
#include "ui/run_identity.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;
using ui::identity::Identity;
using Outcome = ui::identity::PathCheck::Outcome;

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool is_link(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Every entry below a folder with its contents ("<dir>" for folders, "-> target" for links),
// to show that nothing there changed.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->is_symlink()) {
      entries[path] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      entries[path] = "<dir>";
    } else {
      entries[path] = read_file(path);
    }
  }
  return entries;
}

// Where a root-run window keeps its settings below root's home.
std::string root_store(const std::string& home) {
  return home + "/.config/BrantleSoftware/Fennick.conf";
}

QString user_store_folder() { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/BrantleSoftware"; }

// The main window with the identity it decides by: root with a home of the test's own, or
// an ordinary user. The identity the test program set at start is put back afterwards.
class RootWindowTest : public SettingsGuiTest {
 protected:
  void TearDown() override {
    SettingsGuiTest::TearDown();
    ui::identity::set_for_tests(Identity{1000, QString()});
    std::error_code ec;
    fs::remove_all(user_store_folder().toStdString(), ec);
  }
  void run_as_root(const std::string& home) {
    ui::identity::set_for_tests(Identity{0, QString::fromStdString(home)});
  }
  void run_as_user() { ui::identity::set_for_tests(Identity{1000, QString()}); }
  // Changes every stored value through the window's controls.
  void change_every_setting() {
    click("FrenchAdvToolButton");
    auto* keep = find<QCheckBox>("KeepFolderHTMLCheckBox");
    QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(5, keep->height() / 2));
    find<QLineEdit>("SaveAdvDirectoryEdit")->setText("/srv/rescued");
    form_->toggle_admin_mode();
  }
  // Answers the save dialogs in turn with these paths and counts the questions.
  void answer_saves(std::vector<QString> answers) {
    asked_ = 0;
    form_->ask_save_file = [this, answers](const QString&) {
      const std::size_t n = static_cast<std::size_t>(asked_++);
      return n < answers.size() ? answers[n] : QString();
    };
  }
  int asked_ = 0;
};

TEST(RunIdentity, IsTheEffectiveUidAndRootsHomeFromThePasswordDatabase) {
  ui::identity::set_for_tests(std::nullopt);
  const Identity real = ui::identity::current();
  ui::identity::set_for_tests(Identity{1000, QString()});
  EXPECT_EQ(real.euid, ::geteuid());
  const struct passwd* root = ::getpwuid(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(real.root_home.toStdString(), root->pw_dir);
  EXPECT_FALSE(ui::identity::running_as_root());

  // Root's store is found in its home alone; other users keep Qt's per-user store.
  EXPECT_EQ(ui::identity::settings_file(Identity{0, "/root"}),
            "/root/.config/BrantleSoftware/Fennick.conf");
  EXPECT_EQ(ui::identity::settings_file(Identity{0, "/var/lib/root/"}),
            "/var/lib/root/.config/BrantleSoftware/Fennick.conf");
  EXPECT_EQ(ui::identity::settings_file(Identity{1000, "/root"}), "");
}

TEST(RunIdentity, RootPathCheckRefusesLinksAndFoldersOthersControl) {
  TempDir dir;
  const std::string base = dir.path();
  struct Case {
    const char* what;
    std::function<void(const std::string& home)> plant;
    bool create_folders;
    Outcome expected;
    const char* where;  // relative to home; "" for no check
  };
  const std::string outside = base + "/outside";
  fs::create_directories(outside);
  write_file(outside + "/victim", "keep");
  const Case cases[] = {
      {"nothing there yet, not created", [](const std::string&) {}, false, Outcome::missing,
       "/.config"},
      {"nothing there yet, folders made", [](const std::string&) {}, true, Outcome::usable,
       "/.config/BrantleSoftware/Fennick.conf"},
      {"root's own file",
       [](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         write_file(h + "/.config/BrantleSoftware/Fennick.conf", "[General]\n");
       },
       false, Outcome::usable, "/.config/BrantleSoftware/Fennick.conf"},
      {"link at the file",
       [&](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         fs::create_symlink(outside + "/victim", h + "/.config/BrantleSoftware/Fennick.conf");
       },
       true, Outcome::link, "/.config/BrantleSoftware/Fennick.conf"},
      {"dangling link at the file",
       [&](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         fs::create_symlink(outside + "/new", h + "/.config/BrantleSoftware/Fennick.conf");
       },
       true, Outcome::link, "/.config/BrantleSoftware/Fennick.conf"},
      {"link at the program's folder",
       [&](const std::string& h) {
         fs::create_directories(h + "/.config");
         fs::create_symlink(outside, h + "/.config/BrantleSoftware");
       },
       true, Outcome::link, "/.config/BrantleSoftware"},
      {"link at .config",
       [&](const std::string& h) { fs::create_symlink(outside, h + "/.config"); }, true,
       Outcome::link, "/.config"},
      {"folder of another user",
       [](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         ASSERT_EQ(::chown((h + "/.config").c_str(), 1000, 1000), 0);
       },
       true, Outcome::unsafe, "/.config"},
      {"folder others may write",
       [](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         ::chmod((h + "/.config/BrantleSoftware").c_str(), 0777);
       },
       true, Outcome::unsafe, "/.config/BrantleSoftware"},
      {"file of another user",
       [](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         write_file(h + "/.config/BrantleSoftware/Fennick.conf", "");
         ASSERT_EQ(::chown((h + "/.config/BrantleSoftware/Fennick.conf").c_str(), 1000, 1000), 0);
       },
       true, Outcome::unsafe, "/.config/BrantleSoftware/Fennick.conf"},
      {"FIFO at the file",
       [](const std::string& h) {
         fs::create_directories(h + "/.config/BrantleSoftware");
         ASSERT_EQ(::mkfifo((h + "/.config/BrantleSoftware/Fennick.conf").c_str(), 0600), 0);
       },
       true, Outcome::unsafe, "/.config/BrantleSoftware/Fennick.conf"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string home = base + "/home" + std::to_string(n++);
    fs::create_directories(home);
    c.plant(home);
    const auto before = snapshot(outside);
    const auto check = ui::identity::check_root_path(root_store(home), c.create_folders);
    EXPECT_EQ(check.outcome, c.expected);
    EXPECT_EQ(check.where, home + c.where);
    EXPECT_EQ(snapshot(outside), before);
  }
  // Folders are made for root alone.
  struct stat st {};
  ASSERT_EQ(::stat((base + "/home1/.config/BrantleSoftware").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // Paths that are not plain absolute ones are refused.
  for (const std::string path : {"", "relative/Fennick.conf", "/tmp/../etc/Fennick.conf", "/"}) {
    EXPECT_EQ(ui::identity::check_root_path(path, false).outcome, Outcome::unsafe) << path;
  }
}

TEST_F(RootWindowTest, RootKeepsItsSettingsInItsOwnHomeNotInTheUsersFolders) {
  TempDir home;
  // The user's store asks for German; a root-run window neither reads nor writes it.
  {
    QSettings user("BrantleSoftware", "Fennick");
    user.setValue("language", "30000");
  }
  const std::string user_file = QSettings("BrantleSoftware", "Fennick").fileName().toStdString();
  const std::string user_text = read_file(user_file);
  run_as_root(home.path());
  ASSERT_TRUE(open_all({"fat12.img"}));
  EXPECT_EQ(form_->language(), messages::english_base);
  change_every_setting();
  EXPECT_EQ(read_file(user_file), user_text);

  QSettings root(QString::fromStdString(root_store(home.path())), QSettings::IniFormat);
  EXPECT_EQ(root.value("language").toString(), "25000");
  EXPECT_EQ(root.value("kfs").toString(), "1");
  EXPECT_EQ(root.value("path").toString(), "/srv/rescued");
  EXPECT_EQ(root.value("admin_mode").toString(), "1");
  EXPECT_EQ(run_log().filter(msg(25000, messages::link_not_followed).trimmed()).size(), 0);

  // The next start reads root's values back.
  restart();
  EXPECT_EQ(form_->language(), 25000);
  EXPECT_EQ(find<QLineEdit>("SaveAdvDirectoryEdit")->text(), "/srv/rescued");
  EXPECT_TRUE(form_->admin_mode());

  // The same window as an ordinary user keeps to the user's store.
  run_as_user();
  restart();
  EXPECT_EQ(form_->language(), 30000);
  EXPECT_FALSE(form_->admin_mode());
}

TEST_F(RootWindowTest, RootWritesNoSettingThroughAPlantedLink) {
  struct Case {
    const char* what;
    const char* link;  // below root's home
    bool to_folder;    // the link points at the outside folder, else at a file in it
  };
  const Case cases[] = {
      {"the file", "/.config/BrantleSoftware/Fennick.conf", false},
      {"the program's folder", "/.config/BrantleSoftware", true},
      {".config", "/.config", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir home;
    TempDir outside;
    write_file(outside.path() + "/Fennick.conf", "[General]\nlanguage=30000\n");
    write_file(outside.path() + "/.keep", "keep");
    // The user's folder is a link as well, as an attacker with the user's rights would plant.
    fs::create_directories(qEnvironmentVariable("XDG_CONFIG_HOME").toStdString());
    fs::remove_all(user_store_folder().toStdString());
    fs::create_symlink(outside.path(), user_store_folder().toStdString());
    const std::string link = home.path() + c.link;
    fs::create_directories(fs::path(link).parent_path());
    fs::create_symlink(c.to_folder ? outside.path() : outside.path() + "/Fennick.conf", link);
    const auto before = snapshot(outside.path());

    run_as_root(home.path());
    ASSERT_TRUE(open_all({"fat12.img"}));
    // Nothing is read through the link either.
    EXPECT_EQ(form_->language(), messages::english_base);
    change_every_setting();
    EXPECT_EQ(snapshot(outside.path()), before);
    EXPECT_TRUE(is_link(link));
    EXPECT_GE(
        log().filter(msg(25000, messages::link_not_followed) + QString::fromStdString(link)).size(),
        1)
        << log().join('\n').toStdString();
    clean_.reset();
    filter_.reset();
    form_.reset();
    fs::remove(user_store_folder().toStdString());
  }
}

TEST_F(RootWindowTest, RootStartsNoProgramAndLogsTheAddressesInstead) {
  TempDir home;
  run_as_root(home.path());
  ASSERT_TRUE(open_all({"fat12.img"}));
  std::vector<QUrl> opened;
  form_->shell_open = [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  click("GermanAdvToolButton");
  find<QLineEdit>("SaveAdvDirectoryEdit")->setText("/srv/rescued files");
  const QString manual =
      QDir(QCoreApplication::applicationDirPath()).filePath(ui::links::manual_file);
  const QString help = QFile::exists(manual) ? manual : QString(ui::links::online_help);
  const QString lead = msg(30000, messages::root_starts_no_program);
  struct Step {
    std::function<void()> act;
    QString logged;
  };
  const Step steps[] = {
      {[&] { click("HelpAdvToolButton"); }, lead + help},
      {[&] { click("UpdateAdvToolButton"); }, lead + ui::links::download_page},
      {[&] { QTest::mouseClick(find<QLabel>("SiteLabel"), Qt::LeftButton); },
       lead + ui::links::web_site},
      {[&] { QTest::mouseClick(find<QLabel>("Label3"), Qt::LeftButton); },
       lead + "mailto:" + ui::links::support_mail},
      {[&] { QTest::mouseClick(find<QLabel>("OpenLabel"), Qt::LeftButton); },
       lead + "/srv/rescued files"},
  };
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(log().back(), s.logged);
  }
  EXPECT_TRUE(opened.empty());

  // An ordinary user's click opens the folder and logs nothing.
  run_as_user();
  const int lines = static_cast<int>(log().size());
  QTest::mouseClick(find<QLabel>("OpenLabel"), Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.back(), QUrl::fromLocalFile("/srv/rescued files"));
  EXPECT_EQ(static_cast<int>(log().size()), lines);
}

TEST_F(RootWindowTest, RawDumpIsNotWrittenThroughALinkAndANewDumpIsRootsAlone) {
  TempDir home;
  run_as_root(home.path());
  ASSERT_TRUE(open_all({"fat12.img"}));
  TempDir out;
  TempDir outside;
  write_file(outside.path() + "/victim", "keep");
  const std::string link = out.path() + "/c.bin";
  const std::string dangling = out.path() + "/d.bin";
  fs::create_symlink(outside.path() + "/victim", link);
  fs::create_symlink(outside.path() + "/new.bin", dangling);
  const auto before = snapshot(outside.path());
  tick_only({0});
  for (const std::string& path : {link, dangling}) {
    SCOPED_TRACE(path);
    answer_saves({QString::fromStdString(path)});
    on_next_dialog([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    find<QAction>("Read1stSector")->trigger();
    EXPECT_EQ(asked_, 1);
    EXPECT_EQ(snapshot(outside.path()), before);
    EXPECT_TRUE(is_link(path));
    EXPECT_EQ(log().back(), msg(10000, messages::error_prefix) + QString::fromStdString(path) +
                                " is a symbolic link; it was not followed and nothing was written");
  }

  // A FIFO at the chosen name neither blocks the window nor is written.
  const std::string fifo = out.path() + "/f.bin";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  answer_saves({QString::fromStdString(fifo)});
  on_next_dialog([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
  find<QAction>("Read1stSector")->trigger();
  EXPECT_TRUE(log().back().contains("f.bin")) << log().back().toStdString();

  const std::string fresh = out.path() + "/e.bin";
  answer_saves({QString::fromStdString(fresh)});
  find<QAction>("Read1stSector")->trigger();
  struct stat st {};
  ASSERT_EQ(::lstat(fresh.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 512);
}

TEST_F(RootWindowTest, RawDumpOfAFailedReadIsNotSaved) {
  // A copy of the image that is cut short after the window has listed it: sector 0 can no
  // longer be read.
  const std::string image = fixture_image("fat12.img");
  ASSERT_FALSE(image.empty());
  TempDir dir;
  const std::string copy = dir.path() + "/short.img";
  fs::copy_file(image, copy);
  ASSERT_TRUE(open_all({copy}));
  ASSERT_EQ(::truncate(copy.c_str(), 0), 0);
  tick_only({0});
  TempDir out;
  const QString path = QString::fromStdString(out.path() + "/c.bin");
  answer_saves({path});
  // The reader says once that it cannot read the drive.
  on_next_dialog([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
  find<QAction>("Read1stSector")->trigger();
  EXPECT_EQ(asked_, 0);
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(log().back(), msg(10000, messages::error_prefix) +
                              "sector 0 of drive C: could not be read; nothing was saved");
}

TEST_F(RootWindowTest, MftDumpOfAFailedReadIsNotSaved) {
  const std::string image = fixture_image("ntfs.img");
  if (image.empty()) GTEST_SKIP() << "the NTFS fixture is missing";
  TempDir dir;
  const std::string copy = dir.path() + "/short.img";
  fs::copy_file(image, copy);
  ASSERT_TRUE(open_all({copy}));
  tick_only({0});
  start_scan();
  int row = -1;
  for (int r = 0; r < rows() && row < 0; ++r) {
    if (record(r).fs_kind == volume::FileSystemKind::ntfs && record(r).entry_cluster > 0) row = r;
  }
  if (row < 0) GTEST_SKIP() << "no NTFS record with an MFT place";
  for (auto& rec : found().files()) rec.selected = 0;
  record(row).selected = 1;
  const std::int64_t number = record(row).record_no;
  // The boot sector stays, the MFT is cut away.
  ASSERT_EQ(::truncate(copy.c_str(), 4096), 0);
  TempDir out;
  const QString path = QString::fromStdString(out.path() + "/m.bin");
  answer_saves({path});
  find<QAction>("ReadMFT")->trigger();
  EXPECT_EQ(asked_, 0);
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(log().back(), msg(10000, messages::error_prefix) + "MFT record " +
                              QString::number(number) +
                              " of drive C: could not be read; nothing was saved");
}

}  // namespace
}  // namespace fennick::testing

// The Clean Disk window: its opening from the main toolbar, the drive list, the refusals,
// the directory-entries box rule, a job's closing line, and Stop between two jobs on a small
// NTFS volume mounted through ntfs-3g; drives that are not mounted are marked and no job
// starts on them.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTest>

#include "cleaning/mounted_ntfs.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "settings_support.h"

namespace fennick::testing {
namespace {

class CleanFormTest : public SettingsGuiTest {
 protected:
  void open_window() {
    clean_->show();
    QCoreApplication::processEvents();
  }
  QStringList clean_log() const {
    return clean_child<QPlainTextEdit>("AdvMemo")->toPlainText().split('\n');
  }
  // The log without the opening line.
  QStringList clean_run_log() const {
    QStringList lines = clean_log();
    if (!lines.isEmpty() && lines.front().startsWith(" Clean Disk module was loaded at "))
      lines.removeFirst();
    return lines;
  }
  void pick(int entry) {
    auto* box = clean_child<QComboBox>("CleanDriveALComboBox");
    box->setCurrentIndex(entry);
    emit box->activated(entry);
  }
  void tick(const char* box, bool on = true) { clean_child<QCheckBox>(box)->setChecked(on); }
  void start() {
    QTest::mouseClick(clean_child<QToolButton>("CleanAdvToolButton"), Qt::LeftButton);
  }
  QCheckBox* entries_box() const { return clean_child<QCheckBox>("DirectoryEntriesHTMLCheckBox"); }
};

TEST_F(CleanFormTest, TheMainToolbarOpensItModallyWithTheDriveList) {
  TempDir dir;
  ASSERT_TRUE(fixture_image("fat16.img") != "");
  open_paths({fixture_image("fat16.img"), make_blank_image(dir.path(), "blank.img")});
  attach_clean_form();
  QStringList entries;
  bool modal = false;
  on_next_dialog([&](QWidget* dialog) {
    modal = dialog == clean_.get() && clean_->isModal();
    auto* box = clean_child<QComboBox>("CleanDriveALComboBox");
    for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
    clean_->reject();
  });
  click("CleanAdvToolButton");
  EXPECT_TRUE(modal);
  // Entry 0, then letter, ":\", two blanks and the file system (nothing for an unknown one).
  EXPECT_EQ(entries, QStringList({"[Select drive]", "C:\\  FAT", "D:\\  "}));
  // Sized by its layout to the captions of the language, not to fixed pixels.
  EXPECT_EQ(clean_->size(), clean_->minimumSize());
  EXPECT_EQ(clean_->pos(), form_->pos() + QPoint(400, 120));
}

TEST_F(CleanFormTest, RefusalsTheEntriesBoxRuleAndReopening) {
  ASSERT_TRUE(open_all({"fat16.img", "ntfs.img"}));
  if (drives().size() < 2 || drives()[1].kind != volume::FileSystemKind::ntfs) {
    GTEST_SKIP() << "the NTFS fixture is missing";
  }
  open_window();
  ASSERT_EQ(clean_log().size(), 1);
  EXPECT_TRUE(clean_log().front().startsWith(" Clean Disk module was loaded at "));

  const QString refused_fat =
      QString::fromStdString(message(messages::drive_not_mounted) + drives()[0].source_path);
  struct Step {
    const char* what;
    std::function<void()> act;
    QStringList new_lines;
    bool entries_enabled;
    bool entries_ticked;
  };
  const Step steps[] = {
      {"start on [Select drive]",
       [&] {
         tick("ClusterTipsHTMLCheckBox");
         start();
       },
       {" No drive to clean"},
       true,
       false},
      {"an NTFS drive",
       [&] {
         pick(2);
         tick("DirectoryEntriesHTMLCheckBox");
       },
       {},
       true,
       true},
      {"a FAT drive unticks and disables the box", [&] { pick(1); }, {}, false, false},
      {"back on NTFS: enabled, unticked", [&] { pick(2); }, {}, true, false},
      {"no job ticked",
       [&] {
         tick("ClusterTipsHTMLCheckBox", false);
         start();
       },
       {" No action selected"},
       true,
       false},
      // Neither image is mounted: no job starts, whichever is ticked, and the boxes keep the
      // state the drive gave them (the FAT drive's entries box stays disabled).
      {"cluster tips on the unmounted FAT drive",
       [&] {
         pick(1);
         tick("ClusterTipsHTMLCheckBox");
         start();
       },
       {refused_fat},
       false,
       false},
      {"directory entries on the unmounted FAT drive",
       [&] {
         tick("ClusterTipsHTMLCheckBox", false);
         tick("DirectoryEntriesHTMLCheckBox");
         start();
       },
       {refused_fat},
       false,
       true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int before = static_cast<int>(clean_log().size());
    s.act();
    EXPECT_EQ(clean_log().mid(before), s.new_lines);
    EXPECT_EQ(entries_box()->isEnabled(), s.entries_enabled);
    EXPECT_EQ(entries_box()->isChecked(), s.entries_ticked);
    // Idle again after every step.
    EXPECT_EQ(clean_child<QToolButton>("CleanAdvToolButton")->text(), "Start Clean");
    EXPECT_FALSE(clean_child<QToolButton>("StopButton")->isEnabled());
    EXPECT_TRUE(clean_child<QComboBox>("CleanDriveALComboBox")->isEnabled());
  }
  // The jobs report only through the Clean Disk window: the main window's log has no Clean
  // line.
  EXPECT_EQ(run_log().filter("Erase").size(), 0);

  // Reopening empties the log, resets the drive and unticks the boxes.
  clean_->hide();
  open_window();
  ASSERT_EQ(clean_log().size(), 1);
  EXPECT_TRUE(clean_log().front().startsWith(" Clean Disk module was loaded at "));
  EXPECT_EQ(clean_child<QComboBox>("CleanDriveALComboBox")->currentIndex(), 0);
  for (const char* box :
       {"DirectoryEntriesHTMLCheckBox", "ClusterTipsHTMLCheckBox", "FreeSpaceHTMLCheckBox"}) {
    EXPECT_FALSE(clean_child<QCheckBox>(box)->isChecked()) << box;
  }
}

// A drive whose volume is not mounted is drawn grey with a mark and the reason as its tip; a
// job on it is refused in the window's language before it starts, and the image is left
// byte for byte as it was. A mounted drive carries no mark.
TEST_F(CleanFormTest, UnmountedDrivesAreMarkedAndRefusedInTheWindowsLanguage) {
  TempDir dir;
  const std::string fixture = fixture_image("fat16.img");
  ASSERT_FALSE(fixture.empty());
  const std::string copy = dir.path() + "/fat16 copy.img";
  ASSERT_TRUE(write_bytes(copy, read_bytes(fixture)));
  const std::vector<std::uint8_t> original = read_bytes(copy);
  ASSERT_FALSE(original.empty());
  std::unique_ptr<NtfsImage> ntfs;
  std::vector<std::string> paths{copy};
  if (can_mount_ntfs()) {
    ntfs = std::make_unique<NtfsImage>(16);
    ASSERT_TRUE(ntfs->mount());
    paths.push_back(ntfs->image());
  }
  open_paths(paths);
  attach_clean_form();
  ASSERT_EQ(drives().size(), paths.size());

  struct Case {
    const char* language_button;
    int base;
  };
  for (const Case& c : {Case{"EnglishAdvToolButton", 10000}, Case{"GermanAdvToolButton", 30000}}) {
    SCOPED_TRACE(c.language_button);
    click(c.language_button);
    open_window();
    const QString refused = msg(c.base, messages::drive_not_mounted) + QString::fromStdString(copy);
    auto* box = clean_child<QComboBox>("CleanDriveALComboBox");
    ASSERT_EQ(box->count(), static_cast<int>(paths.size()) + 1);
    // Entry 1, the image copy: marked; entry 2, the mounted NTFS volume: not.
    EXPECT_EQ(box->itemData(1, Qt::ToolTipRole).toString(), refused.trimmed());
    EXPECT_FALSE(box->itemIcon(1).isNull());
    EXPECT_EQ(box->itemData(1, Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
    if (ntfs) {
      EXPECT_FALSE(box->itemData(2, Qt::ToolTipRole).isValid());
      EXPECT_TRUE(box->itemIcon(2).isNull());
      EXPECT_FALSE(box->itemData(2, Qt::ForegroundRole).isValid());
    }
    // Every job ticked: one line, the refusal, and no job's line.
    pick(1);
    tick("ClusterTipsHTMLCheckBox");
    tick("FreeSpaceHTMLCheckBox");
    const int before = static_cast<int>(clean_log().size());
    start();
    EXPECT_EQ(clean_log().mid(before), QStringList({refused}));
    EXPECT_EQ(clean_child<QToolButton>("CleanAdvToolButton")->text(),
              msg(c.base, messages::start_clean));
    EXPECT_FALSE(clean_child<QToolButton>("StopButton")->isEnabled());
    clean_->hide();
  }
  EXPECT_NE(msg(30000, messages::drive_not_mounted), msg(10000, messages::drive_not_mounted));
  EXPECT_TRUE(read_bytes(copy) == original) << "the image was written to";
}

TEST_F(CleanFormTest, StopDuringClusterTipsSkipsFreeSpaceAndAFullJobEndsOk) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, /dev/fuse, mkntfs and ntfs-3g";
  NtfsImage ntfs(16);
  ASSERT_TRUE(ntfs.mount());
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(write_bytes(ntfs.path("f" + std::to_string(i) + ".txt"),
                            marked_content("F" + std::to_string(i), 5000)));
  }
  run_command("sync");
  open_paths({ntfs.image()});
  attach_clean_form();
  ASSERT_EQ(drives().size(), 1u);
  ASSERT_EQ(drives()[0].kind, volume::FileSystemKind::ntfs);
  open_window();

  struct Case {
    const char* what;
    bool stop_in_tips;
    QStringList expected;
  };
  const Case cases[] = {
      {"stopped", true, {" Erase cluster tips ...", " Process interrupted"}},
      {"full", false, {" Erase cluster tips ...", " Ok"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = static_cast<int>(clean_log().size());
    pick(1);
    tick("ClusterTipsHTMLCheckBox");
    tick("FreeSpaceHTMLCheckBox", c.stop_in_tips);
    bool stopped = false;
    bool running_state_seen = false;
    clean_->pending_events_hook = [&] {
      if (clean_child<QToolButton>("CleanAdvToolButton")->text() == "Stop Clean" &&
          clean_child<QToolButton>("StopButton")->isEnabled() &&
          !clean_child<QCheckBox>("FreeSpaceHTMLCheckBox")->isEnabled()) {
        running_state_seen = true;
      }
      // The second click on the Start/Stop button is Stop.
      if (c.stop_in_tips && !stopped) {
        stopped = true;
        start();
      }
    };
    start();
    clean_->pending_events_hook = nullptr;
    EXPECT_TRUE(running_state_seen);
    EXPECT_EQ(clean_log().mid(before), c.expected);
    EXPECT_FALSE(clean_->run_control().stop_requested());
    EXPECT_EQ(clean_child<QToolButton>("CleanAdvToolButton")->text(), "Start Clean");
    EXPECT_TRUE(clean_child<QCheckBox>("FreeSpaceHTMLCheckBox")->isEnabled());
  }
  // Nothing of the cleaning is left on the volume.
  for (const std::string& name : folder_listing(ntfs.mount_point())) {
    EXPECT_EQ(name.rfind("f", 0), 0u) << name;
  }
}

}  // namespace
}  // namespace fennick::testing

// The Clean Disk window: its opening from the main toolbar, the drive list, the refusals,
// the directory-entries box rule, a job's closing line, and Stop between two jobs on a small
// NTFS volume mounted through ntfs-3g.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTest>

#include "cleaning/mounted_ntfs.h"
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
  EXPECT_EQ(clean_->size(), QSize(406, 233));
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
      // The FAT image is not mounted: the job refuses and the window closes it as failed;
      // the run enables the box again whatever the drive.
      {"cluster tips on the unmounted FAT drive",
       [&] {
         pick(1);
         tick("ClusterTipsHTMLCheckBox");
         start();
       },
       {" Erase cluster tips ...", "*", " Operation have been finished with errors"},
       true,
       false},
      {"directory entries on FAT",
       [&] {
         tick("ClusterTipsHTMLCheckBox", false);
         tick("DirectoryEntriesHTMLCheckBox");
         start();
       },
       {" Erase directory entries ...", " Is not a NTFS drive",
        " Operation have been finished with errors"},
       true,
       true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int before = static_cast<int>(clean_log().size());
    s.act();
    const QStringList lines = clean_log().mid(before);
    ASSERT_GE(lines.size(), s.new_lines.size() - (s.new_lines.contains("*") ? 1 : 0));
    if (s.new_lines.contains("*")) {
      // The worker's own refusal line(s) stand between the first and last line.
      ASSERT_GE(lines.size(), 3);
      EXPECT_EQ(lines.front(), s.new_lines.front());
      EXPECT_EQ(lines.back(), s.new_lines.back());
    } else {
      EXPECT_EQ(lines, s.new_lines);
    }
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

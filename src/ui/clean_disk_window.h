// CleanDiskWindow, the Clean Disk window: one volume of the main window's drive list, any of
// three jobs (free MFT records, cluster tips, free space), Start/Stop, its own log and
// progress bar. A run executes inside the Start click with this window as the status
// channel and its own run control; the workers let events through, so a second click (or
// the Stop button) asks the running job to stop.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>
#include <functional>

#include "messages/status_channel.h"
#include "run/run_control.h"
#include "ui/run_state.h"
#include "workflow/drive_list.h"

namespace fennick::ui {

class MainWindow;

class CleanDiskWindow : public QDialog, public messages::StatusChannel {
 public:
  // A window over the main window, offering the drives of its drive list, in its language.
  explicit CleanDiskWindow(MainWindow& main_window);
  ~CleanDiskWindow() override;
  CleanDiskWindow(const CleanDiskWindow&) = delete;
  CleanDiskWindow& operator=(const CleanDiskWindow&) = delete;

  // Status channel of the jobs: the window's own log and progress bar.
  void out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;
  // The event pump of the jobs (the run control's event_pump).
  void process_pending_events();

  run::RunControl& run_control() { return run_; }
  RunState run_state() const { return run_state_; }

  void apply_captions();
  void FormActivate();
  void CleanDriveALComboBoxChange(int entry);
  void CleanAdvToolButtonClick();
  void StopButtonClick();
  // Closing the window during a run asks the run to stop instead.
  void reject() override;

  // Test seam: runs on every process_pending_events() call of a run, before events are
  // handled, so a test can press Stop in the middle of a job.
  std::function<void()> pending_events_hook;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void disable_all();
  void enable_all();
  QString qmsg(int k) const;

  MainWindow& main_window_;
  const workflow::DriveList& drives_;
  run::RunControl run_;
  RunState run_state_ = RunState::idle;
  std::vector<QMetaObject::Connection> connections_;
  QComboBox* CleanDriveALComboBox;
  QCheckBox* DirectoryEntriesHTMLCheckBox;
  QCheckBox* ClusterTipsHTMLCheckBox;
  QCheckBox* FreeSpaceHTMLCheckBox;
  QToolButton* CleanAdvToolButton;
  QLabel* Image1;
  QPlainTextEdit* AdvMemo;
  QWidget* MainStatusBar;
  QProgressBar* ProgressBar;
  QToolButton* StopButton;
};

}  // namespace fennick::ui

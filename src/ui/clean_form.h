// T_cleanForm, the Clean Disk window: one volume, any of three jobs (free MFT records,
// cluster tips, free space), Start/Stop, its own log and progress bar. A run executes inside
// the Start click with this window as the status channel; the workers let events through,
// so a second click (or the Stop button) asks the running job to stop.
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

namespace fennick::ui {

class T_mainForm;

class T_cleanForm : public QDialog, public messages::StatusChannel {
 public:
  explicit T_cleanForm(T_mainForm* main_form);
  ~T_cleanForm() override;
  T_cleanForm(const T_cleanForm&) = delete;
  T_cleanForm& operator=(const T_cleanForm&) = delete;

  // Status channel while a run is active: the window's own log and progress bar.
  void out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) override;
  void process_pending_events() override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;

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

  T_mainForm* main_form_;
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

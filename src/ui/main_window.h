// MainWindow, the main window: toolbar, navigation bar with the drive, type and folder trees,
// language column, the found-file list, destination row, status log and status bar. It owns
// the drive list, the catalogue of the last scan with the list's view on it, the run control
// of the scan, undelete and wipe runs and the language; it drives the workflow runs, the
// list's marking, sorting and filtering, and is the status channel those runs report through.
//
// The implementation is split by concern: main_layout.cpp (controls, captions, resizing,
// start-up), main_states.cpp (the run-state sets), main_drives.cpp (drive tree),
// main_scan.cpp (scan run and folder tree), main_list.cpp (list handlers, sorting,
// preview tabs), main_channel.cpp (status channel), main_undelete.cpp (undelete and wipe
// runs), main_settings.cpp (settings, admin mode, links), main_language.cpp, main_types.cpp.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QThreadPool>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_view.h"
#include "messages/status_channel.h"
#include "run/run_control.h"
#include "run/time_left.h"
#include "ui/run_state.h"
#include "workflow/drive_list.h"
#include "workflow/preview.h"
#include "workflow/recovery_run.h"

class QDropEvent;

namespace fennick::ui {

class FileListModel;
class FileListView;
class HeaderLabel;
class NavBar;
class FilterDialog;
class CleanDiskWindow;

struct MainWindowOptions {
  // List the machine's FAT/exFAT/NTFS block devices after the named images.
  bool list_block_devices = true;
  // The volume images (or devices) named at start; they become the first drives (C:, D:, ...).
  std::vector<std::string> named_volumes;
};

class MainWindow : public QMainWindow, public messages::StatusChannel {
 public:
  using Options = MainWindowOptions;

  explicit MainWindow(Options options = Options{}, QWidget* parent = nullptr);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Status channel: the log, its dialogs, the file counter and the progress bar.
  void out_text(std::string_view text, messages::DialogKind kind, bool show_dialog) override;
  void set_file_counter(std::int64_t files) override;
  void set_progress(std::int32_t position) override;
  void set_progress_range(std::int32_t maximum) override;
  // A recovery run's files done of its total, shown on the progress bar with the time left.
  void set_run_files(std::int64_t done, std::int64_t total) override;
  // The event pump of the runs (the run control's event_pump): shows the file counter and
  // handles waiting events, at most every 20 ms.
  void process_pending_events();

  // What the window works on: the drives, the last scan's catalogue, the list's view on it,
  // the run control of its runs, and the images it lists before the block devices.
  workflow::DriveList& drive_list() { return drives_; }
  catalogue::Catalogue& file_catalogue() { return catalogue_; }
  catalogue::CatalogueView& catalogue_view() { return view_; }
  run::RunControl& run_control() { return run_; }
  const std::vector<std::string>& named_volumes() const { return options_.named_volumes; }
  RunState run_state() const { return run_state_; }
  // Total size of the marked records (hidden ones included), and the row of the last plain
  // click that changed a mark or of the last Shift-click; -1 after the catalogue is cleared.
  std::int64_t selected_total() const { return selected_total_; }
  std::int32_t last_clicked_row() const { return last_clicked_row_; }
  // Message k in the window's language, as a caption.
  QString qmsg(int k) const;
  // Selects the first listed found file of that name, as a click would (its preview starts);
  // false when none is listed.
  bool select_file_named(const QString& name);
  // Whether the preview pane shows something: a picture, text or a message.
  bool preview_shown() const;

  // Run-state sets: scan, undelete and wipe start and end.
  void disable_all();
  void enable_all();
  void disable_all_u();
  void enable_all_u();
  void disable_all_w();
  void enable_all_w();

  // Drive tree.
  void draw_drives();
  void DriveHTMLTreeviewClick();
  void MenuItem3Click();  // Select All Drives
  void MenuItem4Click();  // Unselect All Drives
  void MenuItem5Click();  // Reverse Selection
  void RefreshAdvRepeatButtonClick();
  void AddImageClick();
  // Appends a volume image as the next drive and redraws the drive tree; false (with a log
  // line and a dialog) when it cannot be listed.
  bool add_image(const std::string& path);

  // Scan workflow.
  void StartAdvToolButtonClick();
  void StopButtonClick();

  // Folder and type trees, navigation bar.
  void FolderHTMLTreeviewChange(QTreeWidgetItem* node);
  void TypesTreeViewChange(QTreeWidgetItem* node);
  // Type tree from the file-type counters (main_types.cpp).
  void draw_types();

  // Undelete and wipe runs, destination row (main_undelete.cpp).
  void UndeleteAdvToolButtonClick();
  void WipeAdvToolButtonClick();
  void SaveAdvDirectoryBrowseClick();
  void OpenLabelClick();
  void AdvNavBarLeftPanelActivate(int panel);

  // The list.
  void set_folder_filter(std::int32_t folder, std::uint8_t drive, std::uint16_t type);
  void update_total_label();
  void AdvListViewLeftClickCell(int row, int column, bool shift);
  void AdvListViewSpace();
  void SelectAll1Click();
  void UnselectAll1Click();
  void ReverseSelection1Click();
  void AdvListViewColumnClick(int column);
  void SortByALComboBoxChange(int key);
  void AdvListViewSelectItem();
  void AdvListViewExit();
  void HTMLabelStatusMouseDown(int x);
  // Where the Status word's click area ends and the Preview word's begins, in pixels from
  // the header's reading start.
  int status_tab_boundary() const;
  // The log's height follows the window's; the preview takes what it needs.
  void fit_bottom_panel();
  // Preview pane (main_preview.cpp): the selected file's first bytes are read on a pool
  // thread and shown as a picture, text, or the message with a hex view.
  void show_preview(const catalogue::FoundFile& record);
  void present_preview(std::uint64_t generation, const workflow::PreviewBytes& read);
  void clear_preview();
  void show_preview_message(int message);
  void fit_preview_picture();
  // Waits for a preview read still running: every other reader of the volumes runs on the
  // window's thread, and a volume is read by one thread at a time.
  void finish_preview_reads();
  // Widths of the list's status, size and date columns for the current language and font
  // (main_columns.cpp).
  void fit_list_columns();
  // Image files dropped on the drive tree become drives (each through add_image).
  bool drive_tree_drop(QDropEvent* event);

  // Filter indicator (status-bar panel 1) and the filter dialog.
  void set_filter_indicator();
  void set_filter_form(FilterDialog* form) { filter_form_ = form; }
  void FilterAdvToolButtonClick();

  // Captions of every control in the current language.
  void apply_captions();

  // Test seam: runs on every process_pending_events() call of a run, before events are
  // handled, so a test can look at the controls or press Stop in the middle of a scan.
  std::function<void()> pending_events_hook;

  // Languages (main_language.cpp): re-captions the three windows in the language with this
  // base and stores the choice.
  void apply_language(int base);
  void set_clean_form(CleanDiskWindow* form) { clean_form_ = form; }
  // Opens the Clean Disk window modally (clean_disk_window.cpp).
  void CleanAdvToolButtonClick();

  // Settings, admin mode, help and links (main_settings.cpp).
  void read_settings();
  void toggle_admin_mode();
  bool admin_mode() const { return !admin_saved_title_.isEmpty(); }
  void HelpAdvToolButtonClick();
  void UpdateAdvToolButtonClick();
  void ReadMFTClick();
  void Read1stSectorClick();
  // Test seams: how addresses are opened (the desktop's handler by default; never called when
  // run as root) and how the diagnostics ask for a file to save to (empty: cancelled).
  std::function<bool(const QUrl&)> shell_open;
  std::function<QString(const QString& suggested)> ask_save_file;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_layout();
  void build_top_bar(QWidget* parent);
  QWidget* build_left_panel();
  QWidget* build_language_column();
  QWidget* build_right_panel();
  void build_status_bar(QWidget* parent);
  void FormResize();
  void FormActivate();

  void set_status_tab(bool preview);
  void set_drive_state(QTreeWidgetItem* node, bool ticked);
  void reset_folder_tree();
  void reset_type_tree();
  void clear_results();
  QTreeWidgetItem* add_drive_node(std::size_t drive_index);
  void add_folder_nodes(QTreeWidgetItem* drive_node, std::size_t drive_index);
  static void sort_tree_by_caption(QTreeWidgetItem* root);
  void set_mark(catalogue::FoundFile& record, std::uint8_t value);
  // Catalogue indexes of the marked records, in catalogue order, whatever the list shows.
  std::vector<std::int32_t> marked_records() const;
  int selected_row() const;
  // Sorts the catalogue by the key (reversed: the key's order turned around) and shows it.
  void sort_list(int key, bool reversed);
  // The list header's sort indicator for the order the list was last sorted in.
  void show_sort_order();
  // Selects the type-tree node that describes what the list shows: the shown group's node,
  // the root when it shows every file, nothing when it shows a folder.
  void select_shown_type();
  // Whether a run started by this window is going on.
  bool run_active() const { return run_state_ != RunState::idle; }
  void flush_file_counter();

  Options options_;
  workflow::DriveList drives_;
  catalogue::Catalogue catalogue_;
  catalogue::CatalogueView view_;
  run::RunControl run_;
  RunState run_state_ = RunState::idle;
  std::int64_t selected_total_ = 0;
  std::int32_t last_clicked_row_ = -1;
  // The order the list was last sorted in (catalogue::SortKey, the key's order turned around);
  // sort_none after a scan.
  int sort_key_ = 0;
  bool sort_reversed_ = false;
  std::vector<QMetaObject::Connection> connections_;
  FilterDialog* filter_form_ = nullptr;
  bool activated_once_ = false;
  bool drives_drawn_ = false;
  std::size_t log_lines_ = 0;
  QElapsedTimer pump_clock_;
  bool file_counter_dirty_ = false;
  std::int64_t pending_files_ = 0;

  // Top bar.
  QWidget* PanelTop = nullptr;
  QToolButton* AddImageAdvToolButton = nullptr;
  QToolButton* StartAdvToolButton = nullptr;
  QCheckBox* DeepScanCheckBox = nullptr;
  QToolButton* UndeleteAdvToolButton = nullptr;
  QToolButton* FilterAdvToolButton = nullptr;
  QToolButton* UpdateAdvToolButton = nullptr;
  QToolButton* HelpAdvToolButton = nullptr;
  QToolButton* CleanAdvToolButton = nullptr;
  QToolButton* WipeAdvToolButton = nullptr;
  QLabel* SoftwareHTMLabel = nullptr;
  // Navigation bar.
  NavBar* AdvNavBarLeft = nullptr;
  int drives_panel_ = 0;
  int types_panel_ = 0;
  int folders_panel_ = 0;
  QLabel* FastSearchSection = nullptr;
  QTreeWidget* DriveHTMLTreeview = nullptr;
  QMenu* DrivesAdvPopupMenu = nullptr;
  QAction* MenuItem3 = nullptr;
  QAction* MenuItem4 = nullptr;
  QAction* MenuItem5 = nullptr;
  QAction* AddImageMenuItem = nullptr;
  QToolButton* RefreshAdvRepeatButton = nullptr;
  QTreeWidget* TypesTreeView = nullptr;
  QTreeWidget* FolderHTMLTreeView = nullptr;
  // Language column.
  QWidget* PanelCenterLang = nullptr;
  HeaderLabel* HTMLabelLangs = nullptr;
  std::vector<QToolButton*> language_buttons_;
  // Right area.
  QWidget* PanelFilesHeader = nullptr;
  HeaderLabel* HTMLabelFiles = nullptr;
  QLabel* SortByHTMLabel = nullptr;
  QComboBox* SortByALComboBox = nullptr;
  FileListView* AdvListView = nullptr;
  FileListModel* list_model_ = nullptr;
  QMenu* AdvPopupMenu = nullptr;
  QAction* UndeleteSelected1 = nullptr;
  QAction* WipeSelected1 = nullptr;
  QAction* WipeSeparator = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* UnselectAll1 = nullptr;
  QAction* ReverseSelection1 = nullptr;
  QWidget* SelectFolderPanel = nullptr;
  QCheckBox* KeepFolderHTMLCheckBox = nullptr;
  QCheckBox* ManifestCheckBox = nullptr;
  QLabel* UndelHTMLStaticText = nullptr;
  QLineEdit* SaveAdvDirectoryEdit = nullptr;
  QLabel* OpenLabel = nullptr;
  QLabel* TotalFilesizeHTMLStaticText = nullptr;
  HeaderLabel* HTMLabelStatus = nullptr;
  bool preview_active_ = false;
  QWidget* PanelBottom = nullptr;
  QPlainTextEdit* AdvMemo = nullptr;
  QLabel* PreviewStatusHTMLabel = nullptr;
  QWidget* PreviewPanel = nullptr;
  QLabel* PreviewImageLabel = nullptr;
  QPlainTextEdit* PreviewTextEdit = nullptr;
  QImage preview_image_;
  std::uint64_t preview_generation_ = 0;
  // Preview reads run one at a time on their own thread: two reads of one volume at once
  // would share its source's descriptor and read session. A queued read that a later
  // selection made stale is skipped (preview_latest_ is the newest generation).
  QThreadPool preview_pool_;
  std::shared_ptr<std::atomic<std::uint64_t>> preview_latest_ =
      std::make_shared<std::atomic<std::uint64_t>>(0);
  std::int32_t preview_record_ = -1;  // catalogue index of the file previewed
  // Status bar.
  QWidget* MainStatusBar = nullptr;
  std::array<QWidget*, 6> status_panels_{};
  std::array<int, 6> panel_widths_{100, 100, 95, 0, 40, 30};
  QLabel* VersionPanel = nullptr;
  QLabel* FilterPanel = nullptr;
  QLabel* FilesPanel = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QToolButton* StopButton = nullptr;
  // A recovery run's files on the progress bar, and the time it has left.
  void show_run_files();
  std::int64_t run_files_done_ = 0;
  std::int64_t run_files_total_ = 0;
  run::TimeLeft run_clock_;
  // The dialog a recovery run ends with: what was recovered, and a button that opens the
  // destination folder. Not modal, so that nothing waits on it.
  void show_recovery_summary(const workflow::RecoverySummary& summary, const QString& destination);
  QPointer<QMessageBox> recovery_summary_;
  // Undelete and wipe controls (main_undelete.cpp).
  void connect_undelete_controls();
  QAction* SaveAdvDirectoryBrowse = nullptr;
  // Settings, admin mode and links (main_settings.cpp).
  void build_settings_controls();
  bool save_dump(const QString& suggested, const std::uint8_t* bytes, std::size_t size);
  // Opens an address or file with the desktop's handler; as root only logs message 505 and
  // the address. A failed open is logged when asked.
  void open_address(const QUrl& url, bool report_failure);
  CleanDiskWindow* clean_form_ = nullptr;
  QString admin_saved_title_;
  QAction* AdminSeparator = nullptr;
  QAction* ReadMFT = nullptr;
  QAction* AdminSeparator2 = nullptr;
  QAction* Read1stSector = nullptr;
  QLabel* SiteLabel = nullptr;
  QLabel* Label3 = nullptr;
};

}  // namespace fennick::ui

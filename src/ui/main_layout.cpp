// The main window's controls and their places, the captions in the current language, the
// resize rules, and what happens at creation and first activation.
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

#include "catalogue/catalogue_view.h"
#include "fennick/version.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "ui/file_list.h"
#include "ui/flag_buttons.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"
#include "ui/widgets.h"

namespace fennick::ui {

namespace {

QToolButton* tool_button(QWidget* parent, const char* name) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setAutoRaise(true);
  return button;
}

QString header_html(const QString& text, int spaces) {
  return QString("&nbsp;").repeated(spaces) + "<font color=\"#FFFFFF\" face=\"Tahoma\"><b>" + text +
         "</b></font>";
}

}  // namespace

MainWindow::MainWindow(Options options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
  setObjectName("T_mainForm");
  // The runs let events through with the window's own pump.
  run_.event_pump = [this] { process_pending_events(); };
  preview_pool_.setMaxThreadCount(1);
  // FormCreate: the controls, the drive tree and an empty log.
  build_layout();
  // Clearing the catalogue frees the records the list points at: the list empties first.
  catalogue_.set_cleared_hook([this] {
    last_clicked_row_ = -1;
    list_model_->set_row_count(0);
  });
  build_settings_controls();
  connect_undelete_controls();
  AdvNavBarLeft->set_panel_visible(types_panel_, false);
  AdvNavBarLeft->set_panel_visible(folders_panel_, false);
  apply_captions();
  draw_drives();
  AdvMemo->clear();
  log_lines_ = 0;
  resize(926, 587);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(926 / 2, 587 / 2));
  }
}

MainWindow::~MainWindow() {
  // The child widgets are destroyed after this object has stopped being a MainWindow; none
  // of their signals, filtered events or callbacks may reach it any more.
  for (const QMetaObject::Connection& c : connections_) QObject::disconnect(c);
  for (QObject* watched : std::initializer_list<QObject*>{
           MainStatusBar, PanelFilesHeader, SelectFolderPanel, FolderHTMLTreeView, TypesTreeView,
           PreviewImageLabel, DriveHTMLTreeview->viewport(), PanelBottom->parentWidget()}) {
    watched->removeEventFilter(this);
  }
  // A preview read still running holds no pointer to the window, but it reads a volume.
  finish_preview_reads();
  AdvListView->on_cell_click = nullptr;
  AdvListView->on_space = nullptr;
  AdvListView->on_exit = nullptr;
  HTMLabelStatus->on_mouse_down = nullptr;
  AdvNavBarLeft->on_panel_activated = nullptr;
  catalogue_.set_cleared_hook(nullptr);
  run_.event_pump = nullptr;
  // The model reads the catalogue and the view, which go before the child widgets do.
  AdvListView->setModel(nullptr);
  delete list_model_;
  list_model_ = nullptr;
}

void MainWindow::build_layout() {
  QFont font("Tahoma");
  font.setPointSize(8);
  setFont(font);

  auto* central = new QWidget(this);
  central->setObjectName("ClientArea");
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  build_top_bar(central);
  column->addWidget(PanelTop);

  auto* splitter = new QSplitter(Qt::Horizontal, central);
  splitter->setObjectName("MainSplitter");
  splitter->setHandleWidth(3);
  splitter->addWidget(build_left_panel());
  splitter->addWidget(build_language_column());
  splitter->addWidget(build_right_panel());
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 0);
  splitter->setStretchFactor(2, 1);
  splitter->setCollapsible(1, false);
  splitter->setSizes({244, 35, 926 - 244 - 35});
  column->addWidget(splitter, 1);

  build_status_bar(central);
  column->addWidget(MainStatusBar);
  setCentralWidget(central);
}

void MainWindow::build_top_bar(QWidget* parent) {
  PanelTop = new QWidget(parent);
  PanelTop->setObjectName("PanelTop");
  PanelTop->setFixedHeight(26);
  auto* row = new QHBoxLayout(PanelTop);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(2);
  AddImageAdvToolButton = tool_button(PanelTop, "AddImageAdvToolButton");
  StartAdvToolButton = tool_button(PanelTop, "StartAdvToolButton");
  UndeleteAdvToolButton = tool_button(PanelTop, "UndeleteAdvToolButton");
  FilterAdvToolButton = tool_button(PanelTop, "FilterAdvToolButton");
  UpdateAdvToolButton = tool_button(PanelTop, "UpdateAdvToolButton");
  HelpAdvToolButton = tool_button(PanelTop, "HelpAdvToolButton");
  CleanAdvToolButton = tool_button(PanelTop, "CleanAdvToolButton");
  WipeAdvToolButton = tool_button(PanelTop, "WipeAdvToolButton");
  const QStyle* s = style();
  AddImageAdvToolButton->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  StartAdvToolButton->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
  UndeleteAdvToolButton->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  FilterAdvToolButton->setIcon(s->standardIcon(QStyle::SP_FileDialogContentsView));
  UpdateAdvToolButton->setIcon(s->standardIcon(QStyle::SP_BrowserReload));
  HelpAdvToolButton->setIcon(s->standardIcon(QStyle::SP_DialogHelpButton));
  CleanAdvToolButton->setIcon(s->standardIcon(QStyle::SP_DriveHDIcon));
  WipeAdvToolButton->setIcon(s->standardIcon(QStyle::SP_TrashIcon));
  for (QToolButton* b :
       {AddImageAdvToolButton, StartAdvToolButton, UndeleteAdvToolButton, FilterAdvToolButton,
        UpdateAdvToolButton, HelpAdvToolButton, CleanAdvToolButton, WipeAdvToolButton}) {
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setIconSize(QSize(16, 16));
    row->addWidget(b);
  }
  // Beside Start Scan: the scan that goes on to read the whole volume.
  DeepScanCheckBox = new QCheckBox(PanelTop);
  DeepScanCheckBox->setObjectName("DeepScanCheckBox");
  row->insertWidget(2, DeepScanCheckBox);
  UndeleteAdvToolButton->setEnabled(false);
  WipeAdvToolButton->setVisible(false);
  SoftwareHTMLabel = new QLabel(PanelTop);
  SoftwareHTMLabel->setObjectName("SoftwareHTMLabel");
  SoftwareHTMLabel->setVisible(false);
  row->addWidget(SoftwareHTMLabel);
  row->addStretch(1);

  // Opening an image is the first step when no drive is listed; the drive tree's pop-up
  // menu has the same entry.
  connections_.push_back(QObject::connect(AddImageAdvToolButton, &QToolButton::clicked, this,
                                          [this] { AddImageClick(); }));
  connections_.push_back(QObject::connect(StartAdvToolButton, &QToolButton::clicked, this,
                                          [this] { StartAdvToolButtonClick(); }));
  connections_.push_back(QObject::connect(FilterAdvToolButton, &QToolButton::clicked, this,
                                          [this] { FilterAdvToolButtonClick(); }));
}

QWidget* MainWindow::build_left_panel() {
  auto* panel_left = new QWidget;
  panel_left->setObjectName("PanelLeft");
  panel_left->setMinimumWidth(120);
  auto* box = new QVBoxLayout(panel_left);
  box->setContentsMargins(0, 0, 0, 0);
  AdvNavBarLeft = new NavBar(panel_left);
  AdvNavBarLeft->setObjectName("AdvNavBarLeft");
  box->addWidget(AdvNavBarLeft);

  // Drives panel: section caption, drive tree with its menu, refresh button.
  auto* drives = new QWidget;
  drives->setObjectName("AdvNavBarPanelDrives");
  auto* drives_box = new QVBoxLayout(drives);
  drives_box->setContentsMargins(2, 2, 2, 2);
  drives_box->setSpacing(3);
  FastSearchSection = new QLabel(drives);
  FastSearchSection->setObjectName("FastSearchSection");
  QFont bold = FastSearchSection->font();
  bold.setBold(true);
  FastSearchSection->setFont(bold);
  drives_box->addWidget(FastSearchSection);
  DriveHTMLTreeview = new QTreeWidget(drives);
  DriveHTMLTreeview->setObjectName("DriveHTMLTreeview");
  DriveHTMLTreeview->setHeaderHidden(true);
  DriveHTMLTreeview->setContextMenuPolicy(Qt::CustomContextMenu);
  // Image files dropped on the drive list are added as drives.
  DriveHTMLTreeview->setAcceptDrops(true);
  DriveHTMLTreeview->viewport()->setAcceptDrops(true);
  DriveHTMLTreeview->viewport()->installEventFilter(this);
  drives_box->addWidget(DriveHTMLTreeview, 1);
  RefreshAdvRepeatButton = new QToolButton(drives);
  RefreshAdvRepeatButton->setObjectName("RefreshAdvRepeatButton");
  RefreshAdvRepeatButton->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  RefreshAdvRepeatButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  drives_box->addWidget(RefreshAdvRepeatButton, 0, Qt::AlignLeft);
  DrivesAdvPopupMenu = new QMenu(this);
  DrivesAdvPopupMenu->setObjectName("DrivesAdvPopupMenu");
  MenuItem3 = DrivesAdvPopupMenu->addAction(QString());
  MenuItem3->setObjectName("MenuItem3");
  MenuItem4 = DrivesAdvPopupMenu->addAction(QString());
  MenuItem4->setObjectName("MenuItem4");
  MenuItem5 = DrivesAdvPopupMenu->addAction(QString());
  MenuItem5->setObjectName("MenuItem5");
  DrivesAdvPopupMenu->addSeparator();
  AddImageMenuItem = DrivesAdvPopupMenu->addAction(QString());
  AddImageMenuItem->setObjectName("AddImageMenuItem");
  drives_panel_ = AdvNavBarLeft->add_panel(drives, QString());

  TypesTreeView = new QTreeWidget;
  TypesTreeView->setObjectName("TypesTreeView");
  TypesTreeView->setHeaderHidden(true);
  auto* types = new QWidget;
  types->setObjectName("AdvNavBarPanelFilesExt");
  auto* types_box = new QVBoxLayout(types);
  types_box->setContentsMargins(2, 2, 2, 2);
  types_box->addWidget(TypesTreeView);
  types_panel_ = AdvNavBarLeft->add_panel(types, QString());

  FolderHTMLTreeView = new QTreeWidget;
  FolderHTMLTreeView->setObjectName("FolderHTMLTreeView");
  FolderHTMLTreeView->setHeaderHidden(true);
  auto* folders = new QWidget;
  folders->setObjectName("AdvNavBarPanelFilesTree");
  auto* folders_box = new QVBoxLayout(folders);
  folders_box->setContentsMargins(2, 2, 2, 2);
  folders_box->addWidget(FolderHTMLTreeView);
  folders_panel_ = AdvNavBarLeft->add_panel(folders, QString());
  AdvNavBarLeft->set_active(drives_panel_);
  reset_type_tree();
  reset_folder_tree();

  connections_.push_back(QObject::connect(DriveHTMLTreeview, &QTreeWidget::itemClicked, this,
                                          [this] { DriveHTMLTreeviewClick(); }));
  connections_.push_back(QObject::connect(
      DriveHTMLTreeview, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        DrivesAdvPopupMenu->popup(DriveHTMLTreeview->viewport()->mapToGlobal(at));
      }));
  connections_.push_back(
      QObject::connect(MenuItem3, &QAction::triggered, this, [this] { MenuItem3Click(); }));
  connections_.push_back(
      QObject::connect(MenuItem4, &QAction::triggered, this, [this] { MenuItem4Click(); }));
  connections_.push_back(
      QObject::connect(MenuItem5, &QAction::triggered, this, [this] { MenuItem5Click(); }));
  connections_.push_back(
      QObject::connect(AddImageMenuItem, &QAction::triggered, this, [this] { AddImageClick(); }));
  connections_.push_back(QObject::connect(RefreshAdvRepeatButton, &QToolButton::clicked, this,
                                          [this] { RefreshAdvRepeatButtonClick(); }));
  connections_.push_back(
      QObject::connect(FolderHTMLTreeView, &QTreeWidget::currentItemChanged, this,
                       [this](QTreeWidgetItem* node) { FolderHTMLTreeviewChange(node); }));
  connections_.push_back(
      QObject::connect(TypesTreeView, &QTreeWidget::currentItemChanged, this,
                       [this](QTreeWidgetItem* node) { TypesTreeViewChange(node); }));
  FolderHTMLTreeView->installEventFilter(this);
  TypesTreeView->installEventFilter(this);
  AdvNavBarLeft->on_panel_activated = [this](int panel) { AdvNavBarLeftPanelActivate(panel); };
  panel_left->resize(244, 400);
  return panel_left;
}

QWidget* MainWindow::build_language_column() {
  PanelCenterLang = new QWidget;
  PanelCenterLang->setObjectName("PanelCenterLang");
  PanelCenterLang->setFixedWidth(flag_column_width);
  PanelCenterLang->setAutoFillBackground(true);
  QPalette p = PanelCenterLang->palette();
  p.setColor(QPalette::Window, Qt::white);
  PanelCenterLang->setPalette(p);
  auto* column = new QVBoxLayout(PanelCenterLang);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  HTMLabelLangs = new HeaderLabel(PanelCenterLang);
  HTMLabelLangs->setObjectName("HTMLabelLangs");
  HTMLabelLangs->setFixedHeight(25);
  column->addWidget(HTMLabelLangs);
  // The flags, one row of 19 px each from 6 px below the header, scroll under it when the
  // window is too short for all of them.
  auto* flags = new QWidget;
  flags->setObjectName("LanguageFlags");
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    auto* button = new QToolButton(flags);
    button->setObjectName(QString::fromUtf8(languages[i].button.data(),
                                            static_cast<int>(languages[i].button.size())));
    button->setGeometry(4, 6 + 19 * static_cast<int>(i), flag_width, flag_height);
    // Checked is the current language: the icon shows the flag marked then.
    button->setCheckable(true);
    button->setIcon(flag_icon(i));
    button->setIconSize(QSize(flag_width, flag_height));
    button->setStyleSheet(
        "QToolButton { border: none; padding: 0; background: transparent; }"
        "QToolButton:hover { border: 1px solid #5987D6; }");
    // The hint is the language's own name, the same in every current language.
    button->setToolTip(qs(messages::get_message(languages[i].base, messages::language_own_name)));
    language_buttons_.push_back(button);
  }
  flags->setFixedSize(flag_list_width, 6 + 19 * static_cast<int>(languages.size()) + 4);
  column->addWidget(make_flag_scroller(flags), 1);
  return PanelCenterLang;
}

QWidget* MainWindow::build_right_panel() {
  auto* panel_right = new QWidget;
  panel_right->setObjectName("PanelRight");
  auto* box = new QVBoxLayout(panel_right);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(0);

  // Files header with the Sort By box at its right end.
  PanelFilesHeader = new QWidget(panel_right);
  PanelFilesHeader->setObjectName("PanelFilesHeader");
  PanelFilesHeader->setFixedHeight(28);
  HTMLabelFiles = new HeaderLabel(PanelFilesHeader);
  HTMLabelFiles->setObjectName("HTMLabelFiles");
  SortByHTMLabel = new QLabel(PanelFilesHeader);
  SortByHTMLabel->setObjectName("SortByHTMLabel");
  SortByHTMLabel->setStyleSheet("color: white; background: transparent;");
  SortByALComboBox = new QComboBox(PanelFilesHeader);
  SortByALComboBox->setObjectName("SortByALComboBox");
  SortByALComboBox->setFixedSize(120, 20);
  for (int k = 0; k < 7; ++k) SortByALComboBox->addItem(QString());
  SortByALComboBox->setEnabled(false);
  PanelFilesHeader->installEventFilter(this);
  box->addWidget(PanelFilesHeader);

  // The virtual list.
  list_model_ = new FileListModel(catalogue_, view_, *this, this);
  AdvListView = new FileListView(panel_right);
  AdvListView->setObjectName("AdvListView");
  AdvListView->setModel(list_model_);
  AdvListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  AdvListView->setSelectionMode(QAbstractItemView::SingleSelection);
  AdvListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  AdvListView->setShowGrid(true);
  AdvListView->setWordWrap(false);
  AdvListView->setSortingEnabled(false);
  AdvListView->verticalHeader()->hide();
  AdvListView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  AdvListView->verticalHeader()->setDefaultSectionSize(18);
  AdvListView->horizontalHeader()->setSectionsClickable(true);
  // The arrow of the column the list is sorted by; none until the list is sorted.
  AdvListView->horizontalHeader()->setSortIndicatorShown(true);
  AdvListView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  AdvListView->horizontalHeader()->setHighlightSections(false);
  AdvListView->horizontalHeader()->setStretchLastSection(false);
  AdvListView->setStyleSheet(
      "QHeaderView::section { background: #D7D7E5; }"
      "QTableView { selection-background-color: #D7D7E5; selection-color: black; }");
  const std::array<int, 7> widths{135, 165, 70, 50, 100, 100, 20};
  for (int c = 0; c < 7; ++c) AdvListView->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
  AdvListView->setContextMenuPolicy(Qt::CustomContextMenu);
  box->addWidget(AdvListView, 1);

  AdvPopupMenu = new QMenu(this);
  AdvPopupMenu->setObjectName("AdvPopupMenu");
  UndeleteSelected1 = AdvPopupMenu->addAction(QString());
  UndeleteSelected1->setObjectName("UndeleteSelected1");
  UndeleteSelected1->setEnabled(false);
  AdvPopupMenu->addSeparator();
  WipeSelected1 = AdvPopupMenu->addAction(QString());
  WipeSelected1->setObjectName("WipeSelected1");
  WipeSelected1->setEnabled(false);
  WipeSelected1->setVisible(false);
  WipeSeparator = AdvPopupMenu->addSeparator();
  WipeSeparator->setObjectName("N2");
  WipeSeparator->setVisible(false);
  SelectAll1 = AdvPopupMenu->addAction(QString());
  SelectAll1->setObjectName("SelectAll1");
  UnselectAll1 = AdvPopupMenu->addAction(QString());
  UnselectAll1->setObjectName("UnselectAll1");
  ReverseSelection1 = AdvPopupMenu->addAction(QString());
  ReverseSelection1->setObjectName("ReverseSelection1");

  // Destination row and the total of the marked files.
  SelectFolderPanel = new QWidget(panel_right);
  SelectFolderPanel->setObjectName("SelectFolderPanel");
  SelectFolderPanel->setFixedHeight(37);
  KeepFolderHTMLCheckBox = new QCheckBox(SelectFolderPanel);
  KeepFolderHTMLCheckBox->setObjectName("KeepFolderHTMLCheckBox");
  KeepFolderHTMLCheckBox->move(8, 1);
  // Beside it: a hash manifest of the run, written into the destination.
  ManifestCheckBox = new QCheckBox(SelectFolderPanel);
  ManifestCheckBox->setObjectName("ManifestCheckBox");
  TotalFilesizeHTMLStaticText = new QLabel(SelectFolderPanel);
  TotalFilesizeHTMLStaticText->setObjectName("TotalFilesizeHTMLStaticText");
  TotalFilesizeHTMLStaticText->setTextFormat(Qt::RichText);
  TotalFilesizeHTMLStaticText->move(260, 2);
  TotalFilesizeHTMLStaticText->setVisible(false);
  UndelHTMLStaticText = new QLabel(SelectFolderPanel);
  UndelHTMLStaticText->setObjectName("UndelHTMLStaticText");
  UndelHTMLStaticText->move(8, 19);
  SaveAdvDirectoryEdit = new QLineEdit(SelectFolderPanel);
  SaveAdvDirectoryEdit->setObjectName("SaveAdvDirectoryEdit");
  SaveAdvDirectoryEdit->setFixedHeight(17);
  OpenLabel = new QLabel(SelectFolderPanel);
  OpenLabel->setObjectName("OpenLabel");
  OpenLabel->setStyleSheet("color: #0000C0; text-decoration: underline;");
  SelectFolderPanel->installEventFilter(this);
  box->addWidget(SelectFolderPanel);
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  SaveAdvDirectoryEdit->setText(QDir::toNativeSeparators(documents));

  // Status / Preview header, then the log with the preview message behind it.
  HTMLabelStatus = new HeaderLabel(panel_right);
  HTMLabelStatus->setObjectName("HTMLabelStatus");
  HTMLabelStatus->setFixedHeight(25);
  HTMLabelStatus->on_mouse_down = [this](int x) { HTMLabelStatusMouseDown(x); };
  box->addWidget(HTMLabelStatus);
  PanelBottom = new QWidget(panel_right);
  PanelBottom->setObjectName("PanelBottom");
  // The log keeps its height; the preview gets more room, taken from the list
  // (set_status_tab).
  PanelBottom->setFixedHeight(80);
  auto* stack = new QGridLayout(PanelBottom);
  stack->setContentsMargins(0, 0, 0, 0);
  PreviewPanel = new QWidget(PanelBottom);
  PreviewPanel->setObjectName("PreviewPanel");
  auto* preview_box = new QVBoxLayout(PreviewPanel);
  preview_box->setContentsMargins(0, 0, 0, 0);
  preview_box->setSpacing(2);
  PreviewStatusHTMLabel = new QLabel(PreviewPanel);
  PreviewStatusHTMLabel->setObjectName("PreviewStatusHTMLabel");
  PreviewStatusHTMLabel->setTextFormat(Qt::RichText);
  PreviewStatusHTMLabel->setAlignment(Qt::AlignCenter);
  PreviewStatusHTMLabel->setWordWrap(true);
  PreviewStatusHTMLabel->setStyleSheet("color: red; font-weight: bold;");
  PreviewStatusHTMLabel->setVisible(false);
  PreviewImageLabel = new QLabel(PreviewPanel);
  PreviewImageLabel->setObjectName("PreviewImageLabel");
  PreviewImageLabel->setAlignment(Qt::AlignCenter);
  PreviewImageLabel->setMinimumSize(1, 1);
  PreviewImageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  PreviewImageLabel->setVisible(false);
  PreviewImageLabel->installEventFilter(this);
  PreviewTextEdit = new QPlainTextEdit(PreviewPanel);
  PreviewTextEdit->setObjectName("PreviewTextEdit");
  PreviewTextEdit->setReadOnly(true);
  PreviewTextEdit->setVisible(false);
  preview_box->addWidget(PreviewStatusHTMLabel);
  preview_box->addWidget(PreviewImageLabel, 1);
  preview_box->addWidget(PreviewTextEdit, 1);
  PreviewPanel->setVisible(false);
  AdvMemo = new QPlainTextEdit(PanelBottom);
  AdvMemo->setObjectName("AdvMemo");
  AdvMemo->setReadOnly(true);
  AdvMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  AdvMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  stack->addWidget(PreviewPanel, 0, 0);
  stack->addWidget(AdvMemo, 0, 0);
  box->addWidget(PanelBottom);
  panel_right->installEventFilter(this);
  set_status_tab(false);

  AdvListView->on_cell_click = [this](int row, int column, bool shift) {
    AdvListViewLeftClickCell(row, column, shift);
  };
  AdvListView->on_space = [this] { AdvListViewSpace(); };
  AdvListView->on_exit = [this] { AdvListViewExit(); };
  connections_.push_back(QObject::connect(AdvListView->selectionModel(),
                                          &QItemSelectionModel::selectionChanged, this,
                                          [this] { AdvListViewSelectItem(); }));
  connections_.push_back(QObject::connect(AdvListView->horizontalHeader(),
                                          &QHeaderView::sectionClicked, this,
                                          [this](int column) { AdvListViewColumnClick(column); }));
  connections_.push_back(QObject::connect(SortByALComboBox, &QComboBox::activated, this,
                                          [this](int key) { SortByALComboBoxChange(key); }));
  connections_.push_back(QObject::connect(
      AdvListView, &QWidget::customContextMenuRequested, this,
      [this](const QPoint& at) { AdvPopupMenu->popup(AdvListView->viewport()->mapToGlobal(at)); }));
  connections_.push_back(
      QObject::connect(SelectAll1, &QAction::triggered, this, [this] { SelectAll1Click(); }));
  connections_.push_back(
      QObject::connect(UnselectAll1, &QAction::triggered, this, [this] { UnselectAll1Click(); }));
  connections_.push_back(QObject::connect(ReverseSelection1, &QAction::triggered, this,
                                          [this] { ReverseSelection1Click(); }));
  return panel_right;
}

void MainWindow::build_status_bar(QWidget* parent) {
  MainStatusBar = new QFrame(parent);
  MainStatusBar->setObjectName("MainStatusBar");
  MainStatusBar->setFixedHeight(19);
  auto panel_label = [this](const char* name) {
    auto* label = new QLabel(MainStatusBar);
    label->setObjectName(name);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setContentsMargins(3, 0, 3, 0);
    return label;
  };
  VersionPanel = panel_label("StatusPanel0");
  FilterPanel = panel_label("StatusPanel1");
  FilesPanel = panel_label("StatusPanel2");
  ProgressBar = new QProgressBar(MainStatusBar);
  ProgressBar->setObjectName("ProgressBar");
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setFormat("%p%");
  ProgressBar->setAlignment(Qt::AlignCenter);
  auto* panel4 = panel_label("StatusPanel4");
  auto* panel5 = panel_label("StatusPanel5");
  status_panels_ = {VersionPanel, FilterPanel, FilesPanel, ProgressBar, panel4, panel5};
  StopButton = new QToolButton(MainStatusBar);
  StopButton->setObjectName("StopButton");
  StopButton->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  StopButton->setAutoRaise(true);
  StopButton->setEnabled(false);
  StopButton->raise();
  MainStatusBar->installEventFilter(this);
  connections_.push_back(
      QObject::connect(StopButton, &QToolButton::clicked, this, [this] { StopButtonClick(); }));
}

void MainWindow::apply_captions() {
  setWindowTitle("Fennick" + qmsg(messages::main_title_suffix));
  AdvNavBarLeft->set_caption(drives_panel_, qmsg(messages::panel_drives));
  AdvNavBarLeft->set_caption(types_panel_, qmsg(messages::panel_types));
  AdvNavBarLeft->set_caption(folders_panel_, qmsg(messages::panel_folders));
  FastSearchSection->setText(qmsg(messages::fast_search) + " (" + QString::number(drives_.size()) +
                             ")");
  VersionPanel->setText(qmsg(messages::version_label) + fennick::version);
  set_filter_indicator();
  FilesPanel->setText(qmsg(messages::files_label) +
                      QString::number(catalogue_.deleted_count() - catalogue_.wiped_count()));
  for (QTreeWidget* tree : {DriveHTMLTreeview, TypesTreeView, FolderHTMLTreeView}) {
    if (tree->topLevelItemCount() > 0)
      tree->topLevelItem(0)->setText(0, qmsg(messages::my_computer));
  }
  RefreshAdvRepeatButton->setText(qmsg(messages::refresh_list));
  RefreshAdvRepeatButton->setToolTip(qmsg(messages::refresh_list));
  AddImageAdvToolButton->setText(qmsg(messages::add_image));
  AddImageMenuItem->setText(qmsg(messages::add_image));
  StartAdvToolButton->setText(qmsg(messages::start_scan));
  DeepScanCheckBox->setText(qmsg(messages::deep_scan));
  UndeleteAdvToolButton->setText(qmsg(messages::start_undelete));
  WipeAdvToolButton->setText(qmsg(messages::start_wipe));
  FilterAdvToolButton->setText(qmsg(messages::filter_button));
  UpdateAdvToolButton->setText(qmsg(messages::update_button));
  HTMLabelFiles->setText(header_html(qmsg(messages::files_header), 4));
  set_status_tab(preview_active_);
  fit_list_columns();
  // The preview's message follows the language too.
  if (preview_active_ && preview_record_ >= 0 &&
      static_cast<std::size_t>(preview_record_) < catalogue_.files().size() &&
      !PreviewStatusHTMLabel->isHidden()) {
    show_preview(catalogue_.files()[static_cast<std::size_t>(preview_record_)]);
  }
  UndelHTMLStaticText->setText(qmsg(messages::undelete_to));
  UndelHTMLStaticText->adjustSize();
  OpenLabel->setText(qmsg(messages::open_folder));
  OpenLabel->adjustSize();
  SortByHTMLabel->setText(qmsg(messages::sort_by) + " :");
  SortByHTMLabel->adjustSize();
  for (int k = 0; k < 7; ++k) SortByALComboBox->setItemText(k, qmsg(messages::field_none + k));
  SortByALComboBox->setCurrentIndex(0);
  list_model_->captions_changed();
  StopButton->setToolTip(qmsg(messages::stop_button));
  MenuItem3->setText(qmsg(messages::select_all_drives));
  MenuItem4->setText(qmsg(messages::unselect_all_drives));
  MenuItem5->setText(qmsg(messages::reverse_drive_selection));
  HelpAdvToolButton->setText(qmsg(messages::help_button));
  HTMLabelLangs->setText(header_html(qmsg(messages::languages_header), 1));
  KeepFolderHTMLCheckBox->setText(qmsg(messages::keep_folder_structure));
  KeepFolderHTMLCheckBox->adjustSize();
  ManifestCheckBox->setText(qmsg(messages::write_manifest));
  ManifestCheckBox->adjustSize();
  UndeleteSelected1->setText(qmsg(messages::menu_undelete_selected));
  WipeSelected1->setText(qmsg(messages::menu_wipe_selected));
  SelectAll1->setText(qmsg(messages::select_all_files));
  UnselectAll1->setText(qmsg(messages::unselect_all_files));
  ReverseSelection1->setText(qmsg(messages::reverse_file_selection));
  update_total_label();
  CleanAdvToolButton->setText(qmsg(messages::clean_drive));
  FormResize();
}

void MainWindow::FormResize() {
  // Status bar: panel 3 takes what the fixed panels leave; Stop sits 7 px into panel 4.
  const int bar_width = MainStatusBar->width();
  panel_widths_[3] = std::max(0, bar_width - panel_widths_[0] - panel_widths_[1] -
                                     panel_widths_[2] - panel_widths_[4] - panel_widths_[5]);
  int x = 0;
  for (std::size_t i = 0; i < status_panels_.size(); ++i) {
    status_panels_[i]->setGeometry(x, 0, panel_widths_[i], MainStatusBar->height());
    x += panel_widths_[i];
  }
  const int stop_left =
      panel_widths_[0] + panel_widths_[1] + panel_widths_[2] + panel_widths_[3] + 7;
  StopButton->setGeometry(stop_left, 1, 24, MainStatusBar->height() - 2);
  // Files header: the Sort By box at the right end, its label before it.
  HTMLabelFiles->setGeometry(0, 0, PanelFilesHeader->width(), PanelFilesHeader->height());
  const int combo_left = HTMLabelFiles->width() - SortByALComboBox->width() - 5;
  SortByALComboBox->move(combo_left, (PanelFilesHeader->height() - SortByALComboBox->height()) / 2);
  SortByHTMLabel->move(combo_left - SortByHTMLabel->width() - 5,
                       (PanelFilesHeader->height() - SortByHTMLabel->height()) / 2);
  // Destination row: the two boxes, the marked files' total after them; "Open ..." at the
  // right end, the folder field up to it.
  const int panel_width = SelectFolderPanel->width();
  ManifestCheckBox->move(KeepFolderHTMLCheckBox->x() + KeepFolderHTMLCheckBox->width() + 16, 1);
  TotalFilesizeHTMLStaticText->move(
      std::max(260, ManifestCheckBox->x() + ManifestCheckBox->width() + 16), 2);
  OpenLabel->move(panel_width - OpenLabel->width() - 15, 19);
  const int edit_left = UndelHTMLStaticText->x() + UndelHTMLStaticText->width() + 6;
  SaveAdvDirectoryEdit->move(edit_left, 18);
  SaveAdvDirectoryEdit->setFixedWidth(
      std::max(20, panel_width - edit_left - OpenLabel->width() - 20));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize &&
      (watched == MainStatusBar || watched == PanelFilesHeader || watched == SelectFolderPanel)) {
    FormResize();
  } else if (event->type() == QEvent::Resize && watched == PanelBottom->parentWidget()) {
    fit_bottom_panel();
  } else if (event->type() == QEvent::Resize && watched == PreviewImageLabel) {
    fit_preview_picture();
  } else if (watched == DriveHTMLTreeview->viewport() &&
             (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
              event->type() == QEvent::Drop)) {
    return drive_tree_drop(static_cast<QDropEvent*>(event));
  } else if (event->type() == QEvent::FocusIn) {
    // Entering a tree acts on its selected node.
    if (watched == FolderHTMLTreeView) FolderHTMLTreeviewChange(FolderHTMLTreeView->currentItem());
    if (watched == TypesTreeView) TypesTreeViewChange(TypesTreeView->currentItem());
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Some platforms (offscreen, some window managers) never activate the window; its first
  // showing then counts as the first activation.
  FormActivate();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void MainWindow::FormActivate() {
  if (activated_once_) return;
  activated_once_ = true;
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  const QString stamp = locale.toString(now.date(), QLocale::ShortFormat) + " " +
                        locale.toString(now.time(), QLocale::LongFormat);
  read_settings();
  out_text(text(messages::started_at) + stamp.toStdString(), messages::DialogKind::plain, false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing during a run asks the run to stop, so the program ends soon after.
  if (run_active()) run_.request_stop();
  QMainWindow::closeEvent(event);
}

}  // namespace fennick::ui

// GUI test fixture and helpers.
#include "gui_support.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <sstream>

#include "catalogue/catalogue_view.h"
#include "messages/status_channel.h"
#include "ui/file_list.h"

namespace fennick::testing {

// Every window brings its own drive list, catalogue, view and run control: closing it
// leaves nothing behind for the next test.
void GuiTest::TearDown() {
  filter_.reset();
  form_.reset();
}

bool GuiTest::open(const std::vector<std::string>& images) {
  std::vector<std::string> paths;
  for (const std::string& image : images) {
    const std::string path = image.find('/') == std::string::npos ? fixture_image(image) : image;
    if (path.empty()) return false;
    paths.push_back(path);
  }
  open_paths(paths);
  return true;
}

void GuiTest::open_paths(const std::vector<std::string>& paths) {
  filter_.reset();
  form_.reset();
  ui::MainWindow::Options options;
  options.list_block_devices = false;
  options.named_volumes = paths;
  form_ = std::make_unique<ui::MainWindow>(options);
  filter_ = std::make_unique<ui::FilterDialog>(*form_);
  form_->set_filter_form(filter_.get());
  form_->show();
  QCoreApplication::processEvents();
}

QStringList GuiTest::log() const {
  return find<QPlainTextEdit>("AdvMemo")->toPlainText().split('\n');
}

QStringList GuiTest::run_log() const {
  QStringList lines = log();
  if (!lines.isEmpty() && lines.front().startsWith(" Application was started at "))
    lines.removeFirst();
  return lines;
}

void GuiTest::click(const char* button) {
  auto* b = find<QToolButton>(button);
  ASSERT_NE(b, nullptr);
  QTest::mouseClick(b, Qt::LeftButton);
}

void GuiTest::click_drive(int index) {
  auto* tree = find<QTreeWidget>("DriveHTMLTreeview");
  QTreeWidgetItem* root = tree->topLevelItem(0);
  QTreeWidgetItem* node = index < 0 ? root : root->child(index);
  ASSERT_NE(node, nullptr);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

void GuiTest::tick_only(const std::vector<int>& drives) {
  find<QAction>("MenuItem4")->trigger();
  for (int d : drives) click_drive(d);
}

void GuiTest::start_scan() { click("StartAdvToolButton"); }

void GuiTest::click_cell(int row, int column, bool shift) {
  auto* view = find<QTableView>("AdvListView");
  const QModelIndex index = view->model()->index(row, column);
  ASSERT_TRUE(index.isValid()) << row << "," << column;
  view->scrollTo(index);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, shift ? Qt::ShiftModifier : Qt::NoModifier,
                    view->visualRect(index).center());
}

void GuiTest::click_header(int column) {
  auto* view = find<QTableView>("AdvListView");
  QHeaderView* header = view->horizontalHeader();
  view->scrollTo(view->model()->index(0, column));
  const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

int GuiTest::rows() const { return find<QTableView>("AdvListView")->model()->rowCount(); }

QString GuiTest::cell(int row, int column) const {
  auto* model = find<QTableView>("AdvListView")->model();
  return model->data(model->index(row, column)).toString();
}

catalogue::FoundFile& GuiTest::record(int row) const {
  return found().files().at(
      static_cast<std::size_t>(view().row_map.at(static_cast<std::size_t>(row))));
}

void GuiTest::select_folder(const QStringList& captions) {
  auto* tree = find<QTreeWidget>("FolderHTMLTreeView");
  QTreeWidgetItem* node = tree->topLevelItem(0);
  for (const QString& caption : captions) {
    QTreeWidgetItem* next = nullptr;
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i) {
      if (node->child(i)->text(0) == caption) next = node->child(i);
    }
    ASSERT_NE(next, nullptr) << caption.toStdString();
    node = next;
  }
  tree->scrollToItem(node);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

namespace {

// Polls for a modal dialog for up to 10 s and runs the action on it once it is open.
void poll_for_dialog(std::function<void(QWidget*)> action, int tries) {
  QTimer::singleShot(5, [action, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      if (tries > 0) poll_for_dialog(action, tries - 1);
      return;
    }
    action(modal);
  });
}

}  // namespace

void GuiTest::on_next_dialog(std::function<void(QWidget*)> action) {
  poll_for_dialog(std::move(action), 2000);
}

std::string make_blank_image(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  std::ofstream out(path, std::ios::binary);
  const std::string zeros(1 << 20, '\0');
  out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  return path;
}

std::vector<TruthEntry> read_truth(const std::string& image) {
  std::vector<TruthEntry> entries;
  std::ifstream in(fixture_image(image) + ".truth.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    TruthEntry e;
    std::string size, sha;
    std::getline(fields, e.path, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, e.state, '\t');
    e.size = std::stoll(size);
    entries.push_back(e);
  }
  return entries;
}

}  // namespace fennick::testing

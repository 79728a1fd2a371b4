// Shared fixture of the GUI tests: a fresh main window and filter dialog over named volume
// images, and helpers that press, click and read the real controls.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_view.h"
#include "test_support.h"
#include "ui/filter_dialog.h"
#include "ui/main_window.h"

namespace fennick::testing {

class GuiTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Opens the window over the images (fixture names such as "fat16.img", or full paths);
  // false when a fixture image is missing (the test should skip).
  bool open(const std::vector<std::string>& images);
  // The window without fixtures, over these exact paths.
  void open_paths(const std::vector<std::string>& paths);

  template <typename T>
  T* find(const char* name) const {
    T* found = form_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  QStringList log() const;
  // Log lines written since the window opened, the start line left out.
  QStringList run_log() const;
  void click(const char* button);
  // Clicks the drive node of the drive-list entry (-1: the root).
  void click_drive(int index);
  // Sets the drive ticks through the menu and clicks.
  void tick_only(const std::vector<int>& drives);
  void start_scan();
  // Clicks the cell of the list (scrolled into view), Shift held when asked.
  void click_cell(int row, int column, bool shift = false);
  void click_header(int column);
  int rows() const;
  QString cell(int row, int column) const;
  catalogue::FoundFile& record(int row) const;
  // What the window owns: its drive list, catalogue and list view.
  workflow::DriveList& drives() const { return form_->drive_list(); }
  catalogue::Catalogue& found() const { return form_->file_catalogue(); }
  catalogue::CatalogueView& view() const { return form_->catalogue_view(); }
  // Message k in the window's language.
  std::string message(int k) const { return form_->text(k); }
  // Selects a node of the folder tree by the captions on its path below the root.
  void select_folder(const QStringList& captions);
  // Runs action on the next modal dialog once it is open.
  void on_next_dialog(std::function<void(QWidget*)> action);

  std::unique_ptr<ui::MainWindow> form_;
  std::unique_ptr<ui::FilterDialog> filter_;
  std::unique_ptr<TempDir> temp_;
};

// A file of zeros: an image the engines cannot scan.
std::string make_blank_image(const std::string& folder, const std::string& name);

// One line of a fixture's truth file.
struct TruthEntry {
  std::string path;  // "/DOCS/Reports/draft.doc"
  std::int64_t size = 0;
  std::string state;
};
std::vector<TruthEntry> read_truth(const std::string& image);

}  // namespace fennick::testing

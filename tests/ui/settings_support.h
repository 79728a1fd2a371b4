// Fixture of the language, settings and Clean Disk tests: the main window with its Clean Disk
// window, and an empty settings store before and after every test, so that no stored
// language or admin mode reaches another test.
#pragma once

#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <memory>

#include "gui_support.h"
#include "messages/message_catalogue.h"
#include "ui/clean_disk_window.h"

namespace fennick::testing {

inline void clear_settings() {
  QSettings store("BrantleSoftware", "Fennick");
  store.clear();
  store.sync();
  QFile::remove(store.fileName());
}

// The stored value as text, or "(absent)".
inline QString stored(const char* name) {
  const QSettings store("BrantleSoftware", "Fennick");
  return store.contains(name) ? store.value(name).toString() : QString("(absent)");
}

inline QString msg(int base, int k) {
  return QString::fromStdString(messages::get_message(base, k));
}

class SettingsGuiTest : public GuiTest {
 protected:
  void SetUp() override { clear_settings(); }
  void TearDown() override {
    clean_.reset();
    GuiTest::TearDown();
    clear_settings();
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
  }
  // The main window over the images with its Clean Disk window; false when a fixture is
  // missing.
  bool open_all(const std::vector<std::string>& images) {
    if (!open(images)) return false;
    attach_clean_form();
    return true;
  }
  void attach_clean_form() {
    clean_ = std::make_unique<ui::CleanDiskWindow>(*form_);
    form_->set_clean_form(clean_.get());
  }
  // Closes the windows and opens them again over the same drives, as a new start would.
  void restart() {
    std::vector<std::string> paths = form_->named_volumes();
    clean_.reset();
    filter_.reset();
    form_.reset();
    open_paths(paths);
    attach_clean_form();
  }
  template <typename T>
  T* clean_child(const char* name) const {
    T* found = clean_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  std::unique_ptr<ui::CleanDiskWindow> clean_;
};

}  // namespace fennick::testing

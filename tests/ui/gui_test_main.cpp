// Entry of the GUI tests: runs them on Qt's offscreen platform (unless a platform is set)
// with the per-user folders in a private temporary folder, under one QApplication. The
// window is told it runs as an ordinary user (the tests themselves run as root), so no test
// touches root's real settings; the tests of a root-run window set a root identity of their
// own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/run_identity.h"

namespace {

// The offscreen platform warns about every window it cannot size-hint; that says nothing
// about the program.
QtMessageHandler standard_handler = nullptr;

void quiet_message_handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains("propagateSizeHints")) return;
  if (standard_handler) standard_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  standard_handler = qInstallMessageHandler(quiet_message_handler);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char folder[] = "/tmp/fennick-gui-test-XXXXXX";
  const char* base = ::mkdtemp(folder);
  if (base != nullptr) {
    const std::string root = base;
    for (const char* name : {"config", "data", "runtime"}) {
      std::filesystem::create_directories(root + "/" + name);
    }
    ::chmod((root + "/runtime").c_str(), 0700);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("HOME", root.c_str(), 1);
  }
  fennick::ui::identity::set_for_tests(fennick::ui::identity::Identity{1000, QString()});
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (base != nullptr) {
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
  }
  return result;
}

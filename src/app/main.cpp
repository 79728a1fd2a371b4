// fennick: the desktop program. Sets the application title, creates the main window and the
// filter dialog, and runs the event loop. Volume images named on the command line become
// the first drives (C:, D:, ...).
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "fennick/version.h"
#include "ui/clean_disk_window.h"
#include "ui/filter_dialog.h"
#include "ui/main_window.h"

namespace {

void print_usage(std::FILE* out) {
  std::fputs(
      "Usage: fennick [--no-devices] [--screenshot FILE [--preview NAME]] [VOLUME...]\n"
      "\n"
      "Finds deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes. Each VOLUME (an image\n"
      "file or a block device) becomes a drive, from C: on; the machine's FAT, exFAT and\n"
      "NTFS block devices follow.\n"
      "\n"
      "  --no-devices       list only the named volumes\n"
      "  --screenshot FILE  tick every drive, scan, save a picture of the window as FILE\n"
      "                     (PNG) and quit\n"
      "  --preview NAME     with --screenshot: first select the found file of that name and\n"
      "                     wait for its preview\n"
      "  --help, --version\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options (-platform, ...) out of argv
  QApplication::setApplicationName("Fennick");
  QApplication::setOrganizationName("BrantleSoftware");
  QApplication::setApplicationVersion(fennick::version);

  fennick::ui::MainWindow::Options options;
  std::string screenshot;
  QString preview;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      print_usage(stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("fennick %s\n", fennick::version);
      return 0;
    }
    if (arg == "--no-devices") {
      options.list_block_devices = false;
    } else if (arg == "--screenshot") {
      if (i + 1 >= args.size()) {
        std::fputs("fennick: --screenshot needs a file name\n", stderr);
        return 2;
      }
      screenshot = args[++i].toStdString();
    } else if (arg == "--preview") {
      if (i + 1 >= args.size()) {
        std::fputs("fennick: --preview needs a file name\n", stderr);
        return 2;
      }
      preview = args[++i];
    } else if (arg.startsWith("--")) {
      std::fprintf(stderr, "fennick: unknown option %s\n\n", arg.toLocal8Bit().constData());
      print_usage(stderr);
      return 2;
    } else {
      options.named_volumes.push_back(arg.toStdString());
    }
  }

  fennick::ui::MainWindow main_form(options);
  fennick::ui::FilterDialog filter_form(main_form);
  main_form.set_filter_form(&filter_form);
  fennick::ui::CleanDiskWindow clean_form(main_form);
  main_form.set_clean_form(&clean_form);
  main_form.show();

  if (!screenshot.empty()) {
    QTimer::singleShot(0, &main_form, [&main_form, &screenshot, &preview] {
      main_form.MenuItem3Click();
      main_form.StartAdvToolButtonClick();
      QCoreApplication::processEvents();
      if (!preview.isEmpty()) {
        if (!main_form.select_file_named(preview)) {
          std::fprintf(stderr, "fennick: no found file is named %s\n",
                       preview.toLocal8Bit().constData());
        }
        // The preview is read on a thread of its own: wait for it, a few seconds at most.
        QElapsedTimer waited;
        waited.start();
        while (!main_form.preview_shown() && waited.elapsed() < 5000) {
          QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        QCoreApplication::processEvents();
      }
      const bool saved = main_form.grab().save(QString::fromStdString(screenshot), "PNG");
      if (!saved) std::fprintf(stderr, "fennick: cannot save %s\n", screenshot.c_str());
      QCoreApplication::exit(saved ? 0 : 1);
    });
  }
  return app.exec();
}

// The found-file list on a catalogue of 1,000,000 records: how long a row-map rebuild
// (set_folder_filter), each sort key (sort and rebuild, as a header click does) and a full
// repaint of the list take. A benchmark, not a test: it reports the figures and asserts
// nothing. Runs on Qt's offscreen platform unless a platform is set.
//
//   list_bench [RECORDS]
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_view.h"
#include "ui/main_window.h"

namespace {

using namespace fennick;

// A catalogue of `count` records with varied names, folders, sizes, dates and qualities
// (fixed seed, so every run sorts the same data).
void fill_catalogue(catalogue::Catalogue& found, std::int32_t count) {
  found.clear();
  std::mt19937_64 random(20240315);
  const char* stems[] = {"report", "IMG_", "Budget", "notes", "draft", "~WRL", "Résumé", "data"};
  const char* extensions[] = {".doc", ".JPG", ".xlsx", ".txt", ".tmp", ".pdf", ".bin", ".zip"};
  const char* folders[] = {"C:\\",
                           "C:\\DOCS\\",
                           "C:\\DOCS\\Reports\\",
                           "C:\\Photos\\2023\\",
                           "C:\\WINDOWS\\TEMP\\",
                           "C:\\Old Projects\\Drafts\\"};
  catalogue::FoundFile r;
  r.fs_kind = volume::FileSystemKind::ntfs;
  r.drive_letter = 'c';
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint64_t x = random();
    r.record_no = static_cast<std::int32_t>((x >> 8) % 5000000);
    r.name =
        std::string(stems[x % 8]) + std::to_string((x >> 16) % 100000) + extensions[(x >> 40) % 8];
    const std::size_t folder = (x >> 20) % 6;
    r.path = folders[folder];
    r.parent_dir =
        static_cast<std::int32_t>(folder == 0 ? catalogue::ROOT_FOLDER_ID : 100 + folder);
    r.size = static_cast<std::int64_t>((x >> 24) % 50000000);
    r.quality = static_cast<std::int8_t>(static_cast<int>((x >> 48) % 104) - 3);
    // Days 36,000 to 45,000 after 1899-12-30 at 86.4 s steps, modified up to 10 days later.
    constexpr std::int64_t step = catalogue::Timestamp::ticks_per_day / 1000;
    const std::int64_t created =
        (36'000'000 + static_cast<std::int64_t>((x >> 12) % 9000000)) * step;
    r.created = catalogue::Timestamp::from_ticks(created, catalogue::TimeBase::utc);
    r.modified = catalogue::Timestamp::from_ticks(
        created + static_cast<std::int64_t>((x >> 30) % 1000) * step * 10,
        catalogue::TimeBase::utc);
    found.add(r);
  }
}

// Resident memory of this process, from /proc/self/statm.
long resident_bytes() {
  long pages_total = 0;
  long pages_resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
    std::fclose(f);
  }
  return pages_resident * ::sysconf(_SC_PAGESIZE);
}

double seconds(const QElapsedTimer& timer) {
  return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::int32_t count = argc > 1 ? std::atoi(argv[1]) : 1000000;

  ui::MainWindow::Options options;
  options.list_block_devices = false;
  ui::MainWindow form(options);
  form.show();
  QCoreApplication::processEvents();
  auto* view = form.findChild<QTableView*>("AdvListView");

  QElapsedTimer timer;
  const long before = resident_bytes();
  timer.start();
  fill_catalogue(form.file_catalogue(), count);
  const double built = seconds(timer);
  const long after = resident_bytes();
  std::printf(
      "records: %d, built in %.2f s; memory %.0f bytes per record (%zu in the record, "
      "the rest its name and path texts and the array's spare room)\n",
      count, built, static_cast<double>(after - before) / count, sizeof(catalogue::FoundFile));

  timer.start();
  form.set_folder_filter(0, catalogue::any_drive, 0);
  std::printf("set_folder_filter, all files:           %.3f s (%zu rows)\n", seconds(timer),
              form.catalogue_view().row_map.size());
  timer.start();
  form.set_folder_filter(102, 'c', 0);
  std::printf("set_folder_filter, one folder:          %.3f s (%zu rows)\n", seconds(timer),
              form.catalogue_view().row_map.size());
  catalogue::TCustomFilter& filter = form.catalogue_view().filter;
  filter.hide_temporary = true;
  filter.name_on = true;
  filter.name_part = "e";
  timer.start();
  form.set_folder_filter(0, catalogue::any_drive, 0);
  std::printf("set_folder_filter, name + temp filter:  %.3f s (%zu rows)\n", seconds(timer),
              form.catalogue_view().row_map.size());
  filter = catalogue::TCustomFilter{};
  form.set_folder_filter(0, catalogue::any_drive, 0);

  const char* keys[] = {"None", "Filename",     "Path",         "Status",
                        "Size", "Date Created", "Date Modified"};
  for (int key = 1; key <= 6; ++key) {
    timer.start();
    form.AdvListViewColumnClick(key - 1);  // sort by the key, rebuild the rows
    std::printf("sort by %-14s (header click):   %.3f s\n", keys[key], seconds(timer));
  }
  timer.start();
  form.SortByALComboBoxChange(0);
  std::printf("sort by %-14s (Sort By box):    %.3f s\n", keys[0], seconds(timer));

  // Painting: only the visible rows are produced, wherever the list is scrolled to.
  for (const char* where : {"top", "middle", "bottom"}) {
    QScrollBar* bar = view->verticalScrollBar();
    if (where[0] == 'm') bar->setValue(bar->maximum() / 2);
    if (where[0] == 'b') bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    timer.start();
    const int repaints = 20;
    for (int i = 0; i < repaints; ++i) view->viewport()->repaint();
    std::printf("full repaint of the list at the %-6s   %.2f ms\n", where,
                seconds(timer) * 1000 / repaints);
  }
  timer.start();
  for (int step = 0; step < 200; ++step) {
    view->verticalScrollBar()->setValue(step * (view->verticalScrollBar()->maximum() / 200));
    view->viewport()->repaint();
  }
  std::printf("scroll and repaint, 200 jumps:          %.2f ms each\n",
              seconds(timer) * 1000 / 200);
  form.file_catalogue().clear();
  return 0;
}

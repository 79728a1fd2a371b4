// Undelete and wipe runs through the real window over fixture volumes: the files written
// are the originals (by SHA-256 against the fixtures' truth), where they land with and
// without "Keep folder structure", the run's log lines, stopping after a file, the warning
// for a destination on a source volume, and the wipe with its confirmation on image copies.
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "catalogue/catalogue_view.h"
#include "gui_support.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "test_support.h"
#include "ui/file_list.h"
#include "workflow/record_text.h"

namespace fennick::testing {
namespace {

class UndeleteTest : public GuiTest {
 protected:
  TempDir scratch_;
  std::string temp_path(const std::string& name) const { return scratch_.path() + "/" + name; }

  // Truth entries of deleted files whose clusters are intact, keyed by (path, size) over
  // both images: the content starts with the path, and the same path and size give the
  // same bytes.
  std::map<std::pair<std::string, std::int64_t>, std::string> recoverable_;
  // Names as shown, per drive letter, of those files: a deleted 8.3 name loses its first
  // character, so it is compared from the second on, without case.
  std::map<char, std::vector<TruthEntry>> truth_by_letter_;

  bool open_fixtures(const std::vector<std::string>& images,
                     const std::vector<std::string>& paths) {
    char letter = 'C';
    for (const std::string& image : images) {
      if (fixture_image(image).empty()) return false;
      for (const TruthEntry& e : read_truth(image)) {
        if (e.state != "deleted" && e.state != "deleted-in-folder") continue;
        if (e.size == 0) continue;
        truth_by_letter_[letter].push_back(e);
      }
      std::ifstream in(fixture_image(image) + ".truth.tsv");
      std::string line;
      std::getline(in, line);
      while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string path, size, sha;
        std::getline(f, path, '\t');
        std::getline(f, size, '\t');
        std::getline(f, sha, '\t');
        recoverable_[{path, std::stoll(size)}] = sha;
      }
      ++letter;
    }
    open_paths(paths.empty() ? fixture_paths(images) : paths);
    return true;
  }

  static std::vector<std::string> fixture_paths(const std::vector<std::string>& images) {
    std::vector<std::string> paths;
    for (const std::string& i : images) paths.push_back(fixture_image(i));
    return paths;
  }

  static bool same_name(const std::string& shown, const std::string& written) {
    if (shown.size() != written.size() || shown.empty()) return false;
    return QString::fromStdString(shown.substr(1))
               .compare(QString::fromStdString(written.substr(1)), Qt::CaseInsensitive) == 0;
  }

  // The truth entry a record stands for when its file is fully recoverable.
  const TruthEntry* recoverable_entry(const catalogue::FoundFile& r) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(r.drive_letter)));
    for (const TruthEntry& e : truth_by_letter_[letter]) {
      const std::string base = e.path.substr(e.path.rfind('/') + 1);
      if (e.size == r.size && same_name(r.name.str(), base)) return &e;
    }
    return nullptr;
  }

  // Marks, by clicking their check cells, the rows of fully recoverable files; returns
  // their catalogue indexes.
  std::vector<std::int32_t> mark_recoverable() {
    std::vector<std::int32_t> marked;
    for (int row = 0; row < rows(); ++row) {
      if (recoverable_entry(record(row)) == nullptr) continue;
      click_cell(row, 0);
      EXPECT_EQ(record(row).selected, 1);
      marked.push_back(view().row_map[static_cast<std::size_t>(row)]);
    }
    return marked;
  }

  void set_destination(const std::string& folder) {
    std::filesystem::create_directories(folder);
    find<QLineEdit>("SaveAdvDirectoryEdit")->setText(QString::fromStdString(folder));
  }

  // Every file below the folder: its path relative to the folder and its SHA-256.
  static std::map<std::string, std::string> written_files(const std::string& folder) {
    std::map<std::string, std::string> files;
    QDirIterator it(QString::fromStdString(folder), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      QFile f(path);
      EXPECT_TRUE(f.open(QIODevice::ReadOnly));
      const QByteArray bytes = f.readAll();
      files[QDir(QString::fromStdString(folder)).relativeFilePath(path).toStdString()] =
          QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    }
    return files;
  }

  static std::string first_line(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
  }
};

TEST_F(UndeleteTest, RecoversMarkedFilesAlsoHiddenOnesWithAndWithoutFolders) {
  if (!open_fixtures({"fat16.img", "ntfs.img"}, {})) GTEST_SKIP() << "fixture missing";
  tick_only({0, 1});
  start_scan();
  ASSERT_GT(rows(), 0);
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "keep folders" : "flat");
    find<QTreeWidget>("TypesTreeView")
        ->setCurrentItem(find<QTreeWidget>("TypesTreeView")->topLevelItem(0));
    const std::vector<std::int32_t> marked = mark_recoverable();
    ASSERT_GE(marked.size(), 20u);
    // Show only the text files: the others stay marked but hidden.
    QTreeWidgetItem* type_root = find<QTreeWidget>("TypesTreeView")->topLevelItem(0);
    for (int i = 0; i < type_root->childCount(); ++i) {
      if (type_root->child(i)->text(0).startsWith("Text Documents")) {
        find<QTreeWidget>("TypesTreeView")->setCurrentItem(type_root->child(i));
      }
    }
    ASSERT_LT(static_cast<std::size_t>(rows()), marked.size());
    const std::string out = temp_path(keep ? "keep" : "flat");
    set_destination(out);
    if (find<QCheckBox>("KeepFolderHTMLCheckBox")->isChecked() != keep) {
      QTest::mouseClick(find<QCheckBox>("KeepFolderHTMLCheckBox"), Qt::LeftButton);
    }
    const int log_before = static_cast<int>(log().size());
    click("UndeleteAdvToolButton");

    // The log: start, one success line per marked file in catalogue order, the counts, end.
    const QStringList lines = log().mid(log_before);
    ASSERT_EQ(lines.size(), static_cast<int>(marked.size()) + 3) << lines.join("\n").toStdString();
    EXPECT_EQ(lines.front().toStdString(), message(messages::undelete_started));
    EXPECT_EQ(lines[lines.size() - 2].toStdString(),
              message(messages::files_recovered) + std::to_string(marked.size()) +
                  message(messages::files_not_recovered) + "0");
    EXPECT_EQ(lines.back().toStdString(), message(messages::undelete_ended));
    std::vector<std::string> written_order;
    for (int i = 1; i + 2 < lines.size(); ++i) {
      const std::string line = lines[i].toStdString();
      ASSERT_TRUE(line.starts_with(message(messages::undeleted_prefix))) << line;
    }

    // Every file is the original, and lies where the box says.
    const auto files = written_files(out);
    EXPECT_EQ(files.size(), marked.size());
    for (const auto& [relative, sha] : files) {
      const std::string path = first_line(out + "/" + relative);
      std::int64_t size =
          static_cast<std::int64_t>(std::filesystem::file_size(out + "/" + relative));
      const auto truth = recoverable_.find({path, size});
      ASSERT_NE(truth, recoverable_.end()) << relative << " names " << path;
      EXPECT_EQ(sha, truth->second) << relative;
      const std::size_t slash = relative.rfind('/');
      if (!keep) {
        EXPECT_EQ(slash, std::string::npos) << relative;
      } else {
        // The folders below the destination are the file's folders on its volume.
        const std::string folders =
            slash == std::string::npos ? "" : "/" + relative.substr(0, slash);
        const std::string want = path.substr(0, path.rfind('/'));
        const QStringList a = QString::fromStdString(folders).split('/', Qt::SkipEmptyParts);
        const QStringList b = QString::fromStdString(want).split('/', Qt::SkipEmptyParts);
        ASSERT_EQ(a.size(), b.size()) << relative << " for " << path;
        for (int i = 0; i < a.size(); ++i) {
          EXPECT_TRUE(same_name(a[i].toStdString(), b[i].toStdString()))
              << relative << " for " << path;
        }
      }
    }
    for (const std::int32_t i : marked)
      EXPECT_EQ(found().files()[static_cast<std::size_t>(i)].selected, 0);
    EXPECT_EQ(form_->selected_total(), 0);
    EXPECT_FALSE(find<QLabel>("TotalFilesizeHTMLStaticText")->isVisible());
    EXPECT_EQ(find<QToolButton>("UndeleteAdvToolButton")->text().toStdString(),
              message(messages::start_undelete));
    EXPECT_EQ(find<QProgressBar>("ProgressBar")->value(), 100);
  }
}

TEST_F(UndeleteTest, StopAfterTheFirstFileLeavesTheRestMarkedAndCounted) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const std::vector<std::int32_t> marked = mark_recoverable();
  ASSERT_GE(marked.size(), 3u);
  const std::string out = temp_path("stop");
  set_destination(out);
  const int log_before = static_cast<int>(log().size());
  bool pressed = false;
  form_->pending_events_hook = [&] {
    if (pressed) return;
    for (const QString& line : log().mid(log_before)) {
      if (line.toStdString().starts_with(message(messages::undeleted_prefix))) {
        pressed = true;
        EXPECT_EQ(find<QToolButton>("UndeleteAdvToolButton")->text().toStdString(),
                  message(messages::stop_undelete));
        click("UndeleteAdvToolButton");
        break;
      }
    }
  };
  click("UndeleteAdvToolButton");
  form_->pending_events_hook = nullptr;
  const QStringList lines = log().mid(log_before);
  ASSERT_EQ(lines.size(), 4) << lines.join("\n").toStdString();
  EXPECT_EQ(lines[0].toStdString(), message(messages::undelete_started));
  EXPECT_TRUE(lines[1].toStdString().starts_with(message(messages::undeleted_prefix)));
  EXPECT_EQ(lines[2].toStdString(), message(messages::files_recovered) + "1" +
                                        message(messages::files_not_recovered) + "0");
  EXPECT_EQ(lines[3].toStdString(), message(messages::undelete_interrupted));
  EXPECT_EQ(written_files(out).size(), 1u);
  std::int64_t rest = 0;
  for (std::size_t k = 0; k < marked.size(); ++k) {
    const catalogue::FoundFile& r = found().files()[static_cast<std::size_t>(marked[k])];
    EXPECT_EQ(r.selected, k == 0 ? 0 : 1) << k;
    if (k > 0) rest += r.size;
  }
  EXPECT_EQ(form_->selected_total(), rest);
  auto* total = find<QLabel>("TotalFilesizeHTMLStaticText");
  EXPECT_TRUE(total->isVisible());
  EXPECT_TRUE(total->text().contains(QString::fromStdString(workflow::size_text(rest))));
}

// A stop in the middle of a file: the part written stays (under the name the run gave it,
// beside the person's own file of that name), the file stays marked, and the log's counts and
// the summary name it as interrupted. The next run writes the whole file beside both.
TEST_F(UndeleteTest, AFileAStopCutShortStaysMarkedAndTheNextRunWritesItBeside) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const std::string name = "Backup 2023.zip";
  int row = -1;
  for (int r = 0; r < rows(); ++r) {
    if (record(r).name.str() == name) row = r;
  }
  ASSERT_GE(row, 0);
  const std::int32_t index = view().row_map[static_cast<std::size_t>(row)];
  const TruthEntry* entry = recoverable_entry(record(row));
  ASSERT_NE(entry, nullptr);
  ASSERT_GT(entry->size, 20 * 2048) << "a file of many clusters";
  click_cell(row, 0);
  const std::string out = temp_path("stopped");
  set_destination(out);
  find<QCheckBox>("KeepFolderHTMLCheckBox")->setChecked(false);
  { std::ofstream(out + "/" + name) << "my current version"; }
  const std::string partial = out + "/Backup 2023 (2).zip";
  const std::string whole = out + "/Backup 2023 (3).zip";

  // The stop comes after a few clusters of the file have been written.
  const int log_before = static_cast<int>(log().size());
  int pumps = 0;
  form_->pending_events_hook = [&] {
    if (log().size() > log_before && ++pumps == 5) click("UndeleteAdvToolButton");
  };
  std::string before = tree_listing(out);
  click("UndeleteAdvToolButton");
  form_->pending_events_hook = nullptr;
  EXPECT_EQ(entries_changed(before, tree_listing(out)), "");
  const QStringList lines = log().mid(log_before);
  const std::vector<std::string> expected = {
      message(messages::undelete_started), message(messages::interrupted_prefix) + partial,
      message(messages::files_recovered) + "0" + message(messages::files_interrupted) + "1" +
          message(messages::files_not_recovered) + "0",
      message(messages::undelete_interrupted)};
  ASSERT_EQ(lines.size(), static_cast<int>(expected.size())) << lines.join("\n").toStdString();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[static_cast<int>(i)].toStdString(), expected[i]);
  }
  ASSERT_TRUE(std::filesystem::is_regular_file(partial));
  const auto cut = std::filesystem::file_size(partial);
  EXPECT_GT(cut, 0u);
  EXPECT_LT(cut, static_cast<std::uintmax_t>(entry->size));
  EXPECT_EQ(found().files()[static_cast<std::size_t>(index)].selected, 1) << "still marked";
  EXPECT_EQ(form_->selected_total(), entry->size);
  auto* summary = form_->findChild<QMessageBox*>("RecoverySummaryDialog");
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(summary->icon(), QMessageBox::Warning);
  EXPECT_TRUE(summary->text().contains(QString::fromStdString("Process interrupted: " + partial)))
      << summary->text().toStdString();
  EXPECT_TRUE(summary->text().contains("interrupted: 1")) << summary->text().toStdString();

  // Start Undelete again takes the file still marked: whole, beside the other two.
  before = tree_listing(out);
  click("UndeleteAdvToolButton");
  EXPECT_EQ(entries_changed(before, tree_listing(out)), "");
  EXPECT_TRUE(log().contains(QString::fromStdString(message(messages::undeleted_prefix) + whole)))
      << log().join("\n").toStdString();
  EXPECT_EQ(sha256_of(whole), recoverable_.at({entry->path, entry->size}));
  EXPECT_EQ(std::filesystem::file_size(partial), cut);
  EXPECT_EQ(first_line(out + "/" + name), "my current version");
  EXPECT_EQ(found().files()[static_cast<std::size_t>(index)].selected, 0);
}

// A run ends with a dialog of its counts (not modal: nothing waits on it) whose button opens
// the destination; while it runs, the bar shows the files done of the run's files.
TEST_F(UndeleteTest, ARunEndsWithASummaryThatOpensTheDestination) {
  if (fixture_image("fat16.img").empty()) GTEST_SKIP() << "fixture missing";
  const std::string copy = temp_path("fat16-copy.img");
  std::filesystem::copy_file(fixture_image("fat16.img"), copy);
  ASSERT_TRUE(open_fixtures({"fat16.img"}, {copy}));
  start_scan();
  const std::vector<std::int32_t> marked = mark_recoverable();
  ASSERT_GE(marked.size(), 3u);
  const std::string out = temp_path("summary");
  set_destination(out);
  // The image loses its end after the scan, from the data of the marked file that lies last:
  // that file (and any after it) cannot be read whole, which counts as not recovered.
  std::int32_t last = marked.front();
  for (const std::int32_t i : marked) {
    if (found().files()[static_cast<std::size_t>(i)].first_cluster >
        found().files()[static_cast<std::size_t>(last)].first_cluster)
      last = i;
  }
  const TruthEntry* entry = recoverable_entry(found().files()[static_cast<std::size_t>(last)]);
  ASSERT_NE(entry, nullptr);
  std::string bytes;
  {
    std::ifstream in(copy, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t at = bytes.find(entry->path + "\n");
  ASSERT_NE(at, std::string::npos) << entry->path;
  std::filesystem::resize_file(copy, at);
  QStringList formats;
  form_->pending_events_hook = [&] {
    formats.push_back(find<QProgressBar>("ProgressBar")->format());
  };
  const int log_before = static_cast<int>(log().size());
  click("UndeleteAdvToolButton");
  form_->pending_events_hook = nullptr;
  const QStringList lines = log().mid(log_before);
  std::int64_t recovered = 0;
  std::int64_t not_recovered = 0;
  for (const QString& line : lines) {
    if (line.toStdString().starts_with(message(messages::undeleted_prefix))) ++recovered;
    if (line.toStdString().starts_with(message(messages::error_prefix))) ++not_recovered;
  }
  EXPECT_GE(recovered, 1);
  EXPECT_GE(not_recovered, 1);
  EXPECT_EQ(recovered + not_recovered, static_cast<std::int64_t>(marked.size()));
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[lines.size() - 2].toStdString(),
            message(messages::files_recovered) + std::to_string(recovered) +
                message(messages::files_not_recovered) + std::to_string(not_recovered))
      << lines.join("\n").toStdString();

  auto* summary = form_->findChild<QMessageBox*>("RecoverySummaryDialog");
  ASSERT_NE(summary, nullptr);
  EXPECT_TRUE(summary->isVisible());
  EXPECT_FALSE(summary->isModal());
  EXPECT_EQ(summary->icon(), QMessageBox::Warning);
  EXPECT_TRUE(summary->text().contains(
      QString::fromStdString("Files recovered: " + std::to_string(recovered) +
                             ", not recovered: " + std::to_string(not_recovered))))
      << summary->text().toStdString();
  EXPECT_TRUE(summary->text().startsWith("End undelete")) << summary->text().toStdString();
  // The bar counted the run's files and is a plain percentage again after it.
  const QString all = " / " + QString::number(marked.size());
  EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [&](const QString& f) {
    return f.endsWith("1" + all);
  })) << formats.join(" | ").toStdString();
  EXPECT_EQ(find<QProgressBar>("ProgressBar")->format(), "%p%");

  // Open destination folder: the desktop gets the folder.
  QUrl opened;
  form_->shell_open = [&](const QUrl& url) {
    opened = url;
    return true;
  };
  auto* open = summary->findChild<QPushButton*>("OpenDestinationButton");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->text().toStdString(), message(messages::open_destination));
  open->click();
  EXPECT_EQ(opened, QUrl::fromLocalFile(QString::fromStdString(out)));
  // A second run replaces the summary instead of adding one.
  QCoreApplication::processEvents();
  mark_recoverable();
  click("UndeleteAdvToolButton");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form_->findChildren<QMessageBox*>("RecoverySummaryDialog").size(), 1);
}

// The manifest box: the run writes fennick-manifest-*.sha256 (and .tsv) into the destination,
// and sha256sum checks every recovered file with it.
TEST_F(UndeleteTest, TheManifestBoxWritesAManifestThatSha256sumChecks) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const std::vector<std::int32_t> marked = mark_recoverable();
  ASSERT_GE(marked.size(), 3u);
  const std::string out = temp_path("with-manifest");
  set_destination(out);
  auto* box = find<QCheckBox>("ManifestCheckBox");
  EXPECT_EQ(box->text().toStdString(), message(messages::write_manifest));
  box->setChecked(true);
  click("UndeleteAdvToolButton");
  std::vector<std::string> manifests;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("fennick-manifest-") && name.ends_with(".sha256"))
      manifests.push_back(name);
  }
  ASSERT_EQ(manifests.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_regular_file(out + "/" + manifests[0] + ".tsv"));
  EXPECT_TRUE(log().contains(
      QString::fromStdString(message(messages::manifest_written) + out + "/" + manifests[0])))
      << log().join("\n").toStdString();
  const CommandResult check =
      run_command("cd " + shell_quote(out) + " && sha256sum -c " + shell_quote(manifests[0]));
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'),
            static_cast<std::ptrdiff_t>(marked.size()));
}

TEST_F(UndeleteTest, NothingMarkedIsRefused) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const int log_before = static_cast<int>(log().size());
  on_next_dialog([](QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) box->accept();
  });
  click("UndeleteAdvToolButton");
  const QStringList lines = log().mid(log_before);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_EQ(lines[0].toStdString(), message(messages::no_files_to_undelete));
  EXPECT_EQ(find<QToolButton>("UndeleteAdvToolButton")->text().toStdString(),
            message(messages::start_undelete));
}

TEST_F(UndeleteTest, WarnsWhenTheDestinationIsOnAVolumeBeingRead) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  // The image stands for a volume mounted at the test's folder; the destination lies there.
  drives().at(0).mount_point = temp_path("");
  click_cell(0, 0);
  const std::string out = temp_path("same/volume");
  set_destination(out);
  const int log_before = static_cast<int>(log().size());
  click("UndeleteAdvToolButton");
  const QStringList lines = log().mid(log_before);
  ASSERT_EQ(lines.size(), 5) << lines.join("\n").toStdString();
  EXPECT_TRUE(lines[0].startsWith(" Warning: the destination folder is on drive C:\\"))
      << lines[0].toStdString();
  EXPECT_EQ(lines[1].toStdString(), message(messages::undelete_started));
  EXPECT_TRUE(lines[2].toStdString().starts_with(message(messages::undeleted_prefix)));
  EXPECT_TRUE(lines[3].toStdString().starts_with(message(messages::files_recovered)));
  EXPECT_EQ(lines[4].toStdString(), message(messages::undelete_ended));
  EXPECT_EQ(written_files(out).size(), 1u);  // the run went on
}

// The window's undelete writes through the same guarded destination as the command line: a
// link planted where a file goes, or where its folder goes, is left alone and the file is
// written beside it.
TEST_F(UndeleteTest, LinksPlantedInTheDestinationAreNotFollowed) {
  if (!open_fixtures({"fat16.img"}, {})) GTEST_SKIP() << "fixture missing";
  start_scan();
  const std::vector<std::int32_t> marked = mark_recoverable();
  ASSERT_GE(marked.size(), 2u);
  const catalogue::FoundFile& first = found().files()[static_cast<std::size_t>(marked[0])];
  const std::string out = temp_path("planted");
  const std::string outside = temp_path("outside");
  set_destination(out);
  std::filesystem::create_directories(outside);
  { std::ofstream(outside + "/victim") << "unchanged"; }
  std::filesystem::create_symlink(outside + "/victim", out + "/" + first.name.str());
  // With "Keep folder structure", the first folder of every nested file is a link.
  find<QCheckBox>("KeepFolderHTMLCheckBox")->setChecked(true);
  for (std::int32_t i : marked) {
    const std::string path = found().files()[static_cast<std::size_t>(i)].path.str();
    if (path.size() <= 3) continue;
    const std::string folder = path.substr(3, path.find('\\', 3) - 3);
    std::error_code ec;
    std::filesystem::create_symlink(outside, out + "/" + folder, ec);
  }
  const int log_before = static_cast<int>(log().size());
  click("UndeleteAdvToolButton");
  const QStringList lines = log().mid(log_before);
  EXPECT_EQ(written_files(outside).size(), 1u) << lines.join("\n").toStdString();
  EXPECT_EQ(first_line(outside + "/victim"), "unchanged");
  int successes = 0;
  bool link_reported = false;
  for (const QString& line : lines) {
    const std::string text = line.toStdString();
    if (text.starts_with(message(messages::undeleted_prefix))) ++successes;
    if (text.starts_with(message(messages::link_not_followed))) link_reported = true;
  }
  EXPECT_EQ(successes, static_cast<int>(marked.size())) << lines.join("\n").toStdString();
  EXPECT_TRUE(link_reported) << lines.join("\n").toStdString();
}

TEST_F(UndeleteTest, WipeAsksFirstThenDropsTheFilesForGood) {
  if (fixture_image("fat16.img").empty() || fixture_image("ntfs.img").empty())
    GTEST_SKIP() << "fixture missing";
  TempDir copies;
  std::vector<std::string> paths;
  for (const char* image : {"fat16.img", "ntfs.img"}) {
    paths.push_back(copies.path() + "/" + image);
    std::filesystem::copy_file(fixture_image(image), paths.back());
  }
  ASSERT_TRUE(open_fixtures({"fat16.img", "ntfs.img"}, paths));
  find<QToolButton>("WipeAdvToolButton")->setVisible(true);  // admin mode
  tick_only({0, 1});
  start_scan();
  // One JPEG on each volume: C:'s Море.jpg and D:'s 写真.jpg.
  std::vector<std::pair<char, std::string>> victims;
  for (int row = 0; row < rows(); ++row) {
    const catalogue::FoundFile& r = record(row);
    if (QString::fromStdString(r.name.str()).toUpper().endsWith(".JPG")) {
      click_cell(row, 0);
      victims.emplace_back(r.drive_letter, r.name.str());
    }
  }
  ASSERT_EQ(victims.size(), 2u);
  const int all_rows = rows();
  auto type_captions = [&] {
    QStringList c;
    QTreeWidgetItem* root = find<QTreeWidget>("TypesTreeView")->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i) c << root->child(i)->text(0);
    return c;
  };
  const QStringList captions_before = type_captions();
  ASSERT_TRUE(captions_before.contains("JPEG Standard Graphics (2)"));
  const std::int64_t total_before = form_->selected_total();
  const int log_before = static_cast<int>(log().size());

  // No: nothing changes.
  on_next_dialog([this](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), message(messages::confirm_wipe));
    box->button(QMessageBox::No)->click();
  });
  click("WipeAdvToolButton");
  EXPECT_EQ(rows(), all_rows);
  EXPECT_EQ(type_captions(), captions_before);
  EXPECT_EQ(form_->selected_total(), total_before);
  EXPECT_EQ(log().size(), log_before);
  EXPECT_EQ(found().wiped_count(), 0);

  // Yes: both are wiped and leave the list, the counts and the type tree.
  on_next_dialog([](QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) box->button(QMessageBox::Yes)->click();
  });
  click("WipeAdvToolButton");
  const QStringList lines = log().mid(log_before);
  ASSERT_EQ(lines.size(), 4) << lines.join("\n").toStdString();
  EXPECT_EQ(lines[0], " Start wipe");
  EXPECT_TRUE(lines[1].toStdString().starts_with(message(messages::wiped_prefix)));
  EXPECT_TRUE(lines[2].toStdString().starts_with(message(messages::wiped_prefix)));
  EXPECT_EQ(lines[3].toStdString(), message(messages::wipe_ended));
  EXPECT_EQ(rows(), all_rows - 2);
  EXPECT_EQ(find<QLabel>("StatusPanel2")->text().toStdString(),
            message(messages::files_label) + std::to_string(all_rows - 2));
  const QStringList captions_after = type_captions();
  EXPECT_FALSE(captions_after.join("|").contains("JPEG"));
  EXPECT_EQ(captions_after.size(), captions_before.size() - 1);
  EXPECT_EQ(form_->selected_total(), 0);
  EXPECT_FALSE(find<QLabel>("TotalFilesizeHTMLStaticText")->isVisible());
  EXPECT_EQ(find<QToolButton>("WipeAdvToolButton")->text().toStdString(),
            message(messages::start_wipe));

  // A new scan of the copies no longer finds them.
  start_scan();
  EXPECT_EQ(rows(), all_rows - 2);
  for (int row = 0; row < rows(); ++row) {
    for (const auto& [letter, name] : victims) {
      EXPECT_FALSE(record(row).drive_letter == letter && record(row).name.str() == name) << name;
    }
  }
}

// The window on an exFAT card image: the scan lists its deleted files, Start Undelete writes
// the recoverable ones byte for byte, and a wipe drops a file from a new scan.
TEST_F(UndeleteTest, AnExfatVolumeScansRecoversAndWipesLikeTheOthers) {
  if (fixture_image("exfat.img").empty()) GTEST_SKIP() << "exfat.img was not made";
  TempDir copies;
  const std::string copy = copies.path() + "/exfat.img";
  std::filesystem::copy_file(fixture_image("exfat.img"), copy);
  ASSERT_TRUE(open_fixtures({"exfat.img"}, {copy}));
  find<QToolButton>("WipeAdvToolButton")->setVisible(true);  // admin mode
  tick_only({0});
  start_scan();
  const int all_rows = rows();
  ASSERT_GE(all_rows, 100);
  EXPECT_EQ(record(0).fs_name(), "exFAT");

  const std::vector<std::int32_t> marked = mark_recoverable();
  ASSERT_GE(marked.size(), 100u);
  const std::string out = temp_path("exfat");
  set_destination(out);
  click("UndeleteAdvToolButton");
  const auto files = written_files(out);
  EXPECT_EQ(files.size(), marked.size());
  for (const auto& [relative, sha] : files) {
    const std::string path = first_line(out + "/" + relative);
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(out + "/" + relative));
    const auto truth = recoverable_.find({path, size});
    ASSERT_NE(truth, recoverable_.end()) << relative << " names " << path;
    EXPECT_EQ(sha, truth->second) << relative;
  }

  // Unmark everything, mark one file and wipe it.
  for (const std::int32_t i : marked) found().files()[static_cast<std::size_t>(i)].selected = 0;
  std::string victim;
  for (int row = 0; row < rows() && victim.empty(); ++row) {
    if (record(row).name.str() == "Grüße.txt") {
      click_cell(row, 0);
      victim = record(row).name.str();
    }
  }
  ASSERT_FALSE(victim.empty());
  on_next_dialog([](QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) box->button(QMessageBox::Yes)->click();
  });
  click("WipeAdvToolButton");
  EXPECT_EQ(found().wiped_count(), 1);
  start_scan();
  EXPECT_EQ(rows(), all_rows - 1);
  for (int row = 0; row < rows(); ++row) EXPECT_NE(record(row).name.str(), victim);
}

}  // namespace
}  // namespace fennick::testing

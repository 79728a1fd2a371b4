// The preview pane on a FAT volume made in the test with real content: a PNG and a JPEG drawn
// by Qt, a UTF-8 text and a file a later one overwrote, all deleted. Each is previewed as
// what it is (the picture, its text, message 77), read through the engine into memory.
#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <fstream>

#include "gui_support.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "test_support.h"

namespace fennick::testing {
namespace {

class PreviewTest : public GuiTest {};

// Left half red, right half blue: what a preview of it must show, whatever it is scaled to.
QImage two_colour_picture() {
  QImage image(96, 64, QImage::Format_RGB32);
  QPainter p(&image);
  p.fillRect(0, 0, 48, 64, Qt::red);
  p.fillRect(48, 0, 48, 64, Qt::blue);
  return image;
}

bool save_picture(const std::string& path, const char* format) {
  return two_colour_picture().save(QString::fromStdString(path), format, 95);
}

TEST_F(PreviewTest, PicturesTextAndOverwrittenFilesShowWhatTheyAre) {
  if (!have_program("mkfs.fat") || !have_program("mcopy")) GTEST_SKIP() << "needs mtools";
  temp_ = std::make_unique<TempDir>();
  const std::string dir = temp_->path();
  const std::string image = dir + "/card.img";
  const std::string q = shell_quote(image);
  ASSERT_TRUE(save_picture(dir + "/Holiday photo.png", "PNG"));
  ASSERT_TRUE(save_picture(dir + "/Holiday photo.jpg", "JPG"));
  const std::string text = "Liebe Grüße aus Köln!\nThe second line.\n";
  std::ofstream(dir + "/Notes from Köln.txt", std::ios::binary) << text;
  std::ofstream(dir + "/old data.bin", std::ios::binary) << std::string(3000, 'o');
  std::ofstream(dir + "/new data.bin", std::ios::binary) << std::string(3000, 'n');
  const std::string m = "MTOOLS_SKIP_CHECK=1 ";
  // Into a folder: a file copied into the root would take old data.bin's entry slots.
  const auto copy = [&](const std::string& name) {
    return m + "mcopy -i " + q + " " + shell_quote(dir + "/" + name) + " " +
           shell_quote("::/Later/" + name);
  };

  // old data.bin first, deleted, and new data.bin over its cluster; then the rest, deleted.
  ASSERT_EQ(run_command("mkfs.fat -C -F 16 -s 4 --invariant " + q + " 16384 >/dev/null && " + m +
                        "mmd -i " + q + " ::/Later && " + m + "mcopy -i " + q + " " +
                        shell_quote(dir + "/old data.bin") + " \"::/old data.bin\"" + " && " + m +
                        "mdel -i " + q + " \"::/old data.bin\" && " + m + "mcopy -i " + q + " " +
                        shell_quote(dir + "/new data.bin") + " \"::/Later/new data.bin\" && " +
                        copy("Holiday photo.png") + " && " + copy("Holiday photo.jpg") + " && " +
                        copy("Notes from Köln.txt") + " && " + m + "mdel -i " + q +
                        " \"::/Later/Holiday photo.png\" \"::/Later/Holiday photo.jpg\" "
                        "\"::/Later/Notes from Köln.txt\"")
                .exit_code,
            0);
  ASSERT_TRUE(open({image}));
  start_scan();
  auto row_named = [&](const QString& name) {
    for (int r = 0; r < rows(); ++r) {
      if (cell(r, 0).toLower() == name) return r;
    }
    return -1;
  };
  auto* picture = find<QLabel>("PreviewImageLabel");
  auto* words = find<QPlainTextEdit>("PreviewTextEdit");
  auto* status = find<QLabel>("PreviewStatusHTMLabel");

  for (const QString name : {"holiday photo.png", "holiday photo.jpg"}) {
    const int row = row_named(name);
    ASSERT_GE(row, 0) << name.toStdString();
    click_cell(row, 1);
    QTRY_VERIFY(!picture->isHidden());
    const QImage shown = picture->pixmap().toImage();
    ASSERT_FALSE(shown.isNull()) << name.toStdString();
    const QColor left = shown.pixelColor(shown.width() / 4, shown.height() / 2);
    const QColor right = shown.pixelColor(shown.width() * 3 / 4, shown.height() / 2);
    EXPECT_GT(left.red(), 200) << name.toStdString();
    EXPECT_LT(left.blue(), 60) << name.toStdString();
    EXPECT_GT(right.blue(), 200) << name.toStdString();
    EXPECT_TRUE(words->isHidden());
    EXPECT_TRUE(status->isHidden());
  }

  const int notes = row_named("notes from köln.txt");
  ASSERT_GE(notes, 0);
  click_cell(notes, 1);
  QTRY_VERIFY(!words->isHidden());
  EXPECT_EQ(words->toPlainText().toStdString(), text);
  EXPECT_TRUE(picture->isHidden());

  const int old = row_named("old data.bin");
  ASSERT_GE(old, 0);
  EXPECT_EQ(record(old).quality, 0) << "new data.bin took its cluster";
  click_cell(old, 1);
  QTRY_VERIFY(!status->isHidden());
  EXPECT_TRUE(
      status->text().contains(QString::fromStdString(message(messages::no_preview_corrupted))));
  EXPECT_TRUE(words->isHidden());
  EXPECT_TRUE(picture->isHidden());

  // The message follows a change of language.
  const auto& languages = messages::language_table();
  const auto german = std::find_if(languages.begin(), languages.end(), [](const auto& l) {
    return std::string(l.english_name) == "German";
  });
  ASSERT_NE(german, languages.end());
  click(std::string(german->button).c_str());
  QTRY_VERIFY(status->text().contains(
      QString::fromStdString(messages::get_message(german->base, messages::no_preview_corrupted))));
}

// The demo card (make-photo-volume): its deleted photo and map are shown as the originals
// decode, its letter as written, and the draft a live file took shows message 77.
TEST_F(PreviewTest, TheDemoCardsPhotoMapAndLetterShowTheirRealContent) {
  const std::string image = fixture_image("photos.img");
  if (image.empty()) GTEST_SKIP() << "fixture missing";
  const QString originals = QString::fromStdString(image.substr(0, image.rfind('/'))) + "/photos/";
  ASSERT_TRUE(open({image}));
  start_scan();
  auto row_named = [&](const QString& name) {
    for (int r = 0; r < rows(); ++r) {
      if (cell(r, 0) == name) return r;
    }
    return -1;
  };
  auto* picture = find<QLabel>("PreviewImageLabel");
  auto* words = find<QPlainTextEdit>("PreviewTextEdit");
  auto* status = find<QLabel>("PreviewStatusHTMLabel");
  for (const QString name : {"Beach at dusk.jpg", "Harbour map.png"}) {
    SCOPED_TRACE(name.toStdString());
    const int row = row_named(name);
    ASSERT_GE(row, 0);
    EXPECT_EQ(record(row).quality, 100);
    click_cell(row, 1);
    QTRY_VERIFY(!picture->isHidden());
    const QImage shown = picture->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shown.isNull());
    // The original, decoded and scaled the same way, is what the pane must show, pixel for
    // pixel.
    const QImage original = QImage(originals + name)
                                .scaled(shown.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(original.size(), shown.size());
    EXPECT_TRUE(original == shown);
    EXPECT_GT(shown.width(), 100);
  }
  const int letter = row_named("Note to Anna.txt");
  ASSERT_GE(letter, 0);
  click_cell(letter, 1);
  QTRY_VERIFY(!words->isHidden());
  QFile file(originals + "Note to Anna.txt");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(words->toPlainText(), QString::fromUtf8(file.readAll()));
  EXPECT_TRUE(words->toPlainText().contains("Grüße aus Kiel"));

  const int draft = row_named("old draft.doc");
  ASSERT_GE(draft, 0);
  click_cell(draft, 1);
  QTRY_VERIFY(!status->isHidden());
  EXPECT_TRUE(
      status->text().contains(QString::fromStdString(message(messages::no_preview_corrupted))));
}

// The row a click selects near the list's bottom stays in sight when the preview takes
// height from the list; and a file selected by name (fennick --preview) is selected and
// previewed in a right-to-left layout too.
TEST_F(PreviewTest, TheSelectedRowStaysInSightAndNamedSelectionWorksRightToLeft) {
  for (const char* name : {"fat16.img", "fat32.img", "photos.img"}) {
    if (fixture_image(name).empty()) GTEST_SKIP() << "fixture missing";
  }
  ASSERT_TRUE(
      open({fixture_image("fat16.img"), fixture_image("fat32.img"), fixture_image("photos.img")}));
  find<QAction>("MenuItem3")->trigger();  // every drive
  start_scan();
  auto* view = find<QTableView>("AdvListView");
  const int visible = view->viewport()->height() / view->verticalHeader()->defaultSectionSize();
  ASSERT_GT(rows(), visible + 5);
  // The last row wholly shown before the preview opens.
  const int row = view->rowAt(view->viewport()->height() - 1) - 1;
  ASSERT_GT(row, 0);
  const int height = view->viewport()->height();
  click_cell(row, 1);
  QTRY_VERIFY(view->viewport()->height() < height);
  const QRect shown = view->visualRect(view->model()->index(row, 1));
  EXPECT_TRUE(view->viewport()->rect().contains(shown))
      << shown.y() << " of " << view->viewport()->height();

  click("ArabicAdvToolButton");
  ASSERT_TRUE(form_->isRightToLeft());
  view->clearSelection();
  ASSERT_TRUE(form_->select_file_named("Beach at dusk.jpg"));
  QTRY_VERIFY(form_->preview_shown());
  EXPECT_FALSE(find<QLabel>("PreviewImageLabel")->isHidden());
  // The name cell holds the name kept left to right by direction marks.
  EXPECT_TRUE(cell(view->selectionModel()->selectedRows().value(0).row(), 0)
                  .contains("Beach at dusk.jpg"));
  EXPECT_FALSE(form_->select_file_named("no such file"));
}

}  // namespace
}  // namespace fennick::testing

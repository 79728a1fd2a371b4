// Layout of the filter dialog, the Clean Disk window and the language column in every
// language: no caption cut short, no two controls on top of each other, the date range
// mirrored right to left, the flag column scrollable in a short window and the current
// language's flag marked.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include "messages/message_ids.h"
#include "settings_support.h"

namespace fennick::testing {
namespace {

// Where a widget lies in the coordinates of an ancestor.
QRect rect_in(const QWidget* widget, const QWidget* ancestor) {
  return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

// Why a control's caption does not fit its width, or "" when it does. Check boxes need their
// text beside the indicator, labels their text, date fields their whole date inside the edit
// part, and every control at least its size hint.
std::string clipped(const QWidget* w) {
  const QFontMetrics fm(w->font());
  const QStyle* s = w->style();
  int needed = w->sizeHint().width();
  QString text;
  if (const auto* box = qobject_cast<const QCheckBox*>(w)) {
    text = box->text();
    needed = std::max(needed, fm.horizontalAdvance(text) +
                                  s->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                                  s->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w));
  } else if (const auto* label = qobject_cast<const QLabel*>(w)) {
    text = label->text();
    if (label->pixmap().isNull()) needed = std::max(needed, fm.horizontalAdvance(text));
  } else if (const auto* button = qobject_cast<const QToolButton*>(w)) {
    text = button->text();
  } else if (const auto* date = qobject_cast<const QDateEdit*>(w)) {
    text = date->text();
    // The edit part (QLineEdit keeps 2 px inside each side) must hold the whole date.
    const auto* edit = date->findChild<QLineEdit*>();
    if (edit != nullptr && edit->width() < fm.horizontalAdvance(text) + 4) {
      return "date " + text.toStdString() + " wider than its edit part (" +
             std::to_string(edit->width()) + " px)";
    }
  } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
    text = combo->currentText();
  }
  if (w->width() < needed) {
    return "\"" + text.toStdString() + "\" needs " + std::to_string(needed) + " px, has " +
           std::to_string(w->width());
  }
  return "";
}

class DialogLayoutTest : public SettingsGuiTest {
 protected:
  void choose(std::size_t language) {
    const std::string name(messages::language_table().at(language).button);
    click(name.c_str());
  }
  static std::vector<QWidget*> named(const QWidget* window,
                                     std::initializer_list<const char*> names) {
    std::vector<QWidget*> found;
    for (const char* name : names) {
      auto* w = window->findChild<QWidget*>(name);
      EXPECT_NE(w, nullptr) << name;
      if (w != nullptr) found.push_back(w);
    }
    return found;
  }
  // Every control fits its caption, lies inside the window and overlaps none of the others.
  static void expect_readable(const QWidget* window, const std::vector<QWidget*>& controls) {
    const QRect inside = window->rect();
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const QWidget* a = controls[i];
      const std::string name = a->objectName().toStdString();
      EXPECT_EQ(clipped(a), "") << name;
      const QRect ra = rect_in(a, window);
      EXPECT_TRUE(inside.contains(ra)) << name << " reaches outside the window";
      for (std::size_t j = i + 1; j < controls.size(); ++j) {
        EXPECT_FALSE(ra.intersects(rect_in(controls[j], window)))
            << name << " overlaps " << controls[j]->objectName().toStdString();
      }
    }
  }
  std::vector<QWidget*> filter_controls() const {
    return named(filter_.get(),
                 {"NameHTMLCheckBox", "DateHTMLCheckBox", "SizeHTMLCheckBox", "NameAdvEdit",
                  "DateALComboBox", "FromHTMLStaticText", "ToHTMLStaticText",
                  "FromDateDBAdvSpinEdit", "ToDateDBAdvSpinEdit", "SizeALComboBox",
                  "SizeDBAdvSpinEdit", "KbLabel", "OverwrittenHTMLCheckBox",
                  "TemporaryHTMLCheckBox", "SetAdvToolButton", "CancelAdvToolButton"});
  }
  std::vector<QWidget*> clean_controls() const {
    return named(clean_.get(), {"CleanDriveALComboBox", "DirectoryEntriesHTMLCheckBox",
                                "ClusterTipsHTMLCheckBox", "FreeSpaceHTMLCheckBox", "Image1",
                                "CleanAdvToolButton", "AdvMemo", "MainStatusBar"});
  }
  QScrollArea* flag_scroller() const {
    for (QWidget* w = find<QWidget>("ArabicAdvToolButton"); w != nullptr; w = w->parentWidget()) {
      if (auto* area = qobject_cast<QScrollArea*>(w)) return area;
    }
    return nullptr;
  }
  std::vector<QToolButton*> flags() const {
    std::vector<QToolButton*> buttons;
    for (const messages::Language& l : messages::language_table()) {
      buttons.push_back(find<QToolButton>(std::string(l.button).c_str()));
    }
    return buttons;
  }
  // The flags shown checked, by position in the language table.
  std::vector<std::size_t> marked() const {
    std::vector<std::size_t> on;
    const std::vector<QToolButton*> buttons = flags();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i] != nullptr && buttons[i]->isChecked()) on.push_back(i);
    }
    return on;
  }
};

TEST_F(DialogLayoutTest, EveryCaptionOfBothDialogsFitsWithoutOverlapInEveryLanguage) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    SCOPED_TRACE(std::string(languages[i].english_name));
    choose(i);
    filter_->show();
    QCoreApplication::processEvents();
    expect_readable(filter_.get(), filter_controls());
    filter_->hide();

    clean_->show();
    QCoreApplication::processEvents();
    expect_readable(clean_.get(), clean_controls());
    expect_readable(clean_.get(), named(clean_.get(), {"ProgressBar", "StopButton"}));
    // During a run the Start button reads Stop Clean: that caption fits too.
    auto* start = clean_child<QToolButton>("CleanAdvToolButton");
    start->setText(msg(languages[i].base, messages::stop_clean));
    QCoreApplication::processEvents();
    expect_readable(clean_.get(), clean_controls());
    start->setText(msg(languages[i].base, messages::start_clean));
    clean_->hide();
  }
}

// The date range reads From ... To in the reading direction: right to left in Arabic and
// Hebrew, each caption before (on the reading side of) its date.
TEST_F(DialogLayoutTest, DateRangeFollowsTheReadingDirection) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  struct Case {
    const char* button;
    bool right_to_left;
  };
  for (const Case c : {Case{"ArabicAdvToolButton", true}, Case{"IsraelAdvToolButton", true},
                       Case{"EnglishAdvToolButton", false}}) {
    SCOPED_TRACE(c.button);
    click(c.button);
    filter_->show();
    QCoreApplication::processEvents();
    const auto x = [this](const char* name) {
      return rect_in(filter_->findChild<QWidget*>(name), filter_.get()).center().x();
    };
    const int from_label = x("FromHTMLStaticText");
    const int from = x("FromDateDBAdvSpinEdit");
    const int to_label = x("ToHTMLStaticText");
    const int to = x("ToDateDBAdvSpinEdit");
    if (c.right_to_left) {
      EXPECT_GT(from, to);
      EXPECT_GT(from_label, from);
      EXPECT_GT(to_label, to);
      EXPECT_GT(from, to_label);
    } else {
      EXPECT_LT(from, to);
      EXPECT_LT(from_label, from);
      EXPECT_LT(to_label, to);
      EXPECT_LT(from, to_label);
    }
    filter_->hide();
  }
}

TEST_F(DialogLayoutTest, ShortWindowScrollsTheFlagColumnToEveryFlag) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  form_->resize(926, 300);
  QCoreApplication::processEvents();
  auto* column = find<QWidget>("PanelCenterLang");
  QScrollArea* area = flag_scroller();
  ASSERT_NE(area, nullptr) << "the flags are not in a scroll area";
  ASSERT_LT(column->height(), 31 + 27 * 19) << "the window is not short enough to need a scroll";
  EXPECT_TRUE(area->verticalScrollBar()->isVisible());
  EXPECT_EQ(column->width(), 35);
  const std::vector<QToolButton*> buttons = flags();
  // Each flag can be scrolled into full view, beside the bar, not under it.
  for (QToolButton* button : buttons) {
    ASSERT_NE(button, nullptr);
    area->ensureWidgetVisible(button, 0, 0);
    QCoreApplication::processEvents();
    const QRect shown = rect_in(button, area->viewport());
    EXPECT_TRUE(area->viewport()->rect().contains(shown))
        << button->objectName().toStdString() << " at " << shown.y() << ".." << shown.bottom()
        << ", viewport " << area->viewport()->height();
  }
  // The last flag, scrolled to, is clicked where it is shown and applies its language.
  area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
  QCoreApplication::processEvents();
  QToolButton* last = buttons.back();
  const QPoint centre = rect_in(last, area->viewport()).center();
  ASSERT_TRUE(area->viewport()->rect().contains(centre));
  QTest::mouseClick(area->viewport()->childAt(centre), Qt::LeftButton);
  EXPECT_EQ(form_->language(), messages::language_table().back().base);
}

TEST_F(DialogLayoutTest, ExactlyTheCurrentLanguagesFlagIsMarked) {
  ASSERT_TRUE(open_all({"fat16.img"}));
  EXPECT_EQ(marked(), std::vector<std::size_t>{0}) << "English at the start";
  const std::vector<QToolButton*> buttons = flags();
  const QImage english_marked = buttons[0]->grab().toImage();
  const auto& languages = messages::language_table();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    SCOPED_TRACE(std::string(languages[i].english_name));
    choose(i);
    EXPECT_EQ(marked(), std::vector<std::size_t>{i});
  }
  // A second click on the current flag leaves it marked.
  choose(languages.size() - 1);
  EXPECT_EQ(marked(), std::vector<std::size_t>{languages.size() - 1});
  // The mark is drawn: the English flag looks different unmarked.
  EXPECT_NE(buttons[0]->grab().toImage(), english_marked);
  choose(0);
  EXPECT_EQ(buttons[0]->grab().toImage(), english_marked);

  // The stored language is marked at the next start.
  click("GermanAdvToolButton");
  restart();
  std::size_t german = 0;
  while (languages[german].button != "GermanAdvToolButton") ++german;
  EXPECT_EQ(marked(), std::vector<std::size_t>{german});
}

}  // namespace
}  // namespace fennick::testing

// The filter dialog, laid out in rows that size themselves to the captions of the current
// language and mirror in a right-to-left one.
#include "ui/filter_dialog.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "catalogue/date_time.h"
#include "messages/message_ids.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

template <typename W>
W* make(QWidget* parent, const char* name) {
  auto* widget = new W(parent);
  widget->setObjectName(name);
  return widget;
}

// The start of the day (00:00); a day outside the years 1-9999 gives the missing time.
catalogue::Timestamp start_of(const QDate& date) {
  return catalogue::make_timestamp(date.year(), date.month(), date.day());
}

}  // namespace

FilterDialog::FilterDialog(MainWindow& main_window)
    : QDialog(&main_window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                Qt::WindowStaysOnTopHint),
      main_window_(main_window),
      view_(main_window.catalogue_view()) {
  setObjectName("T_fileterForm");
  setModal(true);
  NameHTMLCheckBox = make<QCheckBox>(this, "NameHTMLCheckBox");
  DateHTMLCheckBox = make<QCheckBox>(this, "DateHTMLCheckBox");
  SizeHTMLCheckBox = make<QCheckBox>(this, "SizeHTMLCheckBox");
  NameAdvEdit = make<QLineEdit>(this, "NameAdvEdit");
  NameAdvEdit->setMaxLength(255);
  NameAdvEdit->setMinimumWidth(384);
  DateALComboBox = make<QComboBox>(this, "DateALComboBox");
  DateALComboBox->addItems({QString(), QString()});
  FromHTMLStaticText = make<QLabel>(this, "FromHTMLStaticText");
  ToHTMLStaticText = make<QLabel>(this, "ToHTMLStaticText");
  FromDateDBAdvSpinEdit = make<QDateEdit>(this, "FromDateDBAdvSpinEdit");
  ToDateDBAdvSpinEdit = make<QDateEdit>(this, "ToDateDBAdvSpinEdit");
  for (QDateEdit* edit : {FromDateDBAdvSpinEdit, ToDateDBAdvSpinEdit}) {
    edit->setDisplayFormat("yyyy-MM-dd");
    edit->setDate(QDate(2007, 6, 26));
  }
  SizeALComboBox = make<QComboBox>(this, "SizeALComboBox");
  SizeALComboBox->addItems({QString(), QString()});
  SizeDBAdvSpinEdit = make<QSpinBox>(this, "SizeDBAdvSpinEdit");
  SizeDBAdvSpinEdit->setRange(0, 999999);  // at most 6 characters
  SizeDBAdvSpinEdit->setSingleStep(100);
  SizeDBAdvSpinEdit->setAlignment(Qt::AlignRight);
  KbLabel = make<QLabel>(this, "KbLabel");
  KbLabel->setText("Kb");
  OverwrittenHTMLCheckBox = make<QCheckBox>(this, "OverwrittenHTMLCheckBox");
  TemporaryHTMLCheckBox = make<QCheckBox>(this, "TemporaryHTMLCheckBox");
  SetAdvToolButton = make<QToolButton>(this, "SetAdvToolButton");
  CancelAdvToolButton = make<QToolButton>(this, "CancelAdvToolButton");

  // Captions differ in length from language to language: no control may be squeezed below
  // what its caption needs. The boxes' size hints follow their entries (apply_captions makes
  // that their least width).
  for (QWidget* w : std::initializer_list<QWidget*>{
           NameHTMLCheckBox, DateHTMLCheckBox, SizeHTMLCheckBox, OverwrittenHTMLCheckBox,
           TemporaryHTMLCheckBox, FromHTMLStaticText, ToHTMLStaticText, KbLabel,
           FromDateDBAdvSpinEdit, ToDateDBAdvSpinEdit, SizeDBAdvSpinEdit, SetAdvToolButton,
           CancelAdvToolButton}) {
    w->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  }
  for (QComboBox* box : {DateALComboBox, SizeALComboBox}) {
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    box->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  }
  for (QToolButton* button : {SetAdvToolButton, CancelAdvToolButton}) {
    button->setMinimumSize(106, 25);
  }

  // Rows from top to bottom; each row runs in the reading direction, so From/To and the
  // buttons mirror by themselves right to left.
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(8, 8, 8, 8);
  rows->setSpacing(4);
  rows->setSizeConstraint(QLayout::SetMinimumSize);
  rows->addWidget(NameHTMLCheckBox);
  rows->addWidget(NameAdvEdit);
  rows->addSpacing(6);
  rows->addWidget(DateHTMLCheckBox);
  auto* dates = new QHBoxLayout;
  dates->addWidget(DateALComboBox);
  dates->addSpacing(8);
  dates->addWidget(FromHTMLStaticText);
  dates->addWidget(FromDateDBAdvSpinEdit);
  dates->addSpacing(8);
  dates->addWidget(ToHTMLStaticText);
  dates->addWidget(ToDateDBAdvSpinEdit);
  dates->addStretch(1);
  rows->addLayout(dates);
  rows->addSpacing(6);
  rows->addWidget(SizeHTMLCheckBox);
  auto* size = new QHBoxLayout;
  size->addWidget(SizeALComboBox);
  size->addWidget(SizeDBAdvSpinEdit);
  size->addWidget(KbLabel);
  size->addStretch(1);
  rows->addLayout(size);
  rows->addSpacing(10);
  rows->addWidget(OverwrittenHTMLCheckBox);
  rows->addWidget(TemporaryHTMLCheckBox);
  rows->addStretch(1);
  rows->addSpacing(16);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(SetAdvToolButton);
  buttons->addWidget(CancelAdvToolButton);
  rows->addLayout(buttons);

  setTabOrder(NameHTMLCheckBox, DateHTMLCheckBox);
  setTabOrder(DateHTMLCheckBox, SizeHTMLCheckBox);
  setTabOrder(SizeHTMLCheckBox, NameAdvEdit);
  setTabOrder(NameAdvEdit, DateALComboBox);
  setTabOrder(DateALComboBox, SizeALComboBox);
  setTabOrder(SizeALComboBox, SizeDBAdvSpinEdit);
  setTabOrder(SizeDBAdvSpinEdit, FromDateDBAdvSpinEdit);
  setTabOrder(FromDateDBAdvSpinEdit, ToDateDBAdvSpinEdit);
  setTabOrder(ToDateDBAdvSpinEdit, OverwrittenHTMLCheckBox);
  setTabOrder(OverwrittenHTMLCheckBox, TemporaryHTMLCheckBox);
  setTabOrder(TemporaryHTMLCheckBox, SetAdvToolButton);
  setTabOrder(SetAdvToolButton, CancelAdvToolButton);

  for (QCheckBox* box : {NameHTMLCheckBox, DateHTMLCheckBox, SizeHTMLCheckBox}) {
    QObject::connect(box, &QCheckBox::toggled, this, [this] { update_enabled(); });
  }
  QObject::connect(SetAdvToolButton, &QToolButton::clicked, this,
                   [this] { SetAdvToolButtonClick(); });
  QObject::connect(CancelAdvToolButton, &QToolButton::clicked, this,
                   [this] { CancelAdvToolButtonClick(); });
  update_enabled();
  apply_captions();
}

QString FilterDialog::qmsg(int k) const { return main_window_.qmsg(k); }

void FilterDialog::apply_captions() {
  setWindowTitle("Fennick" + qmsg(messages::filter_title_suffix));
  NameHTMLCheckBox->setText(qmsg(messages::filter_by_name));
  DateHTMLCheckBox->setText(qmsg(messages::filter_by_date));
  FromHTMLStaticText->setText(qmsg(messages::date_from));
  ToHTMLStaticText->setText(qmsg(messages::date_to));
  DateALComboBox->setItemText(0, qmsg(messages::modified_date));
  DateALComboBox->setItemText(1, qmsg(messages::created_date));
  DateALComboBox->setCurrentIndex(0);
  SizeHTMLCheckBox->setText(qmsg(messages::filter_by_size));
  SizeALComboBox->setItemText(0, qmsg(messages::size_at_least));
  SizeALComboBox->setItemText(1, qmsg(messages::size_at_most));
  SizeALComboBox->setCurrentIndex(0);
  SetAdvToolButton->setText(qmsg(messages::set_filter));
  CancelAdvToolButton->setText(qmsg(messages::cancel_button));
  OverwrittenHTMLCheckBox->setText(qmsg(messages::hide_overwritten));
  TemporaryHTMLCheckBox->setText(qmsg(messages::hide_temporary));
  // The boxes as wide as their longest entry in this language.
  for (QComboBox* box : {DateALComboBox, SizeALComboBox}) {
    box->setMinimumWidth(std::max(120, box->sizeHint().width()));
  }
  // Set and Cancel as wide as each other, wide enough for the longer caption.
  const int button_width = std::max(
      {106, SetAdvToolButton->sizeHint().width(), CancelAdvToolButton->sizeHint().width()});
  SetAdvToolButton->setMinimumWidth(button_width);
  CancelAdvToolButton->setMinimumWidth(button_width);
  // The new captions may need more room, or less: the dialog takes the least size its
  // layout allows, which fits every caption.
  layout()->activate();
  resize(minimumSize());
}

void FilterDialog::update_enabled() {
  NameAdvEdit->setEnabled(NameHTMLCheckBox->isChecked());
  const bool date_on = DateHTMLCheckBox->isChecked();
  DateALComboBox->setEnabled(date_on);
  FromDateDBAdvSpinEdit->setEnabled(date_on);
  ToDateDBAdvSpinEdit->setEnabled(date_on);
  const bool size_on = SizeHTMLCheckBox->isChecked();
  SizeALComboBox->setEnabled(size_on);
  SizeDBAdvSpinEdit->setEnabled(size_on);
}

void FilterDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  move(main_window_.pos() + QPoint(400, 130));
}

void FilterDialog::SetAdvToolButtonClick() {
  catalogue::TCustomFilter& f = view_.filter;
  f.name_on = NameHTMLCheckBox->isChecked();
  f.date_on = DateHTMLCheckBox->isChecked();
  f.size_on = SizeHTMLCheckBox->isChecked();
  f.name_part = NameAdvEdit->text().toStdString();
  f.date_kind = static_cast<std::uint8_t>(std::max(0, DateALComboBox->currentIndex()));
  // Both bounds are exclusive: after the start of the first day, before the start of the day
  // after the last one.
  f.date_from = start_of(FromDateDBAdvSpinEdit->date());
  f.date_to = catalogue::day_after(start_of(ToDateDBAdvSpinEdit->date()));
  f.size_mode = static_cast<std::uint8_t>(std::max(0, SizeALComboBox->currentIndex()));
  f.size_limit = static_cast<std::int64_t>(SizeDBAdvSpinEdit->value()) * 1024;
  f.hide_overwritten = OverwrittenHTMLCheckBox->isChecked();
  f.hide_temporary = TemporaryHTMLCheckBox->isChecked();
  main_window_.set_filter_indicator();
  main_window_.set_folder_filter(view_.folder, view_.drive, view_.type);
  accept();
}

void FilterDialog::CancelAdvToolButtonClick() { reject(); }

}  // namespace fennick::ui

// The filter dialog.
#include "ui/filter_dialog.h"

#include "catalogue/date_time.h"
#include "messages/message_ids.h"
#include "ui/main_window.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

template <typename W>
W* make(QWidget* parent, const char* name, int x, int y) {
  auto* widget = new W(parent);
  widget->setObjectName(name);
  widget->move(x, y);
  return widget;
}

catalogue::DateTime day_of(const QDate& date) {
  return static_cast<catalogue::DateTime>(
      catalogue::days_from_civil(date.year(), date.month(), date.day()));
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
  setFixedSize(400, 274);
  NameHTMLCheckBox = make<QCheckBox>(this, "NameHTMLCheckBox", 8, 8);
  DateHTMLCheckBox = make<QCheckBox>(this, "DateHTMLCheckBox", 8, 57);
  SizeHTMLCheckBox = make<QCheckBox>(this, "SizeHTMLCheckBox", 8, 111);
  NameAdvEdit = make<QLineEdit>(this, "NameAdvEdit", 8, 33);
  NameAdvEdit->setMaxLength(255);
  NameAdvEdit->setFixedWidth(384);
  DateALComboBox = make<QComboBox>(this, "DateALComboBox", 8, 84);
  DateALComboBox->setFixedWidth(120);
  DateALComboBox->addItems({QString(), QString()});
  FromHTMLStaticText = make<QLabel>(this, "FromHTMLStaticText", 137, 87);
  ToHTMLStaticText = make<QLabel>(this, "ToHTMLStaticText", 270, 87);
  FromDateDBAdvSpinEdit = make<QDateEdit>(this, "FromDateDBAdvSpinEdit", 175, 84);
  ToDateDBAdvSpinEdit = make<QDateEdit>(this, "ToDateDBAdvSpinEdit", 295, 84);
  for (QDateEdit* edit : {FromDateDBAdvSpinEdit, ToDateDBAdvSpinEdit}) {
    edit->setDisplayFormat("yyyy-MM-dd");
    edit->setDate(QDate(2007, 6, 26));
    edit->setFixedWidth(90);
  }
  SizeALComboBox = make<QComboBox>(this, "SizeALComboBox", 8, 137);
  SizeALComboBox->setFixedWidth(120);
  SizeALComboBox->addItems({QString(), QString()});
  SizeDBAdvSpinEdit = make<QSpinBox>(this, "SizeDBAdvSpinEdit", 141, 136);
  SizeDBAdvSpinEdit->setRange(0, 999999);  // at most 6 characters
  SizeDBAdvSpinEdit->setSingleStep(100);
  SizeDBAdvSpinEdit->setAlignment(Qt::AlignRight);
  SizeDBAdvSpinEdit->setFixedWidth(80);
  KbLabel = make<QLabel>(this, "KbLabel", 226, 139);
  KbLabel->setText("Kb");
  OverwrittenHTMLCheckBox = make<QCheckBox>(this, "OverwrittenHTMLCheckBox", 8, 167);
  TemporaryHTMLCheckBox = make<QCheckBox>(this, "TemporaryHTMLCheckBox", 8, 191);
  SetAdvToolButton = make<QToolButton>(this, "SetAdvToolButton", 178, 242);
  CancelAdvToolButton = make<QToolButton>(this, "CancelAdvToolButton", 288, 242);
  SetAdvToolButton->setFixedSize(106, 25);
  CancelAdvToolButton->setFixedSize(106, 25);

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
  for (QWidget* w : std::initializer_list<QWidget*>{
           NameHTMLCheckBox, DateHTMLCheckBox, SizeHTMLCheckBox, FromHTMLStaticText,
           ToHTMLStaticText, OverwrittenHTMLCheckBox, TemporaryHTMLCheckBox}) {
    w->adjustSize();
  }
  FromHTMLStaticText->move(175 - FromHTMLStaticText->width() - 4, 87);
  ToHTMLStaticText->move(295 - ToHTMLStaticText->width() - 4, 87);
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
  f.date_from = day_of(FromDateDBAdvSpinEdit->date());
  f.date_to = day_of(ToDateDBAdvSpinEdit->date()) + 0.99999999;
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

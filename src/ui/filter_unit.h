// T_fileterForm, the filter dialog: name part, date range on the modified or created date,
// a size limit, and hiding overwritten or temporary files. Confirming writes
// catalogue::current_filter, the filter indicator and the list; cancelling changes nothing.
// The controls keep their states between openings.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

namespace fennick::ui {

class T_mainForm;

class T_fileterForm : public QDialog {
 public:
  explicit T_fileterForm(T_mainForm* main_form);

  void apply_captions();
  void SetAdvToolButtonClick();
  void CancelAdvToolButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void update_enabled();

  T_mainForm* main_form_;
  QCheckBox* NameHTMLCheckBox;
  QCheckBox* DateHTMLCheckBox;
  QCheckBox* SizeHTMLCheckBox;
  QLineEdit* NameAdvEdit;
  QComboBox* DateALComboBox;
  QLabel* FromHTMLStaticText;
  QLabel* ToHTMLStaticText;
  QComboBox* SizeALComboBox;
  QSpinBox* SizeDBAdvSpinEdit;
  QLabel* KbLabel;
  QDateEdit* FromDateDBAdvSpinEdit;
  QDateEdit* ToDateDBAdvSpinEdit;
  QCheckBox* OverwrittenHTMLCheckBox;
  QCheckBox* TemporaryHTMLCheckBox;
  QToolButton* SetAdvToolButton;
  QToolButton* CancelAdvToolButton;
};

}  // namespace fennick::ui

// FilterDialog, the filter dialog: name part, date range on the modified or created date,
// a size limit, and hiding overwritten or temporary files. Confirming writes the filter of
// the main window's catalogue view, the filter indicator and the list; cancelling changes
// nothing. The controls keep their states between openings.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include "catalogue/catalogue_view.h"

namespace fennick::ui {

class MainWindow;

class FilterDialog : public QDialog {
 public:
  // A dialog over the main window, setting the filter of its catalogue view.
  explicit FilterDialog(MainWindow& main_window);

  // Captions in the main window's language.
  void apply_captions();
  void SetAdvToolButtonClick();
  void CancelAdvToolButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void update_enabled();
  QString qmsg(int k) const;

  MainWindow& main_window_;
  catalogue::CatalogueView& view_;
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

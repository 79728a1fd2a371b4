// Applying a language: marks its flag, re-captions the main window, the filter dialog and the
// Clean Disk window in the chosen language, sets the reading direction for Hebrew and Arabic,
// and stores the choice (none for English) for the next start and for fennick-cli.
#include <QGuiApplication>
#include <QToolButton>

#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "ui/clean_disk_window.h"
#include "ui/filter_dialog.h"
#include "ui/flag_buttons.h"
#include "ui/main_window.h"
#include "ui/settings_store.h"
#include "ui/ui_text.h"

namespace fennick::ui {

namespace {

constexpr int hebrew_base = 5000;
constexpr int arabic_base = 53000;

}  // namespace

void MainWindow::apply_language(int base) {
  // Only the 27 bases are languages; anything else would show English texts under a base
  // that find_language, the CLI and the stored value do not know.
  if (messages::find_language(std::to_string(base)) == nullptr) base = messages::english_base;

  // The hints read each language's own name, whatever language is current.
  // The current language's flag is the one marked.
  const auto& languages = messages::language_table();
  std::size_t current = 0;
  for (std::size_t i = 0; i < languages.size() && i < language_buttons_.size(); ++i) {
    language_buttons_[i]->setToolTip(
        qs(messages::get_message(languages[i].base, messages::language_own_name)));
    if (languages[i].base == base) current = i;
  }
  mark_current_flag(language_buttons_, current);
  // The window's texts and the lines the runs write through it follow the language, and
  // so does the Clean Disk window's log.
  set_language(base);
  if (clean_form_ != nullptr) clean_form_->set_language(base);

  // Hebrew and Arabic read from right to left; the layouts follow them.
  const bool right_to_left = base == hebrew_base || base == arabic_base;
  QGuiApplication::setLayoutDirection(right_to_left ? Qt::RightToLeft : Qt::LeftToRight);

  // Every caption of the main window, the run buttons at their idle texts and the sort box
  // back at "None" (set without sorting, so the list keeps its order).
  apply_captions();
  if (filter_form_ != nullptr) filter_form_->apply_captions();
  if (clean_form_ != nullptr) clean_form_->apply_captions();

  if (base == messages::english_base) {
    settings::remove("language", *this);
  } else {
    settings::write_int("language", base, *this);
  }
}

}  // namespace fennick::ui

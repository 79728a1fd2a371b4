// The 27 language buttons: their flags, drawn in code (26 x 18 pixels) so the program ships
// no image files of its own for them, plain and marked as the current language; the scroll
// area that keeps every flag reachable in a short window; the mark of the current language.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QScrollArea>
#include <QToolButton>
#include <cstddef>
#include <vector>

namespace fennick::ui {

constexpr int flag_width = 26;
constexpr int flag_height = 18;

// The flag of the language at this position of the language table (English first, Arabic
// last), 26 x 18 pixels; an empty grey pixmap for a position past the table.
QPixmap flag_pixmap(std::size_t language_index);

// The flag of a language button: plain when the button is unchecked, inside a frame (dark
// outside, gold inside, so it stands out on light and dark flags alike) when checked.
QIcon flag_icon(std::size_t language_index);

// Width of the column: a flag with its margin, and the thin scroll bar beside it.
constexpr int flag_column_width = 35;
// Width of the flags widget: a 4 px margin and the flag.
constexpr int flag_list_width = 4 + flag_width;

// A scroll area over the flags widget (which places its buttons itself), vertical bar only
// when the column is too short for all of them, thin enough to fit beside a flag.
QScrollArea* make_flag_scroller(QWidget* flags);

// Checks the button of the current language and unchecks the others; the checked button's
// icon shows the marked flag.
void mark_current_flag(const std::vector<QToolButton*>& buttons, std::size_t current);

}  // namespace fennick::ui

// The flags of the 27 language buttons, drawn in code (26 x 18 pixels) so the program ships
// no image files of its own for them.
#pragma once

#include <QPixmap>
#include <cstddef>

namespace fennick::ui {

constexpr int flag_width = 26;
constexpr int flag_height = 18;

// The flag of the language at this position of the language table (English first, Arabic
// last), 26 x 18 pixels; an empty grey pixmap for a position past the table.
QPixmap flag_pixmap(std::size_t language_index);

}  // namespace fennick::ui

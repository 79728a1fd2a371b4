// Text helpers of the windows: UTF-8 core texts to QString, and messages in a language.
#pragma once

#include <QString>
#include <string>

#include "messages/message_catalogue.h"

namespace fennick::ui {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }
// Message k in the language with this base (English when the language lacks it).
inline QString message_text(int language, int k) {
  return QString::fromStdString(messages::get_message(language, k));
}

}  // namespace fennick::ui

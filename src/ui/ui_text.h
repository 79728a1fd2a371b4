// Text helpers of the windows: UTF-8 core texts to QString, and messages in the current
// language.
#pragma once

#include <QString>
#include <string>

#include "messages/message_catalogue.h"

namespace fennick::ui {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }
inline QString qmsg(int k) { return QString::fromStdString(messages::get_message(k)); }

}  // namespace fennick::ui

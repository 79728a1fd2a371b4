// The compiled-in message texts of every language, as generated from lang/*.txt by
// embed_messages.cmake. Private to the message catalogue: callers use get_message.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace fennick::messages::detail {

// One text of the catalogue: message k of the language with base B has id B + k.
struct MessageEntry {
  int id;
  std::string_view text;
};

// All texts of all languages, in ascending id order, each id once. Texts are UTF-8 and may
// be empty (an empty text counts as absent).
std::span<const MessageEntry> message_entries();

// The lookup of get_message over any table sorted like message_entries(): the text of id
// base + k if present and not empty, else that of english_base + k, else "".
std::string lookup_message(std::span<const MessageEntry> entries, int base, int k);

}  // namespace fennick::messages::detail

// The numbered texts the program shows to the user, in 27 languages, and the language
// table. Message k of the language with base B has id B + k; a text a language lacks (or
// leaves empty) is taken from English, and a number English lacks yields "". Each language
// holds its run 0..last_message and the program's block (program_texts.h), nothing else.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "messages/program_texts.h"

namespace fennick::messages {

constexpr int english_base = 10000;

// Message k of the language with base `base`, falling back to English, else "". A base that
// is no language, or any k, is accepted: such ids are simply absent.
std::string get_message(int base, int k);

struct Language {
  std::string_view english_name;  // "German"
  std::string_view own_name;      // message 0 as in the table, "Deutsch"
  int base;                       // 30000
  std::string_view button;        // "GermanAdvToolButton"
  int last_message;               // 90 (run is 0..last_message)
};

// Whether message k is one a language stores: a number of its run or of the program's block
// program_text_first..program_text_last. Any other number reads the English text.
constexpr bool holds_message(const Language& language, int k) {
  return (k >= 0 && k <= language.last_message) ||
         (k >= program_text_first && k <= program_text_last);
}

// The 27 languages in selector order (English first).
const std::array<Language, 27>& language_table();

// By English name, own name (case-insensitive) or base number as text; nullptr when unknown.
// Case is folded for ASCII, Latin, Greek and Cyrillic letters ("čeština", "РУССКИЙ"). The
// base must be written in plain decimal digits ("30000").
const Language* find_language(std::string_view name_or_base);

}  // namespace fennick::messages

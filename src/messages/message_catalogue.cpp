// Message lookup with its fallback to English, and the table of the 27 languages. The texts
// themselves are compiled in from lang/*.txt (see message_data.h).
#include "message_catalogue.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "message_data.h"

namespace fennick::messages {

namespace {

constexpr std::array<Language, 27> kLanguages = {{
    {"English", "English", 10000, "EnglishAdvToolButton", 115},
    {"German", "Deutsch", 30000, "GermanAdvToolButton", 90},
    {"French", "Fran\u00e7ais", 25000, "FrenchAdvToolButton", 87},
    {"Italian", "Italiano", 60000, "ItalianAdvToolButton", 87},
    {"Spanish", "Espa\u00f1ol", 35000, "SpainAdvToolButton", 90},
    {"Greek", "Greek", 47000, "GreekAdvToolButton", 90},
    {"Finnish", "Suomi", 23000, "FinnishAdvToolButton", 113},
    {"Swedish", "Svenska", 33000, "SwedenAdvToolButton", 87},
    {"Danish", "Dansk", 27000, "DanishAdvToolButton", 87},
    {"Dutch", "Dutch", 63000, "DutchAdvToolButton", 87},
    {"Russian", "\u0420\u0443\u0441\u0441\u043a\u0438\u0439", 20000, "RussianAdvToolButton", 115},
    {"Ukrainian",
     "\u0423\u043a\u0440\u0430\u0457\u043d\u0441\u044c\u043a\u0430 \u041c\u043e\u0432\u0430", 37000,
     "UkrainianAdvToolButton", 87},
    {"Serbian", "Serbian", 57000, "SerbianAdvToolButton", 87},
    {"Bulgarian", "\u0411\u044a\u043b\u0433\u0430\u0440\u0441\u043a\u0438", 50000,
     "BulgarianAdvToolButton", 87},
    {"Czech", "\u010ce\u0161tina", 0, "CzechAdvToolButton", 113},
    {"Slovak", "Sloven\u010dina", 1500, "SlovakAdvToolButton", 115},
    {"Hungarian", "Hungarian", 3000, "HungarianAdvToolButton", 115},
    {"Romanian", "Rom\u00e2n\u00e3", 15000, "RomanianAdvToolButton", 87},
    {"Polish", "Polish", 43000, "PolishAdvToolButton", 87},
    {"Chinese (Simplified)", "Chinese (Simplified)", 45000, "ChineseAdvToolButton", 87},
    {"Chinese (Traditional)", "Chinese (Traditional)", 55000, "Chinese2AdvToolButton", 87},
    {"Japanese", "Japanese", 40000, "JapaneseAdvToolButton", 90},
    {"Afrikaans", "Afrikaans", 17000, "AfrikaansAdvToolButton", 87},
    {"Portuguese", "Portugu\u00eas", 13000, "PortugueseAdvToolButton", 87},
    {"Turkish", "Turkish", 7000, "TurkishAdvToolButton", 90},
    {"Hebrew", "\u05e2\u05d1\u05e8\u05d9\u05ea", 5000, "IsraelAdvToolButton", 87},
    {"Arabic", "\u0627\u0644\u0639\u0631\u0628\u064a\u0629", 53000, "ArabicAdvToolButton", 87},
}};

// The text stored under `id`, or an empty view when there is none. The id is 64-bit so that
// base + k can never overflow, whatever base a caller (or a stored setting) hands in.
std::string_view stored_text(std::span<const detail::MessageEntry> entries, std::int64_t id) {
  const auto it = std::lower_bound(
      entries.begin(), entries.end(), id,
      [](const detail::MessageEntry& e, std::int64_t wanted) { return e.id < wanted; });
  if (it == entries.end() || it->id != id) return {};
  return it->text;
}

// Lower case of one code point below U+0800 for the cased scripts that language names use
// (Latin-1, Latin Extended-A, Greek, Cyrillic); any other code point is returned unchanged.
char32_t lower_two_byte(char32_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  // U+0130 (capital I with dot) is left alone: its lower case is a plain "i", not U+0131.
  if ((c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177)) return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c;
}

// The text with the case of its letters folded, for comparing names. Bytes that do not form
// a two-byte UTF-8 sequence are copied as they are, so any input is safe.
std::string fold_case(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 'A' && b <= 'Z') {
      out.push_back(static_cast<char>(b + ('a' - 'A')));
    } else if (b >= 0xC2 && b <= 0xDF && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      const char32_t c = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      const char32_t lower = lower_two_byte(c);
      out.push_back(static_cast<char>(0xC0 | (lower >> 6)));
      out.push_back(static_cast<char>(0x80 | (lower & 0x3F)));
      ++i;
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  return out;
}

}  // namespace

namespace detail {

std::string lookup_message(std::span<const MessageEntry> entries, int base, int k) {
  const std::string_view text = stored_text(entries, std::int64_t{base} + k);
  if (!text.empty()) return std::string(text);
  return std::string(stored_text(entries, std::int64_t{english_base} + k));
}

}  // namespace detail

std::string get_message(int base, int k) {
  return detail::lookup_message(detail::message_entries(), base, k);
}

const std::array<Language, 27>& language_table() { return kLanguages; }

const Language* find_language(std::string_view name_or_base) {
  if (name_or_base.empty()) return nullptr;
  const std::string wanted = fold_case(name_or_base);
  for (const Language& language : kLanguages) {
    if (wanted == fold_case(language.english_name) || wanted == fold_case(language.own_name) ||
        name_or_base == std::to_string(language.base)) {
      return &language;
    }
  }
  return nullptr;
}

}  // namespace fennick::messages

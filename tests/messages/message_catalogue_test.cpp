// Tests of the message catalogue: the lookup and its fallback to English, the switch of
// a channel's language, the compiled-in texts of all 27 languages (their runs and the
// program's block 500..) and the language table.
#include "messages/message_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "messages/message_data.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"

namespace fennick::messages {
namespace {

TEST(GetMessage, FallsBackToEnglishThenToEmpty) {
  struct Case {
    int base;
    int k;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // Present texts, including a single blank, which is not empty.
      {10000, 0, "English"},
      {10000, 5, " -  Main"},
      {27000, 5, " "},
      {47000, 5, " "},
      {0, 0, "Čeština"},  // base 0 is Czech, not "no language"
      {1500, 0, "Slovenčina"},
      {20000, 0, "Русский"},
      // English texts that callers join with a value keep their blanks.
      {10000, 9, "Files: "},
      {10000, 34, " Building list. Please wait ... "},
      {10000, 41, " ERROR: Drive Error"},
      {10000, 62, " -  Filter"},
      {10000, 109, " Could not determine disk cluster size "},
      // Beyond a language's run: the English text.
      {30000, 91, "Total file size: "},
      {5000, 100, " No drive to clean"},
      {0, 114, "Hide overwritten files"},
      {0, 115, "Hide temporary files"},
      {23000, 114, "Hide overwritten files"},
      {27000, 92, " - Clean Disk"},
      {25000, 88, "Help"},
      {40000, 91, "Total file size: "},
      {53000, 90, "Keep folder structure"},
      // The program's block is held by every language, callers' blanks included.
      {10000, 500, " A symbolic link is in the way and was not followed: "},
      {10000, 505, " Running as root, no other program is started. Open it yourself: "},
      {30000, 505,
       " Läuft als root, daher wird kein anderes Programm gestartet. Bitte selbst öffnen: "},
      {0, 500, " V cestě je symbolický odkaz, který nebyl následován: "},
      {57000, 504, " Опоравак је заустављен: у одредишној фасцикли нема места за "},
      {13000, 501, " Deixado intacto, não é um arquivo comum: "},
      {10000, 515, " Not mounted; mount it first to clean it: "},
      {30000, 515, " Nicht eingehängt; hängen Sie es zuerst ein, um es zu bereinigen: "},
      // Reasons joined after " Error: ", with a value or a path after their ends.
      {10000, 529, "cannot read cluster "},
      {25000, 531, "le volume ne contient qu'une partie du fichier, octets trouvés : "},
      {25000, 532, ", taille du fichier : "},
      {30000, 539, ", es wurde nichts geschrieben"},
      {30000, 557, "der MFT-Eintrag gehört jetzt zu Eintragsnummer "},
      {40000, 549, "フォルダーを書き込めません。セクター "},
      {10000, 575, "Select the destination folder"},
      {20000, 575, "Выберите папку назначения"},
      {10000, 591, "The MFT's size exceeds what its runs map on the volume: "},
      {35000, 590, ", registros que se leen: "},
      // A base that is no language reads English.
      {12345, 1, "Drives"},
      {99000, 49, "Good"},
      {-20000, 3, "Folders"},
      {INT_MAX, 9, "Files: "},
      {INT_MIN, 12, "Start Scan"},
      // Numbers English lacks yield the empty text, in every language.
      {10000, 116, ""},
      {20000, 116, ""},
      {10000, 499, ""},
      {30000, 499, ""},
      {10000, 608, ""},
      {0, 608, ""},
      {10000, -1, ""},
      {30000, -5, ""},
      {10000, INT_MIN, ""},
      {INT_MAX, INT_MAX, ""},
      {INT_MIN, INT_MIN, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("base " + std::to_string(c.base) + ", message " + std::to_string(c.k));
    EXPECT_EQ(get_message(c.base, c.k), c.expected);
  }
}

// The compiled-in texts hold no empty one, so the rule that an empty text counts as
// absent is checked on a small table of its own.
TEST(LookupMessage, TreatsAnEmptyTextAsAbsent) {
  const detail::MessageEntry entries[] = {
      {5, ""}, {7, "seven"}, {10005, "five"}, {10006, "six"}, {10007, "English seven"}, {10009, ""},
  };
  EXPECT_EQ(detail::lookup_message(entries, 0, 5), "five");
  EXPECT_EQ(detail::lookup_message(entries, 0, 6), "six");
  EXPECT_EQ(detail::lookup_message(entries, 0, 7), "seven");
  EXPECT_EQ(detail::lookup_message(entries, 0, 8), "");
  EXPECT_EQ(detail::lookup_message(entries, 0, 9), "");
  EXPECT_EQ(detail::lookup_message({}, 0, 5), "");
}

TEST(GetMessage, ChangeOfTheChannelLanguageTakesEffectAtNextCall) {
  SilentChannel channel;
  EXPECT_EQ(channel.language(), english_base) << "a channel starts in English";
  EXPECT_EQ(channel.text(language_own_name), "English");
  EXPECT_EQ(channel.text(main_title_suffix), " -  Main");
  EXPECT_EQ(channel.text(start_scan), "Start Scan");

  channel.set_language(20000);
  EXPECT_EQ(channel.language(), 20000);
  EXPECT_EQ(channel.text(language_own_name), "Русский");
  EXPECT_EQ(channel.text(start_scan), get_message(20000, start_scan));

  channel.set_language(27000);
  EXPECT_EQ(channel.text(main_title_suffix), " ");
  EXPECT_EQ(channel.text(language_own_name), "Dansk");

  channel.set_language(english_base);
  EXPECT_EQ(channel.text(main_title_suffix), " -  Main");

  // Each channel keeps its own language.
  SilentChannel other;
  other.set_language(20000);
  EXPECT_EQ(channel.text(language_own_name), "English");
  EXPECT_EQ(other.text(0), "Русский");
}

TEST(MessageData, IdsAscendUniqueAndEnglishHoldsExactlyItsRunAndTheProgramBlock) {
  const auto entries = detail::message_entries();
  ASSERT_FALSE(entries.empty());
  for (std::size_t i = 1; i < entries.size(); ++i) {
    EXPECT_LT(entries[i - 1].id, entries[i].id) << "at entry " << i;
  }

  std::vector<int> english_numbers;
  for (const auto& e : entries) {
    if (e.id >= english_base && e.id < english_base + 1000) {
      english_numbers.push_back(e.id - english_base);
      EXPECT_FALSE(e.text.empty()) << "English message " << e.id - english_base;
    }
  }
  std::vector<int> expected(116);
  for (int k = 0; k < 116; ++k) expected[k] = k;
  for (int k = program_text_first; k <= program_text_last; ++k) expected.push_back(k);
  EXPECT_EQ(english_numbers, expected);
}

TEST(HoldsMessage, RunAndProgramBlockOnly) {
  const Language& german = *find_language("German");  // run 0..90
  struct Case {
    int k;
    bool held;
  };
  const Case cases[] = {
      {0, true},    {90, true},  {91, false},  {115, false},     {-1, false},
      {499, false}, {500, true}, {512, true},  {515, true},      {527, true},
      {598, true},  {607, true}, {608, false}, {INT_MIN, false}, {INT_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("message " + std::to_string(c.k));
    EXPECT_EQ(holds_message(german, c.k), c.held);
  }
  EXPECT_TRUE(holds_message(language_table()[0], 115));
}

TEST(LanguageTable, HoldsTheTwentySevenLanguagesInSelectorOrder) {
  struct Row {
    std::string_view english_name;
    std::string_view own_name;
    int base;
    std::string_view button;
    int last_message;
  };
  const Row expected[] = {
      {"English", "English", 10000, "EnglishAdvToolButton", 115},
      {"German", "Deutsch", 30000, "GermanAdvToolButton", 90},
      {"French", "Français", 25000, "FrenchAdvToolButton", 87},
      {"Italian", "Italiano", 60000, "ItalianAdvToolButton", 87},
      {"Spanish", "Español", 35000, "SpainAdvToolButton", 90},
      {"Greek", "Greek", 47000, "GreekAdvToolButton", 90},
      {"Finnish", "Suomi", 23000, "FinnishAdvToolButton", 113},
      {"Swedish", "Svenska", 33000, "SwedenAdvToolButton", 87},
      {"Danish", "Dansk", 27000, "DanishAdvToolButton", 87},
      {"Dutch", "Dutch", 63000, "DutchAdvToolButton", 87},
      {"Russian", "Русский", 20000, "RussianAdvToolButton", 115},
      {"Ukrainian", "Українська Мова", 37000, "UkrainianAdvToolButton", 87},
      {"Serbian", "Serbian", 57000, "SerbianAdvToolButton", 87},
      {"Bulgarian", "Български", 50000, "BulgarianAdvToolButton", 87},
      {"Czech", "Čeština", 0, "CzechAdvToolButton", 113},
      {"Slovak", "Slovenčina", 1500, "SlovakAdvToolButton", 115},
      {"Hungarian", "Hungarian", 3000, "HungarianAdvToolButton", 115},
      {"Romanian", "Românã", 15000, "RomanianAdvToolButton", 87},
      {"Polish", "Polish", 43000, "PolishAdvToolButton", 87},
      {"Chinese (Simplified)", "Chinese (Simplified)", 45000, "ChineseAdvToolButton", 87},
      {"Chinese (Traditional)", "Chinese (Traditional)", 55000, "Chinese2AdvToolButton", 87},
      {"Japanese", "Japanese", 40000, "JapaneseAdvToolButton", 90},
      {"Afrikaans", "Afrikaans", 17000, "AfrikaansAdvToolButton", 87},
      {"Portuguese", "Português", 13000, "PortugueseAdvToolButton", 87},
      {"Turkish", "Turkish", 7000, "TurkishAdvToolButton", 90},
      {"Hebrew", "עברית", 5000, "IsraelAdvToolButton", 87},
      {"Arabic", "العربية", 53000, "ArabicAdvToolButton", 87},
  };
  const auto& table = language_table();
  ASSERT_EQ(table.size(), std::size(expected));
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(table[i].english_name, expected[i].english_name);
    EXPECT_EQ(table[i].own_name, expected[i].own_name);
    EXPECT_EQ(table[i].base, expected[i].base);
    EXPECT_EQ(table[i].button, expected[i].button);
    EXPECT_EQ(table[i].last_message, expected[i].last_message);
  }
}

// One catalogue check over every language of the table.
class EachLanguage : public testing::TestWithParam<Language> {};

TEST_P(EachLanguage, OwnNameIsMessageZeroAndTextsStayInsideTheRunAndTheProgramBlock) {
  const Language& language = GetParam();
  EXPECT_EQ(get_message(language.base, language_own_name), language.own_name);

  // Texts beyond the run would hide the English fallback the rest of the program expects.
  for (int k = language.last_message + 1; k <= 116; ++k) {
    EXPECT_EQ(get_message(language.base, k), get_message(english_base, k)) << "message " << k;
  }
  for (const auto& e : detail::message_entries()) {
    const std::int64_t k = std::int64_t{e.id} - language.base;
    if (k >= 0 && k < 1000) {
      EXPECT_TRUE(holds_message(language, static_cast<int>(k))) << "stored message " << k;
    }
  }

  // Every number of the run yields a text: the language's own or the English one.
  for (int k = 0; k <= language.last_message; ++k) {
    EXPECT_FALSE(get_message(language.base, k).empty()) << "message " << k;
  }

  const auto base_found = [](std::string_view name) {
    const Language* found = find_language(name);
    return found != nullptr ? found->base : -1;
  };
  EXPECT_EQ(base_found(language.english_name), language.base);
  EXPECT_EQ(base_found(language.own_name), language.base);
  EXPECT_EQ(base_found(std::to_string(language.base)), language.base);
}

// The stored texts of one language as the catalogue holds them, checked against English:
// the whole run is there and filled, no id of the language's block lies outside the run and
// the program's block, and the blanks that callers rely on when they join a text with a
// value are kept.
TEST_P(EachLanguage, RunIsCompleteAndKeepsTheEnglishBlanks) {
  const Language& language = GetParam();
  const auto entries = detail::message_entries();
  const auto stored = [&entries](std::int64_t id) -> const std::string_view* {
    const auto it = std::lower_bound(
        entries.begin(), entries.end(), id,
        [](const detail::MessageEntry& e, std::int64_t wanted) { return e.id < wanted; });
    return it != entries.end() && it->id == id ? &it->text : nullptr;
  };

  // A language's block of ids reaches up to the next base of the table.
  std::int64_t block_end = std::numeric_limits<std::int64_t>::max();
  for (const Language& other : language_table()) {
    if (other.base > language.base) block_end = std::min<std::int64_t>(block_end, other.base);
  }

  // Danish and Greek leave the main window's title suffix a single blank.
  const bool blank_title_suffix =
      language.english_name == "Danish" || language.english_name == "Greek";

  for (int k = 0; k <= language.last_message; ++k) {
    SCOPED_TRACE("message " + std::to_string(k));
    const std::string_view* text = stored(std::int64_t{language.base} + k);
    const std::string_view* english = stored(std::int64_t{english_base} + k);
    ASSERT_NE(english, nullptr);
    if (text == nullptr) {
      ADD_FAILURE() << "missing";
      continue;
    }
    EXPECT_FALSE(text->empty());
    if (k == 5 && blank_title_suffix) {
      EXPECT_EQ(*text, " ");
      continue;
    }
    const std::string shown =
        "English \"" + std::string(*english) + "\", here \"" + std::string(*text) + '"';
    if (english->starts_with(' ')) {
      EXPECT_TRUE(text->starts_with(' ')) << shown;
    }
    if (english->ends_with(' ')) {
      EXPECT_TRUE(text->ends_with(' ')) << shown;
    }
  }

  for (const auto& e : entries) {
    const std::int64_t k = std::int64_t{e.id} - language.base;
    if (k > language.last_message && e.id < block_end &&
        (k < program_text_first || k > program_text_last)) {
      ADD_FAILURE() << "message " << k << " lies outside the run and the program's block";
    }
  }
}

// The program's own texts (500..) exist in every language, stored there rather than taken
// from English, translated (not the English text again), and with exactly the English
// blanks at both ends, since every caller appends a path or an address.
TEST_P(EachLanguage, ProgramBlockIsStoredTranslatedAndKeepsTheEnglishBlanks) {
  const Language& language = GetParam();
  const auto entries = detail::message_entries();
  const auto stored = [&entries](std::int64_t id) -> std::string_view {
    const auto it = std::lower_bound(
        entries.begin(), entries.end(), id,
        [](const detail::MessageEntry& e, std::int64_t wanted) { return e.id < wanted; });
    return it != entries.end() && it->id == id ? it->text : std::string_view();
  };
  ASSERT_LE(program_text_first, program_text_last);
  for (int k = program_text_first; k <= program_text_last; ++k) {
    SCOPED_TRACE("message " + std::to_string(k));
    const std::string_view text = stored(std::int64_t{language.base} + k);
    const std::string_view english = stored(std::int64_t{english_base} + k);
    ASSERT_FALSE(english.empty());
    ASSERT_FALSE(text.empty()) << "missing";
    const std::string shown =
        "English \"" + std::string(english) + "\", here \"" + std::string(text) + '"';
    EXPECT_EQ(text.starts_with(' '), english.starts_with(' ')) << shown;
    EXPECT_EQ(text.ends_with(' '), english.ends_with(' ')) << shown;
    EXPECT_EQ(text.starts_with("  "), english.starts_with("  ")) << shown;
    EXPECT_EQ(text.ends_with("  "), english.ends_with("  ")) << shown;
    if (language.base != english_base) {
      EXPECT_NE(text, english) << "not translated";
    }
    EXPECT_EQ(get_message(language.base, k), std::string(text));
  }
}

}  // namespace

// Test names carry the language; this keeps CTest's listing readable too.
void PrintTo(const Language& language, std::ostream* os) { *os << language.english_name; }

namespace {

INSTANTIATE_TEST_SUITE_P(Catalogue, EachLanguage, testing::ValuesIn(language_table()),
                         [](const testing::TestParamInfo<Language>& info) {
                           std::string name;
                           for (char c : info.param.english_name) {
                             if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                               name.push_back(c);
                             }
                           }
                           return name;
                         });

TEST(FindLanguage, MatchesNamesWithoutCaseAndBasesAsPlainNumbers) {
  struct Case {
    std::string_view input;
    int expected_base;  // -1: no language
  };
  const Case cases[] = {
      {"German", 30000},
      {"german", 30000},
      {"DEUTSCH", 30000},
      {"čeština", 0},
      {"ČEŠTINA", 0},
      {"русский", 20000},
      {"РУССКИЙ", 20000},
      {"УКРАЇНСЬКА МОВА", 37000},
      {"ESPAÑOL", 35000},
      {"PORTUGUÊS", 13000},
      {"ROMÂNÃ", 15000},
      {"SLOVENČINA", 1500},
      {"chinese (traditional)", 55000},
      {"עברית", 5000},
      {"30000", 30000},
      {"0", 0},
      {"1500", 1500},
      // Unknown names and numbers that are no base.
      {"", -1},
      {"Klingon", -1},
      {"Germa", -1},
      {"German ", -1},
      {"10001", -1},
      {"030000", -1},
      {"+30000", -1},
      {"-0", -1},
      {"99999999999999999999", -1},
      {"\xC3", -1},          // a lead byte cut off at the end
      {"\xC3(Deutsch", -1},  // a lead byte without its continuation
  };
  // The result points into the table itself.
  EXPECT_EQ(find_language("German"), &language_table()[1]);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input));
    const Language* found = find_language(c.input);
    if (c.expected_base < 0) {
      EXPECT_EQ(found, nullptr);
    } else {
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->base, c.expected_base);
    }
  }
}

}  // namespace
}  // namespace fennick::messages

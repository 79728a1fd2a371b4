// The command line's log lines follow --lang, else the language stored by the desktop program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace fennick::testing {
namespace {

TEST(CliLanguageTest, LogLinesFollowTheOptionThenTheStoredSetting) {
  const std::string fat12 = fixture_image("fat12.img");
  ASSERT_FALSE(fat12.empty());
  struct Case {
    const char* settings;  // nullptr: no settings file
    const char* option;
    const char* first_line;
  };
  const std::vector<Case> cases = {
      {nullptr, "", " Scan C:\\ ..."},
      {"[General]\nlanguage=30000\n", "", " Scanne C:\\ ..."},
      {"[General]\nlanguage=30000\n", "--lang English ", " Scan C:\\ ..."},
      {nullptr, "--lang Deutsch ", " Scanne C:\\ ..."},
      {nullptr, "--lang=30000 ", " Scanne C:\\ ..."},
      // Values that are no language's base read as the default.
      {"[General]\nlanguage=10001\n", "", " Scan C:\\ ..."},
      {"[General]\nlanguage=German\n", "", " Scanne C:\\ ..."},
      {"[General]\nlanguage=abc\n", "", " Scan C:\\ ..."},
      {"[Other]\nlanguage=30000\n", "", " Scan C:\\ ..."},
  };
  for (const Case& c : cases) {
    TempDir config;
    if (c.settings != nullptr) {
      std::filesystem::create_directories(config.path() + "/BrantleSoftware");
      std::ofstream(config.path() + "/BrantleSoftware/Fennick.conf") << c.settings;
    }
    const CommandResult r = run_command("XDG_CONFIG_HOME=" + shell_quote(config.path()) + " " +
                                        shell_quote(cli_path()) + " " + c.option +
                                        "scan --format tsv " + shell_quote(fat12));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.first_line)
        << (c.settings ? c.settings : "(no file)") << " " << c.option;
  }
}

}  // namespace
}  // namespace fennick::testing

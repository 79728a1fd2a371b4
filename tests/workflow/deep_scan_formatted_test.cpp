// The deep scan on the quick-formatted volumes of tests/fixtures/make-formatted-volumes: it
// finds the old files that lay in sub-folders with their names and folder names, recovers
// byte-exact those whose clusters were contiguous and not overwritten, and grades no file 100
// whose recovered bytes are not the old file's (fragmented files whose chain went with the
// format, files deleted before it whose clusters later files took).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "messages/program_texts.h"
#include "test_support.h"
#include "workflow/formatted_truth.h"

namespace fennick::workflow {
namespace {

using testing::OldFile;

// The folders of a found file's path below the last one whose name the deep scan had to make
// up: "C:\Lost folders\Folder 77\Trip\Day 1\" -> "/Trip/Day 1" (the top folder's name went
// with the old root), "C:\Trip\Day 1\" -> "/Trip/Day 1".
std::string known_folders(const std::string& path, const std::string& made_up) {
  std::vector<std::string> parts;
  std::stringstream in(path.substr(3));  // after "C:\"
  for (std::string part; std::getline(in, part, '\\');) {
    const bool invented = part.starts_with(made_up) && part.size() > made_up.size() &&
                          std::all_of(part.begin() + static_cast<std::ptrdiff_t>(made_up.size()),
                                      part.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (invented)
      parts.clear();
    else
      parts.push_back(part);
  }
  std::string known;
  for (const std::string& part : parts) known += "/" + part;
  return known.empty() ? "/" : known;
}

bool folder_ends_with(const std::string& folder, const std::string& known) {
  if (known == "/") return true;
  return folder == known || folder.ends_with(known);
}

class DeepScanFormattedTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DeepScanFormattedTest, FindsTheOldTreeRecoversWhatIsWholeAndPromisesNoMore) {
  const std::string image = testing::fixture_image(GetParam());
  if (image.empty()) GTEST_SKIP() << GetParam() << " was not made (the NTFS one needs root)";
  const std::vector<OldFile> truth = testing::read_formatted_truth(image + ".truth");
  ASSERT_FALSE(truth.empty());
  testing::DriveScope s(image);
  ASSERT_TRUE(s.scan(true));
  const std::string made_up = s.channel.text(messages::made_up_folder_name);

  testing::TempDir out;
  std::map<const OldFile*, bool> found;  // old file -> recovered byte-exact
  std::vector<std::string> wrong_hundreds;
  int n = 0;
  for (const auto& f : s.catalogue.files()) {
    if (!f.found_by_deep_scan) continue;
    const std::string known = known_folders(f.path.str(), made_up);
    std::vector<const OldFile*> could_be;
    for (const OldFile& t : truth) {
      if (t.name == f.name.str() && folder_ends_with(t.folder, known)) could_be.push_back(&t);
    }
    const std::string copy = out.path() + "/" + std::to_string(n++);
    s.recover(f, copy);
    const std::string sha = testing::sha256_of(copy);
    const auto same = std::find_if(could_be.begin(), could_be.end(),
                                   [&](const OldFile* t) { return t->sha256 == sha; });
    for (const OldFile* t : could_be) found.emplace(t, false);
    if (same != could_be.end()) found[*same] = true;
    // Files deleted before the format are not in the truth, but the maker deleted the "hole"
    // files to make room for a fragmented file, which took their clusters.
    const std::string name = f.name.str();
    if (name.starts_with("hole ") && name.ends_with(".tmp")) {
      EXPECT_LT(f.quality, 100) << f.path.str() << name;
      continue;
    }
    // A name may be cut to its short form where the long name's entries are gone; the bytes
    // must still be an old file's. Other files deleted before the format cannot be judged.
    const bool old_name = std::any_of(truth.begin(), truth.end(), [&](const OldFile& t) {
      return t.name == name || name.find('~') != std::string::npos;
    });
    if (f.quality == 100 && same == could_be.end() && old_name &&
        std::none_of(truth.begin(), truth.end(),
                     [&](const OldFile& t) { return t.sha256 == sha; })) {
      wrong_hundreds.push_back(f.path.str() + name);
    }
  }
  for (const std::string& wrong : wrong_hundreds) {
    ADD_FAILURE() << "graded 100 but not recovered as an old file: " << wrong;
  }

  std::size_t in_sub_folders = 0;
  std::size_t with_names = 0;
  std::size_t whole = 0;
  std::size_t exact = 0;
  for (const OldFile& t : truth) {
    // A file of a sub-folder whose entry the format left: the deep scan's to find.
    if (std::count(t.folder.begin(), t.folder.end(), '/') < 2 || !t.entry) continue;
    ++in_sub_folders;
    const auto it = found.find(&t);
    with_names += it != found.end() ? 1 : 0;
    if (t.intact && t.contiguous) {
      ++whole;
      exact += it != found.end() && it->second ? 1 : 0;
    }
  }
  EXPECT_GE(with_names * 10, in_sub_folders * 9) << with_names << " of " << in_sub_folders;
  EXPECT_GE(exact * 100, whole * 95) << exact << " of " << whole;
}

INSTANTIATE_TEST_SUITE_P(Images, DeepScanFormattedTest,
                         ::testing::Values("fat32-formatted.img", "ntfs-formatted.img"),
                         [](const auto& info) {
                           const std::string name = info.param;
                           return name.substr(0, name.find('-'));
                         });

}  // namespace
}  // namespace fennick::workflow

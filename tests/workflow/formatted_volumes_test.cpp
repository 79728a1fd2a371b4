// The quick-formatted volumes of tests/fixtures/make-formatted-volumes: the images are there
// with a truth file of several hundred old files, the format really happened (The Sleuth Kit's
// fls lists none of the old files in a sub-folder, only the new files), and most of the old
// files and the entries that named them are still on the volume for a deep scan to find.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "workflow/formatted_truth.h"

namespace fennick::workflow {
namespace {

using testing::OldFile;

struct FormattedImage {
  const char* name;
  std::size_t least_files;  // the maker's default scale writes more than this
  bool needs_root;          // made through a FUSE mount: absent where that cannot run
};

const FormattedImage images[] = {
    {"fat32-formatted.img", 250, false},
    {"ntfs-formatted.img", 500, true},
};

void PrintTo(const FormattedImage& image, std::ostream* os) { *os << image.name; }

class FormattedVolumeTest : public ::testing::TestWithParam<FormattedImage> {};

TEST_P(FormattedVolumeTest, OldTreeIsGoneForTheWalkButStillOnTheVolume) {
  const FormattedImage& p = GetParam();
  const std::string image = testing::fixture_image(p.name);
  if (image.empty() && p.needs_root)
    GTEST_SKIP() << p.name << " was not made (needs root and FUSE)";
  ASSERT_FALSE(image.empty()) << p.name << " was not made";
  const std::vector<OldFile> truth = testing::read_formatted_truth(image + ".truth");
  ASSERT_GE(truth.size(), p.least_files);

  std::size_t intact = 0, fragmented = 0, entries = 0, in_sub_folders = 0;
  for (const OldFile& f : truth) {
    intact += f.intact;
    fragmented += !f.contiguous;
    entries += f.entry;
    in_sub_folders += f.folder != "/";
  }
  EXPECT_GE(fragmented, 2U) << "the maker makes a few fragmented files";
  EXPECT_LT(intact, truth.size()) << "the new files overwrite some old ones";
  EXPECT_GE(intact * 10, truth.size() * 8) << "most old files are still on the volume";
  EXPECT_GE(entries * 10, truth.size() * 8) << "most old entries are still on the volume";

  if (!testing::have_program("fls")) GTEST_SKIP() << "needs The Sleuth Kit (fls)";
  const auto fls = testing::run_command("fls -r -p " + testing::shell_quote(image));
  ASSERT_EQ(fls.exit_code, 0) << fls.err;
  std::set<std::string> listed;
  std::stringstream lines(fls.out);
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    if (tab != std::string::npos) listed.insert("/" + line.substr(tab + 1));
  }
  EXPECT_TRUE(listed.count("/New stuff/fresh 0.dat")) << "the new files are there";
  std::size_t still_listed = 0;
  for (const OldFile& f : truth) {
    if (f.folder != "/" && listed.count(f.folder + "/" + f.name)) {
      ADD_FAILURE() << "the format left " << f.folder << "/" << f.name << " reachable";
      ++still_listed;
    }
  }
  EXPECT_EQ(still_listed, 0U) << "of " << in_sub_folders << " old files in sub-folders";
}

INSTANTIATE_TEST_SUITE_P(Images, FormattedVolumeTest, ::testing::ValuesIn(images),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           return n.substr(0, n.find('-'));
                         });

}  // namespace
}  // namespace fennick::workflow

// A deleted folder whose cluster a new folder has taken: the new folder's live files must not
// be listed as the deleted folder's files.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "messages/status_channel.h"
#include "test_support.h"

namespace fennick::fat {
namespace {

using testing::run_command;
using testing::shell_quote;

TEST(FatReusedFolderTest, ANewFolderInADeletedFoldersClusterIsNotWalkedAsTheOldOne) {
  if (!testing::have_program("mmd") || !testing::have_program("mkfs.fat")) {
    GTEST_SKIP() << "mtools and dosfstools are needed";
  }
  testing::TempDir dir;
  const std::string image = dir.path() + "/reuse.img";
  const std::string file = dir.path() + "/content.txt";
  const std::string i = " -i " + shell_quote(image) + " ";
  // mtools on FAT16 takes the first free cluster, so NEW gets OLD's freed cluster; OLD's
  // entry stays in KEEP (a new entry in the same folder would take its slot).
  const std::string script = "export MTOOLS_SKIP_CHECK=1; set -e; truncate -s 16M " +
                             shell_quote(image) + "; mkfs.fat -F 16 " + shell_quote(image) +
                             " >/dev/null; echo old-file > " + shell_quote(file) + "; mmd" + i +
                             "::/KEEP; mmd" + i + "::/KEEP/OLD; mcopy" + i + shell_quote(file) +
                             " ::/KEEP/OLD/GONE.TXT; mdeltree" + i + "::/KEEP/OLD; mmd" + i +
                             "::/NEW; mcopy" + i + shell_quote(file) + " ::/NEW/LIVE.TXT";
  const testing::CommandResult made = run_command(script);
  ASSERT_EQ(made.exit_code, 0) << made.err;

  testing::DriveScope s(image);
  ASSERT_TRUE(s.scan());
  for (const auto& record : s.catalogue.files()) {
    EXPECT_NE(record.name.view(), "LIVE.TXT")
        << "a live file of the new folder was listed as deleted";
  }
}

}  // namespace
}  // namespace fennick::fat

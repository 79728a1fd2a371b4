// The recovery output file: holes for sparse stretches, stepping back, a hole at the end.
#include "catalogue/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "test_support.h"

namespace fennick::catalogue {
namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(OutputFileTest, SkippedStretchesReadAsZerosAndTakeNoSpace) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/sparse.bin";
  OutputFile out;
  ASSERT_TRUE(out.open(path));
  const std::uint8_t head[] = {'a', 'b', 'c'};
  ASSERT_TRUE(out.write_all(head, 3));
  ASSERT_TRUE(out.skip(64 << 20));
  ASSERT_TRUE(out.write_all(head, 3));
  ASSERT_TRUE(out.skip(5));  // a hole at the very end still counts
  ASSERT_TRUE(out.close());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 3 + (64 << 20) + 3 + 5);
  EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the hole is not written";
  const std::string bytes = contents(path);
  EXPECT_EQ(bytes.substr(0, 3), "abc");
  EXPECT_EQ(bytes.substr(3 + (64 << 20), 3), "abc");
  EXPECT_EQ(bytes.find_first_not_of('\0', 3), static_cast<std::size_t>(3 + (64 << 20)));
}

TEST(OutputFileTest, SteppingBackOverwritesAndNeverGoesBeforeTheStart) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/unit.bin";
  OutputFile out;
  ASSERT_TRUE(out.open(path));
  const std::uint8_t stored[] = {'s', 's', 's', 's'};
  const std::uint8_t decoded[] = {'d', 'd', 'd', 'd', 'd', 'd'};
  ASSERT_TRUE(out.write_all(stored, 4));
  EXPECT_FALSE(out.step_back(5));
  ASSERT_TRUE(out.step_back(4));
  ASSERT_TRUE(out.write_all(decoded, 6));
  ASSERT_TRUE(out.close());
  EXPECT_EQ(contents(path), "dddddd");
  EXPECT_TRUE(out.close()) << "closing twice is harmless";
}

TEST(OutputFileTest, AHoleBeyondAnyFileSizeIsAFailureNotACrash) {
  testing::TempDir dir;
  OutputFile out;
  ASSERT_TRUE(out.open(dir.path() + "/huge.bin"));
  // A crafted size of 2^62 bytes: the file system refuses such a length at close.
  const bool skipped = out.skip(std::int64_t{1} << 62);
  EXPECT_FALSE(skipped && out.close());
}

}  // namespace
}  // namespace fennick::catalogue

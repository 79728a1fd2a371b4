// A wipe writes only to the volume that was scanned, and only while nothing has it mounted:
// a volume's name swapped for a link or for another file while wipes run never gets the
// other file written, and a mounted volume is refused with a line saying so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../cleaning/mounted_ntfs.h"
#include "catalogue/catalogue.h"
#include "engine/engine.h"
#include "messages/message_catalogue.h"
#include "messages/program_texts.h"
#include "messages/status_channel.h"
#include "test_support.h"
#include "volume/volume_source.h"
#include "workflow/wipe_run.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

using engine::WipeOutcome;

std::vector<catalogue::FoundFile> scan_drive(DriveScope& s) {
  EXPECT_TRUE(s.scan());
  return s.catalogue.files();
}

TEST(FileSourceTest, OpensOnlyTheFileItWasMadeFor) {
  TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::string other = dir.path() + "/other.img";
  { std::ofstream(image, std::ios::binary) << std::string(4096, 'v'); }
  { std::ofstream(other, std::ios::binary) << std::string(4096, 'o'); }
  volume::FileSource source(image);
  char byte = 0;
  ASSERT_EQ(source.read_at(0, &byte, 1).bytes, 1);
  EXPECT_EQ(byte, 'v');
  // Writing needs a write session.
  EXPECT_EQ(source.write_at(0, "w", 1).bytes, 0);

  // The name now stands for another file.
  fs::rename(image, image + ".moved");
  fs::copy_file(other, image);
  EXPECT_EQ(source.read_at(0, &byte, 1).open_error, volume::not_the_scanned_file);
  EXPECT_EQ(source.begin_write_session(), volume::not_the_scanned_file);
  // The name is a link, even to the very file.
  fs::remove(image);
  fs::create_symlink(image + ".moved", image);
  EXPECT_EQ(source.read_at(0, &byte, 1).open_error, volume::not_the_scanned_file);
  EXPECT_EQ(source.begin_write_session(), volume::not_the_scanned_file);
  // The file itself back under its name: reads and writes go through again.
  fs::remove(image);
  fs::rename(image + ".moved", image);
  ASSERT_EQ(source.begin_write_session(), 0);
  EXPECT_EQ(source.write_at(0, "w", 1).bytes, 1);
  source.end_write_session();
  ASSERT_EQ(source.read_at(0, &byte, 1).bytes, 1);
  EXPECT_EQ(byte, 'w');
  std::ifstream in(other, std::ios::binary);
  EXPECT_EQ(in.get(), 'o');
}

// While wipes run, another thread keeps swapping the image's name for a link to a copy of the
// same volume and for that copy itself. The copy would pass every check a wipe makes, so only
// the descriptor check keeps it whole.
TEST(WipeSwapTest, ANameSwappedBetweenCheckAndWriteNeverReachesTheOtherFile) {
  const std::string fixture = fixture_image("fat16.img");
  ASSERT_FALSE(fixture.empty());
  TempDir dir;
  const std::string image = dir.path() + "/v.img";
  const std::string victim = dir.path() + "/victim.img";
  fs::copy_file(fixture, image);
  fs::copy_file(fixture, victim);
  const std::string victim_hash = sha256_of(victim);
  DriveScope s(image);
  const auto files = scan_drive(s);
  ASSERT_GE(files.size(), 5u);

  std::atomic<bool> done{false};
  std::thread swapper([&] {
    const std::string aside = dir.path() + "/aside.img";
    const std::string copy = dir.path() + "/copy.img";
    for (int round = 0; !done; ++round) {
      std::rename(image.c_str(), aside.c_str());
      if (round % 2 == 0) {
        ::symlink(victim.c_str(), image.c_str());
        std::this_thread::yield();
        ::unlink(image.c_str());
      } else {
        // A hard link is the victim itself under the image's name.
        ::link(victim.c_str(), copy.c_str());
        std::rename(copy.c_str(), image.c_str());
        std::this_thread::yield();
        ::unlink(image.c_str());
      }
      std::rename(aside.c_str(), image.c_str());
      std::this_thread::yield();
    }
  });
  messages::RecordingChannel& log = s.channel;
  log.lines.clear();
  // At least 20 passes, and on until a swap has been met (a busy machine may hold the other
  // thread back for a while), within a bound.
  const std::string refused = log.text(messages::volume_not_the_scanned_one);
  bool met = false;
  for (int pass = 0; pass < 5000 && (pass < 20 || !met); ++pass) {
    for (const auto& f : files) s.wipe(f);
    met = met || log.has_line_starting(refused);
    log.lines.clear();
  }
  done = true;
  swapper.join();
  EXPECT_EQ(sha256_of(victim), victim_hash);
  EXPECT_TRUE(met) << "the swaps were never met; the test proves nothing";
}

TEST(WipeMountedTest, AMountedImageIsRefusedAndWipedOnceUnmounted) {
  if (!can_mount_ntfs()) GTEST_SKIP() << "needs root, mkntfs, ntfs-3g and FUSE";
  NtfsImage volume;
  ASSERT_TRUE(volume.mount());
  { std::ofstream(volume.path("gone.txt")) << std::string(5000, 'g'); }
  run_command("sync");
  fs::remove(volume.path("gone.txt"));
  run_command("sync");
  DriveScope s(volume.image());
  const auto files = scan_drive(s);
  const catalogue::FoundFile* gone = nullptr;
  for (const auto& f : files) {
    if (f.name.view() == "gone.txt") gone = &f;
  }
  ASSERT_NE(gone, nullptr);
  const catalogue::FoundFile target = *gone;
  {
    messages::RecordingChannel log;
    EXPECT_NE(workflow::wipe_file(s.drives, s.catalogue, target, s.run, log), WipeOutcome::wiped);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], log.text(messages::wipe_refused_mounted) + volume.image());
  }
  volume.unmount();
  messages::RecordingChannel log;
  EXPECT_EQ(workflow::wipe_file(s.drives, s.catalogue, target, s.run, log), WipeOutcome::wiped)
      << (log.lines.empty() ? "" : log.lines.back());
}

}  // namespace
}  // namespace fennick::testing

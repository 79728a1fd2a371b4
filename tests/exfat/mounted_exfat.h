// An exFAT image attached to a loop device and mounted through exfat-fuse for a test.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace fennick::testing {

inline bool can_mount_exfat() {
  return ::geteuid() == 0 && have_program("mount.exfat-fuse") && have_program("losetup") &&
         run_command("test -c /dev/fuse").exit_code == 0;
}

// The image attached to a loop device and mounted with exfat-fuse while mounted; unmounted
// and detached at the latest when it goes.
class MountedExfat {
 public:
  explicit MountedExfat(const std::string& image) : image_(image) {}
  ~MountedExfat() { unmount(); }
  MountedExfat(const MountedExfat&) = delete;
  MountedExfat& operator=(const MountedExfat&) = delete;

  bool mount() {
    mount_point_ = image_ + ".mnt";
    std::filesystem::create_directories(mount_point_);
    const CommandResult loop = run_command("losetup -f --show " + shell_quote(image_));
    if (loop.exit_code != 0) return false;
    loop_ = loop.out.substr(0, loop.out.find('\n'));
    return run_command("mount.exfat-fuse " + shell_quote(loop_) + " " + shell_quote(mount_point_))
               .exit_code == 0;
  }
  void unmount() {
    if (loop_.empty()) return;
    run_command("sync; umount " + shell_quote(mount_point_) + " 2>/dev/null");
    run_command("losetup -d " + shell_quote(loop_));
    loop_.clear();
  }
  const std::string& mount_point() const { return mount_point_; }

 private:
  std::string image_;
  std::string mount_point_;
  std::string loop_;
};

}  // namespace fennick::testing

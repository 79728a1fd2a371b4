// A small NTFS image made by mkntfs for one test, mounted through ntfs-3g when the test asks,
// and the file helpers the cleaning tests share.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"

namespace fennick::testing {

inline bool can_mount_ntfs() {
  return ::geteuid() == 0 && have_program("mkntfs") && have_program("ntfs-3g") &&
         run_command("test -c /dev/fuse").exit_code == 0;
}

inline std::vector<std::uint8_t> read_bytes(const std::string& path) {
  // One read of the whole file: images are tens of MiB, too many for a byte-wise iterator in
  // a build without optimisation.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

inline bool write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Bytes that say which file they belong to on every 32-byte line, so that any piece of them
// left on the volume can be found again.
inline std::vector<std::uint8_t> marked_content(const std::string& marker, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::string line;
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 32 == 0) {
      line = marker + "@" + std::to_string(i / 32) + "........................................";
      line.resize(31);
      line += '\n';
    }
    bytes[i] = static_cast<std::uint8_t>(line[i % 32]);
  }
  return bytes;
}

inline bool contains(const std::vector<std::uint8_t>& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// Names in a folder (without "." and ".."), sorted.
inline std::vector<std::string> folder_listing(const std::string& folder) {
  const CommandResult r = run_command("ls -A1 " + shell_quote(folder));
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < r.out.size()) {
    const std::size_t end = r.out.find('\n', start);
    names.push_back(r.out.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

class NtfsImage {
 public:
  explicit NtfsImage(int mib = 16) : image_(dir_.path() + "/v.img"), mount_(dir_.path() + "/mnt") {
    run_command("truncate -s " + std::to_string(mib) + "M " + shell_quote(image_) +
                " && mkntfs -F -Q -q " + shell_quote(image_) + " >/dev/null 2>&1");
    run_command("mkdir -p " + shell_quote(mount_));
  }
  ~NtfsImage() { unmount(); }
  NtfsImage(const NtfsImage&) = delete;
  NtfsImage& operator=(const NtfsImage&) = delete;

  const std::string& image() const { return image_; }
  const std::string& mount_point() const { return mount_; }
  std::string path(const std::string& relative) const { return mount_ + "/" + relative; }
  const std::string& scratch() const { return dir_.path(); }

  bool mounted() const {
    return run_command("mountpoint -q " + shell_quote(mount_)).exit_code == 0;
  }

  bool mount() {
    pid_ = run_command("ntfs-3g -o no_detach " + shell_quote(image_) + " " + shell_quote(mount_) +
                       " >/dev/null 2>&1 & echo $!")
               .out;
    pid_.erase(std::remove(pid_.begin(), pid_.end(), '\n'), pid_.end());
    for (int i = 0; i < 200 && !mounted(); ++i) run_command("sleep 0.05");
    return mounted();
  }

  // Unmounts and waits (bounded) for ntfs-3g to exit, so the image is complete. Nobody reaps
  // the ntfs-3g started through the shell, so a zombie counts as exited.
  void unmount() {
    if (pid_.empty()) return;
    run_command("sync; umount " + shell_quote(mount_) + " 2>/dev/null || fusermount -u " +
                shell_quote(mount_));
    run_command("for i in $(seq 400); do s=$(cut -d' ' -f3 /proc/" + pid_ +
                "/stat 2>/dev/null); [ -z \"$s\" ] || [ \"$s\" = Z ] && break; sleep 0.05; done");
    pid_.clear();
  }

  std::int64_t free_bytes() const {
    const CommandResult r = run_command("stat -f -c '%a %S' " + shell_quote(mount_));
    long long blocks = 0, size = 0;
    if (std::sscanf(r.out.c_str(), "%lld %lld", &blocks, &size) != 2) return -1;
    return blocks * size;
  }

 private:
  TempDir dir_;
  std::string image_;
  std::string mount_;
  std::string pid_;
};

}  // namespace fennick::testing

// The truth file of tests/fixtures/make-formatted-volumes: one line per file of the volume
// before its quick format, with where it stands after the format and the new files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fennick::testing {

struct OldFile {
  std::string folder;  // "/Photos/Holiday 2023", "/" for the root
  std::string name;
  std::string sha256;
  bool intact = false;      // its bytes are still on the volume
  bool contiguous = false;  // its clusters followed one another
  bool entry = false;       // the directory entries or MFT record that named it are unchanged
};

inline std::vector<OldFile> read_formatted_truth(const std::string& path) {
  std::vector<OldFile> out;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "folder\tname\tsize\tsha256\tintact\tcontiguous\tentry");
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
    if (f.size() != 7) {
      ADD_FAILURE() << "bad truth line: " << line;
      continue;
    }
    out.push_back({f[0], f[1], f[3], f[4] == "1", f[5] == "1", f[6] == "1"});
  }
  return out;
}

}  // namespace fennick::testing

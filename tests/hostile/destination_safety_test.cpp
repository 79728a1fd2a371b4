// A destination folder that others can write to: links and FIFOs planted where a recovery
// will write are never followed or opened; the files go beside them, nothing outside the
// destination changes, and every file of the volume is still recovered. Recovered files are
// the owner's alone (0600, folders 0700) and, for a run started through sudo for the owner
// of the destination, belong to that person.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/destination_folder.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "messages/program_texts.h"
#include "test_support.h"

namespace fennick::testing {
namespace {

namespace fs = std::filesystem;

struct Row {
  std::string name, path, status;
};

std::vector<Row> scan_rows(const std::string& image) {
  const CommandResult r =
      run_command(shell_quote(cli_path()) + " scan --format tsv " + shell_quote(image));
  std::vector<Row> rows;
  std::istringstream in(r.out);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      cells.push_back(
          line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (cells.size() >= 7) rows.push_back({cells[2], cells[3], cells[6]});
  }
  return rows;
}

// Every entry below a folder with its kind and, for a file, its content; for a link, where it
// points.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string key = fs::relative(e.path(), folder).string();
    if (e.is_symlink()) {
      out[key] = "link:" + fs::read_symlink(e.path()).string();
    } else if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      out[key] = "file:" + ss.str();
    } else {
      out[key] = "other";
    }
  }
  return out;
}

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
  }
  return found;
}

// True when no component of path below root is a symbolic link.
bool no_link_below(const std::string& root, const std::string& path) {
  fs::path walked = root;
  for (const auto& part : fs::relative(path, root)) {
    walked /= part;
    if (fs::is_symlink(walked)) return false;
  }
  return true;
}

class PlantedLinksTest : public ::testing::TestWithParam<bool> {};

TEST_P(PlantedLinksTest, NothingIsWrittenThroughThemAndEveryFileIsRecoveredBeside) {
  const bool keep = GetParam();
  const std::string image = fixture_image("fat16.img");
  ASSERT_FALSE(image.empty());
  const std::vector<Row> rows = scan_rows(image);
  ASSERT_GE(rows.size(), 3u);
  // A file in the volume's root for a link and one for a FIFO; a folder of another file's
  // path for a folder link.
  std::vector<const Row*> in_root;
  const Row* nested = nullptr;
  for (const Row& r : rows) {
    if (r.path == "C:\\") {
      in_root.push_back(&r);
    } else if (nested == nullptr) {
      nested = &r;
    }
  }
  ASSERT_GE(in_root.size(), 2u);
  ASSERT_NE(nested, nullptr);
  const Row* at_root = in_root[0];
  const Row* fifo_row = in_root[1];
  const std::string first_folder = nested->path.substr(3, nested->path.find('\\', 3) - 3);

  TempDir dir;
  const std::string dest = dir.path() + "/dest";
  const std::string outside = dir.path() + "/outside";
  fs::create_directories(dest);
  fs::create_directories(outside);
  { std::ofstream(outside + "/victim") << "not to be overwritten\n"; }
  // Without folders, every file lands in the destination itself: the nested file's name gets
  // the link there too.
  const std::string file_link = dest + "/" + (keep ? at_root->name : nested->name);
  fs::create_symlink(outside + "/victim", file_link);
  fs::create_symlink(outside, dest + "/" + first_folder);
  ASSERT_EQ(::mkfifo((dest + "/" + fifo_row->name).c_str(), 0600), 0);
  const auto outside_before = snapshot(outside);

  const CommandResult r =
      run_command(shell_quote(cli_path()) + " recover --to " + shell_quote(dest) +
                  (keep ? " --keep-folders " : " ") + shell_quote(image));
  // The fixture's overwritten file is copied but not whole: status 1.
  const bool overwritten = std::any_of(rows.begin(), rows.end(),
                                       [](const Row& row) { return row.status == "Overwritten"; });
  EXPECT_EQ(r.exit_code, overwritten ? 1 : 0) << r.err;
  EXPECT_EQ(snapshot(outside), outside_before) << r.err;
  EXPECT_EQ(fs::read_symlink(file_link), outside + "/victim");
  EXPECT_TRUE(fs::is_fifo(dest + "/" + fifo_row->name));

  const auto links = lines_starting(
      r.err, messages::get_message(messages::english_base, messages::link_not_followed));
  const auto others = lines_starting(
      r.err, messages::get_message(messages::english_base, messages::not_a_regular_file));
  EXPECT_NE(std::find(links.begin(), links.end(), file_link), links.end()) << r.err;
  if (keep) {
    EXPECT_NE(std::find(links.begin(), links.end(), dest + "/" + first_folder), links.end())
        << r.err;
  }
  EXPECT_NE(std::find(others.begin(), others.end(), dest + "/" + fifo_row->name), others.end())
      << r.err;

  // One file written per file, whole or graded overwritten, each a regular file (0600)
  // reached without a link, in folders (0700) the run made.
  auto written = lines_starting(
      r.err, messages::get_message(messages::english_base, messages::undeleted_prefix));
  for (const std::string& path : lines_starting(
           r.err,
           messages::get_message(messages::english_base, messages::copied_but_overwritten))) {
    written.push_back(path);
  }
  EXPECT_EQ(written.size(), rows.size()) << r.err;
  for (const std::string& path : written) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    EXPECT_TRUE(no_link_below(dest, path)) << path;
    for (fs::path p = fs::path(path).parent_path(); p != fs::path(dest); p = p.parent_path()) {
      ASSERT_EQ(::lstat(p.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0700u) << p;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KeepFolders, PlantedLinksTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Kept" : "Flat"; });

// A file from before the run is replaced by a new file; a hard link to another file is only
// unlinked, so that other file keeps its bytes.
// Whatever holds a name in the destination is never replaced, truncated or unlinked: the
// person's own file, a hard link to another file, a folder, a link, a FIFO. The new file goes
// beside it as "A (2).TXT", and the thing in the way is as it was, to the byte and the inode.
TEST(DestinationFolderTest, NothingInTheWayIsReplacedTheNewFileGoesBesideIt) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dest, const std::string& outside)> make;
  };
  const std::vector<Case> cases = {
      {"the person's file",
       [](const std::string& d, const std::string&) {
         std::ofstream(d + "/A.TXT") << "current version";
       }},
      {"a hard link to a file elsewhere",
       [](const std::string& d, const std::string& o) {
         std::ofstream(o + "/other") << "keep me";
         fs::create_hard_link(o + "/other", d + "/A.TXT");
       }},
      {"a folder",
       [](const std::string& d, const std::string&) {
         fs::create_directories(d + "/A.TXT");
         std::ofstream(d + "/A.TXT/inside") << "mine";
       }},
      {"a link",
       [](const std::string& d, const std::string& o) {
         std::ofstream(o + "/target") << "keep me";
         fs::create_symlink(o + "/target", d + "/A.TXT");
       }},
      {"a FIFO", [](const std::string& d,
                    const std::string&) { ASSERT_EQ(::mkfifo((d + "/A.TXT").c_str(), 0600), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string dest = dir.path() + "/dest";
    const std::string outside = dir.path() + "/outside";
    fs::create_directories(dest);
    fs::create_directories(outside);
    c.make(dest, outside);
    const std::string before = tree_listing(dir.path());
    struct stat was {};
    ASSERT_EQ(::lstat((dest + "/A.TXT").c_str(), &was), 0);

    catalogue::DestinationFolder folder;
    ASSERT_TRUE(folder.open(dest, std::nullopt));
    const auto created = folder.create_file("", "A.TXT", nullptr);
    ASSERT_GE(created.fd, 0) << created.reason;
    EXPECT_EQ(created.path, dest + "/A (2).TXT");
    EXPECT_EQ(entries_changed(before, tree_listing(dir.path())), "");
    ASSERT_EQ(::write(created.fd, "new", 3), 3);
    ::close(created.fd);
    struct stat now {};
    ASSERT_EQ(::lstat((dest + "/A.TXT").c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, was.st_ino);
    EXPECT_EQ(fs::file_size(dest + "/A (2).TXT"), 3u);
  }
  // A name the run itself wrote is not replaced either: the next file takes the next number.
  TempDir dir;
  catalogue::DestinationFolder folder;
  ASSERT_TRUE(folder.open(dir.path(), std::nullopt));
  const auto first = folder.create_file("", "A.TXT", nullptr);
  ASSERT_GE(first.fd, 0);
  ::close(first.fd);
  const auto second = folder.create_file(
      "", "A.TXT", [&](const std::string& p) { return p == dir.path() + "/A.TXT"; });
  ASSERT_GE(second.fd, 0);
  ::close(second.fd);
  EXPECT_EQ(second.path, dir.path() + "/A (2).TXT");
}

TEST(DestinationFolderTest, AFolderSwappedForALinkDuringTheRunIsNotEntered) {
  TempDir dir;
  const std::string dest = dir.path() + "/dest";
  const std::string outside = dir.path() + "/outside";
  fs::create_directories(dest);
  fs::create_directories(outside);
  catalogue::DestinationFolder folder;
  ASSERT_TRUE(folder.open(dest, std::nullopt));
  std::vector<std::string> noticed;
  folder.on_in_the_way = [&](const std::string& p, catalogue::InTheWay) { noticed.push_back(p); };
  ASSERT_EQ(folder.make_folders({"Docs"}).value_or("?"), "Docs");
  // Between two files of the folder, someone replaces it with a link.
  fs::remove(dest + "/Docs");
  fs::create_symlink(outside, dest + "/Docs");
  const auto relative = folder.make_folders({"Docs"});
  ASSERT_TRUE(relative);
  EXPECT_EQ(*relative, "Docs (2)");
  const auto created = folder.create_file(*relative, "x", nullptr);
  ASSERT_GE(created.fd, 0);
  ::close(created.fd);
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(noticed, std::vector<std::string>{dest + "/Docs"});
}

// Through sudo (or pkexec) for the owner of the destination, what a recovery makes is theirs;
// for a destination that is not theirs, it stays root's.
TEST(DestinationOwnerTest, FilesAndFoldersBelongToTheRequesterWhoOwnsTheDestination) {
  if (::geteuid() != 0) GTEST_SKIP() << "handing files to another user needs root";
  const std::string image = fixture_image("fat16.img");
  ASSERT_FALSE(image.empty());
  TempDir dir;
  const std::string theirs = dir.path() + "/theirs";
  const std::string roots = dir.path() + "/roots";
  fs::create_directories(theirs);
  fs::create_directories(roots);
  ASSERT_EQ(::chown(theirs.c_str(), 4242, 4343), 0);
  for (const std::string& dest : {theirs, roots}) {
    const CommandResult r =
        run_command("SUDO_UID=4242 SUDO_GID=4343 " + shell_quote(cli_path()) +
                    " recover --keep-folders --to " + shell_quote(dest) + " " + shell_quote(image));
    EXPECT_EQ(r.exit_code, 1) << "the fixture's overwritten file is not whole\n" << r.err;
    int checked = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
      struct stat st {};
      ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
      const uid_t uid = dest == theirs ? 4242 : 0;
      const gid_t gid = dest == theirs ? 4343 : 0;
      EXPECT_EQ(st.st_uid, uid) << e.path();
      EXPECT_EQ(st.st_gid, gid) << e.path();
      ++checked;
    }
    EXPECT_GT(checked, 3);
  }
}

TEST(DestinationOwnerTest, TheRequesterComesFromSudoOrPkexecAndNeverIsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "the requester is only asked for when running as root";
  struct Case {
    const char *sudo_uid, *sudo_gid, *pkexec_uid;
    bool found;
    uid_t uid;
    gid_t gid;
  };
  const std::vector<Case> cases = {
      {"1000", "1001", nullptr, true, 1000, 1001},
      {nullptr, nullptr, "0", false, 0, 0},
      {"0", "0", nullptr, false, 0, 0},
      {"12x", "5", nullptr, false, 0, 0},
      {"-1", "5", nullptr, false, 0, 0},
      {nullptr, nullptr, nullptr, false, 0, 0},
  };
  const auto set = [](const char* name, const char* value) {
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  };
  for (const Case& c : cases) {
    set("SUDO_UID", c.sudo_uid);
    set("SUDO_GID", c.sudo_gid);
    set("PKEXEC_UID", c.pkexec_uid);
    const auto r = catalogue::requester_from_environment();
    EXPECT_EQ(r.has_value(), c.found) << (c.sudo_uid ? c.sudo_uid : "-");
    if (r && c.found) {
      EXPECT_EQ(r->uid, c.uid);
      EXPECT_EQ(r->gid, c.gid);
    }
  }
  set("SUDO_UID", nullptr);
  set("SUDO_GID", nullptr);
  set("PKEXEC_UID", nullptr);
}

}  // namespace
}  // namespace fennick::testing

// Who the desktop program runs as, and the checks a root-run window makes before it touches
// its settings file. Run as root through `sudo -E`, HOME and XDG_CONFIG_HOME still name the
// user's folders, where the user can plant links; so as root the window keeps its settings in
// root's own home, writes them through no symbolic link, and starts no other program.
#pragma once

#include <sys/types.h>

#include <QString>
#include <optional>
#include <string>

namespace fennick::ui::identity {

struct Identity {
  uid_t euid = 0;     // effective user id
  QString root_home;  // home folder of uid 0 in the password database
};

// The process's identity: geteuid() and the password database's entry of uid 0, or the one a
// test has set.
Identity current();
// Test seam: current() returns this identity from now on; nullopt goes back to the real one.
void set_for_tests(std::optional<Identity> identity);

// Whether the program runs with root's rights: the settings then live in root's home, and
// Help, the links and "Open ..." log their address instead of starting a program.
bool running_as_root();

// The settings file of a root-run program: <root home>/.config/BrantleSoftware/Fennick.conf,
// whatever HOME and XDG_CONFIG_HOME say. Empty for any other uid: the per-user store of Qt.
QString settings_file(const Identity& identity);

// What the check of a root-owned file path found.
struct PathCheck {
  enum class Outcome {
    usable,   // every folder is root's own; the file is root's regular file or not there yet
    missing,  // a folder on the way is missing (only when folders are not created)
    link,     // a symbolic link is on the way; `where` is its path
    unsafe,   // something on the way is not root's own folder or file; `where` names it
  };
  Outcome outcome = Outcome::unsafe;
  std::string where;
};

// Checks an absolute path before root reads or writes the file there: every folder from "/"
// down is opened without following links and must be a folder owned by root that no one
// else can change (not writable by group or others, unless sticky like /tmp); the file, when
// present, must be a regular file owned by root and not a link. With create_folders, missing
// folders are made (mode 0700) inside their checked parent, so nothing is created through a
// link. A relative or empty path is unsafe.
PathCheck check_root_path(const std::string& path, bool create_folders);

}  // namespace fennick::ui::identity

// The desktop program's settings: the per-user store of organisation "BrantleSoftware",
// application "Fennick" (an INI file under the XDG config folder, which fennick-cli reads for
// "language"). Every call opens the store, reads or writes one value and closes it again, so
// nothing is cached between calls. Run as root, the store is root's own file
// (run_identity.h), read and written only when no link and nothing of another user's lies on
// its path; otherwise reads give the defaults and a write is logged (on the given channel)
// and left out.
#pragma once

#include <QString>

#include "messages/status_channel.h"

namespace fennick::ui::settings {

// Whether the store exists at all (the program has written some value before).
bool exists();
// An integer value; a missing value, or text that is not a decimal number, gives def.
int read_int(const QString& name, int def);
// A text value; a missing value gives def.
QString read_text(const QString& name, const QString& def);
// Integers are stored as text holding the decimal number.
void write_int(const QString& name, int value, messages::StatusChannel& log);
void write_text(const QString& name, const QString& value, messages::StatusChannel& log);
// Removes the value; a missing store is left missing.
void remove(const QString& name, messages::StatusChannel& log);

}  // namespace fennick::ui::settings

// The maker's addresses behind the Help, Update and link controls, kept in one place.
#pragma once

namespace fennick::ui::links {

// Opened by Help when the manual is not installed beside the program.
inline constexpr const char* online_help = "https://www.brantlesoftware.com/fennick/help/";
// Opened by Update.
inline constexpr const char* download_page = "https://www.brantlesoftware.com/fennick/download/";
// Shown and opened by the web-site label below the drive tree.
inline constexpr const char* web_site = "https://www.brantlesoftware.com/fennick/";
inline constexpr const char* web_site_caption = "www.brantlesoftware.com";
// Shown by the mail label, opened as a new mail.
inline constexpr const char* support_mail = "support@brantlesoftware.com";

// The manual's file name. Help looks for it beside the executable (the build tree, a copy
// unpacked in one folder), then in manual_dir relative to the executable's folder, where the
// Debian package installs it (/usr/bin/fennick, /usr/share/doc/fennick/fennick-help.html).
inline constexpr const char* manual_file = "fennick-help.html";
inline constexpr const char* manual_dir = "../share/doc/fennick";

}  // namespace fennick::ui::links

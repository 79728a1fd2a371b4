// Size, status and preview texts of found files.
#include "workflow/record_text.h"

#include <cctype>
#include <cstdio>

#include "messages/message_catalogue.h"

namespace fennick::workflow {

std::string size_text(std::int64_t size) {
  char text[64];
  if (size >= 1000000) {
    std::snprintf(text, sizeof text, "%.2f Mb", static_cast<double>(size) / 1000000.0);
  } else if (size < 1024) {
    std::snprintf(text, sizeof text, "%lld b", static_cast<long long>(size));
  } else {
    std::snprintf(text, sizeof text, "%.0f Kb", static_cast<double>(size) / 1024.0);
  }
  return text;
}

int status_message(std::int8_t quality) {
  if (quality == catalogue::quality_error) return 43;
  if (quality == catalogue::quality_compressed) return 44;
  if (quality == catalogue::quality_encrypted) return 45;
  if (quality == 0) return 46;
  if (quality >= 1 && quality <= 33) return 47;
  if (quality >= 34 && quality <= 66) return 48;
  if (quality >= 67 && quality <= 99) return 49;
  if (quality == 100) return 50;
  return -1;
}

std::string preview_status_text(const catalogue::FoundFile& record, int language) {
  const std::string_view name = record.name.view();
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == ".JPG" || ext == ".JPEG") return {};
  return "<p align=\"center\">" + messages::get_message(language, 76) + "</p>";
}

}  // namespace fennick::workflow

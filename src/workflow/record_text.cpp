// Size, status and preview texts of found files.
#include "workflow/record_text.h"

#include <cctype>
#include <cstdio>

#include "messages/message_catalogue.h"
#include "messages/message_ids.h"

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
  if (quality == catalogue::quality_error) return messages::quality_error;
  if (quality == catalogue::quality_compressed) return messages::quality_compressed;
  if (quality == catalogue::quality_encrypted) return messages::quality_encrypted;
  if (quality == 0) return messages::quality_overwritten;
  if (quality >= 1 && quality <= 33) return messages::quality_bad;
  if (quality >= 34 && quality <= 66) return messages::quality_middle;
  if (quality >= 67 && quality <= 99) return messages::quality_good;
  if (quality == 100) return messages::quality_very_good;
  return -1;
}

}  // namespace fennick::workflow

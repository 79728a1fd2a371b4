// Texts both front ends show for a found file: its size, its status word and the preview
// pane's status line.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/catalogue.h"

namespace fennick::workflow {

// " b", " Kb" (binary kilo) or " Mb" (decimal mega) text of a size.
std::string size_text(std::int64_t size);

// Message number of the status word of a quality (43 "Error" .. 50 "Very Good"), or -1 for
// a value that has no word.
int status_message(std::int8_t quality);

}  // namespace fennick::workflow

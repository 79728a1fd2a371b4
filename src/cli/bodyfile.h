// The Sleuth Kit's body format for timelines (mactime -b): one line per found file,
// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, times in Unix seconds. Fennick
// fills what it knows (the name as "C:/path/name (deleted)", the record number, the size,
// the modified and created times) and writes 0 for the rest, never a made-up value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace fennick::cli {

std::string bodyfile_line(const catalogue::FoundFile& record);
void print_bodyfile(const std::vector<std::int32_t>& chosen, const catalogue::Catalogue& catalogue,
                    std::FILE* out);

}  // namespace fennick::cli

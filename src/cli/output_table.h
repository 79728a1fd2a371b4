// Rows of named columns printed as an aligned table, tab-separated values or a JSON array.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace fennick::cli {

enum class OutputFormat { table, tsv, json };

struct OutputColumn {
  std::string name;
  bool numeric = false;  // JSON writes the value unquoted
};

struct OutputTable {
  std::vector<OutputColumn> columns;
  std::vector<std::vector<std::string>> rows;
  // Rows made when they are printed, after `rows`: a listing of a whole disk is written
  // without holding every row's texts at once. make_row fills the cells of row i, reusing them.
  std::size_t made_rows = 0;
  std::function<void(std::size_t, std::vector<std::string>&)> make_row;
};

// "table", "tsv" or "json"; false for anything else.
bool parse_output_format(const std::string& text, OutputFormat& format);
// The default: a table on a terminal, tab-separated values otherwise.
OutputFormat default_output_format(std::FILE* out);

void print_table(const OutputTable& table, OutputFormat format, std::FILE* out);

}  // namespace fennick::cli

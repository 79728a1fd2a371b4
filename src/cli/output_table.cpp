// Table, TSV and JSON output of the command line. Every text is escaped (terminal_text.h):
// names and paths come from the volumes. In TSV a tab or line break inside a value becomes
// its escape, so it cannot break the row.
#include "cli/output_table.h"

#include <unistd.h>

#include <algorithm>

#include "cli/terminal_text.h"

namespace fennick::cli {

namespace {

// Display width of escaped text (valid UTF-8): one column per code point (no wide-character
// tables).
std::size_t display_width(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// A number JSON can take as it is: an optional minus and digits.
bool is_integer(const std::string& s) {
  const std::size_t digits = !s.empty() && s[0] == '-' ? 1 : 0;
  if (s.size() == digits) return false;
  return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(digits), s.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Calls visit(cells) for every row: the stored rows, then the made ones.
template <typename Visit>
void for_each_row(const OutputTable& table, Visit visit) {
  for (const auto& row : table.rows) visit(row);
  if (!table.make_row) return;
  std::vector<std::string> cells;
  for (std::size_t i = 0; i < table.made_rows; ++i) {
    table.make_row(i, cells);
    visit(cells);
  }
}

}  // namespace

bool parse_output_format(const std::string& text, OutputFormat& format) {
  if (text == "table")
    format = OutputFormat::table;
  else if (text == "tsv")
    format = OutputFormat::tsv;
  else if (text == "json")
    format = OutputFormat::json;
  else
    return false;
  return true;
}

OutputFormat default_output_format(std::FILE* out) {
  return ::isatty(::fileno(out)) == 1 ? OutputFormat::table : OutputFormat::tsv;
}

void print_table(const OutputTable& table, OutputFormat format, std::FILE* out) {
  // Log lines written so far come before the table, also when both streams share a file.
  std::fflush(stderr);
  const std::size_t n = table.columns.size();
  std::string line;
  if (format == OutputFormat::json) {
    bool first = true;
    std::fputs("[", out);
    for_each_row(table, [&](const std::vector<std::string>& row) {
      line = first ? "\n  {" : ",\n  {";
      first = false;
      for (std::size_t c = 0; c < n && c < row.size(); ++c) {
        const std::string& v = row[c];
        append_json_string(line, table.columns[c].name);
        line += ": ";
        if (table.columns[c].numeric && is_integer(v))
          line += v;
        else
          append_json_string(line, v);
        if (c + 1 < n) line += ", ";
      }
      line += '}';
      std::fwrite(line.data(), 1, line.size(), out);
    });
    std::fputs(first ? "]\n" : "\n]\n", out);
    return;
  }
  if (format == OutputFormat::tsv) {
    line.clear();
    for (std::size_t c = 0; c < n; ++c) {
      append_terminal_text(line, table.columns[c].name);
      line += c + 1 < n ? '\t' : '\n';
    }
    std::fwrite(line.data(), 1, line.size(), out);
    for_each_row(table, [&](const std::vector<std::string>& row) {
      line.clear();
      for (std::size_t c = 0; c < n; ++c) {
        if (c < row.size()) append_terminal_text(line, row[c]);
        line += c + 1 < n ? '\t' : '\n';
      }
      std::fwrite(line.data(), 1, line.size(), out);
    });
    return;
  }
  // The aligned table needs every column's width first: one pass measures, one prints.
  // Widths are those of the escaped texts, which are what the terminal shows.
  std::vector<std::size_t> width(n);
  std::string cell;
  for (std::size_t c = 0; c < n; ++c) {
    width[c] = display_width(terminal_text(table.columns[c].name));
  }
  for_each_row(table, [&](const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < n && c < row.size(); ++c) {
      cell.clear();
      append_terminal_text(cell, row[c]);
      width[c] = std::max(width[c], display_width(cell));
    }
  });
  auto print_row = [&](const std::vector<std::string>& cells) {
    line.clear();
    for (std::size_t c = 0; c < n; ++c) {
      cell.clear();
      if (c < cells.size()) append_terminal_text(cell, cells[c]);
      const std::size_t pad = width[c] - display_width(cell);
      if (table.columns[c].numeric) {
        line.append(pad, ' ');
        line += cell;
      } else {
        line += cell;
        if (c + 1 < n) line.append(pad, ' ');
      }
      if (c + 1 < n) line += "  ";
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
  };
  std::vector<std::string> header;
  for (const auto& col : table.columns) header.push_back(col.name);
  print_row(header);
  for_each_row(table, print_row);
}

}  // namespace fennick::cli

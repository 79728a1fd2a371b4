// Table, TSV and JSON output of the command line.
#include "cli/output_table.h"

#include <unistd.h>

#include <algorithm>

namespace fennick::cli {

namespace {

// Display width of UTF-8 text: one column per character (no wide-character tables).
std::size_t display_width(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Tabs and line breaks inside a value would break the TSV format.
std::string tsv_field(const std::string& s) {
  std::string out = s;
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return out;
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

bool parse_output_format(const std::string& text, OutputFormat& format) {
  if (text == "table") format = OutputFormat::table;
  else if (text == "tsv") format = OutputFormat::tsv;
  else if (text == "json") format = OutputFormat::json;
  else return false;
  return true;
}

OutputFormat default_output_format(std::FILE* out) {
  return ::isatty(::fileno(out)) == 1 ? OutputFormat::table : OutputFormat::tsv;
}

void print_table(const OutputTable& table, OutputFormat format, std::FILE* out) {
  const std::size_t n = table.columns.size();
  if (format == OutputFormat::json) {
    std::fputs("[", out);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      std::fputs(r == 0 ? "\n  {" : ",\n  {", out);
      for (std::size_t c = 0; c < n && c < table.rows[r].size(); ++c) {
        const std::string& v = table.rows[r][c];
        std::string field = json_string(table.columns[c].name) + ": " +
                            (table.columns[c].numeric && !v.empty() ? v : json_string(v));
        if (c + 1 < n) field += ", ";
        std::fputs(field.c_str(), out);
      }
      std::fputs("}", out);
    }
    std::fputs(table.rows.empty() ? "]\n" : "\n]\n", out);
    return;
  }
  if (format == OutputFormat::tsv) {
    for (std::size_t c = 0; c < n; ++c) {
      std::fputs(table.columns[c].name.c_str(), out);
      std::fputc(c + 1 < n ? '\t' : '\n', out);
    }
    for (const auto& row : table.rows) {
      for (std::size_t c = 0; c < n; ++c) {
        std::fputs(c < row.size() ? tsv_field(row[c]).c_str() : "", out);
        std::fputc(c + 1 < n ? '\t' : '\n', out);
      }
    }
    return;
  }
  std::vector<std::size_t> width(n);
  for (std::size_t c = 0; c < n; ++c) width[c] = display_width(table.columns[c].name);
  for (const auto& row : table.rows) {
    for (std::size_t c = 0; c < n && c < row.size(); ++c) {
      width[c] = std::max(width[c], display_width(row[c]));
    }
  }
  auto print_row = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < n; ++c) {
      const std::string cell = c < cells.size() ? cells[c] : std::string();
      const std::string pad(width[c] - display_width(cell), ' ');
      line += table.columns[c].numeric ? pad + cell : cell + (c + 1 < n ? pad : "");
      if (c + 1 < n) line += "  ";
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  };
  std::vector<std::string> header;
  for (const auto& col : table.columns) header.push_back(col.name);
  print_row(header);
  for (const auto& row : table.rows) print_row(row);
}

}  // namespace fennick::cli

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
void append_tsv_field(std::string& line, const std::string& s) {
  for (const char c : s) line += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
}

void append_json_string(std::string& out, const std::string& s) {
  out += '"';
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
  out += '"';
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
        if (table.columns[c].numeric && !v.empty())
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
    for (std::size_t c = 0; c < n; ++c) {
      std::fputs(table.columns[c].name.c_str(), out);
      std::fputc(c + 1 < n ? '\t' : '\n', out);
    }
    for_each_row(table, [&](const std::vector<std::string>& row) {
      line.clear();
      for (std::size_t c = 0; c < n; ++c) {
        if (c < row.size()) append_tsv_field(line, row[c]);
        line += c + 1 < n ? '\t' : '\n';
      }
      std::fwrite(line.data(), 1, line.size(), out);
    });
    return;
  }
  // The aligned table needs every column's width first: one pass measures, one prints.
  std::vector<std::size_t> width(n);
  for (std::size_t c = 0; c < n; ++c) width[c] = display_width(table.columns[c].name);
  for_each_row(table, [&](const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < n && c < row.size(); ++c) {
      width[c] = std::max(width[c], display_width(row[c]));
    }
  });
  auto print_row = [&](const std::vector<std::string>& cells) {
    line.clear();
    for (std::size_t c = 0; c < n; ++c) {
      const std::string empty;
      const std::string& cell = c < cells.size() ? cells[c] : empty;
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

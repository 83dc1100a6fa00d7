#include "host/text/text_table.h"

#include <algorithm>

namespace vask::host {

namespace {

// A UTF-8 continuation byte (not a host number).
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `width` characters of a text, "…" in place of the last when cut.
std::string Cut(const std::string& utf8, size_t width) {
  if (TextWidth(utf8) <= width) return utf8;
  std::string out;
  size_t kept = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (!IsContinuation(utf8[i]) && ++kept == width) break;
    out += utf8[i];
  }
  return out + "…";
}

// A line break or control byte in a cell would break the table's rows.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

}  // namespace

size_t TextWidth(const std::string& utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return !IsContinuation(c); }));
}

std::string TextTable(const std::vector<std::string>& heading,
                      const std::vector<std::vector<std::string>>& rows, size_t maxWidth,
                      const std::string& indent) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back(heading);
  for (const auto& row : rows) cells.push_back(row);
  std::vector<size_t> widths(heading.size(), 0);
  for (auto& row : cells) {
    row.resize(heading.size());
    for (size_t c = 0; c < row.size(); ++c) {
      row[c] = Cut(OneLine(row[c]), maxWidth);
      widths[c] = std::max(widths[c], TextWidth(row[c]));
    }
  }
  std::string out;
  for (size_t r = 0; r < cells.size(); ++r) {
    std::string line = indent;
    for (size_t c = 0; c < cells[r].size(); ++c) {
      line += cells[r][c];
      if (c + 1 < cells[r].size()) line += std::string(widths[c] - TextWidth(cells[r][c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += (r ? "\n" : "") + line;
    if (r == 0) {
      size_t total = 0;
      for (size_t w : widths) total += w + 2;
      out += "\n" + indent + std::string(total > 2 ? total - 2 : 0, '-');
    }
  }
  return out;
}

}  // namespace vask::host

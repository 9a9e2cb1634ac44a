// The --info table's layout; what goes in each cell is the sound-format module's.
#include "cli/sound_check.h"

#include <algorithm>
#include <cstdio>

namespace {

// Columns are counted in characters, not bytes, so names in any script line up.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::string InfoTable(const std::vector<InfoRow>& rows) {
  std::vector<std::vector<std::string>> cells = {
      {"FILE", "FORMAT", "CH", "RATE", "BITS", "ALIGN", "SECONDS", "PROBLEM"}};
  for (const InfoRow& row : rows) {
    const WaveFormat& f = row.format;
    const auto number = [&f](unsigned value) { return f.hasFormat ? std::to_string(value) : "-"; };
    char seconds[32] = "-";
    const double duration = DurationSeconds(f);
    if (duration >= 0) std::snprintf(seconds, sizeof seconds, "%.3f", duration);
    cells.push_back({row.name, f.hasFormat ? FormatName(f) : "-", number(f.channels),
                     number(f.sampleRate), number(f.bitsPerSample), number(f.blockAlign), seconds,
                     row.problem});
  }
  std::vector<std::size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], Width(line[i]));
  }
  std::string table;
  for (const auto& line : cells) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      // Names, formats and problems read from the left; numbers line up on their last digit.
      const bool left = i < 2 || i + 1 == line.size();
      const std::string pad(widths[i] - Width(line[i]), ' ');
      text += (i > 0 ? "  " : "") + (left ? line[i] + pad : pad + line[i]);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    table += text + "\n";
  }
  return table;
}

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

std::string Seconds(const WaveFormat& format) {
  char seconds[32] = "";
  const double duration = DurationSeconds(format);
  if (duration >= 0) std::snprintf(seconds, sizeof seconds, "%.3f", duration);
  return seconds;
}

// The length of the UTF-8 character `text` starts at `at`, 0 when no well-formed one does.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&text](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
  };
  const unsigned lead = byte(at);
  if (lead < 0x80) return 1;
  // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (length == 0 || byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string JsonText(const std::string& text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Length(text, at);
    const auto c = static_cast<unsigned char>(text[at]);
    if (length == 0) {
      json += "\\ufffd";
    } else if (c == '"' || c == '\\') {
      json += std::string("\\") + text[at];
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += text.substr(at, length);
    }
    at += length == 0 ? 1 : length;
  }
  return json + "\"";
}

std::string JsonTextOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonText(text);
}

}  // namespace

std::string InfoTable(const std::vector<InfoRow>& rows, bool compared) {
  std::vector<std::vector<std::string>> cells = {{"FILE", "FORMAT", "CH", "RATE", "BITS", "ALIGN",
                                                  "SECONDS", compared ? "STATUS" : "PROBLEM"}};
  for (const InfoRow& row : rows) {
    const WaveFormat& f = row.format;
    const auto number = [&f](unsigned value) { return f.hasFormat ? std::to_string(value) : "-"; };
    const std::string seconds = Seconds(f);
    cells.push_back({row.name, f.hasFormat ? FormatName(f) : "-", number(f.channels),
                     number(f.sampleRate), number(f.bitsPerSample), number(f.blockAlign),
                     seconds.empty() ? "-" : seconds,
                     compared && row.problem.empty() ? row.status : row.problem});
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

std::string InfoJson(const std::vector<InfoRow>& rows) {
  std::string json = "[";
  for (const InfoRow& row : rows) {
    const WaveFormat& f = row.format;
    const auto number = [&f](unsigned value) {
      return f.hasFormat ? std::to_string(value) : "null";
    };
    const std::int64_t samples = SampleFrames(f);
    const std::string seconds = Seconds(f);
    json += std::string(&row == &rows.front() ? "\n" : ",\n") +
            "  {\"path\": " + JsonText(row.name) + ", \"status\": " + JsonTextOrNull(row.status) +
            ", \"format\": " + (f.hasFormat ? JsonText(FormatName(f)) : "null") +
            ", \"tag\": " + number(f.tag) + ", \"channels\": " + number(f.channels) +
            ", \"rate\": " + number(f.sampleRate) + ", \"bits\": " + number(f.bitsPerSample) +
            ", \"block_align\": " + number(f.blockAlign) +
            ", \"samples\": " + (samples >= 0 ? std::to_string(samples) : "null") +
            ", \"seconds\": " + (seconds.empty() ? "null" : seconds) +
            ", \"problem\": " + JsonTextOrNull(row.problem) + "}";
  }
  return json + (rows.empty() ? "]\n" : "\n]\n");
}

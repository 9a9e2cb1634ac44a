// The texts of the sound checks. A .med is described by what it holds, IMA ADPCM, whatever its
// tag, so that it reads the same beside the .wav about to replace it.
#include "cli/sound_check.h"

#include <algorithm>
#include <cstdio>

#include "convert/sound_rules.h"

namespace {

// "PCM 16-bit 44100 Hz stereo", "IMA ADPCM 22050 Hz mono", with the block size when asked.
std::string Describe(const WaveFormat& format, bool withBlocks) {
  const bool ima = IsImaAdpcmTag(format.tag);
  std::string text = ima               ? "IMA ADPCM"
                     : format.tag == 1 ? "PCM"
                                       : "format " + FormatName(format.tag);
  if (!ima) text += " " + std::to_string(format.bitsPerSample) + "-bit";
  text += " " + std::to_string(format.sampleRate) + " Hz ";
  text += format.channels == 1   ? "mono"
          : format.channels == 2 ? "stereo"
                                 : std::to_string(format.channels) + " channels";
  if (withBlocks) text += ", " + std::to_string(format.blockAlign) + "-byte blocks";
  return text;
}

// Columns are counted in characters, not bytes, so names in any script line up.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::string PlayProblem(const WaveFormat& format, bool isMed) {
  if (format.problem != WaveProblem::None) return ProblemText(format);
  const std::uint16_t wanted = isMed ? kMedFormatTag : kWavFormatTag;
  if (format.tag == wanted) return "";
  if (IsImaAdpcmTag(format.tag))
    return "tag " + std::to_string(format.tag) + ", not " + std::to_string(wanted);
  return "not IMA ADPCM";
}

std::string ReplacementWarning(const std::string& wavName, const WaveFormat& wav,
                               const std::string& medName, const WaveFormat& replaced) {
  const bool comparable = wav.hasFormat && replaced.hasFormat;
  const bool differs =
      comparable && (wav.channels != replaced.channels || wav.sampleRate != replaced.sampleRate ||
                     wav.blockAlign != replaced.blockAlign);
  const std::string problem = PlayProblem(wav, false);
  if (problem.empty() && !differs) return "";
  // Block sizes are named only where they are all that tells two IMA ADPCM files apart.
  const bool withBlocks = comparable && IsImaAdpcmTag(wav.tag) && IsImaAdpcmTag(replaced.tag) &&
                          wav.blockAlign != replaced.blockAlign;
  std::string text = wavName;
  if (wav.hasFormat) text += " is " + Describe(wav, withBlocks);
  // Beside the .med it replaces, a .wav of another format needs no "not IMA ADPCM" of its own.
  const bool saidByComparison = comparable && wav.problem == WaveProblem::None;
  if (!problem.empty() && !saidByComparison) text += (wav.hasFormat ? ", " : ": ") + problem;
  if (comparable) text += "; the " + medName + " it replaces is " + Describe(replaced, withBlocks);
  return text;
}

std::string InfoTable(const std::vector<InfoRow>& rows) {
  std::vector<std::vector<std::string>> cells = {
      {"FILE", "FORMAT", "CH", "RATE", "BITS", "ALIGN", "SECONDS", "PROBLEM"}};
  for (const InfoRow& row : rows) {
    const WaveFormat& f = row.format;
    const auto number = [&f](unsigned value) { return f.hasFormat ? std::to_string(value) : "-"; };
    char seconds[32] = "-";
    const double duration = DurationSeconds(f);
    if (duration >= 0) std::snprintf(seconds, sizeof seconds, "%.3f", duration);
    cells.push_back({row.name, f.hasFormat ? FormatName(f.tag) : "-", number(f.channels),
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

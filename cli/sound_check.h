// What tells a user, before the game does, that a sound will not play: each file's format for
// --info, and the warning when a .wav bound for a .med is not what the .med it replaces was.
#pragma once

#include <string>
#include <vector>

#include "convert/wave_format.h"

// What keeps a file from playing once converted: the reader's problem, a .wav that is not IMA
// ADPCM under tag 17, a .med that is not IMA ADPCM under the game's tag 122; empty for none.
std::string PlayProblem(const WaveFormat& format, bool isMed);

// The warning for `wavName` bound for `medName`, the file `replaced` read from there (Unreadable
// when there is none): empty when the .wav is sound IMA ADPCM and, if the .med could be read,
// of its channel count, sample rate and block align.
std::string ReplacementWarning(const std::string& wavName, const WaveFormat& wav,
                               const std::string& medName, const WaveFormat& replaced);

struct InfoRow {
  std::string name;
  WaveFormat format;
  std::string problem;
};

// The rows under a heading, aligned in columns, one line each ending in '\n'.
std::string InfoTable(const std::vector<InfoRow>& rows);

// The --info table: each file's format and problem, in the words of the sound-format module.
#pragma once

#include <string>
#include <vector>

#include "convert/wave_format.h"

struct InfoRow {
  std::string name;
  WaveFormat format;
  std::string problem;
};

// The rows under a heading, aligned in columns, one line each ending in '\n'.
std::string InfoTable(const std::vector<InfoRow>& rows);

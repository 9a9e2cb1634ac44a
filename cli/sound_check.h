// The --info table and its JSON: each file's format and problem, or its standing beside the .med
// it would replace, in the words of the sound-format module.
#pragma once

#include <string>
#include <vector>

#include "sound/wave.h"

struct InfoRow {
  std::string name;
  WaveFormat format;
  std::string problem;  // why it would not play; empty when it would
  std::string status;   // "new", "unchanged", "fits" or "would not play"; empty when not compared
};

// The rows under a heading, aligned in columns, one line each ending in '\n'; the last column
// is each row's problem, or with `compared` its status, or the problem where there is one.
std::string InfoTable(const std::vector<InfoRow>& rows, bool compared);
// The rows as one JSON array of objects, one line each, with null for each field not known;
// text is taken as UTF-8, and a byte that starts no UTF-8 character stands as U+FFFD.
std::string InfoJson(const std::vector<InfoRow>& rows);

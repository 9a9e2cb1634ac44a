// Re-encodes a sound edited elsewhere into the IMA ADPCM layout of the .med it replaces, laid out
// chunk for chunk like that .med, streamed from one file into the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/file_system.h"

struct FitPlan {
  bool fit = false;     // the .wav is re-encoded; false: it is converted as it is
  std::string refusal;  // with `fit`: why it cannot be, e.g. "GSM 6.10 (0x0031) is not read"
  std::string from;     // the .wav's sound, e.g. "PCM 16-bit 44100 Hz stereo"
  std::string to;       // the .med's, e.g. "IMA ADPCM 22050 Hz mono, 512-byte blocks"
};

// Whether the .wav at `wavPath` is re-encoded to play as the IMA ADPCM .med at `medPath` does:
// when that .med is sound and the .wav differs from it or has a problem of its own.
FitPlan PlanFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath);

struct FitResult {
  std::string error;               // why the output is unusable; empty when it was written
  std::uint64_t bytes = 0;         // written to the output
  std::vector<std::string> notes;  // what the user should know of a written one
};

// Writes into `out`, a new empty file, the sound of the .wav at `wavPath` in the layout of the
// .med at `medPath`: its chunks in its order, its format chunk unchanged, its fact chunk with the
// new length, the new data; the .wav's loop and cue points scaled to the new rate, or else the
// .med's; then the .wav's own other chunks.
FitResult WriteFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath,
                   FileHandle out);

// Fits a sound edited elsewhere to the .med it replaces: its IMA ADPCM data moved into that .med's
// layout where it is in its format already, else decoded and encoded to it; laid out chunk for
// chunk like that .med and streamed from one file into the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/file_system.h"

enum class FitWay {
  None,      // not fitted: the .wav is converted as any file is
  Relayout,  // its data, already the .med's IMA ADPCM, goes into the .med's chunks as it is
  Encode     // its sound is decoded, mixed, resampled and encoded to the .med's IMA ADPCM
};

struct FitPlan {
  FitWay way = FitWay::None;
  std::string refusal;  // with a way: why it cannot be, e.g. "GSM 6.10 (0x0031) is not read"
  std::string from;     // the .wav's sound, e.g. "PCM 16-bit 44100 Hz stereo"
  std::string to;       // the .med's, e.g. "IMA ADPCM 22050 Hz mono, 512-byte blocks"
  // What the fitted .med keeps of a fault of the .wav's, each a warning: its data cut short, a
  // loop or cue point past the new end.
  std::vector<std::string> notes;
};

// How the .wav at `wavPath` is fitted to the .med at `medPath`. A .med that does not play says
// nothing of what the game plays, so nothing is fitted to it. A .wav whose format chunk already
// is the .med's but for the tag is not fitted either: toggling its tag makes that .med.
FitPlan PlanFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath);

struct FitResult {
  std::string error;        // why the output is unusable; empty when it was written
  std::uint64_t bytes = 0;  // written to the output
};

// Writes into `out`, a new empty file, the .wav at `wavPath` fitted `way` to the .med at
// `medPath`: the .med's chunks in its order, its format chunk unchanged, its fact chunk with the
// new length, the new data; the .wav's loop and cue points moved to the new sound, or else the
// .med's; then the .wav's own other chunks.
FitResult WriteFit(FileSystem& fs, FitWay way, const std::string& wavPath,
                   const std::string& medPath, FileHandle out);

// IMA ADPCM's step sizes and its one decoding step, shared by the decoder and the encoder so
// that the encoder predicts exactly what every player will hear.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

constexpr int kImaMaxIndex = 88;
constexpr std::array<std::int16_t, kImaMaxIndex + 1> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kImaIndexMoves = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
  int predictor = 0;
  int index = 0;
};

// The change that a code's three low bits make from a step: the step's eighth plus the halves
// they choose.
constexpr int ImaDifference(int step, int magnitude) {
  int difference = step >> 3;
  if ((magnitude & 4) != 0) difference += step;
  if ((magnitude & 2) != 0) difference += step >> 1;
  if ((magnitude & 1) != 0) difference += step >> 2;
  return difference;
}

// Applies one 4-bit code to `state` and returns the new sample: the difference added or (sign bit
// set) taken away.
constexpr int ImaStep(ImaState& state, int code) {
  const int difference = ImaDifference(kImaSteps[static_cast<std::size_t>(state.index)], code);
  state.predictor =
      std::clamp(state.predictor + ((code & 8) != 0 ? -difference : difference), -32768, 32767);
  state.index =
      std::clamp(state.index + kImaIndexMoves[static_cast<std::size_t>(code & 7)], 0, kImaMaxIndex);
  return state.predictor;
}

// IMA ADPCM: the one rule of its blocks (what a block holds, which sizes and counts a format may
// state), its step sizes and its one decoding step, shared by the checks, the decoder and the
// encoder, so that all three read a block alike and the encoder predicts what every player hears.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

// Samples per channel that a block of `blockAlign` bytes holds: its header's one and eight per
// 4-byte group after it; 0 when `blockAlign` is no whole number of groups for `channels`.
std::uint32_t ImaCapacity(std::uint16_t channels, std::uint32_t blockAlign);
// Samples per channel in the first `bytes` of a block: its header's one and eight per whole
// group; 0 for less than a header.
std::uint64_t ImaSamplesIn(std::uint16_t channels, std::uint64_t bytes);
// Samples per channel a decoder takes from each block: those the format states, else all a
// block holds.
std::uint32_t ImaBlockSamples(std::uint16_t channels, std::uint32_t blockAlign,
                              std::uint32_t statedSamples);
// Samples per channel that a player plays from `bytes` of data in blocks of that layout: each
// whole block's, then what a last, shorter block holds.
std::uint64_t ImaFrames(std::uint16_t channels, std::uint32_t blockAlign,
                        std::uint32_t statedSamples, std::uint64_t bytes);

enum class ImaFault {
  None,
  BlockAlign,     // no whole number of 4-byte groups per channel
  Bits,           // its samples are not 4 bits
  StatedSamples,  // it states more samples per block than a block holds
  TooManySamples  // a block holds more than a 16-bit count can state, and none is stated
};
// What keeps this layout from being IMA ADPCM; `statedSamples` 0 when the format states none.
ImaFault ImaLayoutFault(std::uint16_t channels, std::uint32_t blockAlign, std::uint16_t bits,
                        std::uint32_t statedSamples);
// The layout's fault in words, with the numbers that break the rule; empty when it has none.
std::string ImaFaultText(std::uint16_t channels, std::uint32_t blockAlign, std::uint16_t bits,
                         std::uint32_t statedSamples);

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

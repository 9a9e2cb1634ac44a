// The total bar's value, computed exactly as the 64-bit-significand floating-point formula does.
#pragma once

#include <cstdint>

// trunc(round64(round64(done / total) * 100)), low 32 bits, where round64 rounds to nearest-even
// with a 64-bit significand; results of 2^63 or more give 0, and a total of 0 gives 100.
std::int32_t TotalPercent(std::uint64_t done, std::uint64_t total);

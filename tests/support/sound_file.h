// Sound-file bytes for tests, stated apart from the program's own constants.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes WithTag(Bytes data, std::uint16_t tag) {
  data.at(20) = static_cast<std::uint8_t>(tag & 0xFF);
  data.at(21) = static_cast<std::uint8_t>(tag >> 8);
  return data;
}

// "RIFF", a size, "WAVEfmt ", then bytes counting up from `seed`: no two files look alike.
inline Bytes SoundFile(std::size_t size, std::uint16_t tag, std::uint8_t seed = 1) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) {
    data[i] = static_cast<std::uint8_t>(i < 16 ? "RIFF\x10\0\0\0WAVEfmt "[i] : seed + i * 7);
  }
  return WithTag(data, tag);
}

// The RIFF/WAVE container: its little-endian fields, the one walk over a file's chunks and the
// one way a chunk is written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}
inline std::int16_t S16(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(Le16(bytes));
}
inline std::uint32_t Le32(const std::uint8_t* bytes) {
  return Le16(bytes) | static_cast<std::uint32_t>(Le16(bytes + 2)) << 16;
}
inline void PutLe16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void PutLe32(std::uint8_t* bytes, std::uint32_t value) {
  PutLe16(bytes, static_cast<std::uint16_t>(value));
  PutLe16(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}

inline constexpr std::uint32_t kRiffHeaderBytes = 12;
inline constexpr std::uint32_t kChunkHeaderBytes = 8;
// What a writer that cannot seek back (one writing to a pipe) leaves in a size it never filled.
inline constexpr std::uint32_t kSizeUnset = 0xFFFFFFFF;

// Reads up to `count` bytes at `offset` of one file into `buffer`; returns how many were read.
using ReadAt =
    std::function<std::uint32_t(std::uint64_t offset, void* buffer, std::uint32_t count)>;

struct Chunk {
  std::string id;          // its four characters
  std::uint64_t at = 0;    // its body's offset in the file
  std::uint32_t size = 0;  // as its header says
  std::uint64_t held = 0;  // of its body, the bytes the file holds (a streamed data chunk: all)
  bool unsetSize = false;  // a data size never filled in: the data runs to the end of the RIFF
};

struct RiffWalk {
  bool riffWave = false;    // "RIFF" at 0 and "WAVE" at 8
  bool readFailed = false;  // a header in the file could not be read
  std::uint32_t riffSize = 0;
  std::uint64_t fileSize = 0;
  std::uint64_t riffEnd = 0;  // where the RIFF ends within the file; the file's end when unset
  std::vector<Chunk> chunks;  // those whose headers lie inside the RIFF, in order
  // A format or data chunk found only after the end the RIFF size gives: what is inside the
  // RIFF is what a file holds, but the user learns why the chunk was not taken.
  bool soundChunkBeyond = false;

  // The first chunk of that id inside the RIFF, or null.
  const Chunk* Find(const char* id) const;
};

// The RIFF and data sizes a streaming writer leaves as placeholders.
bool RiffSizeUnset(std::uint32_t riffSize);
bool DataSizeUnset(std::uint32_t riffSize, std::uint32_t dataSize);

// Walks the chunks of a file of `fileSize` bytes to the end of its RIFF (a pad byte after each
// odd-sized chunk), reading only headers and never at an offset outside the file; a real file
// has a handful of chunks, so a walk stops after 256 of them.
RiffWalk WalkRiff(std::uint64_t fileSize, const ReadAt& readAt);

// The 8 bytes that start a chunk of `size` body bytes; an odd size is followed by a pad byte.
std::vector<std::uint8_t> ChunkHeader(const std::string& id, std::uint32_t size);

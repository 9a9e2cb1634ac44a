// What a sound file's RIFF chunks say of its sound, read from the chunk headers alone, and what
// is wrong with the file if anything.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "convert/file_system.h"

enum class WaveProblem {
  None,
  Unreadable,            // the file could not be opened or its header read
  NotRiffWave,           // no "RIFF" at 0 or no "WAVE" at 8
  NoFormatChunk,         // no "fmt " chunk within the RIFF data
  ShortFormatChunk,      // a "fmt " chunk under 16 bytes
  NoDataChunk,           // no "data" chunk within the RIFF data
  DataPastEnd,           // the data chunk's size runs past the end of the file
  RiffPastEnd,           // the RIFF size runs past the end of the file
  ZeroField,             // no channels, no sample rate or no block align
  BlockAlignNotIma,      // IMA ADPCM blocks hold a 4-byte header and 4-byte groups per channel
  BitsNotIma,            // IMA ADPCM samples are 4 bits
  SamplesPerBlockNotIma  // the format's own samples per block do not fit its blocks
};

struct WaveFormat {
  WaveProblem problem = WaveProblem::None;
  bool hasFormat = false;  // the fields of the format chunk below were read
  std::uint16_t tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint32_t byteRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t samplesPerBlock = 0;  // from the format chunk's extension; 0 when it has none
  std::uint32_t dataSize = 0;         // as the data chunk's header says
  std::uint64_t dataInFile = 0;       // of those bytes, how many the file holds
};

// Reads up to `count` bytes at `offset` of one file into `buffer`; returns how many were read.
using ReadAt =
    std::function<std::uint32_t(std::uint64_t offset, void* buffer, std::uint32_t count)>;

// Walks the chunks of a file of `fileSize` bytes, reading only the RIFF header, each chunk's
// header and the format chunk's first 20 bytes, and never at an offset outside the file.
WaveFormat ParseWaveFormat(std::uint64_t fileSize, const ReadAt& readAt);
// ParseWaveFormat on the file at `path`; Unreadable when it cannot be opened.
WaveFormat ReadWaveFormat(FileSystem& fs, const std::string& path);

// True for the tags whose data is IMA ADPCM: the registered one and the game's own.
bool IsImaAdpcmTag(std::uint16_t tag);
// "IMA ADPCM", "game (122)", "PCM", or the tag's number.
std::string FormatName(std::uint16_t tag);
// What is wrong with the file, for the user, with the numbers that break the rule; empty for None.
std::string ProblemText(const WaveFormat& format);
// The sound's length in seconds as a decoder plays it (every whole or partial IMA ADPCM block,
// PCM and others by byte rate), of the data the file holds; negative when it cannot be told.
double DurationSeconds(const WaveFormat& format);

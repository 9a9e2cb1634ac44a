// One sound file as its chunks describe it: the one reading of its format chunk, where its sound
// lies, the names of formats, what keeps it from playing once converted, and the comparison of
// a .wav with the .med it replaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/file_system.h"
#include "convert/sound_rules.h"
#include "sound/riff.h"

inline constexpr std::uint16_t kTagPcm = 0x0001, kTagMsAdpcm = 0x0002, kTagFloat = 0x0003,
                               kTagALaw = 0x0006, kTagMuLaw = 0x0007, kTagExtensible = 0xFFFE;

enum class WaveProblem {
  None,
  Missing,                // no file at the path
  Unreadable,             // the file could not be opened or its header read
  NotRiffWave,            // no "RIFF" at 0 or no "WAVE" at 8
  NoFormatChunk,          // no "fmt " chunk within the RIFF
  ShortFormatChunk,       // a "fmt " chunk under 16 bytes
  NoDataChunk,            // no "data" chunk within the RIFF
  SizesUnfilled,          // a RIFF or data size left at 0 or 0xFFFFFFFF by a streaming writer
  DataPastEnd,            // the data chunk's size runs past the end of the file
  RiffPastEnd,            // the RIFF size runs past the end of the file, beyond a pad byte
  RiffTooSmall,           // the RIFF size ends before the format or data chunk does
  ZeroField,              // no channels, no sample rate or no block align
  BlockAlignNotIma,       // IMA ADPCM blocks hold a 4-byte header and 4-byte groups per channel
  BitsNotIma,             // IMA ADPCM samples are 4 bits
  SamplesPerBlockNotIma,  // the format's own samples per block do not fit its blocks
  BlocksTooLarge,         // blocks hold more samples than a format chunk can state
  FormatNotFirst,         // the converter rewrites byte 20, which only the first chunk's tag is at
  // Of a sound file that the converted copy would not play from:
  WrongTag,    // IMA ADPCM under the other kind's tag, which the conversion turns into a third
  NotImaAdpcm  // a format the game does not play
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
  std::uint32_t samplesPerBlock = 0;  // an ADPCM format's own count; 0 when it states none
  std::uint16_t subFormat = 0;        // an extensible format's registered tag; 0 when it has none
  std::uint32_t channelMask = 0;      // an extensible format's speakers; 0 when it names none
  std::vector<std::int16_t> coefficients;  // MS ADPCM's own predictor pairs, flattened
  bool extensionCut = false;               // its extension says more than the chunk holds
  std::uint32_t riffSize = 0;              // as the RIFF header says
  std::uint64_t fileSize = 0;
  std::uint32_t dataSize = 0;    // as the data chunk's header says
  std::uint64_t dataAt = 0;      // where the data chunk's body starts
  std::uint64_t dataInFile = 0;  // the data bytes the file holds, to its end if the size is unset
  bool hasFact = false;
  std::uint32_t factFrames = 0;  // the sample count a fact chunk states
};

// The most of a format chunk that is read: every real one fits, MS ADPCM's predictor pairs
// included.
inline constexpr std::uint32_t kMaxFormatBytes = 4096;

// Reads a format chunk's `size`-byte body into `format`; false when it is under 16 bytes.
bool ParseFormatChunk(const std::uint8_t* body, std::size_t size, WaveFormat& format);
// The file `walk` walked, read through `readAt`: its format and fact chunks and its problem.
WaveFormat ReadWave(const RiffWalk& walk, const ReadAt& readAt);
// ReadWave on the file at `path`; Missing when no file is there, Unreadable when it cannot be
// opened. What the system said of a failure here is taken: the problem answers it.
WaveFormat ReadWave(FileSystem& fs, const std::string& path);
// Reads `file` by offset through `fs`, as the walk reads; the seam seeks to 32-bit offsets only,
// so what lies beyond 4 GiB reads as nothing.
ReadAt FileReader(FileSystem& fs, FileHandle file);

// True for the tags whose data is IMA ADPCM: the registered one and the game's own.
bool IsImaAdpcmTag(std::uint16_t tag);
// The tag whose data the file holds: an extensible format's sub-format, else its own.
std::uint16_t SoundTag(const WaveFormat& format);
// The format's name with its tag in hex, as "u-law (0x0007)"; an extensible format is named by
// its sub-format.
std::string FormatName(const WaveFormat& format);
// "PCM 16-bit 44100 Hz stereo": the format's name without its tag, its sample size, rate and
// channels.
std::string SoundWords(const WaveFormat& format);
// "mono", "stereo", "6 channels".
std::string ChannelWords(unsigned channels);
// What keeps the file from playing once converted: its own problem, else, as a .med (`isMed`)
// or a .wav, not being IMA ADPCM under that kind's tag.
WaveProblem PlayProblem(const WaveFormat& format, bool isMed);
// What `problem` of `format` is, for the user, with the numbers that break the rule; empty for
// None.
std::string ProblemText(WaveProblem problem, const WaveFormat& format);
// Samples per channel as a player plays them (IMA ADPCM blocks as the format states them; PCM,
// float, A-law and u-law a frame a block), of the data the file holds; negative when the format
// does not tell.
std::int64_t SampleFrames(const WaveFormat& format);
// The sound's length in seconds as a player plays it (by its samples where they are told, else by
// byte rate), of the data the file holds; negative when it cannot be told.
double DurationSeconds(const WaveFormat& format);

enum class MatchVerdict {
  WavBroken,  // the .wav has a problem of its own
  NoMed,      // nothing to compare with
  MedBroken,  // the .med is there but could not be read or has a problem
  Differs,    // see the fields
  Matches
};

// Each way a .wav can fall short of the .med it replaces, one bit each.
enum Mismatch : unsigned {
  kMismatchTag = 1u << 0,          // IMA ADPCM, but still under the game's tag
  kMismatchNotImaAdpcm = 1u << 1,  // not IMA ADPCM at all
  kMismatchChannels = 1u << 2,
  kMismatchSampleRate = 1u << 3,
  kMismatchBlockAlign = 1u << 4,
  kMismatchBitsPerSample = 1u << 5,
  kMismatchSamplesPerBlock = 1u << 6,
};

struct Match {
  MatchVerdict verdict = MatchVerdict::Matches;
  // Mismatch bits: the tag's and IMA ADPCM's whenever the .wav's format was read, the others
  // when the .med's was too.
  unsigned differs = 0;
};

// How the .wav `wav` compares with `med`, read from where its conversion would go.
Match CompareWithMed(const WaveFormat& wav, const WaveFormat& med);
// The warning for `wavName` bound for `medName`, saying what is wrong and, where the two differ,
// what each is; empty when the .wav would play as the .med does (or, with none, at all).
std::string MismatchText(const Match& match, const std::string& wavName, const WaveFormat& wav,
                         const std::string& medName, const WaveFormat& med);

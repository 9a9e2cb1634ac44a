// The chunk walk, the rules a file must keep to play, their words, and the comparison. Every
// offset and size is taken as a 64-bit value and checked against the file before anything is
// read there, so no header, however hostile, leads a read outside the file.
#include "convert/wave_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

// A real file has a handful of chunks before its sound; a file of empty chunks ends the walk
// here instead of costing a read per eight bytes.
constexpr int kMaxChunks = 256;
constexpr std::uint32_t kRiffHeaderBytes = 12;
constexpr std::uint32_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kFormatBytes = 16;  // up to and including bits per sample
// With the extension's size, samples per block (or valid bits) and the extensible format's
// channel mask and the first two bytes of its sub-format.
constexpr std::uint32_t kFormatReadBytes = 26;
constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kExtensibleTag = 0xFFFE;
constexpr std::uint32_t kImaGroupBytes = 4;  // per channel: the block header, then each group
constexpr std::uint32_t kSizeUnset = 0xFFFFFFFF;

struct NamedTag {
  std::uint16_t tag;
  const char* name;
};
constexpr NamedTag kTagNames[] = {{kPcmTag, "PCM"},
                                  {2, "MS ADPCM"},
                                  {3, "IEEE float"},
                                  {6, "A-law"},
                                  {7, "u-law"},
                                  {0x31, "GSM 6.10"},
                                  {0x50, "MPEG"},
                                  {0x55, "MPEG Layer 3"},
                                  {kWavFormatTag, "IMA ADPCM"},
                                  {kMedFormatTag, "game IMA ADPCM"}};

std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(Le16(bytes)) |
         (static_cast<std::uint32_t>(Le16(bytes + 2)) << 16);
}

bool IdIs(const std::uint8_t* bytes, const char* id) {
  return std::memcmp(bytes, id, 4) == 0;
}

// A writer that cannot seek back, as one writing to a pipe, leaves its placeholder in a size.
bool RiffSizeUnset(std::uint32_t riffSize) {
  return riffSize == 0 || riffSize == kSizeUnset;
}

// A data size of 0 is an empty chunk unless the RIFF size around it was never filled in either.
bool DataSizeUnset(std::uint32_t riffSize, std::uint32_t dataSize) {
  return dataSize == kSizeUnset || (dataSize == 0 && RiffSizeUnset(riffSize));
}

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

const char* KnownName(std::uint16_t tag) {
  for (const NamedTag& named : kTagNames) {
    if (named.tag == tag) return named.name;
  }
  return nullptr;
}

// Samples per channel in `bytes` of IMA ADPCM blocks of `format`: the header's sample, then
// eight for each group of 4 bytes per channel.
std::uint64_t ImaSamples(const WaveFormat& format, std::uint64_t bytes) {
  const std::uint64_t groupBytes = std::uint64_t{kImaGroupBytes} * format.channels;
  return bytes < groupBytes ? 0 : (bytes - groupBytes) / groupBytes * 8 + 1;
}

// What a decoder takes from each block: the format's own count, else all that fit.
std::uint64_t ImaSamplesPerBlock(const WaveFormat& format) {
  if (format.samplesPerBlock != 0 || format.channels == 0) return format.samplesPerBlock;
  return ImaSamples(format, format.blockAlign);
}

void ParseFormat(const std::uint8_t* bytes, std::uint32_t got, WaveFormat& format) {
  format.hasFormat = true;
  format.tag = Le16(bytes);
  format.channels = Le16(bytes + 2);
  format.sampleRate = Le32(bytes + 4);
  format.byteRate = Le32(bytes + 8);
  format.blockAlign = Le16(bytes + 12);
  format.bitsPerSample = Le16(bytes + 14);
  const std::uint16_t extension = got >= 18 ? Le16(bytes + 16) : 0;
  if (IsImaAdpcmTag(format.tag) && got >= 20 && extension >= 2)
    format.samplesPerBlock = Le16(bytes + 18);
  // Valid bits and a channel mask come first; the sub-format's first two bytes are its tag.
  if (format.tag == kExtensibleTag && got >= kFormatReadBytes && extension >= 22)
    format.subFormat = Le16(bytes + 24);
}

// The rules IMA ADPCM data must keep for a decoder to read it at all.
WaveProblem ImaProblem(const WaveFormat& format) {
  const std::uint32_t groupBytes = kImaGroupBytes * format.channels;
  // Called with channels and block align known to be non-zero.
  if (format.blockAlign % groupBytes != 0) return WaveProblem::BlockAlignNotIma;
  if (format.bitsPerSample != 4) return WaveProblem::BitsNotIma;
  if (format.samplesPerBlock != 0 &&
      format.samplesPerBlock > ImaSamples(format, format.blockAlign)) {
    return WaveProblem::SamplesPerBlockNotIma;
  }
  return WaveProblem::None;
}

// "PCM (0x0001) 16-bit 44100 Hz stereo", with the block size and samples per block where
// `differs` says they tell two files apart.
std::string Describe(const WaveFormat& format, unsigned differs) {
  std::string text = FormatName(format) + " " + std::to_string(format.bitsPerSample) + "-bit " +
                     std::to_string(format.sampleRate) + " Hz ";
  text += format.channels == 1   ? "mono"
          : format.channels == 2 ? "stereo"
                                 : std::to_string(format.channels) + " channels";
  if ((differs & kFitBlockAlign) != 0)
    text += ", " + std::to_string(format.blockAlign) + "-byte blocks";
  if ((differs & kFitSamplesPerBlock) != 0)
    text += ", " + std::to_string(ImaSamplesPerBlock(format)) + " samples per block";
  return text;
}

}  // namespace

WaveFormat ParseWaveFormat(std::uint64_t fileSize, const ReadAt& readAt) {
  WaveFormat format;
  format.fileSize = fileSize;
  // Every read goes through here: nothing at or past the end of the file is asked for.
  const auto read = [&](std::uint64_t offset, std::uint8_t* buffer, std::uint32_t count) {
    if (offset > fileSize || count > fileSize - offset) return false;
    return readAt(offset, buffer, count) == count;
  };
  std::uint8_t head[kRiffHeaderBytes];
  if (fileSize >= kRiffHeaderBytes && !read(0, head, kRiffHeaderBytes)) {
    format.problem = WaveProblem::Unreadable;
    return format;
  }
  if (fileSize < kRiffHeaderBytes || !IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE")) {
    format.problem = WaveProblem::NotRiffWave;
    return format;
  }
  format.riffSize = Le32(head + 4);
  const std::uint64_t riffEnd = std::uint64_t{8} + format.riffSize;
  // The walk goes to the end of the file, not of the RIFF, so that chunks a too small RIFF size
  // leaves out are found and named as such. 0 for a chunk not seen: no body starts there.
  std::uint64_t formatAt = 0, formatEnd = 0, dataStart = 0;
  bool formatShort = false;
  std::uint64_t offset = kRiffHeaderBytes;
  for (int chunk = 0; chunk < kMaxChunks && (formatAt == 0 || dataStart == 0) &&
                      offset + kChunkHeaderBytes <= fileSize;
       ++chunk) {
    std::uint8_t header[kChunkHeaderBytes];
    if (!read(offset, header, kChunkHeaderBytes)) {
      format.problem = WaveProblem::Unreadable;
      return format;
    }
    const std::uint32_t size = Le32(header + 4);
    const std::uint64_t body = offset + kChunkHeaderBytes;
    std::uint64_t span = size;
    if (IdIs(header, "fmt ") && formatAt == 0) {
      formatAt = offset;
      formatEnd = body + size;
      std::uint8_t bytes[kFormatReadBytes];
      const auto got = static_cast<std::uint32_t>(
          std::min<std::uint64_t>({size, kFormatReadBytes, fileSize - body}));
      formatShort = got < kFormatBytes;
      if (!formatShort && !read(body, bytes, got)) {
        format.problem = WaveProblem::Unreadable;
        return format;
      }
      if (!formatShort) ParseFormat(bytes, got, format);
    } else if (IdIs(header, "data") && dataStart == 0) {
      dataStart = body;
      format.dataSize = size;
      // An unset size leaves the data running to the end of the file, as a decoder reads it.
      if (DataSizeUnset(format.riffSize, size)) span = fileSize - body;
      format.dataInFile = std::min(span, fileSize - body);
    }
    // A chunk of odd size is followed by a pad byte, so the next one starts on an even offset.
    offset = body + span + (span & 1);
  }

  const std::uint64_t dataEnd = dataStart + format.dataSize;
  if (formatAt == 0) {
    format.problem = WaveProblem::NoFormatChunk;
  } else if (formatShort) {
    format.problem = WaveProblem::ShortFormatChunk;
  } else if (dataStart == 0) {
    format.problem = WaveProblem::NoDataChunk;
  } else if (RiffSizeUnset(format.riffSize) || DataSizeUnset(format.riffSize, format.dataSize)) {
    format.problem = WaveProblem::SizesUnfilled;
  } else if (dataEnd > fileSize) {
    format.problem = WaveProblem::DataPastEnd;
  } else if (riffEnd > fileSize + (fileSize & 1)) {
    // The RIFF size may count the pad byte after an odd last chunk that was never written.
    format.problem = WaveProblem::RiffPastEnd;
  } else if (riffEnd < std::max(formatEnd, dataEnd)) {
    format.problem = WaveProblem::RiffTooSmall;
  } else if (format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) {
    format.problem = WaveProblem::ZeroField;
  } else if (IsImaAdpcmTag(format.tag)) {
    format.problem = ImaProblem(format);
  }
  if (format.problem == WaveProblem::None && formatAt != kRiffHeaderBytes)
    format.problem = WaveProblem::FormatNotFirst;
  return format;
}

WaveFormat ReadWaveFormat(FileSystem& fs, const std::string& path) {
  WaveFormat format;
  const FileHandle file = fs.OpenRead(path);
  if (file == kInvalidFile) {
    // A path without wildcards finds the one entry of that name, if any.
    format.problem = fs.FindFiles(path).empty() ? WaveProblem::Missing : WaveProblem::Unreadable;
    // A missing or unreadable file is this answer, not a failure for a later message to explain.
    fs.TakeErrorText();
    return format;
  }
  // The seam seeks to 32-bit offsets only; a chunk beyond 4 GiB reads as nothing.
  const ReadAt readAt = [&fs, file](std::uint64_t offset, void* buffer, std::uint32_t count) {
    if (offset > std::numeric_limits<std::uint32_t>::max() ||
        !fs.SeekSet(file, static_cast<std::uint32_t>(offset))) {
      return std::uint32_t{0};
    }
    return fs.Read(file, buffer, count);
  };
  format = ParseWaveFormat(fs.Size(file), readAt);
  fs.Close(file);
  fs.TakeErrorText();
  return format;
}

bool IsImaAdpcmTag(std::uint16_t tag) {
  return tag == kWavFormatTag || tag == kMedFormatTag;
}

std::string FormatName(const WaveFormat& format) {
  const char* name = KnownName(format.tag);
  if (name != nullptr) return std::string(name) + " (" + Hex(format.tag, 4) + ")";
  if (format.tag != kExtensibleTag) return "unknown (" + Hex(format.tag, 4) + ")";
  const char* sub = KnownName(format.subFormat);
  const std::string subName = format.subFormat == 0 ? ""
                              : sub != nullptr      ? std::string(sub) + " "
                                                    : Hex(format.subFormat, 4) + " ";
  return "extensible " + subName + "(" + Hex(kExtensibleTag, 4) + ")";
}

WaveProblem PlayProblem(const WaveFormat& format, bool isMed) {
  if (format.problem != WaveProblem::None) return format.problem;
  if (!IsImaAdpcmTag(format.tag)) return WaveProblem::NotImaAdpcm;
  return format.tag == (isMed ? kMedFormatTag : kWavFormatTag) ? WaveProblem::None
                                                               : WaveProblem::WrongTag;
}

std::string ProblemText(WaveProblem problem, const WaveFormat& format) {
  const std::string channels =
      std::to_string(format.channels) + (format.channels == 1 ? " channel" : " channels");
  const auto size = [](std::uint32_t value) {
    return value == kSizeUnset ? Hex(value, 8) : std::to_string(value);
  };
  switch (problem) {
    case WaveProblem::None:
      return "";
    case WaveProblem::Missing:
      return "no such file";
    case WaveProblem::Unreadable:
      return "could not be read";
    case WaveProblem::NotRiffWave:
      return "not a RIFF/WAVE file";
    case WaveProblem::NoFormatChunk:
      return "no format chunk";
    case WaveProblem::ShortFormatChunk:
      return "its format chunk is shorter than 16 bytes";
    case WaveProblem::NoDataChunk:
      return "no data chunk";
    case WaveProblem::SizesUnfilled: {
      const bool riff = RiffSizeUnset(format.riffSize);
      const bool data = DataSizeUnset(format.riffSize, format.dataSize);
      const std::string what =
          riff && data ? "the RIFF and data sizes were never filled in (" + size(format.riffSize) +
                             ", " + size(format.dataSize) + ")"
          : riff ? "the RIFF size was never filled in (" + size(format.riffSize) + ")"
                 : "the data size was never filled in (" + size(format.dataSize) + ")";
      return what + ", as a stream leaves them: a decoder reads to the end of the file, which " +
             "holds " + std::to_string(format.dataInFile) + " data bytes";
    }
    case WaveProblem::DataPastEnd:
      return "cut short: " + std::to_string(format.dataInFile) + " of " +
             std::to_string(format.dataSize) + " data bytes";
    case WaveProblem::RiffPastEnd:
      return "cut short: the RIFF size says " + std::to_string(format.riffSize) + " bytes, " +
             std::to_string(format.fileSize - 8) + " follow it";
    case WaveProblem::RiffTooSmall:
      return "the RIFF size says " + std::to_string(format.riffSize) +
             " bytes, fewer than its format and data chunks take";
    case WaveProblem::ZeroField:
      return "the format says " + channels + ", " + std::to_string(format.sampleRate) + " Hz, " +
             std::to_string(format.blockAlign) + "-byte blocks";
    case WaveProblem::BlockAlignNotIma:
      return "block align " + std::to_string(format.blockAlign) + " does not fit IMA ADPCM for " +
             channels;
    case WaveProblem::BitsNotIma:
      return std::to_string(format.bitsPerSample) + " bits per sample, not IMA ADPCM's 4";
    case WaveProblem::SamplesPerBlockNotIma:
      return std::to_string(format.samplesPerBlock) + " samples per block do not fit block align " +
             std::to_string(format.blockAlign);
    case WaveProblem::FormatNotFirst:
      return "its format chunk is not the first chunk, so byte 20 is not its format tag";
    case WaveProblem::WrongTag:
      return format.tag == kMedFormatTag ? "still carries the game's tag 122, not IMA ADPCM's 17"
                                         : "carries IMA ADPCM's tag 17, not the game's 122";
    case WaveProblem::NotImaAdpcm:
      return "not IMA ADPCM";
  }
  return "";
}

std::int64_t SampleFrames(const WaveFormat& format) {
  if (!format.hasFormat || format.channels == 0 || format.blockAlign == 0) return -1;
  if (IsImaAdpcmTag(format.tag) && ImaProblem(format) == WaveProblem::None) {
    const std::uint64_t perBlock = ImaSamplesPerBlock(format);
    const std::uint64_t rest = ImaSamples(format, format.dataInFile % format.blockAlign);
    return static_cast<std::int64_t>(format.dataInFile / format.blockAlign * perBlock +
                                     std::min(rest, perBlock));
  }
  if (format.tag == kPcmTag)
    return static_cast<std::int64_t>(format.dataInFile / format.blockAlign);
  return -1;
}

double DurationSeconds(const WaveFormat& format) {
  if (!format.hasFormat || format.sampleRate == 0 || format.channels == 0 ||
      format.blockAlign == 0) {
    return -1;
  }
  const std::int64_t frames = SampleFrames(format);
  if (frames >= 0) return static_cast<double>(frames) / format.sampleRate;
  if (format.byteRate == 0) return -1;
  return static_cast<double>(format.dataInFile) / format.byteRate;
}

Fit CompareWithMed(const WaveFormat& wav, const WaveFormat& med) {
  Fit fit;
  if (wav.hasFormat && !IsImaAdpcmTag(wav.tag)) fit.differs |= kFitNotImaAdpcm;
  // Converted, a .wav under the game's tag would become a .med under the registered one.
  if (wav.hasFormat && wav.tag == kMedFormatTag) fit.differs |= kFitTag;
  if (wav.hasFormat && med.hasFormat) {
    const auto mark = [&fit](bool differs, FitField field) {
      if (differs) fit.differs |= field;
    };
    mark(wav.channels != med.channels, kFitChannels);
    mark(wav.sampleRate != med.sampleRate, kFitSampleRate);
    mark(wav.blockAlign != med.blockAlign, kFitBlockAlign);
    mark(wav.bitsPerSample != med.bitsPerSample, kFitBitsPerSample);
    mark(IsImaAdpcmTag(wav.tag) && IsImaAdpcmTag(med.tag) &&
             ImaSamplesPerBlock(wav) != ImaSamplesPerBlock(med),
         kFitSamplesPerBlock);
  }
  fit.verdict = wav.problem != WaveProblem::None      ? FitVerdict::WavBroken
                : med.problem == WaveProblem::Missing ? FitVerdict::NoMed
                : med.problem != WaveProblem::None    ? FitVerdict::MedBroken
                : fit.differs != 0                    ? FitVerdict::Differs
                                                      : FitVerdict::Fits;
  return fit;
}

std::string FitText(const Fit& fit, const std::string& wavName, const WaveFormat& wav,
                    const std::string& medName, const WaveFormat& med) {
  if (fit.verdict == FitVerdict::WavBroken) return wavName + ": " + ProblemText(wav.problem, wav);
  if (fit.differs == 0) return "";
  std::vector<std::string> reasons;
  if ((fit.differs & kFitTag) != 0) reasons.push_back(ProblemText(WaveProblem::WrongTag, wav));
  if ((fit.differs & kFitNotImaAdpcm) != 0)
    reasons.push_back(ProblemText(WaveProblem::NotImaAdpcm, wav));
  const std::pair<FitField, const char*> fieldNames[] = {
      {kFitChannels, "channels"},
      {kFitSampleRate, "sample rate"},
      {kFitBlockAlign, "block align"},
      {kFitBitsPerSample, "bits per sample"},
      {kFitSamplesPerBlock, "samples per block"}};
  std::vector<std::string> fields;
  for (const auto& [field, name] : fieldNames) {
    if ((fit.differs & field) != 0) fields.emplace_back(name);
  }
  if (!fields.empty()) {
    std::string list = fields.front();
    for (std::size_t i = 1; i < fields.size(); ++i)
      list += (i + 1 == fields.size() ? " and " : ", ") + fields[i];
    // "its sample rate differs", "its channels differ"
    const bool plural = fields.size() > 1 || (fit.differs & (kFitSampleRate | kFitBlockAlign)) == 0;
    reasons.push_back("its " + list + (plural ? " differ" : " differs") + " from the " + medName +
                      " it replaces, " + Describe(med, fit.differs));
  }
  std::string text = wavName + " is " + Describe(wav, fit.differs) + ": " + reasons.front();
  for (std::size_t i = 1; i < reasons.size(); ++i) text += "; " + reasons[i];
  return text;
}

// The reading of one file's format and layout, the rules it must keep to play, their words, and
// the comparison of a .wav with its .med.
#include "sound/wave.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "sound/ima.h"

namespace {

constexpr std::uint32_t kFormatBytes = 16;  // up to and including bits per sample

struct NamedTag {
  std::uint16_t tag;
  const char* name;
};
constexpr NamedTag kTagNames[] = {{kTagPcm, "PCM"},
                                  {kTagMsAdpcm, "MS ADPCM"},
                                  {kTagFloat, "IEEE float"},
                                  {kTagALaw, "A-law"},
                                  {kTagMuLaw, "u-law"},
                                  {0x31, "GSM 6.10"},
                                  {0x50, "MPEG"},
                                  {0x55, "MPEG Layer 3"},
                                  {kWavFormatTag, "IMA ADPCM"},
                                  {kMedFormatTag, "game IMA ADPCM"}};

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

// The name and the tag in hex apart: "u-law" and "0x0007".
std::pair<std::string, std::string> NameAndTag(const WaveFormat& format) {
  const char* name = KnownName(format.tag);
  if (name != nullptr) return {name, Hex(format.tag, 4)};
  if (format.tag != kTagExtensible) return {"unknown", Hex(format.tag, 4)};
  const char* sub = KnownName(format.subFormat);
  const std::string subName = format.subFormat == 0 ? ""
                              : sub != nullptr      ? std::string(" ") + sub
                                                    : " " + Hex(format.subFormat, 4);
  return {"extensible" + subName, Hex(kTagExtensible, 4)};
}

ImaFault FaultOf(const WaveFormat& format) {
  return ImaLayoutFault(format.channels, format.blockAlign, format.bitsPerSample,
                        format.samplesPerBlock);
}

// `name` and "16-bit 44100 Hz stereo": the sample size, rate and channels.
std::string Words(const std::string& name, const WaveFormat& format) {
  return name + " " + std::to_string(format.bitsPerSample) + "-bit " +
         std::to_string(format.sampleRate) + " Hz " + ChannelWords(format.channels);
}

// "PCM (0x0001) 16-bit 44100 Hz stereo", with the block size and samples per block where
// `differs` says they tell two files apart.
std::string Describe(const WaveFormat& format, unsigned differs) {
  std::string text = Words(FormatName(format), format);
  if ((differs & kMismatchBlockAlign) != 0)
    text += ", " + std::to_string(format.blockAlign) + "-byte blocks";
  if ((differs & kMismatchSamplesPerBlock) != 0) {
    text += ", " +
            std::to_string(
                ImaBlockSamples(format.channels, format.blockAlign, format.samplesPerBlock)) +
            " samples per block";
  }
  return text;
}

}  // namespace

bool ParseFormatChunk(const std::uint8_t* body, std::size_t size, WaveFormat& format) {
  if (size < kFormatBytes) return false;
  format.hasFormat = true;
  format.tag = Le16(body);
  format.channels = Le16(body + 2);
  format.sampleRate = Le32(body + 4);
  format.byteRate = Le32(body + 8);
  format.blockAlign = Le16(body + 12);
  format.bitsPerSample = Le16(body + 14);
  const std::size_t extension = size >= 18 ? Le16(body + 16) : 0;
  format.extensionCut = 18 + extension > std::max<std::size_t>(size, 18);
  const std::size_t held = std::min(extension, size - std::min<std::size_t>(size, 18));
  if ((IsImaAdpcmTag(format.tag) || format.tag == kTagMsAdpcm) && held >= 2)
    format.samplesPerBlock = Le16(body + 18);
  if (format.tag == kTagExtensible && held >= 22) {
    format.channelMask = Le32(body + 20);
    // A sub-format is a registered tag inside a fixed 16-byte identifier; any other identifier
    // names no format this program knows.
    static constexpr std::uint8_t kTail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (std::equal(std::begin(kTail), std::end(kTail), body + 26))
      format.subFormat = Le16(body + 24);
  } else if (format.tag == kTagMsAdpcm && held >= 4) {
    const std::size_t count = Le16(body + 20);
    if (4 + 4 * count > held) {
      format.extensionCut = true;
    } else {
      for (std::size_t i = 0; i < 2 * count; ++i)
        format.coefficients.push_back(S16(body + 22 + 2 * i));
    }
  }
  return true;
}

ReadAt FileReader(FileSystem& fs, FileHandle file) {
  return [&fs, file](std::uint64_t offset, void* buffer, std::uint32_t count) {
    if (offset > std::numeric_limits<std::uint32_t>::max() ||
        !fs.SeekSet(file, static_cast<std::uint32_t>(offset))) {
      return std::uint32_t{0};
    }
    std::uint32_t done = 0;
    while (done < count) {
      const std::uint32_t got =
          fs.Read(file, static_cast<std::uint8_t*>(buffer) + done, count - done);
      if (got == 0) break;
      done += got;
    }
    return done;
  };
}

WaveFormat ReadWave(const RiffWalk& walk, const ReadAt& readAt) {
  WaveFormat format;
  format.fileSize = walk.fileSize;
  format.riffSize = walk.riffSize;
  const auto problem = [&format](WaveProblem found) {
    format.problem = found;
    return format;
  };
  if (!walk.riffWave)
    return problem(walk.readFailed ? WaveProblem::Unreadable : WaveProblem::NotRiffWave);
  const Chunk* fmt = walk.Find("fmt ");
  const Chunk* data = walk.Find("data");
  const Chunk* fact = walk.Find("fact");
  bool formatShort = false;
  if (fmt != nullptr) {
    std::vector<std::uint8_t> body(std::min<std::uint64_t>(fmt->held, kMaxFormatBytes));
    const auto size = static_cast<std::uint32_t>(body.size());
    if (size >= kFormatBytes && readAt(fmt->at, body.data(), size) != size)
      return problem(WaveProblem::Unreadable);
    formatShort = !ParseFormatChunk(body.data(), body.size(), format);
  }
  std::uint8_t count[4];
  if (fact != nullptr && fact->held >= 4 && readAt(fact->at, count, 4) == 4) {
    format.hasFact = true;
    format.factFrames = Le32(count);
  }
  if (data != nullptr) {
    format.dataSize = data->size;
    format.dataAt = data->at;
    format.dataInFile = data->held;
  }
  if (walk.readFailed) return problem(WaveProblem::Unreadable);
  const std::uint64_t riffEnd = std::uint64_t{8} + walk.riffSize;
  const std::uint64_t dataEnd = data != nullptr ? data->at + data->size : 0;
  const std::uint64_t formatEnd = fmt != nullptr ? fmt->at + fmt->size : 0;
  if (fmt == nullptr) {
    format.problem = walk.soundChunkBeyond ? WaveProblem::RiffTooSmall : WaveProblem::NoFormatChunk;
  } else if (formatShort) {
    format.problem = WaveProblem::ShortFormatChunk;
  } else if (data == nullptr) {
    format.problem = walk.soundChunkBeyond ? WaveProblem::RiffTooSmall : WaveProblem::NoDataChunk;
  } else if (RiffSizeUnset(walk.riffSize) || data->unsetSize) {
    format.problem = WaveProblem::SizesUnfilled;
  } else if (dataEnd > walk.fileSize) {
    format.problem = WaveProblem::DataPastEnd;
  } else if (riffEnd > walk.fileSize + (walk.fileSize & 1)) {
    // The RIFF size may count the pad byte after an odd last chunk that was never written.
    format.problem = WaveProblem::RiffPastEnd;
  } else if (riffEnd < std::max(formatEnd, dataEnd)) {
    format.problem = WaveProblem::RiffTooSmall;
  } else if (format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) {
    format.problem = WaveProblem::ZeroField;
  } else if (IsImaAdpcmTag(format.tag)) {
    constexpr WaveProblem kByFault[] = {WaveProblem::None, WaveProblem::BlockAlignNotIma,
                                        WaveProblem::BitsNotIma, WaveProblem::SamplesPerBlockNotIma,
                                        WaveProblem::BlocksTooLarge};
    format.problem = kByFault[static_cast<int>(FaultOf(format))];
  }
  if (format.problem == WaveProblem::None && fmt->at != kFormatTagOffset)
    format.problem = WaveProblem::FormatNotFirst;
  return format;
}

WaveFormat ReadWave(FileSystem& fs, const std::string& path) {
  WaveFormat format;
  const FileHandle file = fs.OpenRead(path);
  if (file == kInvalidFile) {
    format.problem =
        fs.KindOfPath(path) == PathKind::Missing ? WaveProblem::Missing : WaveProblem::Unreadable;
    // A missing or unreadable file is this answer, not a failure for a later message to explain.
    fs.TakeErrorText();
    return format;
  }
  const ReadAt readAt = FileReader(fs, file);
  format = ReadWave(WalkRiff(fs.Size(file), readAt), readAt);
  fs.Close(file);
  fs.TakeErrorText();
  return format;
}

bool IsImaAdpcmTag(std::uint16_t tag) {
  return tag == kWavFormatTag || tag == kMedFormatTag;
}

std::uint16_t SoundTag(const WaveFormat& format) {
  return format.tag == kTagExtensible && format.subFormat != 0 ? format.subFormat : format.tag;
}

std::string FormatName(const WaveFormat& format) {
  const auto [name, tag] = NameAndTag(format);
  return name + " (" + tag + ")";
}

std::string SoundWords(const WaveFormat& format) {
  return Words(NameAndTag(format).first, format);
}

std::string ChannelWords(unsigned channels) {
  return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
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
    case WaveProblem::BitsNotIma:
    case WaveProblem::SamplesPerBlockNotIma:
    case WaveProblem::BlocksTooLarge:
      return ImaFaultText(format.channels, format.blockAlign, format.bitsPerSample,
                          format.samplesPerBlock);
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
  if (IsImaAdpcmTag(format.tag) && FaultOf(format) == ImaFault::None) {
    return static_cast<std::int64_t>(
        ImaFrames(format.channels, format.blockAlign, format.samplesPerBlock, format.dataInFile));
  }
  const std::uint16_t tag = SoundTag(format);
  if (tag == kTagPcm || tag == kTagFloat || tag == kTagALaw || tag == kTagMuLaw)
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

Match CompareWithMed(const WaveFormat& wav, const WaveFormat& med) {
  Match match;
  if (wav.hasFormat && !IsImaAdpcmTag(wav.tag)) match.differs |= kMismatchNotImaAdpcm;
  // Converted, a .wav under the game's tag would become a .med under the registered one.
  if (wav.hasFormat && wav.tag == kMedFormatTag) match.differs |= kMismatchTag;
  if (wav.hasFormat && med.hasFormat) {
    const auto mark = [&match](bool differs, Mismatch field) {
      if (differs) match.differs |= field;
    };
    mark(wav.channels != med.channels, kMismatchChannels);
    mark(wav.sampleRate != med.sampleRate, kMismatchSampleRate);
    mark(wav.blockAlign != med.blockAlign, kMismatchBlockAlign);
    mark(wav.bitsPerSample != med.bitsPerSample, kMismatchBitsPerSample);
    mark(IsImaAdpcmTag(wav.tag) && IsImaAdpcmTag(med.tag) &&
             ImaBlockSamples(wav.channels, wav.blockAlign, wav.samplesPerBlock) !=
                 ImaBlockSamples(med.channels, med.blockAlign, med.samplesPerBlock),
         kMismatchSamplesPerBlock);
  }
  match.verdict = wav.problem != WaveProblem::None      ? MatchVerdict::WavBroken
                  : med.problem == WaveProblem::Missing ? MatchVerdict::NoMed
                  : med.problem != WaveProblem::None    ? MatchVerdict::MedBroken
                  : match.differs != 0                  ? MatchVerdict::Differs
                                                        : MatchVerdict::Matches;
  return match;
}

std::string MismatchText(const Match& match, const std::string& wavName, const WaveFormat& wav,
                         const std::string& medName, const WaveFormat& med) {
  if (match.verdict == MatchVerdict::WavBroken)
    return wavName + ": " + ProblemText(wav.problem, wav);
  if (match.differs == 0) return "";
  std::vector<std::string> reasons;
  if ((match.differs & kMismatchTag) != 0)
    reasons.push_back(ProblemText(WaveProblem::WrongTag, wav));
  if ((match.differs & kMismatchNotImaAdpcm) != 0)
    reasons.push_back(ProblemText(WaveProblem::NotImaAdpcm, wav));
  const std::pair<Mismatch, const char*> fieldNames[] = {
      {kMismatchChannels, "channels"},
      {kMismatchSampleRate, "sample rate"},
      {kMismatchBlockAlign, "block align"},
      {kMismatchBitsPerSample, "bits per sample"},
      {kMismatchSamplesPerBlock, "samples per block"}};
  std::vector<std::string> fields;
  for (const auto& [field, name] : fieldNames) {
    if ((match.differs & field) != 0) fields.emplace_back(name);
  }
  if (!fields.empty()) {
    std::string list = fields.front();
    for (std::size_t i = 1; i < fields.size(); ++i)
      list += (i + 1 == fields.size() ? " and " : ", ") + fields[i];
    // "its sample rate differs", "its channels differ"
    const bool plural =
        fields.size() > 1 || (match.differs & (kMismatchSampleRate | kMismatchBlockAlign)) == 0;
    reasons.push_back("its " + list + (plural ? " differ" : " differs") + " from the " + medName +
                      " it replaces, " + Describe(med, match.differs));
  }
  std::string text = wavName + " is " + Describe(wav, match.differs) + ": " + reasons.front();
  for (std::size_t i = 1; i < reasons.size(); ++i) text += "; " + reasons[i];
  return text;
}

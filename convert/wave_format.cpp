// The chunk walk. Every offset and size is taken as a 64-bit value and checked against the file
// before anything is read there, so no header, however hostile, leads a read outside the file.
#include "convert/wave_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "convert/sound_rules.h"

namespace {

// A real file has a handful of chunks before its sound; a file of empty chunks ends the walk
// here instead of costing a read per eight bytes.
constexpr int kMaxChunks = 256;
constexpr std::uint32_t kRiffHeaderBytes = 12;
constexpr std::uint32_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kFormatBytes = 16;          // up to and including bits per sample
constexpr std::uint32_t kFormatExtendedBytes = 20;  // with the extension's size, samples per block
constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint32_t kImaGroupBytes = 4;  // per channel: the block header, then each group

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

// Samples per channel in `bytes` of IMA ADPCM blocks of `format`: the header's sample, then
// eight for each group of 4 bytes per channel.
std::uint64_t ImaSamples(const WaveFormat& format, std::uint64_t bytes) {
  const std::uint64_t groupBytes = std::uint64_t{kImaGroupBytes} * format.channels;
  return bytes < groupBytes ? 0 : (bytes - groupBytes) / groupBytes * 8 + 1;
}

void ParseFormat(const std::uint8_t* bytes, std::uint32_t got, WaveFormat& format) {
  format.hasFormat = true;
  format.tag = Le16(bytes);
  format.channels = Le16(bytes + 2);
  format.sampleRate = Le32(bytes + 4);
  format.byteRate = Le32(bytes + 8);
  format.blockAlign = Le16(bytes + 12);
  format.bitsPerSample = Le16(bytes + 14);
  if (got >= kFormatExtendedBytes && Le16(bytes + 16) >= 2)
    format.samplesPerBlock = Le16(bytes + 18);
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

}  // namespace

WaveFormat ParseWaveFormat(std::uint64_t fileSize, const ReadAt& readAt) {
  WaveFormat format;
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
  const std::uint64_t riffEnd = std::uint64_t{8} + Le32(head + 4);
  // Chunks past the RIFF's own end are not its; a file cut short ends the walk sooner.
  const std::uint64_t limit = std::min(riffEnd, fileSize);
  bool formatSeen = false, formatShort = false, dataSeen = false;
  std::uint64_t dataStart = 0;
  std::uint64_t offset = kRiffHeaderBytes;
  for (int chunk = 0;
       chunk < kMaxChunks && !(formatSeen && dataSeen) && offset + kChunkHeaderBytes <= limit;
       ++chunk) {
    std::uint8_t header[kChunkHeaderBytes];
    if (!read(offset, header, kChunkHeaderBytes)) {
      format.problem = WaveProblem::Unreadable;
      return format;
    }
    const std::uint32_t size = Le32(header + 4);
    const std::uint64_t body = offset + kChunkHeaderBytes;
    if (IdIs(header, "fmt ") && !formatSeen) {
      formatSeen = true;
      std::uint8_t bytes[kFormatExtendedBytes];
      const auto got = static_cast<std::uint32_t>(
          std::min<std::uint64_t>({size, kFormatExtendedBytes, fileSize - body}));
      formatShort = got < kFormatBytes;
      if (!formatShort && !read(body, bytes, got)) {
        format.problem = WaveProblem::Unreadable;
        return format;
      }
      if (!formatShort) ParseFormat(bytes, got, format);
    } else if (IdIs(header, "data") && !dataSeen) {
      dataSeen = true;
      dataStart = body;
      format.dataSize = size;
      format.dataInFile = std::min<std::uint64_t>(size, fileSize - body);
    }
    // A chunk of odd size is followed by a pad byte, so the next one starts on an even offset.
    offset = body + size + (size & 1);
  }

  if (!formatSeen) {
    format.problem = WaveProblem::NoFormatChunk;
  } else if (formatShort) {
    format.problem = WaveProblem::ShortFormatChunk;
  } else if (!dataSeen) {
    format.problem = WaveProblem::NoDataChunk;
  } else if (dataStart + format.dataSize > fileSize) {
    format.problem = WaveProblem::DataPastEnd;
  } else if (riffEnd > fileSize + (fileSize & 1)) {
    // The RIFF size may count the pad byte after an odd last chunk that was never written.
    format.problem = WaveProblem::RiffPastEnd;
  } else if (format.channels == 0 || format.sampleRate == 0 || format.blockAlign == 0) {
    format.problem = WaveProblem::ZeroField;
  } else if (IsImaAdpcmTag(format.tag)) {
    format.problem = ImaProblem(format);
  }
  return format;
}

WaveFormat ReadWaveFormat(FileSystem& fs, const std::string& path) {
  const FileHandle file = fs.OpenRead(path);
  if (file == kInvalidFile) {
    WaveFormat format;
    format.problem = WaveProblem::Unreadable;
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
  const WaveFormat format = ParseWaveFormat(fs.Size(file), readAt);
  fs.Close(file);
  return format;
}

bool IsImaAdpcmTag(std::uint16_t tag) {
  return tag == kWavFormatTag || tag == kMedFormatTag;
}

std::string FormatName(std::uint16_t tag) {
  if (tag == kWavFormatTag) return "IMA ADPCM";
  if (tag == kMedFormatTag) return "game (122)";
  if (tag == kPcmTag) return "PCM";
  return std::to_string(tag);
}

std::string ProblemText(const WaveFormat& format) {
  const std::string channels =
      std::to_string(format.channels) + (format.channels == 1 ? " channel" : " channels");
  switch (format.problem) {
    case WaveProblem::None:
      return "";
    case WaveProblem::Unreadable:
      return "could not be read";
    case WaveProblem::NotRiffWave:
      return "not a RIFF/WAVE file";
    case WaveProblem::NoFormatChunk:
      return "no format chunk";
    case WaveProblem::ShortFormatChunk:
      return "format chunk too short";
    case WaveProblem::NoDataChunk:
      return "no data chunk";
    case WaveProblem::DataPastEnd:
      return "cut short: " + std::to_string(format.dataInFile) + " of " +
             std::to_string(format.dataSize) + " data bytes";
    case WaveProblem::RiffPastEnd:
      return "cut short: the RIFF size runs past the end of the file";
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
  }
  return "";
}

double DurationSeconds(const WaveFormat& format) {
  if (!format.hasFormat || format.sampleRate == 0 || format.channels == 0 ||
      format.blockAlign == 0) {
    return -1;
  }
  const auto seconds = [&format](std::uint64_t samples) {
    return static_cast<double>(samples) / format.sampleRate;
  };
  if (IsImaAdpcmTag(format.tag) && ImaProblem(format) == WaveProblem::None) {
    const std::uint64_t full = ImaSamples(format, format.blockAlign);
    const std::uint64_t perBlock = format.samplesPerBlock != 0 ? format.samplesPerBlock : full;
    const std::uint64_t rest = ImaSamples(format, format.dataInFile % format.blockAlign);
    return seconds(format.dataInFile / format.blockAlign * perBlock + std::min(rest, perBlock));
  }
  if (format.tag == kPcmTag) return seconds(format.dataInFile / format.blockAlign);
  if (format.byteRate == 0) return -1;
  return static_cast<double>(format.dataInFile) / format.byteRate;
}

// The decoders of PCM, float, A-law, u-law, IMA ADPCM and MS ADPCM data, block by block.
#include "convert/sound_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "convert/ima_tables.h"
#include "convert/wave_format.h"

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::int16_t S16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(Le16(p));
}
std::uint32_t Le32(const std::uint8_t* p) {
  return Le16(p) | static_cast<std::uint32_t>(Le16(p + 2)) << 16;
}

float FromInt16(int value) {
  return static_cast<float>(value) / 32768.0F;
}

// G.711's expansions to 16-bit samples.
int FromMuLaw(std::uint8_t code) {
  const int u = ~code & 0xFF;
  const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return (u & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84;
}
int FromALaw(std::uint8_t code) {
  const int a = code ^ 0x55;
  const int segment = (a & 0x70) >> 4;
  int magnitude = (a & 0x0F) << 4;
  magnitude += segment == 0 ? 8 : 0x108;
  if (segment > 1) magnitude <<= segment - 1;
  return (a & 0x80) != 0 ? magnitude : -magnitude;
}

// The seven predictor pairs every MS ADPCM file may use when its format chunk lists none.
constexpr std::array<std::int16_t, 14> kMsStandardPairs = {256, 0,   512, -256, 0,    0,   192,
                                                           64,  240, 0,   460,  -208, 392, -232};
constexpr std::array<int, 16> kMsAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                               768, 614, 512, 409, 307, 230, 230, 230};

enum class Kind { Pcm, Float, ALaw, MuLaw, Ima, MsAdpcm };

// Holds the bytes of at most one unfinished block (for PCM, one frame) between feeds.
class BlockDecoder final : public SoundDecoder {
 public:
  BlockDecoder(Kind kind, const SoundFormat& format, std::size_t unit)
      : kind_(kind),
        channels_(format.channels),
        bytes_(format.bitsPerSample / 8),
        unit_(unit),
        pairs_(format.coefficients.empty()
                   ? std::vector<std::int16_t>(kMsStandardPairs.begin(), kMsStandardPairs.end())
                   : format.coefficients) {}

  void Feed(const std::uint8_t* data, std::size_t size, std::vector<float>& frames) override {
    while (size > 0) {
      if (held_.empty() && size >= unit_) {
        const std::size_t whole = size / unit_ * unit_;
        for (std::size_t at = 0; at < whole; at += unit_) Decode(data + at, unit_, frames);
        data += whole;
        size -= whole;
        continue;
      }
      const std::size_t take = std::min(unit_ - held_.size(), size);
      held_.insert(held_.end(), data, data + take);
      data += take;
      size -= take;
      if (held_.size() == unit_) {
        Decode(held_.data(), unit_, frames);
        held_.clear();
      }
    }
  }

  bool Finish(std::vector<float>& frames) override {
    if (held_.empty()) return true;
    Decode(held_.data(), held_.size(), frames);
    held_.clear();
    return false;
  }

 private:
  // Decodes one unit, or as much of a cut one as makes whole frames.
  void Decode(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    if (kind_ == Kind::Ima) return DecodeIma(p, size, out);
    if (kind_ == Kind::MsAdpcm) return DecodeMsAdpcm(p, size, out);
    if (size < unit_) return;
    for (std::size_t c = 0; c < channels_; ++c, p += bytes_) out.push_back(Sample(p));
  }

  float Sample(const std::uint8_t* p) const {
    switch (kind_) {
      case Kind::ALaw:
        return FromInt16(FromALaw(*p));
      case Kind::MuLaw:
        return FromInt16(FromMuLaw(*p));
      case Kind::Float: {
        double value = 0;
        if (bytes_ == 4) {
          float single = 0;
          std::memcpy(&single, p, 4);
          value = single;
        } else {
          std::memcpy(&value, p, 8);
        }
        // A double beyond a float's range would come out infinite.
        constexpr double kMost = std::numeric_limits<float>::max();
        return std::isfinite(value) ? static_cast<float>(std::clamp(value, -kMost, kMost)) : 0.0F;
      }
      default:
        break;
    }
    switch (bytes_) {
      case 1:
        return static_cast<float>(*p - 128) / 128.0F;
      case 2:
        return FromInt16(S16(p));
      case 3: {  // shifted to the top of a 32-bit word, which carries the sign
        const std::uint32_t word =
            static_cast<std::uint32_t>(Le16(p)) << 8 | static_cast<std::uint32_t>(p[2]) << 24;
        return static_cast<float>(static_cast<std::int32_t>(word)) / 2147483648.0F;
      }
      default:
        return static_cast<float>(static_cast<std::int32_t>(Le32(p))) / 2147483648.0F;
    }
  }

  // Per channel a header (first sample, step index, a reserved byte), then groups of four bytes
  // per channel, eight samples each, low nibble first.
  void DecodeIma(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    const std::size_t header = 4 * channels_;
    if (header == 0 || size < header) return;  // MakeDecoder refuses no channels
    std::vector<ImaState> states(channels_);
    for (std::size_t c = 0; c < channels_; ++c) {
      states[c] = {S16(p + 4 * c), std::min<int>(p[4 * c + 2], kImaMaxIndex)};
      out.push_back(FromInt16(states[c].predictor));
    }
    const std::size_t groups = (size - header) / header;
    std::vector<float> group(8 * channels_);
    for (std::size_t g = 0; g < groups; ++g) {
      const std::uint8_t* bytes = p + header * (g + 1);
      for (std::size_t c = 0; c < channels_; ++c) {
        for (std::size_t i = 0; i < 8; ++i) {
          const int nibble = bytes[4 * c + i / 2] >> (i % 2 * 4) & 0x0F;
          group[i * channels_ + c] = FromInt16(ImaStep(states[c], nibble));
        }
      }
      out.insert(out.end(), group.begin(), group.end());
    }
  }

  // Per channel a predictor pair's number, the step and the two latest samples (older one
  // played first), then a nibble per sample, high nibble first, channels taking turns.
  void DecodeMsAdpcm(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    const std::size_t ch = channels_;
    if (ch == 0 || size < 7 * ch) return;
    struct State {
      int coef1, coef2, delta, sample1, sample2;
    };
    std::vector<State> states(ch);
    const std::size_t pairCount = pairs_.size() / 2;
    for (std::size_t c = 0; c < ch; ++c) {
      const std::size_t pair = std::min<std::size_t>(p[c], pairCount - 1);
      states[c] = {pairs_[2 * pair], pairs_[2 * pair + 1], S16(p + ch + 2 * c),
                   S16(p + 3 * ch + 2 * c), S16(p + 5 * ch + 2 * c)};
    }
    for (const State& s : states) out.push_back(FromInt16(s.sample2));
    for (const State& s : states) out.push_back(FromInt16(s.sample1));
    const std::size_t nibbles = (size - 7 * ch) * 2 / ch * ch;
    for (std::size_t k = 0; k < nibbles; ++k) {
      const int code = p[7 * ch + k / 2] >> (k % 2 == 0 ? 4 : 0) & 0x0F;
      State& s = states[k % ch];
      const int predicted = (s.sample1 * s.coef1 + s.sample2 * s.coef2) / 256;
      const int sample =
          std::clamp(predicted + (code >= 8 ? code - 16 : code) * s.delta, -32768, 32767);
      s.sample2 = s.sample1;
      s.sample1 = sample;
      // Hostile data can grow the step without end; far past full scale it changes nothing.
      s.delta = std::clamp(kMsAdaptation[static_cast<std::size_t>(code)] * s.delta / 256, 16,
                           1 << 20);
      out.push_back(FromInt16(sample));
    }
  }

  Kind kind_;
  std::size_t channels_, bytes_, unit_;
  std::vector<std::int16_t> pairs_;
  std::vector<std::uint8_t> held_;
};

std::string Hex(std::uint16_t tag) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%04X", tag);
  return text.data();
}

}  // namespace

bool ParseFormatChunk(const std::uint8_t* body, std::size_t size, SoundFormat& format) {
  if (size < 16) return false;
  format =
      SoundFormat{Le16(body), Le16(body + 2), Le32(body + 4), Le16(body + 12), Le16(body + 14), {}};
  const std::size_t extension = size >= 18 ? Le16(body + 16) : 0;
  if (size >= 18 && 18 + extension > size) return false;
  if (format.tag == kTagExtensible && extension >= 22) {
    // A sub-format is a registered tag inside a fixed 16-byte identifier.
    static constexpr std::array<std::uint8_t, 12> kTail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                           0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (Le16(body + 26) == 0 && std::equal(kTail.begin(), kTail.end(), body + 28))
      format.tag = Le16(body + 24);
  } else if (format.tag == kTagMsAdpcm && extension >= 4) {
    const std::size_t count = Le16(body + 20);
    if (4 + 4 * count > extension) return false;
    for (std::size_t i = 0; i < 2 * count; ++i)
      format.coefficients.push_back(S16(body + 22 + 2 * i));
  }
  return true;
}

std::string TagText(std::uint16_t tag) {
  static const std::vector<std::pair<std::uint16_t, const char*>> kNames = {
      {kTagPcm, "PCM"},          {kTagMsAdpcm, "MS ADPCM"},
      {kTagFloat, "IEEE float"}, {kTagALaw, "A-law"},
      {kTagMuLaw, "u-law"},      {kTagIma, "IMA ADPCM"},
      {0x0031, "GSM 6.10"},      {0x0040, "G.721 ADPCM"},
      {0x0050, "MPEG audio"},    {0x0055, "MPEG Layer 3"},
      {0x0092, "AC-3"},          {0x00FF, "AAC"},
      {0x0161, "Windows Media"}, {kTagExtensible, "extensible"}};
  for (const auto& [known, name] : kNames)
    if (known == tag) return std::string(name) + " (" + Hex(tag) + ")";
  return "format " + Hex(tag);
}

std::unique_ptr<SoundDecoder> MakeDecoder(const SoundFormat& format, std::string& refusal) {
  const std::size_t ch = format.channels, bits = format.bitsPerSample, align = format.blockAlign;
  const std::string name = TagText(format.tag);
  if (ch == 0 || format.sampleRate == 0) {
    refusal = name + " with no channels or no sample rate is not read";
    return nullptr;
  }
  Kind kind = Kind::Pcm;
  std::size_t unit = ch * (bits / 8);
  bool bitsFit = false;
  if (format.tag == kTagPcm) {
    bitsFit = bits == 8 || bits == 16 || bits == 24 || bits == 32;
  } else if (format.tag == kTagFloat) {
    kind = Kind::Float;
    bitsFit = bits == 32 || bits == 64;
  } else if (format.tag == kTagALaw || format.tag == kTagMuLaw) {
    kind = format.tag == kTagALaw ? Kind::ALaw : Kind::MuLaw;
    bitsFit = bits == 8;
  } else if (IsImaAdpcmTag(format.tag)) {
    kind = Kind::Ima;
    unit = align;
    bitsFit = bits == 4;
    if (bitsFit && (align < 4 * ch || align % (4 * ch) != 0)) {
      refusal = name + " blocks of " + std::to_string(align) + " bytes do not hold " +
                std::to_string(ch) + " channels";
      return nullptr;
    }
  } else if (format.tag == kTagMsAdpcm) {
    kind = Kind::MsAdpcm;
    unit = align;
    bitsFit = bits == 4;
    if (bitsFit && (ch > 2 || align < 7 * ch)) {
      refusal = name + " blocks of " + std::to_string(align) + " bytes do not hold " +
                std::to_string(ch) + " channels";
      return nullptr;
    }
  } else {
    refusal = name + " is not read";
    return nullptr;
  }
  if (!bitsFit) {
    refusal = name + " of " + std::to_string(bits) + " bits is not read";
    return nullptr;
  }
  return std::make_unique<BlockDecoder>(kind, format, unit);
}

DecodeResult DecodeData(SoundDecoder& decoder, std::uint16_t channels, std::uint64_t dataSize,
                        const ReadMore& read, const TakeFrames& take) {
  constexpr std::size_t kPiece = 1 << 16;
  std::vector<std::uint8_t> buffer(kPiece);
  std::vector<float> frames;
  DecodeResult result;
  const auto handOn = [&] {
    const std::size_t count = frames.size() / channels;
    result.frames += count;
    result.stopped = count > 0 && !take(frames.data(), count);
    frames.clear();
    return !result.stopped;
  };
  std::uint64_t left = dataSize;
  while (left > 0) {
    const std::size_t got =
        read(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece)));
    if (got == 0) break;
    left -= got;
    decoder.Feed(buffer.data(), got, frames);
    if (!handOn()) return result;
  }
  result.shortData = !decoder.Finish(frames) || left > 0;
  handOn();
  return result;
}

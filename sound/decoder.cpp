// The decoders of PCM, float, A-law, u-law, IMA ADPCM and MS ADPCM data, block by block.
#include "sound/decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "sound/ima.h"

namespace {

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

// How a format's data is cut up: units of `unit` bytes (a frame, or an ADPCM block) that each
// give `perUnit` frames.
struct Layout {
  Kind kind = Kind::Pcm;
  std::size_t channels = 0, unit = 0, perUnit = 1;
};

// Frames per channel in a last, shorter ADPCM block of `bytes`; `whole` false when those bytes
// end inside the header or a group.
std::uint64_t PartialFrames(const Layout& layout, std::uint64_t bytes, bool& whole) {
  const std::uint64_t ch = layout.channels;
  whole = bytes == 0;
  if (whole) return 0;
  if (layout.kind == Kind::Ima) {
    whole = bytes >= 4 * ch && (bytes - 4 * ch) % (4 * ch) == 0;
    return std::min<std::uint64_t>(ImaSamplesIn(static_cast<std::uint16_t>(ch), bytes),
                                   layout.perUnit);
  }
  if (layout.kind == Kind::MsAdpcm) {
    whole = bytes >= 7 * ch && (bytes - 7 * ch) * 2 % ch == 0;
    return bytes < 7 * ch ? 0
                          : std::min<std::uint64_t>(2 + (bytes - 7 * ch) * 2 / ch, layout.perUnit);
  }
  return 0;
}

bool LayoutOf(const WaveFormat& format, Layout& layout, std::string& refusal) {
  const std::uint16_t tag = SoundTag(format);
  const std::size_t ch = format.channels, bits = format.bitsPerSample, align = format.blockAlign;
  WaveFormat named = format;
  named.tag = tag;
  const std::string name = FormatName(named);
  if (ch == 0 || format.sampleRate == 0) {
    refusal = name + " with no channels or no sample rate is not read";
    return false;
  }
  if (format.extensionCut) {
    refusal = "its format chunk states more than it holds";
    return false;
  }
  layout.channels = ch;
  layout.unit = ch * (bits / 8);
  bool bitsFit = false;
  if (tag == kTagPcm) {
    bitsFit = bits == 8 || bits == 16 || bits == 24 || bits == 32;
  } else if (tag == kTagFloat) {
    layout.kind = Kind::Float;
    bitsFit = bits == 32 || bits == 64;
  } else if (tag == kTagALaw || tag == kTagMuLaw) {
    layout.kind = tag == kTagALaw ? Kind::ALaw : Kind::MuLaw;
    bitsFit = bits == 8;
  } else if (IsImaAdpcmTag(tag)) {
    layout.kind = Kind::Ima;
    layout.unit = align;
    refusal = ImaFaultText(format.channels, align, format.bitsPerSample, format.samplesPerBlock);
    layout.perUnit = ImaBlockSamples(format.channels, align, format.samplesPerBlock);
    return refusal.empty();
  } else if (tag == kTagMsAdpcm) {
    layout.kind = Kind::MsAdpcm;
    layout.unit = align;
    bitsFit = bits == 4;
    if (bitsFit && (ch > 2 || align < 7 * ch)) {
      refusal = name + " blocks of " + std::to_string(align) + " bytes do not hold " +
                std::to_string(ch) + " channels";
      return false;
    }
    const std::size_t capacity = 2 + (align - 7 * ch) * 2 / ch;
    layout.perUnit = format.samplesPerBlock != 0 && format.samplesPerBlock < capacity
                         ? format.samplesPerBlock
                         : capacity;
  } else {
    refusal = name + " is not read";
    return false;
  }
  if (!bitsFit || layout.unit == 0) {
    refusal = name + " of " + std::to_string(bits) + " bits is not read";
    return false;
  }
  // Frames read in steps of another size than the format's blocks would turn the sound to noise.
  if (layout.unit != align) {
    refusal = name + " of " + std::to_string(bits) + " bits, " + ChannelWords(format.channels) +
              ", in " + std::to_string(align) + "-byte blocks is not read";
    return false;
  }
  return true;
}

// Holds the bytes of at most one unfinished block (for PCM, one frame) between feeds.
class BlockDecoder final : public SoundDecoder {
 public:
  BlockDecoder(const Layout& layout, const WaveFormat& format)
      : layout_(layout),
        bytes_(format.bitsPerSample / 8),
        pairs_(format.coefficients.empty()
                   ? std::vector<std::int16_t>(kMsStandardPairs.begin(), kMsStandardPairs.end())
                   : format.coefficients) {}

  void Feed(const std::uint8_t* data, std::size_t size, std::vector<float>& frames) override {
    const std::size_t unit = layout_.unit;
    while (size > 0) {
      if (held_.empty() && size >= unit) {
        const std::size_t whole = size / unit * unit;
        if (layout_.kind == Kind::Ima || layout_.kind == Kind::MsAdpcm) {
          for (std::size_t at = 0; at < whole; at += unit) Decode(data + at, unit, frames);
        } else {
          DecodeSamples(data, whole / bytes_, frames);
        }
        data += whole;
        size -= whole;
        continue;
      }
      const std::size_t take = std::min(unit - held_.size(), size);
      held_.insert(held_.end(), data, data + take);
      data += take;
      size -= take;
      if (held_.size() == unit) {
        Decode(held_.data(), unit, frames);
        held_.clear();
      }
    }
  }

  bool Finish(std::vector<float>& frames) override {
    bool whole = true;
    PartialFrames(layout_, held_.size(), whole);
    Decode(held_.data(), held_.size(), frames);
    held_.clear();
    return whole;
  }

 private:
  // Decodes one unit, or as much of a shorter last one as makes whole frames.
  void Decode(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    if (layout_.kind == Kind::Ima) return DecodeIma(p, size, out);
    if (layout_.kind == Kind::MsAdpcm) return DecodeMsAdpcm(p, size, out);
    if (size < layout_.unit) return;
    for (std::size_t c = 0; c < layout_.channels; ++c, p += bytes_) out.push_back(Sample(p));
  }

  // Appends `count` samples of a sample-by-sample format, the format asked once for them all.
  void DecodeSamples(const std::uint8_t* p, std::size_t count, std::vector<float>& out) const {
    const std::size_t at = out.size();
    out.resize(at + count);
    float* sample = out.data() + at;
    if (layout_.kind == Kind::Pcm && bytes_ == 2) {
      for (std::size_t i = 0; i < count; ++i, p += 2) sample[i] = FromInt16(S16(p));
      return;
    }
    for (std::size_t i = 0; i < count; ++i, p += bytes_) sample[i] = Sample(p);
  }

  float Sample(const std::uint8_t* p) const {
    switch (layout_.kind) {
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
  // per channel, eight samples each, low nibble first; only the samples per block the format
  // states are played.
  void DecodeIma(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    const std::size_t ch = layout_.channels, header = 4 * ch;
    bool whole = true;
    const std::uint64_t frames = PartialFrames(layout_, size, whole);
    if (frames == 0) return;
    const std::size_t at = out.size();
    out.resize(at + frames * ch);
    float* frame = out.data() + at;
    for (std::size_t c = 0; c < ch; ++c) {
      ImaState state{S16(p + 4 * c), std::min<int>(p[4 * c + 2], kImaMaxIndex)};
      frame[c] = FromInt16(state.predictor);
      for (std::uint64_t i = 1; i < frames; ++i) {
        const std::uint8_t byte = p[header * (1 + (i - 1) / 8) + 4 * c + (i - 1) % 8 / 2];
        const int nibble = byte >> ((i - 1) % 2 * 4) & 0x0F;
        frame[i * ch + c] = FromInt16(ImaStep(state, nibble));
      }
    }
  }

  // Per channel a predictor pair's number, the step and the two latest samples (older one
  // played first), then a nibble per sample, high nibble first, channels taking turns.
  void DecodeMsAdpcm(const std::uint8_t* p, std::size_t size, std::vector<float>& out) const {
    const std::size_t ch = layout_.channels;
    bool whole = true;
    const std::uint64_t frames = PartialFrames(layout_, size, whole);
    if (frames == 0) return;
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
    if (frames > 1)
      for (const State& s : states) out.push_back(FromInt16(s.sample1));
    const std::size_t nibbles = frames < 2 ? 0 : (frames - 2) * ch;
    for (std::size_t k = 0; k < nibbles; ++k) {
      const int code = p[7 * ch + k / 2] >> (k % 2 == 0 ? 4 : 0) & 0x0F;
      State& s = states[k % ch];
      // Hostile pairs and samples can take the sum past an int's range.
      const std::int64_t predicted =
          (std::int64_t{s.sample1} * s.coef1 + std::int64_t{s.sample2} * s.coef2) / 256;
      const auto sample = static_cast<int>(std::clamp<std::int64_t>(
          predicted + std::int64_t{code >= 8 ? code - 16 : code} * s.delta, -32768, 32767));
      s.sample2 = s.sample1;
      s.sample1 = sample;
      // Hostile data can grow the step without end; far past full scale it changes nothing.
      s.delta =
          std::clamp(kMsAdaptation[static_cast<std::size_t>(code)] * s.delta / 256, 16, 1 << 20);
      out.push_back(FromInt16(sample));
    }
  }

  Layout layout_;
  std::size_t bytes_;
  std::vector<std::int16_t> pairs_;
  std::vector<std::uint8_t> held_;
};

}  // namespace

std::unique_ptr<SoundDecoder> MakeDecoder(const WaveFormat& format, std::string& refusal) {
  Layout layout;
  if (!LayoutOf(format, layout, refusal)) return nullptr;
  return std::make_unique<BlockDecoder>(layout, format);
}

DecodedLength DecodedFrames(const WaveFormat& format, std::uint64_t bytes) {
  Layout layout;
  std::string refusal;
  DecodedLength length;
  if (!LayoutOf(format, layout, refusal)) return length;
  const std::uint64_t units = bytes / layout.unit;
  const std::uint64_t last = PartialFrames(layout, bytes % layout.unit, length.whole);
  length.frames = units * layout.perUnit + last;
  // A fact chunk tells where the sound ends in its last block, which the encoder filled up.
  const bool adpcm = layout.kind == Kind::Ima || layout.kind == Kind::MsAdpcm;
  const std::uint64_t lastStart =
      (last > 0 ? units : units - std::min<std::uint64_t>(units, 1)) * layout.perUnit;
  if (adpcm && format.hasFact && format.factFrames >= lastStart &&
      format.factFrames < length.frames) {
    length.frames = format.factFrames;
  }
  return length;
}

DecodeResult DecodeData(SoundDecoder& decoder, const WaveFormat& format, std::uint64_t dataSize,
                        const ReadMore& read, const TakeFrames& take) {
  constexpr std::size_t kPiece = 1 << 16;
  const std::size_t channels = format.channels;
  const std::uint64_t most = DecodedFrames(format, dataSize).frames;
  std::vector<std::uint8_t> buffer(kPiece);
  std::vector<float> frames;
  DecodeResult result;
  const auto handOn = [&] {
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(frames.size() / channels, most - result.frames));
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

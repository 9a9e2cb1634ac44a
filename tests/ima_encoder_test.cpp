// The encoder's layouts, and its blocks read back by the decoder: length, exact headers, a noise
// floor, and the search doing better than taking the nearest code each sample.
#include "sound/ima_encoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "fakes/fakes.h"
#include "sound/decoder.h"
#include "sound/ima.h"

// The one rule of a block, as the encoder keeps it: the checks and the decoder are held to it by
// the tables of their own tests.
TEST(ImaEncoder, ChecksTheLayout) {
  const std::pair<ImaLayout, std::string> cases[] = {
      {{2, 2048, 2041}, ""},
      {{2, 8, 0}, ""},  // headers alone: a sample per channel
      {{1, 256, 506}, "506 samples per block do not fit block align 256"},
      {{2, 36, 9}, "block align 36 does not fit IMA ADPCM for 2 channels"},
      {{1, 32768, 0}, ""},
      {{1, 36864, 0},
       "block align 36864 holds 73721 samples per channel, more than a format chunk can state "
       "(65535)"}};
  for (const auto& [layout, refusal] : cases) EXPECT_EQ(CheckImaLayout(layout), refusal);
}

namespace {

constexpr double kPi = 3.14159265358979323846;

// A chord whose pitch rises, a hard step each 300 frames; channel c an octave above channel c-1.
std::vector<float> Sound(std::size_t frames, std::uint16_t channels) {
  std::vector<float> out;
  for (std::size_t i = 0; i < frames; ++i) {
    for (std::uint16_t c = 0; c < channels; ++c) {
      const double t = static_cast<double>(i) / 22050, octave = 1 << c;
      out.push_back(static_cast<float>(0.3 * std::sin(2 * kPi * octave * (220 + 400 * t) * t) +
                                       0.2 * std::sin(2 * kPi * octave * 1320 * t) +
                                       (i / 300 % 2 == 0 ? 0.2 : -0.2)));
    }
  }
  return out;
}

struct Encoded {
  std::vector<std::uint8_t> blocks;
  std::vector<float> decoded;
  std::uint64_t frames;
};

// One path: the nearest code each sample, the search's baseline.
constexpr int kNearest = 1;

Encoded RoundTrip(const ImaLayout& layout, const std::vector<float>& in,
                  int paths = ImaEncoder::kDefaultPaths) {
  Encoded result;
  ImaEncoder encoder(layout, paths);
  const std::size_t frames = in.size() / layout.channels, piece = 1000;
  for (std::size_t at = 0; at < frames; at += piece)
    encoder.Encode(in.data() + at * layout.channels, std::min(piece, frames - at), result.blocks);
  result.frames = encoder.Finish(result.blocks);
  std::string refusal;
  const auto decoder = MakeDecoder(
      Format(kWavFormatTag, layout.channels, layout.blockAlign, 4, layout.samplesPerBlock),
      refusal);
  decoder->Feed(result.blocks.data(), result.blocks.size(), result.decoded);
  return result;
}

double SnrDb(const std::vector<float>& in, const std::vector<float>& out, std::size_t channel,
             std::size_t channels) {
  std::array<double, 2> sums{};  // of the sound's squares, of the errors' squares
  for (std::size_t i = channel; i < in.size(); i += channels) {
    const double value = in[i], error = value - out[i];
    sums[0] += value * value;
    sums[1] += error * error;
  }
  return 10 * std::log10(sums[0] / sums[1]);
}

}  // namespace

TEST(ImaEncoder, BlocksDecodeCloseToTheSound) {
  struct Case {
    ImaLayout layout;
    std::size_t frames;
    double floorDb;  // measured, less a decibel
  } const cases[] = {
      {{1, 256, 505}, 2000, 25.4}, {{2, 2048, 2041}, 5000, 25.9}, {{1, 512, 300}, 700, 36}};
  for (const Case& test : cases) {
    const ImaLayout& layout = test.layout;
    SCOPED_TRACE(std::to_string(layout.channels) + " channels, blocks of " +
                 std::to_string(layout.blockAlign));
    const std::vector<float> in = Sound(test.frames, layout.channels);
    const Encoded out = RoundTrip(layout, in);
    const std::size_t blocks = (test.frames + layout.samplesPerBlock - 1) / layout.samplesPerBlock;
    EXPECT_EQ(out.frames, test.frames);
    ASSERT_EQ(out.blocks.size(), blocks * layout.blockAlign);
    ASSERT_EQ(out.decoded.size(), blocks * layout.samplesPerBlock * layout.channels);
    std::vector<float> sound(out.decoded.begin(),
                             out.decoded.begin() + static_cast<long>(in.size()));
    for (std::size_t c = 0; c < layout.channels; ++c) {
      EXPECT_GE(SnrDb(in, sound, c, layout.channels), test.floorDb) << "channel " << c;
      for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t at = b * layout.samplesPerBlock * layout.channels + c;
        EXPECT_EQ(std::lround(sound[at] * 32768), std::lround(in[at] * 32768)) << "header " << b;
      }
    }
    // The last block's padding repeats the last frame, so it decodes near it.
    EXPECT_NEAR(out.decoded.back(), in.back(), 0.01);
  }
}

TEST(ImaEncoder, SearchBeatsTheNearestCodeAndClips) {
  const ImaLayout layout{1, 256, 505};
  // A 440 Hz square wave near full scale whose ringing runs past it, where a code larger than
  // the nearest one overshoots for nothing and grows the step sooner.
  std::vector<float> square;
  for (std::size_t i = 0; i < 5050; ++i) {
    double v = 0;
    for (int harmonic = 1; harmonic * 440 < 5512; harmonic += 2)
      v += std::sin(2 * kPi * 440 * harmonic * i / 11025.0) / harmonic;
    square.push_back(static_cast<float>(0.95 * 4 / kPi * v));
  }
  // Loud noise after silence takes the step to its largest sizes, whose larger codes' changes
  // would run past full scale from silence.
  std::vector<float> noise(5050);
  std::uint32_t seed = 1;
  for (std::size_t i = 1000; i < noise.size(); ++i) {
    seed = seed * 1664525 + 1013904223;
    noise[i] = static_cast<float>(seed >> 8) / (1 << 23) - 1;
  }
  struct Case {
    const char* sound;
    std::vector<float> in;
    double gainDb;  // over the nearest code: measured 1.58, 12.7 and 2.58
  } const cases[] = {{"chord with hard steps", Sound(5050, 1), 1},
                     {"square past full scale", square, 10},
                     {"loud noise after silence", noise, 2}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.sound);
    const double greedy = SnrDb(test.in, RoundTrip(layout, test.in, kNearest).decoded, 0, 1);
    const double searched = SnrDb(test.in, RoundTrip(layout, test.in).decoded, 0, 1);
    EXPECT_GE(searched, greedy + test.gainDb) << "greedy " << greedy << ", searched " << searched;
  }
  std::vector<float> in = Sound(5050, 1);
  in[0] = 1.5;
  in[505] = -2;
  const Encoded clipped = RoundTrip(layout, in, kNearest);
  EXPECT_EQ(clipped.blocks[0] | clipped.blocks[1] << 8, 0x7FFF);
  EXPECT_EQ(clipped.blocks[256] | clipped.blocks[257] << 8, 0x8000);
}

// Players that work out a code's change by multiplying, (2 * magnitude + 1) * step / 8, land a
// level or two away from the halves-adding decoder each sample; over a long block of a quiet
// sound that drift must not build up, whichever way the sound is played.
TEST(ImaEncoder, BothKindsOfPlayerHearTheSound) {
  const ImaLayout layout{1, 1024, 2041};
  std::vector<float> in;
  for (std::size_t i = 0; i < 4 * 2041; ++i)
    in.push_back(static_cast<float>(0.004 * std::sin(2 * kPi * 300 * i / 44100.0)));
  const Encoded out = RoundTrip(layout, in);
  std::vector<float> multiplied;
  for (std::size_t at = 0; at < out.blocks.size(); at += layout.blockAlign) {
    const std::uint8_t* block = out.blocks.data() + at;
    ImaState state{static_cast<std::int16_t>(block[0] | block[1] << 8), block[2]};
    multiplied.push_back(static_cast<float>(state.predictor) / 32768);
    for (std::size_t i = 0; i + 1 < layout.samplesPerBlock; ++i) {
      const int code = block[4 + i / 2] >> (i % 2 * 4) & 15, magnitude = code & 7;
      const int change =
          (2 * magnitude + 1) * kImaSteps[static_cast<std::size_t>(state.index)] >> 3;
      state.predictor =
          std::clamp(state.predictor + ((code & 8) != 0 ? -change : change), -32768, 32767);
      state.index = std::clamp(state.index + kImaIndexMoves[static_cast<std::size_t>(magnitude)], 0,
                               kImaMaxIndex);
      multiplied.push_back(static_cast<float>(state.predictor) / 32768);
    }
  }
  // Measured 26.0 and 25.2 dB; a search for the halves-adding player alone gives 42.2 and 8.7,
  // and one without runner-ups at the small steps 22.5 and 22.9.
  EXPECT_GE(SnrDb(in, out.decoded, 0, 1), 24) << "the player that adds halves";
  EXPECT_GE(SnrDb(in, multiplied, 0, 1), 24) << "the player that multiplies";
}
